#pragma once

#include "platform/base/Picture.h"

#include <QByteArray>

namespace pictolune {

// True when `bytes` begin like a Windows Metafile (placeable or plain).
bool looksLikeWmf(const QByteArray& bytes);

// Parses a Windows Metafile into a picture that renders at any size. Raises
// LoadError for anything malformed.
Picture loadWmf(const QByteArray& bytes);

} // namespace pictolune
