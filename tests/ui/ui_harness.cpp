// The bootstrapper's window with its real controller, driven by a command file instead of the
// install workflow. The workflow cannot be made to stop at a given stage or ask a given question
// in the test bed, so this is the seam: a thread publishes statuses through the controller
// (exactly as the worker does) and sends the worker's confirmation message to the window.
//
//   ui_harness.exe COMMAND_FILE ANSWER_FILE
// Command lines, read as they are appended (UTF-8):
//   status STAGE PROGRESS CODE|- MESSAGE...   publish a status
//   confirm KIND                              ask a question; "answer KIND 0|1" goes to ANSWER_FILE
//   dpi DPI                                   the system's message for a move to a monitor with
//                                             that DPI, with the rectangle it would suggest
//   contrast 0|1                              high contrast off or on, and the system's message
//                                             that it changed
//
// Wine 8 cannot turn high contrast on (SPI_SETHIGHCONTRAST is a stub and SPI_GETHIGHCONTRAST
// always reads off), so the harness's window reads the setting through a query the contrast
// command sets; the system colours it then draws with are the prefix's own.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"
#include "ui/main_window.h"

namespace lum::installer {
namespace {

std::atomic<bool> highContrastOn{false};

bool HarnessHighContrast() { return highContrastOn.load() || SystemHighContrast(); }

// Commands are written by the driver; a line that is not UTF-8 shows as no text.
std::wstring FromUtf8(const std::string& text) {
  std::wstring wide;
  if (!DecodeUtf8(text, wide)) wide.clear();
  return wide;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  // Only complete lines: the driver may be in the middle of writing the next one.
  while (std::getline(in, line)) {
    if (in.eof()) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void Execute(const std::string& line, MainWindow& window, const std::wstring& answerFile) {
  std::istringstream words(line);
  std::string verb;
  words >> verb;
  if (verb == "status") {
    int stage = 0;
    int progress = 0;
    std::string code;
    words >> stage >> progress >> code;
    std::string message;
    std::getline(words >> std::ws, message);
    window.Controller()->PublishStatus(static_cast<InstallStage>(stage), progress,
                                       FromUtf8(message), code == "-" ? L"" : FromUtf8(code));
  } else if (verb == "confirm") {
    int kind = 0;
    words >> kind;
    ConfirmationRequest request{static_cast<ConfirmationKind>(kind), false};
    SendMessageW(window.Handle(), WM_INSTALLER_CONFIRM, 0, reinterpret_cast<LPARAM>(&request));
    std::ofstream out(std::filesystem::path(answerFile), std::ios::binary | std::ios::app);
    out << "answer " << kind << ' ' << (request.answer ? 1 : 0) << '\n';
  } else if (verb == "contrast") {
    int on = 0;
    words >> on;
    highContrastOn.store(on != 0);
    SendMessageW(window.Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
  } else if (verb == "dpi") {
    int dpi = 96;
    words >> dpi;
    RECT frame{};
    GetWindowRect(window.Handle(), &frame);
    RECT suggested{frame.left, frame.top, frame.left + dpi * 600 / 96, frame.top + dpi * 400 / 96};
    SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi),
                 reinterpret_cast<LPARAM>(&suggested));
  }
}

}  // namespace
}  // namespace lum::installer

int wmain(int argc, wchar_t** argv) {
  using namespace lum::installer;
  if (argc < 3) return 64;
  const std::wstring commandFile = argv[1];
  const std::wstring answerFile = argv[2];
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  int exitCode = 3;
  {
    MainWindow window(GetModuleHandleW(nullptr), std::make_unique<ShellTaskbarProgress>(),
                      &HarnessHighContrast);
    if (window.Create()) {
      std::atomic<bool> stop{false};
      std::thread driver([&] {
        std::size_t done = 0;
        while (!stop.load()) {
          const std::vector<std::string> lines = ReadLines(commandFile);
          for (; done < lines.size(); ++done) Execute(lines[done], window, answerFile);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      });
      MSG message{};
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      exitCode = static_cast<int>(message.wParam);
      stop.store(true);
      driver.join();
    }
  }
  CoUninitialize();
  return exitCode;
}
