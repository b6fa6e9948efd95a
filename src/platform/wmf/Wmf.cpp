#include "platform/wmf/Wmf.h"

#include "platform/Errors.h"

namespace pictolune {

bool looksLikeWmf(const QByteArray&) { return false; }

Picture loadWmf(const QByteArray&) { throw LoadError("Windows Metafiles are not supported yet"); }

} // namespace pictolune
