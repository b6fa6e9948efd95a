#pragma once

#include <QImage>
#include <QSize>

#include <memory>

namespace pictolune {

// A picture that draws itself at any size: the metafile renderer gives one,
// which the decoder renders at the size the picture is drawn at.
class VectorArt {
public:
    virtual ~VectorArt() = default;
    // Renders the whole picture into an image of exactly `size` pixels.
    virtual QImage render(QSize size) const = 0;
};

// A loaded picture. `size()` is its own upright size in picture pixels, as
// its file says; the decoded raster may be smaller when the loader was told
// the picture will only ever be drawn smaller. Pictures that come out of a
// decoder always hold a raster.
class Picture {
public:
    Picture() = default;
    Picture(QImage raster, QSize ownSize) : raster_(std::move(raster)), size_(ownSize) {}
    Picture(std::shared_ptr<const VectorArt> art, QSize ownSize)
        : art_(std::move(art)), size_(ownSize) {}

    bool isEmpty() const { return size_.isEmpty(); }
    QSize size() const { return size_; }
    const QImage& raster() const { return raster_; }
    bool isVector() const { return art_ != nullptr; }

    // The picture at exactly `size` device pixels, smooth-scaled (or rendered)
    // from what was decoded. Returns the raster itself when it already has
    // that size, so unscaled drawing costs no copy.
    QImage render(QSize size) const;

private:
    QImage raster_;
    std::shared_ptr<const VectorArt> art_;
    QSize size_;
};

} // namespace pictolune
