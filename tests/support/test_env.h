// Paths and files of the test bed (see tools/testbed/testbed.sh).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <string_view>

namespace lum::test {

// A variable that the test bed exports; fails the test when it is missing.
std::wstring TestEnv(const wchar_t* name);

// tests/data/<relative> in the source tree.
std::wstring TestDataPath(std::wstring_view relative);
// Build outputs used by tests (signed packages, the test application).
std::wstring ArtifactPath(std::wstring_view relative);
// A new, empty folder under the test bed's scratch folder.
std::wstring FreshScratchDirectory(std::wstring_view name);

std::string ReadFileBytes(const std::wstring& path);
void WriteFileBytes(const std::wstring& path, std::string_view bytes);
bool PathExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);

// A time-out measured from outside: within a fifth of what it should be.
::testing::AssertionResult WithinAFifthOf(std::chrono::steady_clock::duration elapsed,
                                          std::chrono::milliseconds expected);

// Compares file contents without printing megabytes when they differ.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected);

}  // namespace lum::test
