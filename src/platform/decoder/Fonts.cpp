#include "platform/decoder/Fonts.h"

#include "platform/base/UniqueFd.h"
#include "platform/wmf/WmfText.h"

#include <QFontDatabase>
#include <QImage>
#include <QPainter>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdint>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>

namespace pictolune::decoder {

namespace {

// A system's usual families take about 10 MiB; beyond this bound, shared by
// every decoder, a family is left out (the matcher stands another in).
constexpr std::int64_t kMostFontBytes = std::int64_t(64) << 20;

// Rejects every font file of the system as fontconfig lists them; Qt adds
// the fonts from memory past this rule.
constexpr char kNoFontFiles[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig><selectfont><rejectfont><glob>/*</glob></rejectfont></selectfont></fontconfig>
)";

void append(FcStrList* list, std::vector<std::string>& out) {
    if (!list)
        return;
    while (const FcChar8* path = FcStrListNext(list))
        out.emplace_back(reinterpret_cast<const char*>(path));
    FcStrListDone(list);
}

// The file fontconfig draws `family` from in a style, as Qt would ask it.
std::string resolvedFile(FcConfig* config, const char* family, int weight, int slant) {
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family));
    FcPatternAddInteger(pattern, FC_WEIGHT, weight);
    FcPatternAddInteger(pattern, FC_SLANT, slant);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    FcPatternDestroy(pattern);
    FcChar8* file = nullptr;
    std::string path;
    if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
        path = reinterpret_cast<const char*>(file);
    if (match)
        FcPatternDestroy(match);
    return path;
}

// Most wanted first.
std::vector<std::string> filesTextReliesOn() {
    std::vector<std::string> files;
    FcConfig* system = FcInitLoadConfigAndFonts();
    if (!system)
        return files;
    for (const char* family : wmf::familiesTextReliesOn()) {
        for (const int weight : {FC_WEIGHT_REGULAR, FC_WEIGHT_BOLD}) {
            for (const int slant : {FC_SLANT_ROMAN, FC_SLANT_ITALIC}) {
                std::string file = resolvedFile(system, family, weight, slant);
                if (!file.empty() && std::find(files.begin(), files.end(), file) == files.end())
                    files.push_back(std::move(file));
            }
        }
    }
    FcConfigDestroy(system);
    return files;
}

// Mapped rather than read, so that the decoders share the pages; never
// unmapped, as Qt reads its fonts for as long as the process runs. Empty
// where it cannot be mapped or would not fit into `budget`.
QByteArray mapped(const std::string& path, std::int64_t& budget) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat status {};
    if (!fd.valid() || ::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_size <= 0 || status.st_size > budget)
        return {};
    const auto size = std::size_t(status.st_size);
    void* bytes = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (bytes == MAP_FAILED)
        return {};
    budget -= status.st_size;
    return QByteArray::fromRawData(static_cast<const char*>(bytes), qsizetype(size));
}

} // namespace

std::vector<QByteArray> mapFontsIntoMemory() {
    std::vector<QByteArray> fonts;
    std::int64_t budget = kMostFontBytes;
    for (const std::string& file : filesTextReliesOn()) {
        if (QByteArray font = mapped(file, budget); !font.isEmpty())
            fonts.push_back(std::move(font));
    }
    // The system's rules still choose among these fonts as they would among
    // all: the metric clones for the faces metafiles name, the kind of a
    // face the system lacks, hinting.
    FcConfig* rules = FcInitLoadConfig();
    if (!rules)
        return fonts;
    if (FcConfigParseAndLoadFromMemory(rules, reinterpret_cast<const FcChar8*>(kNoFontFiles),
                                       FcTrue) &&
        FcConfigBuildFonts(rules))
        FcConfigSetCurrent(rules);
    FcConfigDestroy(rules);
    return fonts;
}

void prepareFonts(const std::vector<QByteArray>& inMemory) {
    for (const QByteArray& font : inMemory)
        QFontDatabase::addApplicationFontFromData(font);
    QImage canvas(64, 16, QImage::Format_RGB32);
    QPainter painter(&canvas);
    painter.drawText(canvas.rect(), QStringLiteral("Pictolune"));
}

std::vector<std::string> fontDirectories() {
    std::vector<std::string> directories;
    FcConfig* config = FcConfigGetCurrent();
    append(FcConfigGetFontDirs(config), directories);
    append(FcConfigGetCacheDirs(config), directories);
    return directories;
}

} // namespace pictolune::decoder
