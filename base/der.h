// A strict reader of DER (distinguished encoding) values: definite, minimal lengths only.
#pragma once

#include <cstddef>
#include <span>

namespace lum::installer {

class DerReader {
 public:
  explicit DerReader(std::span<const unsigned char> data) : rest_(data) {}

  // The next value, which must carry this one-byte tag: its contents, and the whole encoding
  // (tag and length included) when asked for. False, with nothing consumed, when the next value
  // has another tag or its encoding is not valid DER.
  [[nodiscard]] bool Read(unsigned char tag, std::span<const unsigned char>& contents,
                          std::span<const unsigned char>* whole = nullptr);
  // Skips the next value if it carries this tag; true when it did.
  bool SkipIf(unsigned char tag);
  bool AtEnd() const { return rest_.empty(); }

 private:
  std::span<const unsigned char> rest_;
};

inline constexpr unsigned char kDerInteger = 0x02;
inline constexpr unsigned char kDerSequence = 0x30;

}  // namespace lum::installer
