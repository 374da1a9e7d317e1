// The real window, fed statuses through its controller as the worker does: a status repaints
// the window exactly when it changes what the window shows.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "ui/main_window.h"

namespace lum::installer {
namespace {

void DrainMessages() {
  MSG message{};
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// Handles the posted statuses only, so that the update region they leave can be looked at
// before anything paints it.
void HandleStatuses(HWND window) {
  MSG message{};
  while (PeekMessageW(&message, window, WM_INSTALLER_STATUS, WM_INSTALLER_STATUS, PM_REMOVE)) {
    DispatchMessageW(&message);
  }
}

struct StatusStep {
  const char* what;
  InstallStage stage;
  int progress;
  const wchar_t* message;
  int copies;
  bool repaints;
};

TEST(StatusRepaint, OnlyAStatusThatChangesTheWindowRepaintsIt) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    MainWindow window(GetModuleHandleW(nullptr));
    ASSERT_TRUE(window.Create());
    const HWND handle = window.Handle();
    DrainMessages();

    const StatusStep steps[] = {
        {"first download status", InstallStage::Downloading, 0, kTextInstalling, 1, true},
        {"the same status again", InstallStage::Downloading, 0, kTextInstalling, 3, false},
        {"progress moves", InstallStage::Downloading, 1, kTextInstalling, 1, true},
        {"reads within the same percent", InstallStage::Downloading, 1, kTextInstalling, 40, false},
        {"several statuses, the last one new", InstallStage::Downloading, 2, kTextInstalling, 2,
         true},
        {"stage changes, same progress", InstallStage::Verifying, 2, kTextInstalling, 1, true},
        {"message changes only", InstallStage::Verifying, 2, L"正在校验", 1, true},
        {"same progress after a change", InstallStage::Verifying, 2, L"正在校验", 1, false},
    };
    for (const StatusStep& step : steps) {
      SCOPED_TRACE(step.what);
      ValidateRect(handle, nullptr);
      for (int i = 0; i < step.copies; ++i) {
        window.Controller()->PublishStatus(step.stage, step.progress, step.message, L"");
      }
      HandleStatuses(handle);
      EXPECT_EQ(GetUpdateRect(handle, nullptr, FALSE) != FALSE, step.repaints);
      UpdateWindow(handle);
    }
  }
  CoUninitialize();
}

TEST(WindowCallbacks, AfterTheWindowIsGoneStatusesAreDroppedAndQuestionsAnsweredNo) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    MainWindow window(GetModuleHandleW(nullptr));
    ASSERT_TRUE(window.Create());
    const HWND handle = window.Handle();
    DrainMessages();
    MSG message{};
    // While it exists a status arrives as one posted message.
    window.PostStatus({InstallStage::Downloading, 3, kTextInstalling, L""});
    EXPECT_TRUE(
        PeekMessageW(&message, handle, WM_INSTALLER_STATUS, WM_INSTALLER_STATUS, PM_NOREMOVE));
    DrainMessages();

    ASSERT_TRUE(DestroyWindow(handle));
    DrainMessages();  // WM_DESTROY's quit message included
    window.PostStatus({InstallStage::Downloading, 4, kTextInstalling, L""});
    EXPECT_FALSE(
        PeekMessageW(&message, nullptr, WM_INSTALLER_STATUS, WM_INSTALLER_STATUS, PM_NOREMOVE));
    // The worker's question returns at once, no.
    bool answer = true;
    const auto asked = std::chrono::steady_clock::now();
    std::thread worker([&] { answer = window.AskConfirmation(ConfirmationKind::CloseRunningApp); });
    worker.join();
    EXPECT_FALSE(answer);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5));
  }
  CoUninitialize();
}

}  // namespace
}  // namespace lum::installer
