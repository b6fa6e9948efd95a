#pragma once

#include <QByteArray>

#include <string>
#include <vector>

namespace pictolune::decoder {

// For a decoder that can open no file once locked down (the kernel has no
// Landlock): maps into memory the font files metafile text relies on (each
// family of wmf::familiesTextReliesOn() as fontconfig resolves it, in
// regular, bold, italic and bold italic), at most 64 MiB of them, and makes
// fontconfig's current configuration one with the system's rules but none
// of its font files, so that Qt's font database holds only these. Called
// before the GUI application, which reads that configuration.
std::vector<QByteArray> mapFontsIntoMemory();

// Gets the font machinery ready before the lockdown: the fonts `inMemory`
// become Qt's; fontconfig reads its configuration and caches, and Qt builds
// its font database and opens the default font, by drawing a line of text.
void prepareFonts(const std::vector<QByteArray>& inMemory);

// Where font files and fontconfig's caches lie, as fontconfig knows them:
// metafile text opens font files lazily, so these stay readable.
std::vector<std::string> fontDirectories();

} // namespace pictolune::decoder
