// The shipped executable as a process: system check, single instance, exit codes, and the
// window it shows, observed from outside as another program would see it.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "base/handles.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace lum::installer {
namespace {

constexpr wchar_t kClass[] = L"LUMWebBootstrapperWindow";
constexpr wchar_t kMutexName[] = L"Local\\LUMWebBootstrapper.SingleInstance";
constexpr DWORD kStartTimeoutMs = 30000;

std::wstring SetupPath() { return test::OwnDirectory() + L"\\..\\app\\LumoraWebSetup.exe"; }

// Polls for a top-level window of the class (and title, if given) owned by the process.
HWND WaitForWindow(DWORD processId, const wchar_t* className, const wchar_t* title = nullptr) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (std::chrono::steady_clock::now() < deadline) {
    for (HWND w = FindWindowExW(nullptr, nullptr, className, title); w != nullptr;
         w = FindWindowExW(nullptr, w, className, title)) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == processId && IsWindowVisible(w)) return w;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return nullptr;
}

int CountWindows(const wchar_t* className) {
  int count = 0;
  for (HWND w = FindWindowExW(nullptr, nullptr, className, nullptr); w != nullptr;
       w = FindWindowExW(nullptr, w, className, nullptr)) {
    ++count;
  }
  return count;
}

// WM_GETTEXT itself: GetWindowTextW does not ask a control of another process for its text.
std::wstring WindowText(HWND window) {
  wchar_t text[512] = {};
  const LRESULT length = SendMessageW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
  return std::wstring(text, static_cast<std::size_t>(length));
}

TEST(StartupTest, ShowsTheWindowAndEndsWithZeroWhenClosed) {
  // A window opened and closed touches another program's VIVOV3 folder not, and makes nothing.
  const std::wstring foreign = L"C:\\ProgramData\\VIVOV3",
                     working = L"C:\\Program Files\\LUMWebBootstrapper";
  test::RemoveTree(working);
  test::WriteFileBytes(foreign + L"\\settings.ini", "another program's");
  test::ChildProcess setup;
  ASSERT_TRUE(setup.Start(SetupPath())) << GetLastError();
  HWND window = WaitForWindow(setup.Id(), kClass);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(WindowText(window), L"LumoraMP3转换器安装器");
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 600);  // the test bed runs at 96 DPI
  EXPECT_EQ(client.bottom, 400);
  const LONG style = GetWindowLongW(window, GWL_STYLE);
  EXPECT_TRUE(style & WS_POPUP);
  EXPECT_FALSE(style & WS_CAPTION);
  EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW);

  // The path field: hidden on the welcome page, holding the proposed folder.
  HWND edit = FindWindowExW(window, nullptr, L"Edit", nullptr);
  ASSERT_NE(edit, nullptr);
  EXPECT_FALSE(IsWindowVisible(edit));
  EXPECT_EQ(WindowText(edit), L"C:\\Program Files\\VIVOV3");
  RECT field{};
  GetWindowRect(edit, &field);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&field), 2);
  EXPECT_EQ(field.left, 45);  // design 68, 200, 643 x 45 at 2/3
  EXPECT_EQ(field.top, 133);
  EXPECT_EQ(field.right - field.left, 428);
  EXPECT_EQ(field.bottom - field.top, 30);

  // Dragging: the caption band above design y 70, except the two glyphs.
  RECT frame{};
  GetWindowRect(window, &frame);
  const struct {
    int x;
    int y;
    LRESULT hit;
  } points[] = {
      {20, 10, HTCAPTION}, {300, 46, HTCAPTION}, {300, 47, HTCLIENT},  {550, 30, HTCLIENT},
      {580, 30, HTCLIENT}, {300, 200, HTCLIENT}, {536, 30, HTCAPTION}, {590, 10, HTCAPTION},
  };
  for (const auto& p : points) {
    const LPARAM at = MAKELPARAM(frame.left + p.x, frame.top + p.y);
    EXPECT_EQ(SendMessageW(window, WM_NCHITTEST, 0, at), p.hit) << p.x << "," << p.y;
  }

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(setup.Wait(kStartTimeoutMs), 0u);
  EXPECT_FALSE(test::PathExists(foreign + L"\\InstallerCache"));
  EXPECT_FALSE(test::PathExists(working)) << "nothing before an installation is started";
  test::RemoveTree(foreign);
}

TEST(StartupTest, SecondStartRestoresTheFirstWindowAndEndsWithZero) {
  test::ChildProcess first;
  ASSERT_TRUE(first.Start(SetupPath())) << GetLastError();
  HWND window = WaitForWindow(first.Id(), kClass);
  ASSERT_NE(window, nullptr);
  ShowWindow(window, SW_MINIMIZE);
  for (int i = 0; i < 50 && !IsIconic(window); ++i) Sleep(100);
  ASSERT_TRUE(IsIconic(window));

  test::ChildProcess second;
  ASSERT_TRUE(second.Start(SetupPath())) << GetLastError();
  EXPECT_EQ(second.Wait(kStartTimeoutMs), 0u);
  EXPECT_FALSE(IsIconic(window));
  EXPECT_EQ(GetForegroundWindow(), window);
  EXPECT_EQ(CountWindows(kClass), 1);

  PostMessageW(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.Wait(kStartTimeoutMs), 0u);
}

TEST(StartupTest, NameTakenWithoutAWindowEndsQuietlyWithZero) {
  // Another instance that is still starting or already ending: the name exists, no window.
  KernelHandle held(CreateMutexW(nullptr, TRUE, kMutexName));
  ASSERT_TRUE(held);
  test::ChildProcess setup;
  ASSERT_TRUE(setup.Start(SetupPath())) << GetLastError();
  EXPECT_EQ(setup.Wait(kStartTimeoutMs), 0u);
  EXPECT_EQ(CountWindows(kClass), 0);
}

