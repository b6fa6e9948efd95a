#include "platform/decoder/Fonts.h"

#include <QImage>
#include <QPainter>

#include <fontconfig/fontconfig.h>

namespace pictolune::decoder {

namespace {

void append(FcStrList* list, std::vector<std::string>& out) {
    if (!list)
        return;
    while (const FcChar8* path = FcStrListNext(list))
        out.emplace_back(reinterpret_cast<const char*>(path));
    FcStrListDone(list);
}

} // namespace

void prepareFonts() {
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
