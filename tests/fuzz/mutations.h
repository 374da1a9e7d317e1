// Byte-level mutations and hostile snippets shared by the fuzzing programs.
#pragma once

#include <string>

#include "tests/fuzz/fuzz_harness.h"

namespace lum::installer::fuzz {

// Inverts one to eight random bits.
void FlipBits(Rng& rng, std::string& bytes);
// Inserts 1-16 bytes at a random place: random bytes, JSON punctuation or a hostile snippet.
void InsertBytes(Rng& rng, std::string& bytes);
// Removes a random run of 1-32 bytes.
void DeleteBytes(Rng& rng, std::string& bytes);
// Cuts the text at a random length (possibly 0).
void Truncate(Rng& rng, std::string& bytes);
// Two to six of the above in a row.
void Havoc(Rng& rng, std::string& bytes);

// A malformed UTF-8 sequence: overlong forms, encoded surrogates, lone continuation bytes,
// bytes that never occur (0xC0, 0xC1, 0xF5-0xFF), code points above U+10FFFF, cut sequences.
std::string InvalidUtf8(Rng& rng);
// Well-formed UTF-8 that is not ASCII (CJK, fullwidth forms, the Kelvin sign, a BOM, astral).
std::string OddValidUtf8(Rng& rng);
// JSON number text at the edges: 1e400, -0, 2^64, 2^63, long digit runs, tiny exponents.
std::string EdgeNumber(Rng& rng);
// Thousands of nested arrays or objects, closed or left open.
std::string DeepNesting(Rng& rng);

// Swaps the letter case of some ASCII letters.
void ChangeAsciiCase(Rng& rng, std::string& bytes);

}  // namespace lum::installer::fuzz
