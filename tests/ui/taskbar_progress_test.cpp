// The taskbar button of the real window, fed statuses through its real controller as the worker
// publishes them. Wine's taskbar list takes every call and shows nothing, so the window gets a
// recorder for its taskbar progress (the window's one seam for it) and the calls are compared.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "ui/main_window.h"

namespace lum::installer {
namespace {

using Calls = std::vector<std::string>;

class RecordingTaskbar final : public TaskbarProgress {
 public:
  explicit RecordingTaskbar(std::shared_ptr<Calls> calls) : calls_(std::move(calls)) {}

  void Connect(HWND) override { calls_->push_back("connect"); }
  void SetState(HWND, TaskbarState state) override {
    static const char* const kNames[] = {"no progress", "indeterminate", "normal", "error"};
    calls_->push_back(kNames[static_cast<int>(state)]);
  }
  void SetValue(HWND, int percent) override { calls_->push_back(std::to_string(percent)); }
  void Flash(HWND) override { calls_->push_back("flash"); }

 private:
  std::shared_ptr<Calls> calls_;
};

void DrainMessages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

struct Status {
  InstallStage stage;
  int progress;
  const wchar_t* message;
  const wchar_t* errorCode;
};

// What the workflow publishes for a whole installation, the download's repeats included.
const Status kInstallation[] = {
    {InstallStage::Preparing, 0, kTextPreparing, L""},
    {InstallStage::Downloading, 0, kTextInstalling, L""},
    {InstallStage::Downloading, 0, kTextInstalling, L""},
    {InstallStage::Downloading, 12, kTextInstalling, L""},
    {InstallStage::Downloading, 12, kTextInstalling, L""},
    {InstallStage::Downloading, 60, kTextInstalling, L""},
    {InstallStage::Downloading, 85, kTextInstalling, L""},
    {InstallStage::Verifying, 90, kTextInstalling, L""},
    {InstallStage::Installing, 95, kTextInstalling, L""},
    {InstallStage::Completed, 100, kTextCompleted, L""},
};

// A run that stops on the disk check after the download started over (a retry).
const Status kFailure[] = {
    {InstallStage::Preparing, 0, kTextPreparing, L""},
    {InstallStage::Downloading, 30, kTextInstalling, L""},
    {InstallStage::Failed, 0, kTextDiskSpace, kErrorDiskSpace},
};

class TaskbarTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    window = std::make_unique<MainWindow>(GetModuleHandleW(nullptr),
                                          std::make_unique<RecordingTaskbar>(calls));
    ASSERT_TRUE(window->Create());
    DrainMessages();
  }

  void TearDown() override {
    window.reset();
    if (other != nullptr) DestroyWindow(other);
    DrainMessages();
    CoUninitialize();
  }

  // What the shell sends once it has made the window's button.
  void ButtonCreated() {
    SendMessageW(window->Handle(), RegisterWindowMessageW(L"TaskbarButtonCreated"), 0, 0);
  }

  void Publish(const Status& status) {
    window->Controller()->PublishStatus(status.stage, status.progress, status.message,
                                        status.errorCode);
  }

  // Another window of this program takes the foreground, or gives it back.
  void PutInForeground(bool ours) {
    if (!ours && other == nullptr) {
      other = CreateWindowExW(0, L"STATIC", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
    }
    const HWND wanted = ours ? window->Handle() : other;
    SetForegroundWindow(wanted);
    DrainMessages();
    ASSERT_EQ(GetForegroundWindow(), wanted);
  }

  // A click at a point of the layout, as the window gets it.
  void PostClick(float x, float y) {
    const float f = DesignToPixelFactor(GetDpiForWindow(window->Handle()));
    PostMessageW(window->Handle(), WM_LBUTTONUP, 0,
                 MAKELPARAM(static_cast<int>(x * f), static_cast<int>(y * f)));
  }

  std::shared_ptr<Calls> calls = std::make_shared<Calls>();
  std::unique_ptr<MainWindow> window;
  HWND other = nullptr;
};

struct EndCase {
  const char* what;
  bool foreground;
  bool failure;
  Calls expected;
};

void PrintTo(const EndCase& run, std::ostream* out) { *out << run.what; }

class TaskbarEndTest : public TaskbarTest, public testing::WithParamInterface<EndCase> {};

TEST_P(TaskbarEndTest, ProgressOfARunAndAFlashOnlyInTheBackground) {
  const EndCase& run = GetParam();
  ButtonCreated();
  PutInForeground(run.foreground);
  if (run.failure) {
    for (const Status& status : kFailure) Publish(status);
    // The failure overlay's loop takes this click: "更改目录" goes to the custom page.
    PostClick(609, 358);
  } else {
    for (const Status& status : kInstallation) Publish(status);
  }
  DrainMessages();
  EXPECT_EQ(*calls, run.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TaskbarEndTest,
    testing::Values(EndCase{"installation, in the foreground",
                            true,
                            false,
                            {"connect", "indeterminate", "normal", "0", "12", "60", "85",
                             "indeterminate", "normal", "95", "no progress"}},
                    EndCase{"installation, in the background",
                            false,
                            false,
                            {"connect", "indeterminate", "normal", "0", "12", "60", "85",
                             "indeterminate", "normal", "95", "no progress", "flash"}},
                    EndCase{"failure, in the foreground",
                            true,
                            true,
                            {"connect", "indeterminate", "normal", "30", "error", "no progress"}},
                    EndCase{"failure, in the background",
                            false,
                            true,
                            {"connect", "indeterminate", "normal", "30", "error", "flash",
                             "no progress"}}),
    [](const testing::TestParamInfo<EndCase>& param) {
      std::string name;
      for (const char* c = param.param.what; *c; ++c) {
        if (isalnum(static_cast<unsigned char>(*c))) name += *c;
      }
      return name;
    });

TEST_F(TaskbarTest, ANewButtonShowsTheCurrentState) {
  Publish({InstallStage::Downloading, 40, kTextInstalling, L""});
  DrainMessages();
  EXPECT_EQ(*calls, Calls{}) << "nothing before the shell made the button";
  ButtonCreated();
  EXPECT_EQ(*calls, (Calls{"connect", "normal", "40"}));
  // The shell restarted: its new button is told again.
  ButtonCreated();
  EXPECT_EQ(*calls, (Calls{"connect", "normal", "40", "connect", "normal", "40"}));
}

}  // namespace
}  // namespace lum::installer
