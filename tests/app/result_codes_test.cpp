// The silent run's exit codes and switches as README and the winget manifest give them, read
// from those files and compared with the program's own table and parser; and the parser on the
// command lines deployment tools write.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "app/command_line.h"
#include "app/result_codes.h"
#include "base/text.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

std::string SourceFile(const wchar_t* relative) {
  return test::ReadFileBytes(test::TestDataPath(std::wstring(L"..\\..\\") + relative));
}

std::wstring Ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \r");
  const auto last = text.find_last_not_of(" \r");
  return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The value after "KEY:" on a line of the manifest, or empty.
std::string YamlValue(const std::string& line, const std::string& key) {
  const std::string trimmed = Trim(line.substr(line.find_first_not_of(" -") == std::string::npos
                                                   ? line.size()
                                                   : line.find_first_not_of(" -")));
  if (trimmed.rfind(key + ":", 0) != 0) return "";
  return Trim(trimmed.substr(key.size() + 1));
}

TEST(ResultCodes, WingetManifestAndReadmeFollowTheProgram) {
  std::map<DWORD, std::string> program;  // exit code -> winget response
  std::map<DWORD, std::string> outcomes;
  for (const ResultCode& code : kResultCodes) {
    EXPECT_TRUE(program.emplace(code.exitCode, std::string(code.wingetResponse)).second)
        << "one code per outcome: " << code.exitCode;
    outcomes[code.exitCode] = WideToUtf8(code.outcome);
    EXPECT_FALSE(code.exitCode >= 1 && code.exitCode <= 4) << "0-4 are the window's codes";
  }
  EXPECT_EQ(program.at(0), "");

  // The manifest: switches, and InstallerReturnCode / ReturnResponse pairs in order.
  std::istringstream manifest(
      SourceFile(L"packaging\\winget\\Lumora.LumoraMP3Converter.installer.yaml"));
  std::map<DWORD, std::string> listed;
  std::map<std::string, std::string> switches;
  DWORD pending = 0;
  for (std::string line; std::getline(manifest, line);) {
    for (const char* key : {"Silent", "SilentWithProgress", "InstallLocation", "Log", "Custom"}) {
      if (line.rfind("  ", 0) == 0 && line[2] != ' ' && !YamlValue(line, key).empty()) {
        switches[key] = YamlValue(line, key);
      }
    }
    if (const std::string code = YamlValue(line, "InstallerReturnCode"); !code.empty()) {
      pending = static_cast<DWORD>(std::stoul(code));
    } else if (const std::string response = YamlValue(line, "ReturnResponse"); !response.empty()) {
      EXPECT_TRUE(listed.emplace(pending, response).second) << pending;
    }
  }
  std::map<DWORD, std::string> failures = program;
  failures.erase(0);
  EXPECT_EQ(listed, failures);
  EXPECT_EQ(switches.size(), 3u) << "no Log or Custom switch: winget puts them after /D=";

  // The manifest's switches mean to the program what winget means by them.
  CommandLine line;
  std::wstring message;
  const std::wstring given =
      L"setup.exe " + Ascii(switches["Silent"]) + L" " + Ascii(switches["InstallLocation"]);
  const std::wstring folder = L"C:\\Program Files\\Some Place";
  std::wstring raw = given;
  raw.replace(raw.find(L"<INSTALLPATH>"), 13, folder);
  ASSERT_TRUE(ParseCommandLine(raw, line, message)) << WideToUtf8(message);
  EXPECT_TRUE(line.silent);
  EXPECT_EQ(line.installDirectory.value_or(L""), folder);
  EXPECT_EQ(switches["SilentWithProgress"], switches["Silent"]);

  // README's table: | code | OUTCOME: text | response |
  std::istringstream readme(SourceFile(L"README.md"));
  std::map<DWORD, std::string> documented;
  std::map<DWORD, std::string> documentedOutcomes;
  bool inTable = false;
  for (std::string row; std::getline(readme, row);) {
    if (row.rfind("| Exit code | Outcome | winget response |", 0) == 0) {
      inTable = true;
      continue;
    }
    if (!inTable || row.rfind("|---", 0) == 0) continue;
    if (row.rfind("|", 0) != 0) break;
    std::istringstream cells(row.substr(1));
    std::string code, outcome, response;
    std::getline(cells, code, '|');
    std::getline(cells, outcome, '|');
    std::getline(cells, response, '|');
    const DWORD value = static_cast<DWORD>(std::stoul(Trim(code)));
    documented[value] = Trim(response);
    documentedOutcomes[value] = Trim(outcome).substr(0, Trim(outcome).find(':'));
  }
  EXPECT_EQ(documented, program);
  EXPECT_EQ(documentedOutcomes, outcomes);
}

TEST(CommandLineParse, LinesAsDeploymentToolsWriteThem) {
  const struct {
    const wchar_t* raw;
    bool ok;
    bool silent;
    const wchar_t* folder;  // nullptr: none
    const wchar_t* log;
  } cases[] = {
      {L"setup.exe", true, false, nullptr, L""},
      {L"\"C:\\a b\\setup.exe\" /s /d=C:\\Program Files\\My App  ", true, true,
       L"C:\\Program Files\\My App", L""},
      // A folder that holds what looks like switches, and a quoted /D= as some tools write it.
      {L"setup.exe /S /D=D:\\x /S /LOG=y", true, true, L"D:\\x /S /LOG=y", L""},
      {L"setup.exe /S \"/D=D:\\with blank\"", true, true, L"D:\\with blank", L""},
      {L"setup.exe \"/LOG=C:\\log dir\\a.log\" /S /D=\\\\server\\share", true, true,
       L"\\\\server\\share", L"C:\\log dir\\a.log"},
      // The program's own path may contain /D=.
      {L"\"C:\\x /D=y\\setup.exe\" /S", true, true, nullptr, L""},
      {L"setup.exe /S /D=relative\\folder", false, true, nullptr, L""},
      {L"setup.exe /S /LOG=", false, true, nullptr, L""},
      {L"setup.exe /S -S", false, true, nullptr, L""},
      {L"setup.exe /SILENT", false, false, nullptr, L""},
  };
  for (const auto& c : cases) {
    CommandLine line;
    std::wstring message;
    EXPECT_EQ(ParseCommandLine(c.raw, line, message), c.ok) << WideToUtf8(c.raw);
    EXPECT_EQ(message.empty(), c.ok) << WideToUtf8(c.raw);
    EXPECT_EQ(line.silent, c.silent) << WideToUtf8(c.raw);
    if (!c.ok) continue;
    EXPECT_EQ(line.installDirectory.has_value(), c.folder != nullptr) << WideToUtf8(c.raw);
    if (c.folder) {
      EXPECT_EQ(line.installDirectory.value_or(L""), c.folder) << WideToUtf8(c.raw);
    }
    EXPECT_EQ(line.logFile, c.log) << WideToUtf8(c.raw);
  }
}

}  // namespace
}  // namespace lum::installer
