// The behaviour of MainWindow: its message table, dragging and cursors, click targets, the
// modal overlays and the hand-over of the user's choices to the controller.
#include <windows.h>
#include <shobjidl.h>
#include <windowsx.h>

#include <memory>

#include "core/app_launch.h"
#include "ui/main_window.h"

namespace lum::installer {
namespace {

constexpr FILEOPENDIALOGOPTIONS kFolderPickerOptions = FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM;

const DesignRect& InstallButtonFor(InstallStage stage) {
  return stage == InstallStage::CustomOptions ? layout::kCustomInstall : layout::kWelcomeInstall;
}

}  // namespace

LRESULT MainWindow::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCHITTEST:
      return OnNcHitTest(lParam);
    case WM_SETCURSOR:
      OnSetCursor();
      return TRUE;
    case WM_MOUSEMOVE:
      OnMouseMove(lParam);
      return 0;
    case WM_LBUTTONDOWN:
      pressed = true;
      SetCapture(window);
      Invalidate();
      return 0;
    case WM_LBUTTONUP: {
      pressed = false;
      ReleaseCapture();
      Invalidate();
      const float f = PixelsPerDesignUnit();
      HandleClick(static_cast<float>(GET_X_LPARAM(lParam)) / f,
                  static_cast<float>(GET_Y_LPARAM(lParam)) / f);
      return 0;
    }
    case WM_PAINT:
      Paint();
      return 0;
    case WM_SIZE:
      if (renderTarget) renderTarget->Resize(D2D1::SizeU(LOWORD(lParam), HIWORD(lParam)));
      return 0;
    case WM_DPICHANGED:
      OnDpiChanged(wParam, lParam);
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      if (controller) controller->RequestCancel();
      accessibility.reset();
      PostQuitMessage(0);
      return 0;
    case WM_INSTALLER_STATUS:
      OnInstallerStatus(lParam);
      return 0;
    case WM_INSTALLER_CONFIRM:
      OnInstallerConfirm(lParam);
      return 0;
    case WM_INSTALLER_ACCESSIBLE_ACTION:
      OnAccessibleAction(wParam, lParam);
      return 0;
    case WM_GETOBJECT: {
      const std::optional<LRESULT> answer = OnGetObject(window, wParam, lParam);
      return answer ? *answer : DefWindowProcW(window, message, wParam, lParam);
    }
    case WM_KEYDOWN:
      if (OnKeyDown(wParam, lParam)) return 0;
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_CHANGEUISTATE:
      OnChangeUiState(wParam);
      return 0;
    case WM_UPDATEUISTATE:
      OnUpdateUiState(wParam);
      return DefWindowProcW(window, message, wParam, lParam);
    case WM_COMMAND:
      if (reinterpret_cast<HWND>(lParam) == pathEdit && HIWORD(wParam) == EN_SETFOCUS) {
        OnPathEditFocused();
      }
      if (reinterpret_cast<HWND>(lParam) == pathEdit && HIWORD(wParam) == EN_CHANGE) {
        SyncAccessibility();  // the field is named with the path it shows
      }
      return DefWindowProcW(window, message, wParam, lParam);
    default:
      if (taskbar.HandleMessage(message)) return 0;
      if (MayChangeContrast(message, wParam)) {
        highContrast = contrastQuery();
        Invalidate();
      }
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

bool MainWindow::ScreenToDesign(POINT point, float& x, float& y) const {
  if (!ScreenToClient(window, &point)) return false;
  const float f = PixelsPerDesignUnit();
  x = static_cast<float>(point.x) / f;
  y = static_cast<float>(point.y) / f;
  return true;
}

LRESULT MainWindow::OnNcHitTest(LPARAM lParam) {
  float x = 0;
  float y = 0;
  if (!ScreenToDesign(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, x, y)) return HTCLIENT;
  if (y < kCaptionBottom && !layout::kMinimizeArea.Contains(x, y) &&
      !layout::kCloseArea.Contains(x, y)) {
    return HTCAPTION;
  }
  return HTCLIENT;
}

bool MainWindow::IsCursorTarget(float x, float y) const {
  if (dialogKind != DialogKind::NoDialog) {
    if (layout::kDialogCancel.Contains(x, y) || layout::kDialogConfirm.Contains(x, y)) return true;
    return dialogKind == DialogKind::AgreementRequired &&
           LegalLinkAt(textFactory.Get(), x, y) != LegalDocument::None;
  }
  // One list for every page, so the hand also shows over other pages' buttons.
  static constexpr DesignRect kTargets[] = {layout::kMinimizeArea,   layout::kCloseArea,
                                            layout::kWelcomeInstall, layout::kCustomInstallLink,
                                            layout::kAgreementRow,   layout::kChangeFolder,
                                            layout::kDesktopOption,  layout::kStartMenuOption,
                                            layout::kCustomInstall,  layout::kBack,
                                            layout::kLaunch};
  for (const DesignRect& target : kTargets) {
    if (target.Contains(x, y)) return true;
  }
  return false;
}

void MainWindow::OnSetCursor() {
  POINT cursor{};
  float x = -1;
  float y = -1;
  const bool known = GetCursorPos(&cursor) && ScreenToDesign(cursor, x, y);
  SetCursor(LoadCursorW(nullptr, known && IsCursorTarget(x, y) ? IDC_HAND : IDC_ARROW));
}

void MainWindow::OnMouseMove(LPARAM lParam) {
  const float f = PixelsPerDesignUnit();
  const float x = static_cast<float>(GET_X_LPARAM(lParam)) / f;
  const float y = static_cast<float>(GET_Y_LPARAM(lParam)) / f;
  const bool now =
      dialogKind == DialogKind::NoDialog && InstallButtonFor(displayedStatus.stage).Contains(x, y);
  if (now != hover) {
    hover = now;
    Invalidate();
  }
}

void MainWindow::OnClose() {
  if (IsBusyStage(displayedStatus.stage)) {
    if (!RunModalDialog(DialogKind::ExitConfirm)) return;
    if (controller) controller->RequestCancel();
  }
  DestroyWindow(window);
}

void MainWindow::OnInstallerStatus(LPARAM lParam) {
  // The posted copy belongs to this thread from here on.
  const std::unique_ptr<InstallerStatus> status(reinterpret_cast<InstallerStatus*>(lParam));
  if (!status) return;
  // A download reports every buffer read, but the bar moves about 85 times: a status that shows
  // nothing new does not repaint (a paint costs far more than the status handling).
  const bool changed =
      status->stage != displayedStatus.stage || status->progress != displayedStatus.progress ||
      status->message != displayedStatus.message || status->errorCode != displayedStatus.errorCode;
  displayedStatus = *status;
  taskbar.Show(displayedStatus);  // before a failure overlay's loop starts
  if (displayedStatus.stage == InstallStage::Failed) RunModalDialog(DialogKind::InstallError);
  if (changed) Invalidate();
}

void MainWindow::OnInstallerConfirm(LPARAM lParam) {
  auto* request = reinterpret_cast<ConfirmationRequest*>(lParam);
  if (request == nullptr) return;
  request->answer = RunModalDialog(request->kind == ConfirmationKind::CloseRunningApp
                                       ? DialogKind::CloseAppConfirm
                                       : DialogKind::ForceCloseConfirm);
}

bool MainWindow::RunModalDialog(DialogKind kind) {
  // An overlay may be asked for while another one waits (a WM_CLOSE from the taskbar during a
  // question); the earlier one comes back once the later one is answered.
  const DialogKind previous = dialogKind;
  dialogKind = kind;
  dialogAnswer = false;
  overlayFocus = FocusTargetsNow().initial;
  ShowPathEdit(false);
  Invalidate();
  if (kind == DialogKind::NoDialog) return false;

  MSG message{};
  for (;;) {
    const BOOL result = GetMessageW(&message, nullptr, 0, 0);
    if (result == 0) {
      // The program is ending: hand the quit request on to the loop that waits outside.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    if (result == -1) return false;
    TranslateMessage(&message);
    DispatchMessageW(&message);
    if (dialogKind == DialogKind::NoDialog) break;
  }
  const bool answer = dialogAnswer;
  if (previous != DialogKind::NoDialog) {
    dialogKind = previous;
    dialogAnswer = false;
    overlayFocus = FocusTargetsNow().initial;
    ShowPathEdit(false);
    Invalidate();
  }
  return answer;
}

void MainWindow::CloseDialog(bool answer) {
  dialogAnswer = answer;
  dialogKind = DialogKind::NoDialog;
  ShowPathEdit(displayedStatus.stage == InstallStage::CustomOptions);
}

void MainWindow::OpenLegalDocument(LegalDocument document) {
  const std::wstring url = LegalDocumentUrl(document);
  if (url.empty()) return;
  // A browser started from this elevated process would run elevated too, so the desktop shell
  // opens the document. Without a shell nothing opens; the page stays as it is either way.
  if (!OpenThroughDesktopShell(url, std::wstring()) && controller) {
    controller->WriteLog(L"legal", L"无法通过桌面外壳打开：" + url);
  }
}

void MainWindow::HandleClick(float x, float y) {
  // An overlay takes every click, the window glyphs included.
  if (dialogKind != DialogKind::NoDialog) {
    HandleOverlayClick(x, y);
    return;
  }
  if (HandleFrameClick(x, y)) return;
  switch (displayedStatus.stage) {
    case InstallStage::Completed:
      HandleCompletedClick(x, y);
      return;
    case InstallStage::Welcome:
      HandleWelcomeClick(x, y);
      return;
    case InstallStage::CustomOptions:
      HandleCustomClick(x, y);
      return;
    default:
      return;  // busy and failed stages: only the window glyphs answer
  }
}

bool MainWindow::HandleFrameClick(float x, float y) {
  if (layout::kMinimizeArea.Contains(x, y)) {
    ShowWindow(window, SW_MINIMIZE);
    return true;
  }
  if (layout::kCloseArea.Contains(x, y)) {
    SendMessageW(window, WM_CLOSE, 0, 0);
    return true;
  }
  return false;
}

void MainWindow::HandleOverlayClick(float x, float y) {
  // Only the agreement question has links, the document titles in its sentence.
  if (dialogKind == DialogKind::AgreementRequired) {
    const LegalDocument document = LegalLinkAt(textFactory.Get(), x, y);
    if (document != LegalDocument::None) {
      OpenLegalDocument(document);
      return;
    }
  }
  const bool failure = dialogKind == DialogKind::InstallError;
  if (layout::kDialogCancel.Contains(x, y)) {
    // Leaving a failure ends the program; the other questions just get their "no".
    if (failure && controller) controller->RequestCancel();
    CloseDialog(false);
    Invalidate();
    if (failure) PostMessageW(window, WM_CLOSE, 0, 0);
  } else if (layout::kDialogConfirm.Contains(x, y)) {
    const bool changeFolder = failure && displayedStatus.errorCode == kErrorDiskSpace;
    CloseDialog(true);
    Invalidate();
    if (changeFolder) {
      displayedStatus.stage = InstallStage::CustomOptions;
      taskbar.Show(displayedStatus);
      ShowPathEdit(true);
    } else if (failure) {
      BeginInstallation();
    }
  }
}

void MainWindow::HandleWelcomeClick(float x, float y) {
  // The links lie inside the agreement row: they are tested before it.
  if (layout::kUserAgreementLink.Contains(x, y)) {
    OpenLegalDocument(LegalDocument::UserAgreement);
  } else if (layout::kPrivacyPolicyLink.Contains(x, y)) {
    OpenLegalDocument(LegalDocument::PrivacyPolicy);
  } else if (layout::kVipServiceLink.Contains(x, y)) {
    OpenLegalDocument(LegalDocument::VipService);
  } else if (layout::kWelcomeInstall.Contains(x, y)) {
    BeginInstallation();
  } else if (layout::kCustomInstallLink.Contains(x, y)) {
    displayedStatus.stage = InstallStage::CustomOptions;
    ShowPathEdit(true);
  } else if (layout::kAgreementRow.Contains(x, y)) {
    agreed = !agreed;
  }
  Invalidate();
}

void MainWindow::HandleCustomClick(float x, float y) {
  if (layout::kChangeFolder.Contains(x, y)) {
    PickFolder();
  } else if (layout::kDesktopOption.Contains(x, y)) {
    desktopShortcutChecked = !desktopShortcutChecked;
  } else if (layout::kStartMenuOption.Contains(x, y)) {
    startMenuChecked = !startMenuChecked;
  } else if (layout::kCustomInstall.Contains(x, y)) {
    BeginInstallation();
  } else if (layout::kBack.Contains(x, y)) {
    displayedStatus.stage = InstallStage::Welcome;
    ShowPathEdit(false);
  }
  Invalidate();
}

void MainWindow::HandleCompletedClick(float x, float y) {
  if (layout::kLaunch.Contains(x, y)) LaunchApplication();
}

void MainWindow::LaunchApplication() {
  if (!controller) return;
  std::wstring message;
  if (controller->LaunchInstalledApplication(message)) {
    DestroyWindow(window);
    return;
  }
  displayedStatus.stage = InstallStage::Failed;
  displayedStatus.progress = 0;
  displayedStatus.message = message;
  displayedStatus.errorCode = kErrorLaunch;
  taskbar.Show(displayedStatus);
  RunModalDialog(DialogKind::InstallError);
}

void MainWindow::PickFolder() {
  ComPtr<IFileOpenDialog> picker;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IFileOpenDialog, picker.PutVoid()))) {
    return;
  }
  FILEOPENDIALOGOPTIONS current = 0;
  if (SUCCEEDED(picker->GetOptions(&current))) picker->SetOptions(current | kFolderPickerOptions);
  if (FAILED(picker->Show(window))) return;  // cancelled or failed: nothing changes
  ComPtr<IShellItem> item;
  if (FAILED(picker->GetResult(item.Put()))) return;
  CoTaskMemString path;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, path.Put())) || !path) return;
  if (pathEdit != nullptr) SetWindowTextW(pathEdit, path.Get());
  Invalidate();
}

void MainWindow::BeginInstallation() {
  if (!agreed) {
    if (!RunModalDialog(DialogKind::AgreementRequired)) return;
    agreed = true;
  }
  options.installDirectory = PathEditText();
  options.desktopShortcut = desktopShortcutChecked;
  options.startMenuShortcut = startMenuChecked;
  ShowPathEdit(false);
  if (controller) controller->StartInstall(options);
}

void MainWindow::PostStatus(const InstallerStatus& status) const {
  if (!IsWindow(window)) return;  // the window is gone: the status is dropped
  auto copy = std::make_unique<InstallerStatus>(status);
  // On success the window thread owns the copy; a failed post leaves it here to be freed.
  if (PostMessageW(window, WM_INSTALLER_STATUS, 0, reinterpret_cast<LPARAM>(copy.get()))) {
    static_cast<void>(copy.release());
  }
}

bool MainWindow::AskConfirmation(ConfirmationKind kind) const {
  ConfirmationRequest request{kind, false};
  // Fails at once when the window no longer exists; the answer then stays false.
  SendMessageW(window, WM_INSTALLER_CONFIRM, 0, reinterpret_cast<LPARAM>(&request));
  return request.answer;
}

}  // namespace lum::installer
