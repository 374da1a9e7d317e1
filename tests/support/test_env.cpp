#include "tests/support/test_env.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "system/install_location.h"

namespace lum::test {

std::wstring TestEnv(const wchar_t* name) {
  std::vector<wchar_t> buffer(32768);
  const DWORD length =
      GetEnvironmentVariableW(name, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) {
    ADD_FAILURE() << "test bed variable missing: " << std::filesystem::path(name).string();
    return {};
  }
  return std::wstring(buffer.data(), length);
}

std::wstring TestDataPath(std::wstring_view relative) {
  return installer::JoinPath(TestEnv(L"LUM_TEST_DATA"), relative);
}

std::wstring ArtifactPath(std::wstring_view relative) {
  return installer::JoinPath(TestEnv(L"LUM_TEST_ARTIFACTS"), relative);
}

std::wstring FreshScratchDirectory(std::wstring_view name) {
  const std::wstring path = installer::JoinPath(TestEnv(L"LUM_TEST_SCRATCH"), name);
  RemoveTree(path);
  std::filesystem::create_directories(path);
  return path;
}

std::string ReadFileBytes(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::wstring& path, std::string_view bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(std::filesystem::path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << "cannot write test file";
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::wstring& path) {
  std::error_code ignored;
  // Read-only files left by a test would stop remove_all.
  for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::filesystem::remove_all(path, ignored);
}

::testing::AssertionResult WithinAFifthOf(std::chrono::steady_clock::duration elapsed,
                                          std::chrono::milliseconds expected) {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed);
  if (ms * 5 >= expected * 4 && ms * 5 <= expected * 6) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << "took " << ms.count() << " ms, expected " << expected.count() << " ms +-20 %";
}

::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at byte " << at;
}

}  // namespace lum::test