TEST(StartupTest, NameHeldByAnotherKindOfObjectEndsWithOne) {
  KernelHandle squatter(CreateEventW(nullptr, TRUE, FALSE, kMutexName));
  ASSERT_TRUE(squatter);
  test::ChildProcess setup;
  ASSERT_TRUE(setup.Start(SetupPath())) << GetLastError();
  EXPECT_EQ(setup.Wait(kStartTimeoutMs), 1u);
  EXPECT_EQ(CountWindows(kClass), 0);
}

// Wine reports the Windows version named for the program under AppDefaults; 8.1 is refused.
TEST(StartupTest, OlderWindowsShowsTheMessageAndEndsWithFour) {
  const std::wstring folder = test::FreshScratchDirectory(L"win81");
  const std::wstring name = L"LumoraWebSetup-win81.exe";
  const std::wstring copy = folder + L"\\" + name;
  ASSERT_TRUE(CopyFileW(SetupPath().c_str(), copy.c_str(), FALSE)) << GetLastError();
  const std::wstring key = L"Software\\Wine\\AppDefaults\\" + name;
  RegistryKey appDefaults;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            appDefaults.Put(), nullptr),
            ERROR_SUCCESS);
  const wchar_t version[] = L"win81";
  ASSERT_EQ(RegSetValueExW(appDefaults.Get(), L"Version", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(version), sizeof(version)),
            ERROR_SUCCESS);

  test::ChildProcess setup;
  ASSERT_TRUE(setup.Start(copy)) << GetLastError();
  HWND box = WaitForWindow(setup.Id(), L"#32770", L"系统不受支持");
  EXPECT_NE(box, nullptr);
  if (box != nullptr) {
    wchar_t text[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 256);  // the message text of a message box
    EXPECT_STREQ(text, L"安装器仅支持 Windows 10/11 x64 系统。");
    EXPECT_EQ(CountWindows(kClass), 0);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
  }
  EXPECT_EQ(setup.Wait(kStartTimeoutMs), 4u);
  RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
}

// The images, icon, manifest and version of the built executable, read as another program would.
class ShippedResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    module = LoadLibraryExW(SetupPath().c_str(), nullptr,
                            LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module, nullptr) << GetLastError();
  }
  void TearDown() override {
    if (module) FreeLibrary(module);
  }
  std::string Resource(const wchar_t* type, int id) const {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (found == nullptr) return {};
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
    return bytes ? std::string(bytes, SizeofResource(module, found)) : std::string();
  }
  HMODULE module = nullptr;
};

std::uint32_t BigEndian(const std::string& bytes, std::size_t at) {
  return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
         (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

TEST_F(ShippedResourcesTest, ImagesAreRgbaPngsOfTheirSizes) {
  const struct {
    int id;
    std::uint32_t width;
    std::uint32_t height;
  } images[] = {{102, 387, 387}, {103, 1200, 581}};
  for (const auto& image : images) {
    const std::string png = Resource(RT_RCDATA, image.id);
    ASSERT_GT(png.size(), 33u) << image.id;
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8)) << image.id;
    EXPECT_EQ(png.substr(12, 4), "IHDR");
    EXPECT_EQ(BigEndian(png, 16), image.width) << image.id;
    EXPECT_EQ(BigEndian(png, 20), image.height) << image.id;
    EXPECT_EQ(png[24], 8) << "bit depth of " << image.id;
    EXPECT_EQ(png[25], 6) << "colour type (RGBA) of " << image.id;
  }
}

TEST_F(ShippedResourcesTest, IconGroupHasTheUsualSizes) {
  const std::string group = Resource(RT_GROUP_ICON, 101);
  ASSERT_GE(group.size(), 6u);
  const auto count = static_cast<unsigned char>(group[4]);
  ASSERT_EQ(group.size(), 6u + 14u * count);
  std::vector<int> sizes;
  for (unsigned i = 0; i < count; ++i) {
    const int width = static_cast<unsigned char>(group[6 + 14 * i]);
    sizes.push_back(width == 0 ? 256 : width);
  }
  EXPECT_EQ(sizes, (std::vector<int>{16, 24, 32, 48, 64, 256}));
  // The window class carries it as both icons.
  EXPECT_NE(LoadImageW(module, MAKEINTRESOURCEW(101), IMAGE_ICON, 32, 32, 0), nullptr);
}

TEST_F(ShippedResourcesTest, ManifestAsksForAdministratorAndDpiAwareness) {
  const std::string manifest = Resource(RT_MANIFEST, 1);
  for (const char* part :
       {"level=\"requireAdministrator\"", "PerMonitorV2", "true/pm", "<longPathAware",
        ">true</longPathAware>", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {
    EXPECT_NE(manifest.find(part), std::string::npos) << part;
  }
}

TEST_F(ShippedResourcesTest, VersionNamesTheProduct) {
  const std::string version = Resource(RT_VERSION, 1);
  ASSERT_FALSE(version.empty());
  const std::wstring wide(reinterpret_cast<const wchar_t*>(version.data()),
                          version.size() / sizeof(wchar_t));
  const std::wstring product = std::wstring(L"ProductName") + L'\0';
  const std::size_t at = wide.find(product);
  ASSERT_NE(at, std::wstring::npos);
  // The value follows its key, aligned to 32 bits.
  std::size_t value = at + product.size();
  while (wide[value] == L'\0') ++value;
  const std::wstring name = L"LumoraMP3转换器";
  EXPECT_EQ(wide.substr(value, name.size() + 1), name + L'\0');
}

}  // namespace
}  // namespace lum::installer
