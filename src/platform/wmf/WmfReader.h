#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pictolune::wmf {

// A little-endian cursor over a byte range. Every read is checked against the
// end of the range and raises LoadError when the data runs out, so parsing
// code never has to compare offsets itself.
class Reader {
public:
    Reader() = default;
    Reader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t size() const { return size_; }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }
    const unsigned char* data() const { return data_; }
    const unsigned char* current() const { return data_ + pos_; }

    std::uint8_t u8();
    std::uint16_t u16();
    std::int16_t i16() { return static_cast<std::int16_t>(u16()); }
    std::uint32_t u32();
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }

    void skip(std::size_t bytes);
    void seek(std::size_t offset);
    // The next `bytes` bytes as a reader of their own; this one moves past them.
    Reader sub(std::size_t bytes);
    // Raises LoadError unless at least `bytes` bytes remain.
    void require(std::size_t bytes, const char* what) const;

private:
    const unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t pos_ = 0;
};

// Raises LoadError with `what`; the one way the parser reports malformed data.
[[noreturn]] void fail(const std::string& what);

} // namespace pictolune::wmf
