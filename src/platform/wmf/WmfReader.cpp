#include "platform/wmf/WmfReader.h"

#include "platform/base/Errors.h"

namespace pictolune::wmf {

void fail(const std::string& what) {
    throw LoadError("malformed metafile: " + what);
}

void Reader::require(std::size_t bytes, const char* what) const {
    if (bytes > remaining())
        fail(std::string(what) + " runs past the end of its data");
}

std::uint8_t Reader::u8() {
    require(1, "value");
    return data_[pos_++];
}

std::uint16_t Reader::u16() {
    require(2, "value");
    const std::uint16_t v = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

std::uint32_t Reader::u32() {
    require(4, "value");
    const std::uint32_t v = static_cast<std::uint32_t>(data_[pos_]) |
                            (static_cast<std::uint32_t>(data_[pos_ + 1]) << 8) |
                            (static_cast<std::uint32_t>(data_[pos_ + 2]) << 16) |
                            (static_cast<std::uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
}

void Reader::skip(std::size_t bytes) {
    require(bytes, "field");
    pos_ += bytes;
}

void Reader::seek(std::size_t offset) {
    if (offset > size_)
        fail("offset past the end of its data");
    pos_ = offset;
}

Reader Reader::sub(std::size_t bytes) {
    require(bytes, "block");
    Reader r(data_ + pos_, bytes);
    pos_ += bytes;
    return r;
}

} // namespace pictolune::wmf
