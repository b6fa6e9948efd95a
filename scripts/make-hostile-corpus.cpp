// Writes the hostile corpus: make-hostile-corpus FOLDER
// FOLDER is created if need be and must be empty. Prints one line per file:
// what the viewer should make of it, its group and its name (C-escaped).
#include "hostile/HostileCorpus.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

const char* outcomeName(pictolune::testing::Outcome outcome) {
    using pictolune::testing::Outcome;
    switch (outcome) {
    case Outcome::Shown:
        return "shown";
    case Outcome::Reduced:
        return "reduced";
    case Outcome::Fails:
        return "fails";
    case Outcome::Either:
        return "either";
    case Outcome::Unlisted:
        return "unlisted";
    }
    return "?";
}

QByteArray escaped(const QByteArray& name) {
    QByteArray out;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte >= 0x7f || c == '\\')
            out += "\\x" + QByteArray::number(byte, 16).rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(folder) || !QDir(folder).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                        QDir::Hidden | QDir::System)) {
        std::fprintf(stderr, "%s: cannot make an empty folder %s\n", argv[0], argv[1]);
        return 1;
    }
    const pictolune::testing::HostileCorpus corpus = pictolune::testing::writeHostileCorpus(folder);
    for (const auto& file : corpus.files) {
        std::printf("%-8s %-30s %s\n", outcomeName(file.outcome), file.kind.c_str(),
                    escaped(file.name).constData());
    }
    if (!QDir().mkdir(folder + "/deep") ||
        pictolune::testing::writeDeepFolder(folder + "/deep", 1000).isEmpty()) {
        std::fprintf(stderr, "%s: cannot make the deep folder\n", argv[0]);
        return 1;
    }
    std::printf("%-8s %-30s %s\n", "shown", "path over 1000 characters",
                "deep/.../picture-at-the-bottom.jpg");
    for (const QByteArray& name : corpus.notMade)
        std::fprintf(stderr, "%s: could not make %s\n", argv[0], escaped(name).constData());
    return corpus.notMade.empty() ? 0 : 1;
}
