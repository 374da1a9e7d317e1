// Mutation fuzzing of the channel resource parser (ParseChannelText) and of the click
// identifier taken from the executable's file name (ExtractBingClickId).
//   channel_fuzz.exe [--target channel|clickid] [--seed N] [--count N] [--index N]
//                    [--input FILE] [--out DIR]
// --count applies to each target. Both results are compared with plain reference readings
// written from the rules: strict UTF-8, towlower per unit, the allow-list; the last "setup-" or
// "step-" and the final ".exe".
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <cwctype>
#include <exception>
#include <string>
#include <vector>

#include "system/channel.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/mutations.h"

namespace lum::installer::fuzz {
namespace {

// ---- Reference readings ----

// Strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF) to UTF-16.
bool ReferenceDecode(const std::string& bytes, std::wstring& out) {
  out.clear();
  std::size_t i = 0;
  while (i < bytes.size()) {
    const unsigned char b = static_cast<unsigned char>(bytes[i]);
    std::size_t length = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if (b < 0x80) {
      length = 1;
      cp = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      length = 2, cp = b & 0x1F, minimum = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3, cp = b & 0x0F, minimum = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4, cp = b & 0x07, minimum = 0x10000;
    } else {
      return false;
    }
    if (i + length > bytes.size()) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char c = static_cast<unsigned char>(bytes[i + k]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    if (cp >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += length;
  }
  return true;
}

bool ReferenceChannel(const std::string& bytes, std::wstring& channel) {
  if (bytes.empty() || bytes.size() > 64) return false;
  std::wstring text;
  if (!ReferenceDecode(bytes, text)) return false;
  for (wchar_t& unit : text) unit = static_cast<wchar_t>(std::towlower(unit));
  for (const std::wstring& known : KnownChannels()) {
    if (text == known) {
      channel = text;
      return true;
    }
  }
  return false;
}

bool AsciiLetterOrDigit(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9');
}

std::wstring ReferenceClickId(const std::wstring& channel, const std::wstring& name) {
  if (channel != L"bing") return {};
  std::wstring lower = name;
  for (wchar_t& unit : lower) unit = static_cast<wchar_t>(std::towlower(unit));
  if (lower.size() <= 4 || lower.compare(lower.size() - 4, 4, L".exe") != 0) return {};
  long long setup = -1;
  long long step = -1;
  for (std::size_t i = 0; i + 6 <= lower.size(); ++i) {
    if (lower.compare(i, 6, L"setup-") == 0) setup = static_cast<long long>(i);
  }
  for (std::size_t i = 0; i + 5 <= lower.size(); ++i) {
    if (lower.compare(i, 5, L"step-") == 0) step = static_cast<long long>(i);
  }
  if (setup < 0 && step < 0) return {};
  const std::size_t start = static_cast<std::size_t>(setup > step ? setup + 6 : step + 5);
  const std::size_t end = lower.size() - 4;
  if (start >= end) return {};
  const std::wstring id = name.substr(start, end - start);
  for (const wchar_t unit : id) {
    if (!AsciiLetterOrDigit(unit)) return {};
  }
  return id;
}

// ---- Channel resource target ----

enum ChannelKind : std::size_t {
  kKnownAsIs,
  kAsciiCase,
  kNonAsciiCase,
  kByteMutation,
  kInvalidSequence,
  kNulSpaceBom,
  kRandomBytes,
  kOverLong,
  kBoundaryLength,
  kConcatenated,
  kChannelKindCount
};
const std::vector<std::string> kChannelKindNames = {
    "known_as_is",   "ascii_case",   "non_ascii_case", "byte_mutation",   "invalid_utf8",
    "nul_space_bom", "random_bytes", "over_long",      "boundary_length", "concatenated"};

std::string KnownUtf8(Rng& rng) {
  const std::wstring& known = KnownChannels()[static_cast<std::size_t>(rng.Below(18))];
  return std::string(known.begin(), known.end());
}

// Letters replaced by non-ASCII look-alikes or other-case forms (UTF-8).
void NonAsciiCase(Rng& rng, std::string& text) {
  struct LookAlike {
    char ascii;
    const char* utf8;
  };
  static const LookAlike items[] = {
      {'k', "\xE2\x84\xAA"},  // KELVIN SIGN
      {'i', "\xC4\xB0"},      // CAPITAL I WITH DOT ABOVE
      {'i', "\xC4\xB1"},      // DOTLESS I
      {'s', "\xC5\xBF"},      // LONG S
      {'a', "\xEF\xBC\xA1"},  // FULLWIDTH A
      {'a', "\xD0\xB0"},      // CYRILLIC a
      {'o', "\xD0\x9E"},      // CYRILLIC O
      {'n', "\xEF\xBD\x8E"},  // FULLWIDTH n
      {'g', "\xEF\xBC\xA7"},  // FULLWIDTH G
      {'0', "\xEF\xBC\x90"},  // FULLWIDTH 0
      {'3', "\xEF\xBC\x93"},  // FULLWIDTH 3
      {'b', "\xEF\xBC\xA2"},  // FULLWIDTH B
      {'e', "\xC3\x89"},      // E WITH ACUTE
  };
  for (std::uint64_t n = rng.Between(1, 3); n > 0; --n) {
    const LookAlike& item = items[rng.Below(std::size(items))];
    const std::size_t at = text.find(item.ascii);
    if (at != std::string::npos) {
      text.replace(at, 1, item.utf8);
    } else if (rng.OneIn(2)) {
      text.insert(static_cast<std::size_t>(rng.Below(text.size() + 1)), item.utf8);
    }
  }
}

std::string GenerateChannelBytes(Rng& rng, std::size_t kind) {
  std::string text = KnownUtf8(rng);
  switch (kind) {
    case kKnownAsIs:
      break;
    case kAsciiCase:
      ChangeAsciiCase(rng, text);
      break;
    case kNonAsciiCase:
      if (rng.OneIn(2)) ChangeAsciiCase(rng, text);
      NonAsciiCase(rng, text);
      break;
    case kByteMutation:
      switch (rng.Below(5)) {
        case 0:
          FlipBits(rng, text);
          break;
        case 1:
          InsertBytes(rng, text);
          break;
        case 2:
          DeleteBytes(rng, text);
          break;
        case 3:
          Truncate(rng, text);
          break;
        default:
          Havoc(rng, text);
          break;
      }
      break;
    case kInvalidSequence:
      text.insert(static_cast<std::size_t>(rng.Below(text.size() + 1)), InvalidUtf8(rng));
      break;
    case kNulSpaceBom: {
      static const std::vector<std::string> extras = {
          std::string(1, '\0'), " ",        "\t",          "\n", "\r\n",
          "\xEF\xBB\xBF",       "\xC2\xA0", "\xE3\x80\x80"};  // ideographic space
      const std::string& extra = rng.Pick(extras);
      switch (rng.Below(3)) {
        case 0:
          text = extra + text;
          break;
        case 1:
          text += extra;
          break;
        default:
          text.insert(static_cast<std::size_t>(rng.Below(text.size() + 1)), extra);
          break;
      }
      break;
    }
    case kRandomBytes:
      text.clear();
      for (std::uint64_t n = rng.Below(80); n > 0; --n) {
        text.push_back(static_cast<char>(rng.OneIn(2) ? 'a' + rng.Below(26) : rng.Below(256)));
      }
      break;
    case kOverLong: {
      const std::size_t length = static_cast<std::size_t>(rng.Between(65, 4096));
      while (text.size() < length) text += rng.OneIn(3) ? KnownUtf8(rng) : std::string(1, ' ');
      text.resize(length);
      break;
    }
    case kBoundaryLength: {
      // Padding that the lower-casing cannot remove, to 63, 64 or 65 bytes.
      const std::size_t length = static_cast<std::size_t>(rng.Between(63, 65));
      const char pad = rng.OneIn(2) ? 'a' : '\0';
      if (rng.OneIn(2)) {
        text.resize(length, pad);
      } else {
        text = std::string(length > text.size() ? length - text.size() : 0, pad) + text;
      }
      break;
    }
    case kConcatenated:
      text += KnownUtf8(rng);
      break;
    default:
      break;
  }
  return text;
}

void RunChannelCase(Campaign& campaign, const std::string& bytes) {
  std::wstring output = L"sentinel";
  bool accepted = false;
  try {
    accepted = ParseChannelText(bytes.data(), bytes.size(), &output);
  } catch (...) {
    campaign.Finding("exception escaped ParseChannelText");
    campaign.Outcome("exception");
    return;
  }
  campaign.Outcome(accepted ? "accepted " + ToUtf8(output) : "refused");
  if (!accepted && output != L"sentinel") campaign.Finding("refusal changed the output");
  if (accepted) {
    bool listed = false;
    for (const std::wstring& known : KnownChannels()) listed = listed || output == known;
    if (!listed) campaign.Finding("accepted a channel outside the list: " + Printable(output));
    if (bytes.size() > kMaxChannelBytes) campaign.Finding("accepted more than 64 bytes");
  }
  std::wstring expected;
  const bool expectedAccepted = ReferenceChannel(bytes, expected);
  if (accepted != expectedAccepted || (accepted && output != expected)) {
    campaign.Finding("differs from the reference reading: got " +
                     (accepted ? Printable(output) : std::string("refused")) + ", expected " +
                     (expectedAccepted ? Printable(expected) : std::string("refused")) +
                     " for bytes " + Printable(bytes));
  }
}

// ---- Click identifier target ----

enum ClickKind : std::size_t {
  kExample,
  kPattern,
  kMultipleMarkers,
  kNonAsciiId,
  kNonAsciiMarker,
  kBadSuffix,
  kUnitMutation,
  kVeryLong,
  kEmptyOrShort,
  kRandomUnits,
  kOtherChannel,
  kClickKindCount
};
const std::vector<std::string> kClickKindNames = {
    "spec_example",     "pattern",      "multiple_markers", "non_ascii_id",
    "non_ascii_marker", "bad_suffix",   "unit_mutation",    "very_long",
    "empty_or_short",   "random_units", "other_channel"};

wchar_t RandomAlnum(Rng& rng) {
  static const wchar_t kAlnum[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  return kAlnum[rng.Below(62)];
}

std::wstring RandomCase(Rng& rng, std::wstring text) {
  for (wchar_t& c : text) {
    if (rng.OneIn(2)) c = static_cast<wchar_t>(std::towupper(c));
  }
  return text;
}

std::wstring Marker(Rng& rng) { return RandomCase(rng, rng.OneIn(2) ? L"setup-" : L"step-"); }
std::wstring Suffix(Rng& rng) { return RandomCase(rng, L".exe"); }

std::wstring Id(Rng& rng, std::size_t low, std::size_t high) {
  std::wstring id;
  for (std::size_t n = static_cast<std::size_t>(rng.Between(low, high)); n > 0; --n) {
    id.push_back(RandomAlnum(rng));
  }
  return id;
}

std::wstring Prefix(Rng& rng) {
  static const std::vector<std::wstring> prefixes = {
      L"",      L"VIVOV3_", L"Lumora ", L"\u4E0B\u8F7D_", L"a-",
      L"setup", L"step",    L"x.exe-",  L"setup-setup-",  L"C:\\dir\\"};
  return rng.Pick(prefixes);
}

// Units that look like letters or digits but are not ASCII, and lone surrogates.
wchar_t OddUnit(Rng& rng) {
  static const wchar_t units[] = {0x212A, 0x0130, 0x0131, 0x017F, 0xFF21, 0xFF41, 0xFF10, 0xFF19,
                                  0x0430, 0x00E9, 0x00DF, 0x0660, 0xD800, 0xDBFF, 0xDC00, 0xDFFF,
                                  0x0000, 0x00A0, 0x2010, 0xFF0D, 0xFF0E, 0x0307, 0xFFFF, 0x4E2D};
  return units[rng.Below(std::size(units))];
}

struct ClickCase {
  std::wstring channel = L"bing";
  std::wstring name;
};

ClickCase GenerateClickCase(Rng& rng, std::size_t kind) {
  ClickCase c;
  if (rng.OneIn(16)) c.channel = rng.OneIn(2) ? L"baidu2" : L"guanwang";
  std::wstring& name = c.name;
  switch (kind) {
    case kExample: {
      static const std::vector<std::wstring> examples = {
          L"setup-Ab12.exe",     L"VIVOV3_setup-Ab12.exe", L"Step-XY9.EXE",
          L"step-a-setup-b.exe", L"setup-step-Q1.exe",     L"setup-ab_12.exe",
          L"setup-Ab12 (1).exe", L"setup-Ab12.exe.exe",    L"setup-.exe",
          L"installer.exe",      L"setup-ab-12.exe"};
      name = rng.Pick(examples);
      break;
    }
    case kPattern:
      name = Prefix(rng) + Marker(rng) + Id(rng, 0, 24) + Suffix(rng);
      break;
    case kMultipleMarkers:
      for (std::uint64_t n = rng.Between(2, 5); n > 0; --n) {
        name += Marker(rng) + Id(rng, 0, 6);
        if (rng.OneIn(3)) name += rng.OneIn(2) ? L"-" : L".exe";
      }
      name += Suffix(rng);
      break;
    case kNonAsciiId: {
      std::wstring id = Id(rng, 1, 12);
      for (std::uint64_t n = rng.Between(1, 3); n > 0; --n) {
        id.insert(static_cast<std::size_t>(rng.Below(id.size() + 1)), 1, OddUnit(rng));
      }
      name = Prefix(rng) + Marker(rng) + id + Suffix(rng);
      break;
    }
    case kNonAsciiMarker: {
      std::wstring marker = Marker(rng);
      std::wstring suffix = Suffix(rng);
      static const std::vector<std::pair<wchar_t, wchar_t>> swaps = {
          {L's', 0x017F}, {L'S', 0x017F}, {L'e', 0xFF45}, {L'E', 0x0130},
          {L'p', 0xFF50}, {L't', 0x0442}, {L'-', 0x2010}, {L'-', 0xFF0D},
          {L'x', 0xFF58}, {L'.', 0xFF0E}, {L'e', 0x0435}, {L'u', 0x00FC}};
      for (std::uint64_t n = rng.Between(1, 2); n > 0; --n) {
        const auto& [from, to] = rng.Pick(swaps);
        std::wstring& target = rng.OneIn(3) ? suffix : marker;
        const std::size_t at = target.find(from);
        if (at != std::wstring::npos) target[at] = to;
      }
      name = Prefix(rng) + marker + Id(rng, 1, 12) + suffix;
      break;
    }
    case kBadSuffix: {
      static const std::vector<std::wstring> suffixes = {
          L".exe.exe",   L".exe ", L".ex",   L"exe",   L"",
          L".exe\u0000", L". exe", L".exee", L".exe.", L"\u0000.exe",
          L".EXE",       L".eXe",  L"..exe", L".com",  L".exe\uFEFF"};
      name = Prefix(rng) + Marker(rng) + Id(rng, 0, 12) + rng.Pick(suffixes);
      break;
    }
    case kUnitMutation: {
      name = Prefix(rng) + Marker(rng) + Id(rng, 0, 12) + Suffix(rng);
      for (std::uint64_t n = rng.Between(1, 4); n > 0; --n) {
        const std::size_t at = static_cast<std::size_t>(rng.Below(name.size() + 1));
        switch (rng.Below(4)) {
          case 0:
            if (at < name.size()) name.erase(at, 1);
            break;
          case 1:
            name.insert(at, 1, OddUnit(rng));
            break;
          case 2:
            name.insert(at, 1, static_cast<wchar_t>(rng.Below(0x10000)));
            break;
          default:
            if (at < name.size()) name[at] = static_cast<wchar_t>(name[at] ^ (1u << rng.Below(16)));
            break;
        }
      }
      break;
    }
    case kVeryLong: {
      const std::size_t length = static_cast<std::size_t>(rng.Between(250, 40000));
      std::wstring id = rng.OneIn(4) ? std::wstring(length, L'A') : Id(rng, length, length);
      if (rng.OneIn(3)) id[static_cast<std::size_t>(rng.Below(id.size()))] = OddUnit(rng);
      name = Prefix(rng) + Marker(rng) + id + Suffix(rng);
      if (rng.OneIn(4)) name = std::wstring(length, L'x') + name;  // marker far from the start
      break;
    }
    case kEmptyOrShort: {
      static const std::vector<std::wstring> shorts = {
          L"",          L".exe",      L"a.exe",      L"-.exe",     L"p-.exe",
          L".EXE",      L"e",         L"setup-",     L"step-",     L"tep-.exe",
          L"etup-.exe", L"step-.exe", L"setup-.EXE", L"step-a.exe"};
      name = rng.Pick(shorts);
      break;
    }
    case kRandomUnits:
      for (std::uint64_t n = rng.Below(40); n > 0; --n) {
        name.push_back(rng.OneIn(2) ? RandomAlnum(rng) : static_cast<wchar_t>(rng.Below(0x10000)));
      }
      if (rng.OneIn(2)) name = Marker(rng) + name + Suffix(rng);
      break;
    case kOtherChannel: {
      static const std::vector<std::wstring> channels = {
          L"Bing",  L"BING",      L"bing ",    L" bing",  L"",    L"bin",
          L"bingo", L"b\u0130ng", L"guanwang", L"baidu2", L"360", std::wstring(L"bing\0", 5)};
      c.channel = rng.Pick(channels);
      name = Prefix(rng) + Marker(rng) + Id(rng, 1, 12) + Suffix(rng);
      break;
    }
    default:
      break;
  }
  return c;
}

// Saved form of a click case: channel length (4 bytes, little-endian units), channel, file name,
// all UTF-16LE.
std::string EncodeClickCase(const ClickCase& c) {
  std::string bytes(4, '\0');
  const std::uint32_t units = static_cast<std::uint32_t>(c.channel.size());
  std::memcpy(bytes.data(), &units, 4);
  bytes.append(reinterpret_cast<const char*>(c.channel.data()), c.channel.size() * 2);
  bytes.append(reinterpret_cast<const char*>(c.name.data()), c.name.size() * 2);
  return bytes;
}

bool DecodeClickCase(const std::string& bytes, ClickCase& c) {
  std::uint32_t units = 0;
  if (bytes.size() < 4) return false;
  std::memcpy(&units, bytes.data(), 4);
  if ((bytes.size() - 4) % 2 != 0 || units > (bytes.size() - 4) / 2) return false;
  c.channel.assign(units, L'\0');
  std::memcpy(c.channel.data(), bytes.data() + 4, units * 2);
  c.name.assign((bytes.size() - 4) / 2 - units, L'\0');
  std::memcpy(c.name.data(), bytes.data() + 4 + units * 2, c.name.size() * 2);
  return true;
}

void RunClickCase(Campaign& campaign, const ClickCase& c) {
  std::wstring id;
  try {
    id = ExtractBingClickId(c.channel, c.name);
  } catch (...) {
    campaign.Finding("exception escaped ExtractBingClickId");
    campaign.Outcome("exception");
    return;
  }
  campaign.Outcome(id.empty() ? "empty" : "click id");
  const std::string where =
      " (channel " + Printable(c.channel) + ", name " + Printable(c.name.substr(0, 200)) + ")";
  if (!id.empty()) {
    if (c.channel != L"bing") campaign.Finding("click id for another channel" + where);
    for (const wchar_t unit : id) {
      if (!AsciiLetterOrDigit(unit)) {
        campaign.Finding("click id holds more than ASCII letters and digits" + where);
        break;
      }
    }
    // It stands right before the final four units, in the file name's own case.
    if (c.name.size() < id.size() + 4 ||
        c.name.compare(c.name.size() - 4 - id.size(), id.size(), id) != 0) {
      campaign.Finding("click id is not the part before the suffix" + where);
    }
  }
  const std::wstring expected = ReferenceClickId(c.channel, c.name);
  if (id != expected) {
    campaign.Finding("differs from the reference reading: got \"" + Printable(id) +
                     "\", expected \"" + Printable(expected) + "\"" + where);
  }
}

// ---- Main ----

int Main(int argc, wchar_t** argv) {
  Options options;
  std::wstring problem;
  if (!ParseOptions(argc, argv, options, problem)) {
    std::printf("channel_fuzz: %s\n", Printable(problem).c_str());
    return 2;
  }
  const bool channel = options.target.empty() || options.target == L"channel";
  const bool click = options.target.empty() || options.target == L"clickid";
  if (!channel && !click) {
    std::printf("channel_fuzz: --target is channel or clickid\n");
    return 2;
  }
  std::string saved;
  if (!options.input.empty()) {
    if (!options.target.empty() && ReadWholeFile(options.input, saved)) {
      // Replays one saved input of the given target.
    } else {
      std::printf("channel_fuzz: --input needs --target and a readable file\n");
      return 2;
    }
  }
  const std::uint64_t first = options.singleIndex ? options.index : 0;
  const std::uint64_t last = options.singleIndex ? options.index + 1 : options.count;
  int exitCode = 0;

  if (channel) {
    Campaign campaign("channel", kChannelKindNames, options);
    if (!options.input.empty()) {
      campaign.BeginCase(0, kKnownAsIs, saved);
      RunChannelCase(campaign, saved);
      campaign.EndCase();
    }
    for (std::uint64_t index = first; options.input.empty() && index < last; ++index) {
      campaign.NoteIndex(index);
      Rng rng = campaign.CaseRng(index);
      const std::size_t kind = static_cast<std::size_t>(rng.Below(kChannelKindCount));
      const std::string bytes = GenerateChannelBytes(rng, kind);
      campaign.BeginCase(index, kind, bytes);
      campaign.MaybeInjectFault();
      RunChannelCase(campaign, bytes);
      campaign.EndCase();
    }
    exitCode |= campaign.Finish();
  }
  if (click) {
    Campaign campaign("clickid", kClickKindNames, options);
    if (!options.input.empty()) {
      ClickCase c;
      if (!DecodeClickCase(saved, c)) {
        std::printf("channel_fuzz: not a saved click-id case\n");
        return 2;
      }
      campaign.BeginCase(0, kExample, saved);
      RunClickCase(campaign, c);
      campaign.EndCase();
    }
    for (std::uint64_t index = first; options.input.empty() && index < last; ++index) {
      campaign.NoteIndex(index);
      Rng rng = campaign.CaseRng(index);
      const std::size_t kind = static_cast<std::size_t>(rng.Below(kClickKindCount));
      const ClickCase c = GenerateClickCase(rng, kind);
      campaign.BeginCase(index, kind, EncodeClickCase(c));
      campaign.MaybeInjectFault();
      RunClickCase(campaign, c);
      campaign.EndCase();
    }
    exitCode |= campaign.Finish();
  }
  return exitCode;
}

}  // namespace
}  // namespace lum::installer::fuzz

int wmain(int argc, wchar_t** argv) { return lum::installer::fuzz::Main(argc, argv); }
