// What MainWindow's controls do once the page model has applied its part, the overlays that
// answer the worker's questions and report failures, the worker's two callbacks, and the
// hand-over of the user's choices to the controller.
#include <windows.h>

#include <memory>
#include <utility>

#include "core/app_launch.h"
#include "ui/folder_picker.h"
#include "ui/main_window.h"

namespace lum::installer {

void MainWindow::Activate(ControlId id) {
  const InstallStage before = view.status.stage;
  const Activation activation = lum::installer::Activate(view, id);
  if (view.status.stage != before) StatusChanged(before);
  Carry(activation);
  Invalidate();
}

void MainWindow::Carry(const Activation& activation) {
  switch (activation.command) {
    case Command::None:
      return;
    case Command::Minimize:
      ShowWindow(window, SW_MINIMIZE);
      return;
    case Command::Close:
      SendMessageW(window, WM_CLOSE, 0, 0);  // asks first while a run is busy
      return;
    case Command::OpenDocument:
      OpenLegalDocument(activation.document);
      return;
    case Command::BeginInstallation:
      BeginInstallation();
      return;
    case Command::PickFolder:
      PickFolder();
      return;
    case Command::FocusPathField:
      pageFocus = ControlId::PathField;
      PlaceKeyboardFocus();
      return;
    case Command::Launch:
      LaunchApplication();
      return;
    case Command::Answer:
      CloseDialog(activation.answer);
      return;
    case Command::LeaveAfterFailure:
      // The window then closes, because a failed stage is not busy.
      if (controller) controller->RequestCancel();
      CloseDialog(false);
      Invalidate();
      PostMessageW(window, WM_CLOSE, 0, 0);
      return;
    case Command::ChangeFolder: {
      CloseDialog(true);
      Invalidate();
      const InstallStage before = view.status.stage;
      view.status.stage = InstallStage::CustomOptions;  // message and code kept
      StatusChanged(before);
      return;
    }
    case Command::Retry:
      CloseDialog(true);
      Invalidate();
      BeginInstallation();
      return;
  }
}

void MainWindow::StatusChanged(InstallStage before) {
  taskbar.Show(view.status);  // before a failure overlay's loop starts
  if (view.status.stage == before) return;
  // A new page starts at its first focus, and the path field shows on the options page only.
  pageFocus = PageControls(view).initialFocus;
  if (PageFor(before) != view.page()) {
    ShowPathEdit(view.page() == Page::CustomOptions && view.dialog == DialogKind::NoDialog);
  }
}

void MainWindow::OnInstallerStatus(LPARAM lParam) {
  // The posted copy belongs to this thread from here on.
  const std::unique_ptr<InstallerStatus> status(reinterpret_cast<InstallerStatus*>(lParam));
  if (!status) return;
  // The controller posts only what differs from its last status, but the window may have
  // switched pages itself since: what shows nothing new does not repaint.
  const bool changed = *status != view.status;
  const InstallStage before = view.status.stage;
  view.status = *status;
  StatusChanged(before);
  if (view.status.stage == InstallStage::Failed) RunModalDialog(DialogKind::InstallError);
  if (changed) Invalidate();
}

void MainWindow::OnInstallerConfirm(LPARAM lParam) {
  auto* request = reinterpret_cast<ConfirmationRequest*>(lParam);
  if (request == nullptr) return;
  request->answer = RunModalDialog(request->kind == ConfirmationKind::CloseRunningApp
                                       ? DialogKind::CloseAppConfirm
                                       : DialogKind::ForceCloseConfirm);
}

void MainWindow::OnClose() {
  if (IsBusyStage(view.status.stage)) {
    if (!RunModalDialog(DialogKind::ExitConfirm)) return;
    if (controller) controller->RequestCancel();
  }
  DestroyWindow(window);
}

bool MainWindow::RunModalDialog(DialogKind kind) {
  // An overlay may be asked for while another one waits (a WM_CLOSE from the taskbar during a
  // question); the earlier one comes back once the later one is answered.
  const DialogKind previous = view.dialog;
  view.dialog = kind;
  dialogAnswer = false;
  overlayFocus = OverlayControls(view).initialFocus;
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
    if (view.dialog == DialogKind::NoDialog) break;
  }
  const bool answer = dialogAnswer;
  if (previous != DialogKind::NoDialog) {
    view.dialog = previous;
    dialogAnswer = false;
    overlayFocus = OverlayControls(view).initialFocus;
    ShowPathEdit(false);
    Invalidate();
  }
  return answer;
}

void MainWindow::CloseDialog(bool answer) {
  dialogAnswer = answer;
  view.dialog = DialogKind::NoDialog;
  ShowPathEdit(view.page() == Page::CustomOptions);
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

void MainWindow::LaunchApplication() {
  if (!controller) return;
  std::wstring message;
  if (controller->LaunchInstalledApplication(message)) {
    DestroyWindow(window);
    return;
  }
  const InstallStage before = view.status.stage;
  view.status = InstallerStatus{InstallStage::Failed, 0, message, kErrorLaunch};
  StatusChanged(before);
  RunModalDialog(DialogKind::InstallError);
}

namespace {

// Why the folder picker is not offered, for the log; none when it is.
const wchar_t* PickerRefusal(DesktopIdentity identity) {
  switch (identity) {
    case DesktopIdentity::SameUser:
      return nullptr;
    case DesktopIdentity::LocalSystem:
      return L"the program runs as SYSTEM";
    case DesktopIdentity::OtherUser:
      return L"the program runs as another user than the desktop's";
    case DesktopIdentity::NoShell:
      return L"there is no desktop shell to compare users with";
    case DesktopIdentity::Unknown:
      break;
  }
  return L"the desktop's user cannot be read";
}

}  // namespace

void MainWindow::PickFolder() {
  // The common dialog runs in this elevated process and lets whoever sits at the desktop start
  // programs from it (context menus, its address bar): only when that is the same user. Otherwise
  // the path field is there to type into, and it takes the keys.
  if (const wchar_t* refusal = PickerRefusal(identityCheck())) {
    if (!pickerRefusalLogged && controller) {
      controller->WriteLog(L"install", std::wstring(L"folder picker not offered: ") + refusal);
      pickerRefusalLogged = true;
    }
    pageFocus = ControlId::PathField;
    PlaceKeyboardFocus();
    return;
  }
  const std::optional<std::wstring> folder = ChooseFolder(window);
  if (!folder) return;  // nothing changes
  if (pathEdit != nullptr) SetWindowTextW(pathEdit, folder->c_str());
  OnPathChanged();
}

void MainWindow::BeginInstallation() {
  if (!view.agreed) {
    if (!RunModalDialog(DialogKind::AgreementRequired)) return;
    view.agreed = true;
  }
  options.installDirectory = PathEditText();
  options.desktopShortcut = view.desktopShortcut;
  options.startMenuShortcut = view.startMenuShortcut;
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
