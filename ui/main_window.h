// The bootstrapper's only window: a borderless, custom-drawn 600 x 400 DIP popup that owns the
// drawing resources, the path field, the InstallerController and the state the pages show.
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
#include "ui/accessibility/accessibility_server.h"
#include "ui/page/controls.h"
#include "ui/paint/high_contrast.h"
#include "ui/paint/page_painter.h"
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
  // The taskbar's progress, the high-contrast setting and UI Automation are the system's
  // unless a test records or sets them instead.
  explicit MainWindow(
      HINSTANCE instance,
      std::unique_ptr<TaskbarProgress> taskbarProgress = std::make_unique<ShellTaskbarProgress>(),
      HighContrastQuery highContrastQuery = &SystemHighContrast,
      UiaApiSource uiaApiSource = &LoadUiaApi);
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

  // Rendering (main_window.cpp).
  PageView CurrentView() const;
  void LayoutPathEdit();
  void LoadPngResource(int resourceId, ComPtr<ID2D1Bitmap>& bitmap);
  void CreateDeviceResources();
  void DiscardDeviceResources();
  void Paint();
  void OnDpiChanged(WPARAM wParam, LPARAM lParam);
  float PixelsPerDesignUnit() const;
  void Invalidate();
  std::wstring PathEditText() const;
  void ShowPathEdit(bool visible);

  // Input, commands and dialogs (window_input.cpp).
  LRESULT OnNcHitTest(LPARAM lParam);
  void OnSetCursor();
  void OnMouseMove(LPARAM lParam);
  void OnInstallerStatus(LPARAM lParam);
  void OnInstallerConfirm(LPARAM lParam);
  void OnClose();
  bool RunModalDialog(DialogKind kind);
  void CloseDialog(bool answer);
  // A click in design units, handed to the overlay or to the shown page's handler.
  void HandleClick(float x, float y);
  bool HandleFrameClick(float x, float y);  // the window glyphs; true when one was hit
  void HandleOverlayClick(float x, float y);
  void HandleWelcomeClick(float x, float y);
  void HandleCustomClick(float x, float y);
  void HandleCompletedClick(float x, float y);
  void BeginInstallation();
  void PickFolder();
  void OpenLegalDocument(LegalDocument document);
  void LaunchApplication();
  bool IsCursorTarget(float x, float y) const;
  bool ScreenToDesign(POINT screen, float& x, float& y) const;

  // Keyboard focus, keys and focus cues (window_keyboard.cpp).
  static LRESULT CALLBACK PathEditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam);
  void SubclassPathEdit();
  bool OnKeyDown(WPARAM key, LPARAM flags);  // true when the key was one of the window's
  void OnChangeUiState(WPARAM wParam);
  void OnUpdateUiState(WPARAM wParam);
  void OnPathEditFocused();
  FocusList FocusTargetsNow();  // and the focus index of this page or overlay, kept in step
  FocusList FocusTargetsOf(const PageView& view);  // the same for a view already taken
  std::size_t& FocusIndex();
  void MoveFocus(bool backwards);
  void ActivateFocused();
  void ClickCentre(const DesignRect& rect);
  bool PlaceKeyboardFocus();  // true when the path field got the keys
  std::optional<FocusTarget> FocusRingTarget(const PageView& view);

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
  bool highContrast = false;  // read at creation and again when the system says it changed
  ComPtr<ID2D1Factory> d2dFactory;
  ComPtr<IDWriteFactory> textFactory;
  ComPtr<IWICImagingFactory> imagingFactory;
  ComPtr<ID2D1HwndRenderTarget> renderTarget;
  ComPtr<ID2D1Bitmap> heroImage;
  ComPtr<ID2D1Bitmap> logoImage;
  std::unique_ptr<InstallerController> controller;
  InstallerStatus displayedStatus;
  TaskbarButton taskbar;
  InstallOptions options;
  DialogKind dialogKind = DialogKind::NoDialog;
  bool dialogAnswer = false;
  bool agreed = true;
  bool desktopShortcutChecked = true;
  bool startMenuChecked = true;
  bool hover = false;
  bool pressed = false;
  // Windows' UI state: the ring shows once the keyboard is used (UISF_HIDEFOCUS cleared).
  bool focusHidden = true;
  std::size_t pageFocus = 0;
  std::size_t overlayFocus = 0;
  InstallStage focusStage = InstallStage::Failed;      // the page pageFocus belongs to
  std::unique_ptr<AccessibilityServer> accessibility;  // made on the first client's question
};

}  // namespace lum::installer
