#include "base/der.h"

namespace lum::installer {

bool DerReader::Read(unsigned char tag, std::span<const unsigned char>& contents,
                     std::span<const unsigned char>* whole) {
  if (rest_.size() < 2 || rest_[0] != tag) return false;
  std::size_t length = rest_[1];
  std::size_t header = 2;
  if (length & 0x80) {
    // Long form: 1 to 4 length bytes, no leading zero, and only for lengths above 127.
    const std::size_t count = length & 0x7F;
    if (count == 0 || count > 4 || rest_.size() < 2 + count || rest_[2] == 0) return false;
    length = 0;
    for (std::size_t i = 0; i < count; ++i) length = (length << 8) | rest_[2 + i];
    if (length < 0x80) return false;
    header += count;
  }
  if (rest_.size() - header < length) return false;
  contents = rest_.subspan(header, length);
  if (whole) *whole = rest_.first(header + length);
  rest_ = rest_.subspan(header + length);
  return true;
}

bool DerReader::SkipIf(unsigned char tag) {
  std::span<const unsigned char> ignored;
  return Read(tag, ignored);
}

}  // namespace lum::installer
