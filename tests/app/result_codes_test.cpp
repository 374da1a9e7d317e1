// The silent run's exit codes and switches as README and the winget manifest give them, read
// from those files and compared with the program's own table and parser; and the parser on the
// command lines deployment tools write.
#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <utility>

#include "app/command_line.h"
#include "app/result_codes.h"
#include "base/text.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

using Table = std::map<DWORD, std::pair<std::string, std::string>>;  // code -> outcome, response

std::istringstream SourceFile(const wchar_t* relative) {
  return std::istringstream(
      test::ReadFileBytes(test::TestDataPath(std::wstring(L"..\\..\\") + relative)));
}

TEST(ResultCodes, WingetManifestAndReadmeFollowTheProgram) {
  Table program;
  for (const ResultCode& code : kResultCodes) {
    EXPECT_TRUE(
        program
            .try_emplace(code.exitCode, WideToUtf8(code.outcome), std::string(code.wingetResponse))
            .second)
        << "one code per outcome: " << code.exitCode;
    EXPECT_FALSE(code.exitCode >= 1 && code.exitCode <= 4) << "0-4 are the window's codes";
  }

  // README: | 1639 | BAD_SWITCH: text | invalidParameter |
  Table documented;
  std::istringstream readme = SourceFile(L"README.md");
  const std::regex row(R"(\| (\d+) \| ([A-Z_]+): .*\|\s*(\w*)\s*\|\r?)");
  for (std::string line; std::getline(readme, line);) {
    std::smatch m;
    if (std::regex_match(line, m, row)) documented[std::stoul(m[1])] = {m[2], m[3]};
  }
  EXPECT_EQ(documented, program);

  // The manifest: its switches, and every code but success with its response.
  std::map<std::string, std::string> switches;
  std::map<DWORD, std::string> listed;
  std::istringstream manifest =
      SourceFile(L"packaging\\winget\\Lumora.LumoraMP3Converter.installer.yaml");
  const std::regex entry(R"(\s*-?\s*(\w+): (.*?)\s*)");
  DWORD code = 0;
  for (std::string line; std::getline(manifest, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, entry)) continue;
    if (m[1] == "InstallerReturnCode") code = std::stoul(m[2]);
    if (m[1] == "ReturnResponse") {
      EXPECT_TRUE(listed.emplace(code, m[2]).second) << code;
    }
    for (const char* key : {"Silent", "SilentWithProgress", "InstallLocation", "Log", "Custom"}) {
      if (m[1] == key) switches[key] = m[2];
    }
  }
  std::map<DWORD, std::string> failures;
  for (const auto& [exitCode, meaning] : program) {
    if (exitCode != 0) failures[exitCode] = meaning.second;
  }
  EXPECT_EQ(listed, failures);
  // winget puts Log and Custom after InstallLocation, where /D= must be last.
  EXPECT_EQ(switches.size(), 3u);
  EXPECT_EQ(switches["SilentWithProgress"], switches["Silent"]);

  // What winget gives for them means to the program what winget means by it.
  std::string given = "setup.exe " + switches["Silent"] + " " + switches["InstallLocation"];
  given.replace(given.find("<INSTALLPATH>"), 13, "C:\\Program Files\\Some Place");
  CommandLine line;
  std::wstring message;
  ASSERT_TRUE(ParseCommandLine(std::wstring(given.begin(), given.end()), line, message));
  EXPECT_TRUE(line.silent);
  EXPECT_EQ(line.installDirectory.value_or(L""), L"C:\\Program Files\\Some Place");
}

TEST(CommandLineParse, FolderAndLogSwitchesAsToolsWriteThem) {
  const struct {
    const wchar_t* raw;
    const wchar_t* folder;  // nullptr: refused
  } cases[] = {
      {L"\"C:\\a b\\setup.exe\" /s /d=C:\\Program Files\\My App  ", L"C:\\Program Files\\My App"},
      {L"setup.exe /S /D=D:\\x /S /LOG=y", L"D:\\x /S /LOG=y"},  // the rest of the line
      {L"setup.exe /S \"/D=D:\\with blank\"", L"D:\\with blank"},
      {L"setup.exe /S /D=\\\\server\\share", L"\\\\server\\share"},
      {L"\"C:\\x /D=y\\setup.exe\" /S /D=C:\\z", L"C:\\z"},  // not in the program's path
      {L"setup.exe /S /D=relative\\folder", nullptr},
      {L"setup.exe /S -S /D=C:\\z", nullptr},
      // The log copy's path is a full one of its own, never a device's.
      {L"setup.exe /S /LOG=C:\\logs\\copy.log /D=C:\\z", L"C:\\z"},
      {L"setup.exe /S \"/LOG=\\\\server\\share\\copy.log\" /D=C:\\z", L"C:\\z"},
      {L"setup.exe /S /LOG=copy.log /D=C:\\z", nullptr},
      {L"setup.exe /S /LOG=\\logs\\copy.log /D=C:\\z", nullptr},
      {L"setup.exe /S /LOG=C:copy.log /D=C:\\z", nullptr},
      {L"setup.exe /S /LOG=\\\\.\\pipe\\copy /D=C:\\z", nullptr},
      {L"setup.exe /S /LOG=\\\\?\\C:\\copy.log /D=C:\\z", nullptr},
  };
  for (const auto& c : cases) {
    CommandLine line;
    std::wstring message;
    EXPECT_EQ(ParseCommandLine(c.raw, line, message), c.folder != nullptr) << WideToUtf8(c.raw);
    EXPECT_TRUE(line.silent) << WideToUtf8(c.raw);
    if (c.folder) {
      EXPECT_EQ(line.installDirectory.value_or(L""), c.folder) << WideToUtf8(c.raw);
    }
  }
}

}  // namespace
}  // namespace lum::installer
