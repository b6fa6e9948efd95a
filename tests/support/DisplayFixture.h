#pragma once

#include "catalogue/ImageCatalogue.h"
#include "display/PictureDisplay.h"
#include "platform/base/Random.h"
#include "platform/controls/FormWindow.h"
#include "platform/controls/Label.h"
#include "platform/controls/PictureBox.h"

#include <QCoreApplication>
#include <QSize>
#include <QString>

#include <cstdint>
#include <vector>

namespace pictolune::testing {

// The display wired as the main window wires it, on a bare window whose
// inner area is `area`: the picture control, the caption, a catalogue and a
// seeded random source. Nothing here depends on the test framework, so the
// benchmarks share it.
struct DisplayFixture {
    explicit DisplayFixture(QSize area) {
        window.resize(area);
        random.seed(1);
    }

    // Shows the current picture, and runs the event loop until its pixels
    // (or its failure) have come, as a person waits to see it.
    void show() {
        display.showImage();
        settle();
    }
    void settle() {
        while (display.pictureToCome())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }

    // The catalogue becomes `paths` and the spare empty element a folder
    // scan leaves, at its first picture.
    void catalogueOf(std::vector<QString> paths) {
        catalogue.lastIndex = static_cast<std::int32_t>(paths.size()) - 1;
        paths.emplace_back();
        catalogue.imagePaths = std::move(paths);
        catalogue.currentIndex = 0;
    }

    FormWindow window;
    PictureBox image1{&window};
    Label lblFilename{&window};
    RandomSource random;
    ImageCatalogue catalogue;
    PictureDisplay display{catalogue, window, image1, lblFilename, random};
};

} // namespace pictolune::testing
