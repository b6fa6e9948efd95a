#pragma once

#include <QByteArray>
#include <QString>

#include <string>
#include <vector>

// A corpus of files made to break a picture viewer: empty, cut-off and lying
// files, decompression bombs, things that are no files at all, and names no
// one would choose. Each file is named after the case it breaks. Nothing here
// depends on the test framework, so a script can write the corpus too.
namespace pictolune::testing {

// What the viewer should make of a file of the corpus.
enum class Outcome {
    Shown,    // decodes and shows
    Reduced,  // shows on a screen, too large to decode at its own size
    Fails,    // a quiet failure: the picture area stays empty
    Either,   // a partial picture or a failure, as the decoder sees fit
    Unlisted, // never catalogued: not a regular file
};

struct HostileFile {
    QByteArray name;  // the name's bytes on disk, not necessarily UTF-8
    std::string kind; // the group the file counts under in the figures
    Outcome outcome;
};

struct HostileCorpus {
    std::vector<HostileFile> files;
    std::vector<QByteArray> notMade; // names the file system refused
};

// Writes the corpus into the existing, empty folder `dir` and returns what
// it wrote. Sockets are left bound to nobody; sparse files take no disk.
HostileCorpus writeHostileCorpus(const QString& dir);

// Makes folders nested under `base`, each name as long as a name may be, so
// that a picture in the innermost has a path of more than `length` bytes;
// writes such a picture there and returns the innermost folder.
QString writeDeepFolder(const QString& base, int length);

// Removes `path` and everything under it, whatever the names' bytes and
// permissions, without following links. True when nothing is left.
bool removeTree(const QByteArray& path);

// The raw bytes of the corpus's valid pictures, for seeding fuzzers.
QByteArray goodPicture(const char* format);

} // namespace pictolune::testing
