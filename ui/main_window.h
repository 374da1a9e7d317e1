// The bootstrapper's only window: a borderless, custom-drawn 600 x 400 DIP popup that owns the
// drawing resources, the path field, the InstallerController and the page model it shows. What
// the pages hold and what their controls do is the model's (ui/page/); the window turns the
// system's messages into the model's terms and carries out what the model asks for.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>
#include <wincodec.h>

#include <memory>
#include <optional>

#include "base/handles.h"
#include "core/installer_controller.h"
#include "core/installer_types.h"
#include "system/process_identity.h"
#include "ui/accessibility/accessibility_server.h"
#include "ui/page/activation.h"
#include "ui/page/controls.h"
#include "ui/page/page_view.h"
#include "ui/paint/high_contrast.h"
#include "ui/shell/taskbar_button.h"
#include "ui/shell/taskbar_progress.h"

namespace lum::installer {

inline constexpr wchar_t kWindowClassName[] = L"LUMWebBootstrapperWindow";
inline constexpr wchar_t kWindowTitle[] = L"LumoraMP3转换器安装器";
inline constexpr UINT WM_INSTALLER_STATUS = WM_APP + 1;
inline constexpr UINT WM_INSTALLER_CONFIRM = WM_APP + 2;
inline constexpr int kIconId = 101;
inline constexpr int kLogoImageId = 102;
inline constexpr int kHeroImageId = 103;

class MainWindow {
 public:
  // The taskbar's progress, the high-contrast setting, UI Automation and who this process runs
  // as against the desktop's user are the system's unless a test records or sets them instead
  // (under Wine every process is the desktop user's).
  explicit MainWindow(
      HINSTANCE instance,
      std::unique_ptr<TaskbarProgress> taskbarProgress = std::make_unique<ShellTaskbarProgress>(),
      HighContrastQuery highContrastQuery = &SystemHighContrast,
      UiaApiSource uiaApiSource = &LoadUiaApi,
      DesktopIdentityCheck desktopIdentityCheck = &CheckDesktopIdentity);
  ~MainWindow();
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  // Registers the class, creates the window, its path field and the controller, and shows
  // the window. False only when the window itself could not be made.
  [[nodiscard]] bool Create();

  HWND Handle() const { return window; }
  // Seam for the test harness, which publishes workflow statuses through it from a thread.
  InstallerController* Controller() const { return controller.get(); }
  // Seam for the test harness: the providers, once a WM_GETOBJECT has made them.
  AccessibilityServer* Accessibility() const { return accessibility.get(); }

  // The callbacks the controller gets; they run on the worker thread. Once the window is gone
  // a status is dropped and a question is answered no at once.
  void PostStatus(const InstallerStatus& status) const;
  bool AskConfirmation(ConfirmationKind kind) const;

 private:
  static LRESULT CALLBACK StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

  // Rendering, the path field and DPI (main_window.cpp).
  void LayoutPathEdit();
  void LoadPngResource(int resourceId, ComPtr<ID2D1Bitmap>& bitmap);
  void CreateDeviceResources();
  void DiscardDeviceResources();
  void Paint();
  // Draws again a frame that Paint could not draw or show.
  static constexpr UINT_PTR kRedrawTimer = 1;
  void OnRedrawTimer();
  void OnDpiChanged(WPARAM wParam, LPARAM lParam);
  float PixelsPerDesignUnit() const;
  void Invalidate();
  std::wstring PathEditText() const;
  void ShowPathEdit(bool visible);
  void OnPathChanged();  // the path and its free space, read once per change

  // The pointer (window_input.cpp).
  LRESULT OnNcHitTest(LPARAM lParam);
  void OnSetCursor();
  void OnMouseMove(LPARAM lParam);
  void OnLeftButtonUp(LPARAM lParam);
  bool ScreenToDesign(POINT screen, float& x, float& y) const;
  SentenceHitTest SentenceHit() const;

  // What controls do, the overlays and the worker's messages (window_commands.cpp).
  // The one way a control acts: a click after its hit test, a key on the focused control, or a
  // screen reader's Invoke or Toggle.
  void Activate(ControlId id);
  void Carry(const Activation& activation);
  // After the displayed status changed, by the worker or by the window's own page switches.
  void StatusChanged(InstallStage before);
  void OnInstallerStatus(LPARAM lParam);
  void OnInstallerConfirm(LPARAM lParam);
  void OnClose();
  bool RunModalDialog(DialogKind kind);
  void CloseDialog(bool answer);
  void BeginInstallation();
  void PickFolder();
  void OpenLegalDocument(LegalDocument document);
  void LaunchApplication();

  // Keyboard focus, keys and focus cues (window_keyboard.cpp).
  static LRESULT CALLBACK PathEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
  void SubclassPathEdit();
  bool OnKeyDown(WPARAM key, LPARAM flags);  // true when the key was one of the window's
  void OnChangeUiState(WPARAM wParam);
  void OnUpdateUiState(WPARAM wParam);
  void OnPathEditFocused();
  std::optional<ControlId>& Focus();  // of the overlay while one is up, else of the page
  void MoveFocus(bool backwards);
  bool PlaceKeyboardFocus();  // true when the path field got the keys

  // UI Automation (window_accessibility.cpp).
  // The answer to WM_GETOBJECT of the window or its path field; none for other questions.
  std::optional<LRESULT> OnGetObject(HWND target, WPARAM wParam, LPARAM lParam);
  void SyncAccessibility();
  void OnAccessibleAction(WPARAM wParam, LPARAM lParam);

  HINSTANCE moduleInstance;
  HWND window = nullptr;  // set on WM_NCCREATE, before any worker thread exists; never cleared
  HWND pathEdit = nullptr;
  ScopedFont pathEditFont;
  UINT dpi = 96;
  HighContrastQuery contrastQuery;
  UiaApiSource uiaApi;
  DesktopIdentityCheck identityCheck;
  bool pickerRefusalLogged = false;
  bool highContrast = false;  // read at creation and again when the system says it changed
  ComPtr<ID2D1Factory> d2dFactory;
  ComPtr<IDWriteFactory> textFactory;
  ComPtr<IWICImagingFactory> imagingFactory;
  ComPtr<ID2D1HwndRenderTarget> renderTarget;
  ComPtr<ID2D1Bitmap> heroImage;
  ComPtr<ID2D1Bitmap> logoImage;
  std::unique_ptr<InstallerController> controller;
  // The displayed status, the overlay, the marks, the path and its free space.
  PageView view;
  TaskbarButton taskbar;
  InstallOptions options;
  bool dialogAnswer = false;
  bool hover = false;
  bool pressed = false;
  // Windows' UI state: the ring shows once the keyboard is used (UISF_HIDEFOCUS cleared).
  bool focusHidden = true;
  std::optional<ControlId> pageFocus;     // set to the page's first focus when the page changes
  std::optional<ControlId> overlayFocus;  // set when an overlay comes up
  std::unique_ptr<AccessibilityServer> accessibility;  // made on the first client's question
};

}  // namespace lum::installer
