// Reads a fuzz input as a stream of choices. Past the end every read gives 0, so any input,
// however short, decodes to a complete sequence of steps.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

class FuzzInput {
  public:
    FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return at_ >= size_; }
    size_t Left() const { return at_ < size_ ? size_ - at_ : 0; }

    uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    uint16_t U16() {
        const uint16_t low = Byte();
        return static_cast<uint16_t>(low | (Byte() << 8));
    }
    uint32_t U32() {
        const uint32_t low = U16();
        return low | (static_cast<uint32_t>(U16()) << 16);
    }
    // One of count choices (count > 0).
    size_t Pick(size_t count) { return Byte() % count; }
    template <typename T, size_t N> const T& PickFrom(const T (&table)[N]) {
        return table[Pick(N)];
    }
    // Up to max bytes, as many as the next byte says.
    std::string Bytes(size_t max) {
        size_t length = Byte();
        if (length > max) length = max;
        if (length > Left()) length = Left();
        std::string out(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return out;
    }
    // Whatever is left.
    std::string Rest() {
        std::string out(reinterpret_cast<const char*>(data_ + at_), Left());
        at_ = size_;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};
