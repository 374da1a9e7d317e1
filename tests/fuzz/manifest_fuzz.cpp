// Mutation fuzzing of the manifest body through SelectManifestPayload, the parse, validation and
// trust step that LoadManifest runs on every fetched body.
//   manifest_fuzz.exe [--seed N] [--count N] [--index N] [--input FILE] [--seeds DIR] [--out DIR]
// The seeds are the manifest fixtures (tests\data\manifest\*.json by default). Each case must
// end without a crash, hang or escaping exception, with one of the manifest messages, and with
// exactly the message that an independent reading of the document (manifest_reference.h) gives.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "manifest/manifest.h"
#include "tests/fuzz/fuzz_harness.h"
#include "tests/fuzz/manifest_reference.h"
#include "tests/fuzz/mutations.h"

namespace lum::installer::fuzz {
namespace {

using Json = nlohmann::json;

enum Kind : std::size_t {
  kSeedAsIs,
  kByteFlip,
  kByteInsert,
  kByteDelete,
  kTruncate,
  kHavoc,
  kTypeSwap,
  kKeyChange,
  kDeepNesting,
  kEdgeNumber,
  kInvalidUtf8,
  kDuplicateKey,
  kLongString,
  kSplice,
  kFieldValue,
  kKindCount
};

const std::vector<std::string> kKindNames = {
    "seed_as_is",   "byte_flip",     "byte_insert", "byte_delete",  "truncate",
    "havoc",        "type_swap",     "key_change",  "deep_nesting", "edge_number",
    "invalid_utf8", "duplicate_key", "long_string", "splice",       "field_value"};

// Placeholder that the tree mutations put where raw text goes after serialising.
constexpr char kMark[] = "~~FUZZ~~";

struct Seed {
  std::string name;
  std::string body;
  bool parsed = false;
  Json tree;
};

std::vector<Seed> LoadSeeds(const std::wstring& folder) {
  std::vector<Seed> seeds;
  for (const std::wstring& path : ListFiles(folder, L".json")) {
    Seed seed;
    seed.name = Printable(path.substr(path.find_last_of(L"\\/") + 1));
    if (!ReadWholeFile(path, seed.body)) continue;
    seed.tree = Json::parse(seed.body, nullptr, /*allow_exceptions=*/false);
    seed.parsed = !seed.tree.is_discarded();
    seeds.push_back(std::move(seed));
  }
  return seeds;
}

// Compact text; a member name cut inside a UTF-8 sequence is written with U+FFFD.
std::string Dump(const Json& tree) {
  return tree.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// Every value of the tree, in document order (the tree is a shallow seed; recursion is fine).
void CollectNodes(Json& node, std::vector<Json*>& nodes) {
  nodes.push_back(&node);
  if (node.is_object() || node.is_array()) {
    for (Json& child : node) CollectNodes(child, nodes);
  }
}

Json* PickNode(Rng& rng, Json& tree, bool allowRoot) {
  std::vector<Json*> nodes;
  CollectNodes(tree, nodes);
  if (!allowRoot && nodes.size() > 1) nodes.erase(nodes.begin());
  return nodes[static_cast<std::size_t>(rng.Below(nodes.size()))];
}

Json* PickObjectWithMembers(Rng& rng, Json& tree) {
  std::vector<Json*> nodes;
  CollectNodes(tree, nodes);
  std::vector<Json*> objects;
  for (Json* node : nodes) {
    if (node->is_object() && !node->empty()) objects.push_back(node);
  }
  return objects.empty() ? nullptr : objects[static_cast<std::size_t>(rng.Below(objects.size()))];
}

std::string PickKey(Rng& rng, const Json& object) {
  auto it = object.begin();
  std::advance(it, static_cast<std::ptrdiff_t>(rng.Below(object.size())));
  return it.key();
}

Json ValueOfAnotherType(Rng& rng, const Json& old) {
  for (;;) {
    Json value;
    switch (rng.Below(9)) {
      case 0:
        value = "x64";
        break;
      case 1:
        value = static_cast<std::int64_t>(rng.Below(3)) - 1;
        break;
      case 2:
        value = 1.5;
        break;
      case 3:
        value = Json::object();
        break;
      case 4:
        value = Json::array();
        break;
      case 5:
        value = rng.OneIn(2);
        break;
      case 6:
        value = nullptr;
        break;
      case 7:
        value = Json::array({old});
        break;
      default:
        value = Json{{"version", "1.0"}};
        break;
    }
    if (value.type() != old.type() || rng.OneIn(8)) return value;
  }
}

std::string RenamedKey(Rng& rng, std::string key) {
  static const std::vector<std::string> names = {"schemaVersion",
                                                 "minimumBootstrapperVersion",
                                                 "sequence",
                                                 "payloads",
                                                 "channels",
                                                 "version",
                                                 "architecture",
                                                 "mode",
                                                 "url",
                                                 "sha256",
                                                 "publisher",
                                                 "size",
                                                 "guanwang",
                                                 "baidu2",
                                                 "lumora-x64",
                                                 "",
                                                 "GUANWANG",
                                                 "Lumora-x64"};
  switch (rng.Below(4)) {
    case 0:
      ChangeAsciiCase(rng, key);
      return key;
    case 1:
      return rng.Pick(names);
    case 2:
      return key.empty() ? key : key.substr(0, static_cast<std::size_t>(rng.Below(key.size())));
    default:
      return key + OddValidUtf8(rng);
  }
}

// Replaces the first occurrence of what with the raw text.
std::string ReplaceFirst(std::string text, std::string_view what, std::string_view raw) {
  const std::size_t at = text.find(what);
  if (at != std::string::npos) text.replace(at, what.size(), raw);
  return text;
}

// The tree serialised with the value node replaced by raw text.
std::string WithRawValue(Json tree, Rng& rng, const std::string& raw) {
  *PickNode(rng, tree, rng.OneIn(20)) = kMark;
  return ReplaceFirst(Dump(tree), std::string("\"") + kMark + "\"", raw);
}

std::string LongText(Rng& rng) {
  static const std::vector<std::string> units = {
      "a", "\xE4\xB8\xAD", "1.", "0", "f", "https://", "\\u00e9", "\\\"", " ", "\xE2\x84\xAA"};
  const std::string& unit = rng.Pick(units);
  const std::size_t count = static_cast<std::size_t>(1) << rng.Between(6, 20);
  std::string text;
  text.reserve(count * unit.size() + 1);
  for (std::size_t i = 0; i * unit.size() < count; ++i) text += unit;
  if (unit == "0") text += "1";
  return text;
}

// A string node (or, sometimes, a member name) of the tree gets the mark somewhere inside;
// the serialised text then has raw bytes put in its place.
std::string WithRawInString(Json tree, Rng& rng, const std::string& raw) {
  std::vector<Json*> nodes;
  CollectNodes(tree, nodes);
  std::vector<Json*> strings;
  for (Json* node : nodes) {
    if (node->is_string()) strings.push_back(node);
  }
  Json* object = PickObjectWithMembers(rng, tree);
  if (object != nullptr && (strings.empty() || rng.OneIn(3))) {
    const std::string key = PickKey(rng, *object);
    Json value = (*object)[key];
    object->erase(key);
    std::string marked = key;
    marked.insert(static_cast<std::size_t>(rng.Below(key.size() + 1)), kMark);
    (*object)[marked] = std::move(value);
  } else if (!strings.empty()) {
    Json& node = *strings[static_cast<std::size_t>(rng.Below(strings.size()))];
    std::string text = node.get<std::string>();
    text.insert(static_cast<std::size_t>(rng.Below(text.size() + 1)), kMark);
    node = text;
  } else {
    *PickNode(rng, tree, false) = kMark;
  }
  return ReplaceFirst(Dump(tree), kMark, raw);
}

std::string DuplicateKey(Json tree, Rng& rng, const std::vector<const Seed*>& parsed) {
  Json* object = PickObjectWithMembers(rng, tree);
  if (object == nullptr) return Dump(tree);
  const std::string key = PickKey(rng, *object);
  Json second;
  switch (rng.Below(3)) {
    case 0:
      second = ValueOfAnotherType(rng, (*object)[key]);
      break;
    case 1: {
      Json other = rng.Pick(parsed)->tree;
      second = *PickNode(rng, other, true);
      break;
    }
    default:
      second = (*object)[key];
      break;
  }
  // Member names sort by bytes: " ~DUP~" comes before every seed's names, "~~DUP~~" after, so
  // the repeated name lands before or after the original once renamed in the text.
  const char* placeholder = rng.OneIn(2) ? " ~DUP~" : "~~DUP~~";
  (*object)[placeholder] = std::move(second);
  return ReplaceFirst(Dump(tree), Dump(Json(placeholder)), Dump(Json(key)));
}

// Well-typed strings at the edges of the field rules, so that validation (not only the parse)
// gets hostile values.
std::string EdgeString(Rng& rng) {
  static const std::vector<std::string> items = {
      "",
      "x64",
      "X64",
      "x86",
      "x64 ",
      "bundled",
      "Bundled",
      "online",
      "https://",
      "https://x",
      "HTTPS://x/y",
      "http://x/y",
      " https://x/y",
      "https://x/\\ny",
      "https://x/\\ry",
      "https:/x/y",
      "https://localhost:8443/a.exe",
      "3f0a9c2e5b7d4e1f8a6c0b9d2e4f6a8b1c3d5e7f9a0b2c4d6e8f0a1b3c5d7e9f",
      "3F0A9C2E5B7D4E1F8A6C0B9D2E4F6A8B1C3D5E7F9A0B2C4D6E8F0A1B3C5D7E9F",
      "3f0a9c2e5b7d4e1f8a6c0b9d2e4f6a8b1c3d5e7f9a0b2c4d6e8f0a1b3c5d7e9",
      "3f0a9c2e5b7d4e1f8a6c0b9d2e4f6a8b1c3d5e7f9a0b2c4d6e8f0a1b3c5d7e9fa",
      "3f0a9c2e5b7d4e1f8a6c0b9d2e4f6a8b1c3d5e7f9a0b2c4d6e8f0a1b3c5d7e9g",
      "\\uff13f0a9c2e5b7d4e1f8a6c0b9d2e4f6a8b1c3d5e7f9a0b2c4d6e8f0a1b3c5d7e9",
      "Velmont Harbor Network Technology Co., Ltd.",
      "VELMONT HARBOR NETWORK TECHNOLOGY CO., LTD.",
      "Velmont Harbor Network Technology Co., Ltd",
      "Velmont Harbor Network Technology Co., Ltd. ",
      "Velmont Harbor Networ\\u212a Technology Co., Ltd.",
      "\\u0000",
      "1.0.0",
      "1.0",
      "1",
      "0.9",
      "1.0.1",
      "1.0.0.0.1",
      "1.2.",
      "1..2",
      ".1",
      "1.2..",
      "V1.0",
      "1.0-beta",
      "1,0",
      " 1.0",
      "18446744073709551615",
      "18446744073709551616",
      "0.0.0",
      "00001.0000",
      "\\uff11.0",
      "guanwang",
      "baidu2",
      "lumora-x64",
      "Lumora-x64",
      "\\u4e2d\\u6587",
      "\\ud83d\\ude00"};
  return rng.Pick(items);
}

// A string node (or a member name) of the tree becomes one of the edge strings.
std::string WithEdgeString(Json tree, Rng& rng) {
  std::vector<Json*> nodes;
  CollectNodes(tree, nodes);
  std::vector<Json*> strings;
  for (Json* node : nodes) {
    if (node->is_string()) strings.push_back(node);
  }
  Json* object = PickObjectWithMembers(rng, tree);
  const std::string text = "\"" + EdgeString(rng) + "\"";  // JSON text, escapes included
  if (object != nullptr && (strings.empty() || rng.OneIn(4))) {
    const std::string key = PickKey(rng, *object);
    Json value = (*object)[key];
    object->erase(key);
    (*object)[kMark] = std::move(value);
  } else if (!strings.empty()) {
    *strings[static_cast<std::size_t>(rng.Below(strings.size()))] = kMark;
  } else {
    return Dump(tree);
  }
  return ReplaceFirst(Dump(tree), std::string("\"") + kMark + "\"", text);
}

struct GeneratedCase {
  std::size_t kind = kSeedAsIs;
  std::string body;
  std::string seedName;
  std::string channel;
};

GeneratedCase Generate(Rng& rng, const std::vector<Seed>& seeds,
                       const std::vector<const Seed*>& parsed) {
  GeneratedCase c;
  c.channel = rng.OneIn(8) ? "baidu2" : "guanwang";
  // Every kind equally often, but most draws of seed_as_is become havoc.
  c.kind = static_cast<std::size_t>(rng.Below(kKindCount));
  if (c.kind == kSeedAsIs && !rng.OneIn(4)) c.kind = kHavoc;
  const bool treeKind = c.kind >= kTypeSwap;
  const Seed& seed = treeKind ? *rng.Pick(parsed) : seeds[rng.Below(seeds.size())];
  c.seedName = seed.name;
  std::string body = seed.body;
  switch (c.kind) {
    case kSeedAsIs:
      break;
    case kByteFlip:
      FlipBits(rng, body);
      break;
    case kByteInsert:
      InsertBytes(rng, body);
      break;
    case kByteDelete:
      DeleteBytes(rng, body);
      break;
    case kTruncate:
      Truncate(rng, body);
      break;
    case kHavoc:
      Havoc(rng, body);
      break;
    case kTypeSwap: {
      Json tree = seed.tree;
      Json* node = PickNode(rng, tree, rng.OneIn(20));
      *node = ValueOfAnotherType(rng, *node);
      body = Dump(tree);
      break;
    }
    case kKeyChange: {
      Json tree = seed.tree;
      if (Json* object = PickObjectWithMembers(rng, tree)) {
        const std::string key = PickKey(rng, *object);
        Json value = (*object)[key];
        object->erase(key);
        (*object)[RenamedKey(rng, key)] = std::move(value);
      }
      body = Dump(tree);
      break;
    }
    case kDeepNesting:
      switch (rng.Below(4)) {
        case 0:
          body = DeepNesting(rng);
          break;
        case 1:
          body = DeepNesting(rng) + body;
          break;
        default:
          body = WithRawValue(seed.tree, rng, DeepNesting(rng));
          break;
      }
      break;
    case kEdgeNumber:
      body = WithRawValue(seed.tree, rng, EdgeNumber(rng));
      break;
    case kInvalidUtf8:
      if (rng.OneIn(4)) {
        body.insert(static_cast<std::size_t>(rng.Below(body.size() + 1)), InvalidUtf8(rng));
      } else {
        body = WithRawInString(seed.tree, rng, rng.OneIn(5) ? OddValidUtf8(rng) : InvalidUtf8(rng));
      }
      break;
    case kDuplicateKey:
      body = DuplicateKey(seed.tree, rng, parsed);
      break;
    case kLongString:
      body = WithRawInString(seed.tree, rng, LongText(rng));
      break;
    case kSplice: {
      Json tree = seed.tree;
      Json donor = rng.Pick(parsed)->tree;
      *PickNode(rng, tree, false) = *PickNode(rng, donor, true);
      body = Dump(tree);
      break;
    }
    case kFieldValue:
      body = WithEdgeString(seed.tree, rng);
      if (rng.OneIn(3)) body = WithEdgeString(Json::parse(body, nullptr, false), rng);
      break;
    default:
      break;
  }
  // Now and then a few byte-level changes on top of a tree mutation.
  if (treeKind && rng.OneIn(10)) Havoc(rng, body);
  c.body = std::move(body);
  return c;
}

std::wstring Widen(const std::string& ascii) { return std::wstring(ascii.begin(), ascii.end()); }

bool SamePayload(const PayloadInfo& a, const PayloadInfo& b) {
  return a.name == b.name && a.version == b.version && a.architecture == b.architecture &&
         a.mode == b.mode && a.url == b.url && a.sha256 == b.sha256 && a.publisher == b.publisher &&
         a.size == b.size;
}

const char* LabelOf(const std::wstring& message) {
  for (const ManifestMessage& m : ManifestMessages()) {
    if (message == m.text) return m.label;
  }
  return nullptr;
}

std::string Label(bool accepted, const std::wstring& message) {
  if (accepted) return message.empty() ? "accepted" : "accepted-with-message";
  const char* label = LabelOf(message);
  return label != nullptr ? label : "OUTSIDE-THE-SET \"" + Printable(message) + "\"";
}

// What an accepted entry must look like, against the document it came from.
std::string CheckAccepted(const PayloadInfo& p, const Json& document, const std::string& channel) {
  if (p.architecture != L"x64" || p.mode != L"bundled") return "architecture or mode";
  if (p.size == 0) return "size 0";
  if (p.url.size() < 8 || p.url.rfind(L"https://", 0) != 0 ||
      p.url.find_first_of(L"\r\n") != std::wstring::npos) {
    return "url";
  }
  if (p.sha256.size() != 64 ||
      p.sha256.find_first_not_of(L"0123456789abcdefABCDEF") != std::wstring::npos) {
    return "sha256";
  }
  std::vector<unsigned long long> fields;
  if (!ReferenceVersionFields(ToUtf8(p.version), fields)) return "version";
  if (!IsTrustedPublisher(p.publisher)) return "publisher";
  // The entry is the one the channel names, with the document's own values.
  const Json& name = document.at("channels").at(channel);
  if (ToUtf8(p.name) != name.get<std::string>()) return "payload name";
  const Json& entry = document.at("payloads").at(name.get<std::string>());
  const std::pair<const char*, const std::wstring*> strings[] = {
      {"version", &p.version}, {"architecture", &p.architecture},
      {"mode", &p.mode},       {"url", &p.url},
      {"sha256", &p.sha256},   {"publisher", &p.publisher}};
  for (const auto& [member, value] : strings) {
    if (ToUtf8(*value) != entry.at(member).get<std::string>()) {
      return std::string("member ") + member;
    }
  }
  const Json& size = entry.at("size");
  if (size.is_number_unsigned() && size.get<std::uint64_t>() != p.size) return "size value";
  return {};
}

void RunCase(Campaign& campaign, const std::string& body, const std::string& channel,
             const std::string& seedName) {
  const auto report = [&](const std::string& what) {
    campaign.Finding(what + " (channel " + channel + ", mutated from " + seedName + ")");
  };
  PayloadInfo payload;
  payload.name = L"untouched";
  payload.size = 7;
  const PayloadInfo before = payload;
  std::wstring message = L"stale";
  bool accepted = false;
  try {
    accepted = SelectManifestPayload(body, Widen(channel), payload, message);
  } catch (const std::exception& e) {
    report(std::string("exception escaped SelectManifestPayload: ") + e.what());
    campaign.Outcome("exception");
    return;
  } catch (...) {
    report("non-standard exception escaped SelectManifestPayload");
    campaign.Outcome("exception");
    return;
  }
  const std::string label = Label(accepted, message);
  campaign.Outcome(label);
  if (accepted ? !message.empty() : LabelOf(message) == nullptr) {
    report("message outside the allowed set: " + label);
  }
  if (!accepted && !SamePayload(payload, before)) {
    report("a refused manifest changed the payload out-parameter");
  }

  const Json document = Json::parse(body, nullptr, /*allow_exceptions=*/false);
  const std::wstring expected = document.is_discarded()
                                    ? std::wstring(kTextFormatInvalid)
                                    : ExpectedManifestMessage(document, channel);
  const std::wstring got = accepted ? std::wstring() : message;
  if (got != expected) {
    report("got " + Label(accepted, message) + ", the reference reading gives " +
           Label(expected.empty(), expected));
  }
  if (accepted && !document.is_discarded()) {
    try {
      const std::string problem = CheckAccepted(payload, document, channel);
      if (!problem.empty()) report("accepted entry breaks a rule: " + problem);
    } catch (const std::exception& e) {
      report(std::string("accepted entry not found in the document: ") + e.what());
    }
  }
}

int Main(int argc, wchar_t** argv) {
  Options options;
  std::wstring problem;
  if (!ParseOptions(argc, argv, options, problem)) {
    std::printf("manifest_fuzz: %s\n", Printable(problem).c_str());
    return 2;
  }
  Campaign campaign("manifest", kKindNames, options);
  if (!options.input.empty()) {
    std::string body;
    if (!ReadWholeFile(options.input, body)) {
      std::printf("manifest_fuzz: cannot read %s\n", Printable(options.input).c_str());
      return 2;
    }
    for (const char* channel : {"guanwang", "baidu2"}) {
      campaign.BeginCase(0, kSeedAsIs, body);
      RunCase(campaign, body, channel, "the input file");
      campaign.EndCase();
    }
    return campaign.Finish();
  }

  if (options.seedsDir.empty()) {
    wchar_t data[32768];
    const DWORD length = GetEnvironmentVariableW(L"LUM_TEST_DATA", data, 32768);
    if (length == 0 || length >= 32768) {
      std::printf("manifest_fuzz: give --seeds DIR (or run in the test bed)\n");
      return 2;
    }
    options.seedsDir = std::wstring(data, length) + L"\\manifest";
  }
  const std::vector<Seed> seeds = LoadSeeds(options.seedsDir);
  std::vector<const Seed*> parsed;
  for (const Seed& seed : seeds) {
    if (seed.parsed && (seed.tree.is_object() || seed.tree.is_array())) parsed.push_back(&seed);
  }
  std::printf("[manifest] %zu seeds (%zu parse as JSON) from %s\n", seeds.size(), parsed.size(),
              Printable(options.seedsDir).c_str());
  if (seeds.empty() || parsed.empty()) return 2;

  const std::uint64_t first = options.singleIndex ? options.index : 0;
  const std::uint64_t last = options.singleIndex ? options.index + 1 : options.count;
  for (std::uint64_t index = first; index < last; ++index) {
    campaign.NoteIndex(index);
    Rng rng = campaign.CaseRng(index);
    const GeneratedCase c = Generate(rng, seeds, parsed);
    campaign.BeginCase(index, c.kind, c.body);
    campaign.MaybeInjectFault();
    RunCase(campaign, c.body, c.channel, c.seedName);
    campaign.EndCase();
  }
  return campaign.Finish();
}

}  // namespace
}  // namespace lum::installer::fuzz

int wmain(int argc, wchar_t** argv) { return lum::installer::fuzz::Main(argc, argv); }
