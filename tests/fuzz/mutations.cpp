#include "tests/fuzz/mutations.h"

#include <cstddef>
#include <vector>

namespace lum::installer::fuzz {
namespace {

std::size_t Position(Rng& rng, const std::string& bytes) {
  return static_cast<std::size_t>(rng.Below(bytes.size() + 1));
}

const std::vector<std::string>& Punctuation() {
  static const std::vector<std::string> items = {
      "{",       "}",       "[",    "]",     "\"",   ":", ",",  "\\", "\\u", "\\ud800",
      "\\udc00", "\\u0000", "/*",   "//",    "-",    "+", ".",  "e",  "E",   "0",
      "1",       "9",       "true", "false", "null", " ", "\t", "\n", "\r",  std::string(1, '\0')};
  return items;
}

}  // namespace

void FlipBits(Rng& rng, std::string& bytes) {
  if (bytes.empty()) {
    bytes.push_back(static_cast<char>(rng.Below(256)));
    return;
  }
  const std::uint64_t flips = rng.Between(1, 8);
  for (std::uint64_t i = 0; i < flips; ++i) {
    const std::size_t at = static_cast<std::size_t>(rng.Below(bytes.size()));
    bytes[at] = static_cast<char>(static_cast<unsigned char>(bytes[at]) ^ (1u << rng.Below(8)));
  }
}

void InsertBytes(Rng& rng, std::string& bytes) {
  std::string insert;
  switch (rng.Below(4)) {
    case 0:
      for (std::uint64_t n = rng.Between(1, 16); n > 0; --n) {
        insert.push_back(static_cast<char>(rng.Below(256)));
      }
      break;
    case 1:
      insert = rng.Pick(Punctuation());
      break;
    case 2:
      insert = InvalidUtf8(rng);
      break;
    default:
      insert = OddValidUtf8(rng);
      break;
  }
  bytes.insert(Position(rng, bytes), insert);
}

void DeleteBytes(Rng& rng, std::string& bytes) {
  if (bytes.empty()) return;
  const std::size_t at = static_cast<std::size_t>(rng.Below(bytes.size()));
  bytes.erase(at, static_cast<std::size_t>(rng.Between(1, 32)));
}

void Truncate(Rng& rng, std::string& bytes) { bytes.resize(Position(rng, bytes)); }

void Havoc(Rng& rng, std::string& bytes) {
  for (std::uint64_t n = rng.Between(2, 6); n > 0; --n) {
    switch (rng.Below(6)) {
      case 0:
      case 1:
        FlipBits(rng, bytes);
        break;
      case 2:
      case 3:
        InsertBytes(rng, bytes);
        break;
      case 4:
        DeleteBytes(rng, bytes);
        break;
      default:
        ChangeAsciiCase(rng, bytes);
        break;
    }
  }
}

std::string InvalidUtf8(Rng& rng) {
  static const std::vector<std::string> items = {
      "\xC0\xAF",                  // overlong "/"
      "\xC0\x80",                  // overlong NUL
      "\xC1\xBF",                  // overlong, lead byte that never occurs
      "\xE0\x80\xAF",              // overlong, three bytes
      "\xF0\x80\x80\xAF",          // overlong, four bytes
      "\xED\xA0\x80",              // encoded high surrogate
      "\xED\xBF\xBF",              // encoded low surrogate
      "\xED\xA0\xBD\xED\xB8\x80",  // a surrogate pair encoded as two sequences (CESU-8)
      "\x80",                      // lone continuation bytes
      "\xBF",
      "\x80\x80\x80",
      "\xFF",
      "\xFE",
      "\xF5\x80\x80\x80",      // lead byte above U+10FFFF
      "\xF4\x90\x80\x80",      // U+110000
      "\xF8\x88\x80\x80\x80",  // five-byte form
      "\xE2\x82",              // cut three-byte sequence
      "\xC3",                  // cut two-byte sequence
      "\xF0\x9F\x98",          // cut four-byte sequence
      "\xE2\x28\xA1",          // continuation replaced by ASCII
  };
  return rng.Pick(items);
}

std::string OddValidUtf8(Rng& rng) {
  static const std::vector<std::string> items = {
      "\xE4\xB8\xAD",      // CJK
      "\xE2\x84\xAA",      // KELVIN SIGN (lower-cases to k)
      "\xEF\xBC\xA1",      // FULLWIDTH A
      "\xEF\xBC\x91",      // FULLWIDTH 1
      "\xEF\xBB\xBF",      // byte-order mark
      "\xC4\xB0",          // LATIN CAPITAL I WITH DOT ABOVE
      "\xC5\xBF",          // LATIN SMALL LONG S
      "\xF0\x9F\x98\x80",  // astral (surrogate pair in UTF-16)
      "\xE2\x80\xAE",      // right-to-left override
      "\xC2\xA0",          // no-break space
      "\xEF\xBF\xBF",      // noncharacter U+FFFF
      "\xF4\x8F\xBF\xBF",  // U+10FFFF
  };
  return rng.Pick(items);
}

std::string EdgeNumber(Rng& rng) {
  static const std::vector<std::string> items = {"1e400",
                                                 "-1e400",
                                                 "1e-400",
                                                 "-0",
                                                 "-0.0",
                                                 "0.0",
                                                 "18446744073709551616",
                                                 "18446744073709551615",
                                                 "18446744073709551617",
                                                 "9223372036854775807",
                                                 "9223372036854775808",
                                                 "-9223372036854775808",
                                                 "-9223372036854775809",
                                                 "4294967297",
                                                 "-4294967297",
                                                 "2147483648",
                                                 "-2147483649",
                                                 "1.0000000000000000001",
                                                 "0.9999999999999999999",
                                                 "1.7976931348623157e308",
                                                 "4.9e-324",
                                                 "1e19",
                                                 "1.8446744073709552e19",
                                                 "-1",
                                                 "1",
                                                 "0",
                                                 "1.5",
                                                 "1E0",
                                                 "1e+0",
                                                 "01",
                                                 "1.",
                                                 ".5",
                                                 "+1",
                                                 "0x10",
                                                 "NaN",
                                                 "Infinity",
                                                 "-"};
  if (rng.OneIn(5)) {
    // A long run of digits, optionally signed, fractional or with an exponent.
    std::string digits = rng.OneIn(2) ? "-" : "";
    digits.push_back(static_cast<char>('1' + rng.Below(9)));
    for (std::uint64_t n = rng.Between(20, 5000); n > 0; --n) {
      digits.push_back(static_cast<char>('0' + rng.Below(10)));
    }
    if (rng.OneIn(3)) digits += ".5";
    if (rng.OneIn(3)) digits += "e-" + std::to_string(rng.Below(100000));
    return digits;
  }
  return rng.Pick(items);
}

std::string DeepNesting(Rng& rng) {
  const std::size_t depth = static_cast<std::size_t>(rng.Between(1000, 100000));
  const bool objects = rng.OneIn(2);
  const bool closed = !rng.OneIn(4);
  std::string text;
  text.reserve(depth * (objects ? 6 : 2) + 8);
  for (std::size_t i = 0; i < depth; ++i) text += objects ? "{\"a\":" : "[";
  text += objects ? "1" : "";
  if (closed) {
    for (std::size_t i = 0; i < depth; ++i) text += objects ? "}" : "]";
  }
  return text;
}

void ChangeAsciiCase(Rng& rng, std::string& bytes) {
  if (bytes.empty()) return;
  for (std::uint64_t n = rng.Between(1, 8); n > 0; --n) {
    char& c = bytes[static_cast<std::size_t>(rng.Below(bytes.size()))];
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 32);
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + 32);
    }
  }
}

}  // namespace lum::installer::fuzz
