// Reads the bootstrapper window's state from outside, for the UI driver:
//   ui_probe.exe state   -> "window=1 iconic=0 foreground=1 width=600 height=400"
//   ui_probe.exe edit    -> "visible=1 x=45 y=133 w=428 h=30 text=C:\Program Files\VIVOV3"
//   ui_probe.exe hittest -> "supported=0" when DirectWrite cannot hit-test a text layout here
//   ui_probe.exe shell   -> "shell=1234": the process that owns the desktop window (explorer)
//   ui_probe.exe contrast [0|1] -> "set=1 on=1": high contrast turned off or on (with the
//                           change broadcast, so running windows switch), then read back
//   ui_probe.exe colors [INDEX=RRGGBB...] -> "5=ffffff 8=000000 ...": the system colours the
//                           window uses under high contrast, after setting the ones given
// One line on standard output, UTF-8.
#include <windows.h>
#include <dwrite.h>

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "base/handles.h"

namespace {

constexpr wchar_t kWindowClass[] = L"LUMWebBootstrapperWindow";

void Print(const std::wstring& line) {
  const std::wstring text = line + L"\n";
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), bytes,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written,
            nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 64;
  const std::wstring command = argv[1];
  HWND window = FindWindowW(kWindowClass, nullptr);
  if (command == L"state") {
    RECT client{};
    if (window) GetClientRect(window, &client);
    Print(L"window=" + std::to_wstring(window ? 1 : 0) + L" iconic=" +
          std::to_wstring(window && IsIconic(window) ? 1 : 0) + L" foreground=" +
          std::to_wstring(window && GetForegroundWindow() == window ? 1 : 0) + L" width=" +
          std::to_wstring(client.right) + L" height=" + std::to_wstring(client.bottom));
    return 0;
  }
  if (command == L"edit") {
    HWND edit = window ? FindWindowExW(window, nullptr, L"Edit", nullptr) : nullptr;
    if (!edit) {
      Print(L"visible=0 missing=1");
      return 1;
    }
    RECT rect{};
    GetWindowRect(edit, &rect);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    std::vector<wchar_t> text(32768);
    // WM_GETTEXT itself: GetWindowTextW does not ask another process's control for its text.
    const LRESULT length =
        SendMessageW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    Print(L"visible=" + std::to_wstring(IsWindowVisible(edit) ? 1 : 0) + L" x=" +
          std::to_wstring(rect.left) + L" y=" + std::to_wstring(rect.top) + L" w=" +
          std::to_wstring(rect.right - rect.left) + L" h=" +
          std::to_wstring(rect.bottom - rect.top) + L" text=" +
          std::wstring(text.data(), static_cast<std::size_t>(length)));
    return 0;
  }
  if (command == L"shell") {
    DWORD shell = 0;
    GetWindowThreadProcessId(GetDesktopWindow(), &shell);
    Print(L"shell=" + std::to_wstring(shell));
    return shell != 0 ? 0 : 1;
  }
  if (command == L"contrast") {
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    bool set = false;
    if (argc > 2) {
      contrast.dwFlags = std::wstring(argv[2]) == L"1" ? HCF_HIGHCONTRASTON : 0;
      set = SystemParametersInfoW(SPI_SETHIGHCONTRAST, sizeof(contrast), &contrast,
                                  SPIF_UPDATEINIFILE | SPIF_SENDCHANGE) != FALSE;
    }
    HIGHCONTRASTW now{};
    now.cbSize = sizeof(now);
    const bool read = SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(now), &now, 0) != FALSE;
    Print(L"set=" + std::to_wstring(set ? 1 : 0) + L" read=" + std::to_wstring(read ? 1 : 0) +
          L" on=" + std::to_wstring((now.dwFlags & HCF_HIGHCONTRASTON) != 0 ? 1 : 0));
    return 0;
  }
  if (command == L"colors") {
    std::vector<INT> indices;
    std::vector<COLORREF> values;
    for (int i = 2; i < argc; ++i) {
      const std::wstring setting = argv[i];
      const std::size_t equals = setting.find(L'=');
      if (equals == std::wstring::npos) return 64;
      const unsigned long rgb = std::wcstoul(setting.c_str() + equals + 1, nullptr, 16);
      indices.push_back(std::stoi(setting.substr(0, equals)));
      values.push_back(RGB((rgb >> 16) & 0xff, (rgb >> 8) & 0xff, rgb & 0xff));
    }
    if (!indices.empty() &&
        !SetSysColors(static_cast<int>(indices.size()), indices.data(), values.data())) {
      return 1;
    }
    std::wstring line;
    for (const int index : {COLOR_WINDOW, COLOR_WINDOWTEXT, COLOR_HIGHLIGHT, COLOR_HIGHLIGHTTEXT,
                            COLOR_HOTLIGHT, COLOR_BTNFACE, COLOR_BTNTEXT, COLOR_GRAYTEXT}) {
      const COLORREF colour = GetSysColor(index);
      wchar_t hex[8];
      swprintf(hex, 8, L"%02x%02x%02x", GetRValue(colour), GetGValue(colour), GetBValue(colour));
      line += (line.empty() ? L"" : L" ") + std::to_wstring(index) + L"=" + hex;
    }
    Print(line);
    return 0;
  }
  if (command == L"hittest") {
    // Wine 8 answers IDWriteTextLayout::HitTestPoint with E_NOTIMPL.
    lum::installer::ComPtr<IDWriteFactory> factory;
    lum::installer::ComPtr<IDWriteTextFormat> format;
    lum::installer::ComPtr<IDWriteTextLayout> layout;
    bool supported = false;
    if (SUCCEEDED(DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                                      reinterpret_cast<IUnknown**>(factory.Put()))) &&
        SUCCEEDED(factory->CreateTextFormat(
            L"Microsoft YaHei UI", nullptr, DWRITE_FONT_WEIGHT_NORMAL, DWRITE_FONT_STYLE_NORMAL,
            DWRITE_FONT_STRETCH_NORMAL, 18, L"zh-CN", format.Put())) &&
        SUCCEEDED(factory->CreateTextLayout(L"text", 4, format.Get(), 100, 30, layout.Put()))) {
      BOOL trailing = FALSE;
      BOOL inside = FALSE;
      DWRITE_HIT_TEST_METRICS metrics{};
      supported = SUCCEEDED(layout->HitTestPoint(1, 10, &trailing, &inside, &metrics));
    }
    Print(L"supported=" + std::to_wstring(supported ? 1 : 0));
    return 0;
  }
  return 64;
}
