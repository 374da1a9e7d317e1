// The bootstrapper runs elevated; the installed application and the browser that shows a legal
// document must not inherit that. The desktop shell (explorer) runs with the desktop user's
// ordinary rights, so they are handed to it through its automation objects and the shell's own
// process starts them.
#include "core/app_launch.h"

#include <windows.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "base/handles.h"
#include "base/variant.h"
#include "core/installer_controller.h"
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

// The shell's IShellDispatch2, reached through the desktop window's folder view.
HRESULT DesktopShellDispatch(ComPtr<IShellDispatch2>& dispatch) {
  ComPtr<IShellWindows> shellWindows;
  HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                shellWindows.PutVoid());
  if (FAILED(hr)) return hr;
  if (!shellWindows) return E_POINTER;

  Variant location = Variant::Int(CSIDL_DESKTOP);
  Variant root;
  long window = 0;
  ComPtr<IDispatch> desktop;
  hr = shellWindows->FindWindowSW(location.Address(), root.Address(), kShellWindowDesktop, &window,
                                  kFindNeedDispatch, desktop.Put());
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

}  // namespace

bool OpenThroughDesktopShell(const std::wstring& file, const std::wstring& directory) {
  ComPtr<IShellDispatch2> shell;
  if (FAILED(DesktopShellDispatch(shell)) || !shell) return false;

  const ScopedBstr fileText = MakeBstr(file);
  const Variant arguments = Variant::String(L"");
  const Variant folder = Variant::String(directory);
  const Variant operation = Variant::String(L"open");
  if (!fileText || arguments.Empty() || folder.Empty() || operation.Empty()) return false;

  return SUCCEEDED(shell->ShellExecute(fileText.Get(), arguments.Get(), folder.Get(),
                                       operation.Get(), Variant::Int(SW_SHOWNORMAL).Get()));
}

bool LaunchAsDesktopUser(const std::wstring& executablePath, std::wstring& message) {
  // The shell starts it asynchronously, in its own folder.
  if (!IsRegularFile(executablePath) ||
      !OpenThroughDesktopShell(executablePath, ParentPath(executablePath))) {
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
