// Reading a fuzzer's input as a sequence of small decisions and byte runs.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace hx::fuzz {

class FuzzInput {
 public:
  FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  std::size_t Left() const { return size_ - pos_; }
  // The next byte, 0 once the input is used up.
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Long() { return static_cast<std::uint32_t>(Word() | static_cast<std::uint32_t>(Word()) << 16); }
  // Up to `n` bytes (fewer at the end).
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, Left());
    std::vector<std::uint8_t> out(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return out;
  }
  // A run whose length is given by the next byte.
  std::vector<std::uint8_t> Run() { return Bytes(Byte()); }
  std::string Text(std::size_t n) {
    const auto b = Bytes(n);
    return std::string(b.begin(), b.end());
  }
  std::string Rest() { return Text(Left()); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace hx::fuzz
