#pragma once

#include <string>
#include <vector>

namespace pictolune::decoder {

// Gets the font machinery ready before the lockdown: fontconfig reads its
// configuration and caches, and Qt builds its font database and opens the
// default font, by drawing a line of text.
void prepareFonts();

// Where font files and fontconfig's caches lie, as fontconfig knows them:
// metafile text opens font files lazily, so these stay readable.
std::vector<std::string> fontDirectories();

} // namespace pictolune::decoder
