#include "manifest/version.h"

#include <gtest/gtest.h>

#include <string>

namespace lum::installer {
namespace {

struct VersionCase {
  const wchar_t* first;
  const wchar_t* second;
  int expected;
};

class CompareVersionsTest : public testing::TestWithParam<VersionCase> {};

TEST_P(CompareVersionsTest, OrdersOrRefuses) {
  const VersionCase& c = GetParam();
  EXPECT_EQ(CompareVersions(c.first, c.second), c.expected)
      << "first='" << std::string(c.first, c.first + wcslen(c.first)) << "' second='"
      << std::string(c.second, c.second + wcslen(c.second)) << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompareVersionsTest,
    testing::Values(
        // equal forms
        VersionCase{L"1", L"1.0", 0}, VersionCase{L"1.0", L"1.0.0", 0},
        VersionCase{L"1.0.0.0.0", L"1", 0}, VersionCase{L"01.2", L"1.2", 0},
        VersionCase{L"1.2.", L"1.2", 0}, VersionCase{L"0.0.0", L"0.0.0", 0},
        VersionCase{L"007", L"7", 0},
        // numeric order
        VersionCase{L"1.10", L"1.9", 1}, VersionCase{L"1.9", L"1.10", -1},
        VersionCase{L"2", L"1.99.99", 1}, VersionCase{L"1.2.3", L"1.10", -1},
        VersionCase{L"1.10", L"1.2.3", 1}, VersionCase{L"1.0.0", L"1.0.1", -1},
        VersionCase{L"18446744073709551615", L"18446744073709551614", 1},
        VersionCase{L"1.0.0", L"0.9", 1},
        // invalid on either side
        VersionCase{L"", L"1", 2}, VersionCase{L"1", L"", 2}, VersionCase{L"", L"", 2},
        VersionCase{L"1..2", L"1", 2}, VersionCase{L".1", L"1", 2}, VersionCase{L"1.2..", L"1", 2},
        VersionCase{L"V1.0", L"1", 2}, VersionCase{L"1.0-beta", L"1", 2},
        VersionCase{L"1,0", L"1", 2}, VersionCase{L" 1.0", L"1", 2}, VersionCase{L"1.0 ", L"1", 2},
        VersionCase{L"+1", L"1", 2}, VersionCase{L"1", L"1.a", 2}, VersionCase{L"1", L"-1", 2},
        VersionCase{L"\x0661.0", L"1", 2},  // Arabic-Indic digit one
        VersionCase{L"18446744073709551616", L"1", 2},
        VersionCase{L"1", L"99999999999999999999", 2}, VersionCase{L".", L"1", 2}));

TEST(BootstrapperVersionTest, IsOneZeroZero) {
  EXPECT_EQ(std::wstring(kBootstrapperVersion), L"1.0.0");
}

}  // namespace
}  // namespace lum::installer
