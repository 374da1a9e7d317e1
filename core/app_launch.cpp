// The bootstrapper runs elevated; the installed application must not inherit that. The desktop
// shell (explorer) runs with the desktop user's ordinary rights, so the application is handed
// to it through its automation objects and the shell's own process starts it.
#include "core/app_launch.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "core/installer_controller.h"
#include "base/handles.h"
#include "system/install_location.h"
#include "system/process_control.h"

namespace lum::installer {
namespace {

constexpr wchar_t kTextNotInstalled[] = L"找不到已安装的LumoraMP3转换器";
constexpr wchar_t kTextLaunchFailed[] = L"无法启动LumoraMP3转换器";

// ShellWindowTypeConstants::SWC_DESKTOP and ShellWindowFindWindowOptions::SWFO_NEEDDISPATCH,
// which MinGW's <exdisp.h> does not declare.
constexpr int kShellWindowDesktop = 0x8;
constexpr int kFindNeedDispatch = 0x1;

bool IsRegularFile(const std::wstring& path) {
  std::uint64_t size = 0;
  return ReadFileSize(path, size);
}

VARIANT IntVariant(LONG value) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_I4;
  variant.lVal = value;
  return variant;
}

// The string stays owned by its ScopedBstr; the variant only refers to it.
VARIANT StringVariant(const ScopedBstr& text) {
  VARIANT variant;
  VariantInit(&variant);
  variant.vt = VT_BSTR;
  variant.bstrVal = text.Get();
  return variant;
}

// The shell's IShellDispatch2, reached through the desktop window's folder view.
HRESULT DesktopShellDispatch(ComPtr<IShellDispatch2>& dispatch) {
  ComPtr<IShellWindows> shellWindows;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                shellWindows.PutVoid());
  if (FAILED(hr)) return hr;
  if (!shellWindows) return E_POINTER;

  VARIANT location = IntVariant(CSIDL_DESKTOP);
  VARIANT root;
  VariantInit(&root);
  long window = 0;
  ComPtr<IDispatch> desktop;
  hr = shellWindows->FindWindowSW(&location, &root, kShellWindowDesktop, &window, kFindNeedDispatch,
                                  desktop.Put());
  if (FAILED(hr)) return hr;
  if (!desktop) return E_FAIL;  // S_FALSE: no desktop window

  ComPtr<IServiceProvider> services;
  if (FAILED(hr = desktop.As(services))) return hr;
  ComPtr<IShellBrowser> browser;
  hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.PutVoid());
  if (FAILED(hr)) return hr;
  if (!browser) return E_POINTER;
  ComPtr<IShellView> view;
  if (FAILED(hr = browser->QueryActiveShellView(view.Put()))) return hr;
  if (!view) return E_POINTER;
  ComPtr<IDispatch> background;
  hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.PutVoid());
  if (FAILED(hr)) return hr;
  ComPtr<IShellFolderViewDual> folderView;
  if (FAILED(hr = background.As(folderView))) return hr;
  ComPtr<IDispatch> application;
  if (FAILED(hr = folderView->get_Application(application.Put()))) return hr;
  return application.As(dispatch);
}

// Asks the shell to open the program, in its own folder; the shell starts it asynchronously.
bool ShellOpen(const std::wstring& executablePath) {
  ComPtr<IShellDispatch2> shell;
  if (FAILED(DesktopShellDispatch(shell)) || !shell) return false;

  const ScopedBstr file(
      SysAllocStringLen(executablePath.data(), static_cast<UINT>(executablePath.size())));
  const ScopedBstr arguments(SysAllocString(L""));
  const std::wstring folder = ParentPath(executablePath);
  const ScopedBstr directory(SysAllocStringLen(folder.data(), static_cast<UINT>(folder.size())));
  const ScopedBstr operation(SysAllocString(L"open"));
  if (!file || !arguments || !directory || !operation) return false;

  return SUCCEEDED(shell->ShellExecute(file.Get(), StringVariant(arguments),
                                       StringVariant(directory), StringVariant(operation),
                                       IntVariant(SW_SHOWNORMAL)));
}

}  // namespace

bool LaunchAsDesktopUser(const std::wstring& executablePath, std::wstring& message) {
  if (!IsRegularFile(executablePath) || !ShellOpen(executablePath)) {
    message = kTextLaunchFailed;
    return false;
  }
  return true;
}

bool InstallerController::LaunchInstalledApplication(std::wstring& message) {
  // Read again now: the entry read at construction predates the installation.
  const InstalledApplication app = FindInstalledApplication();
  if (!app.found) {
    message = kTextNotInstalled;
    return false;
  }
  return LaunchAsDesktopUser(JoinPath(app.installLocation, kApplicationExeName), message);
}

}  // namespace lum::installer
