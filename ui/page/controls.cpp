#include "ui/page/controls.h"

#include <algorithm>
#include <utility>

namespace lum::installer {
namespace {

Control Text(ControlId id, const DesignRect& rect, std::wstring label) {
  return {id, ControlRole::Text, rect, std::move(label)};
}

// A button or link the pointer and the keyboard both reach.
Control Target(ControlId id, ControlRole role, const DesignRect& rect, std::wstring label) {
  Control control{id, role, rect, std::move(label)};
  control.takesFocus = true;
  control.pointer = PointerArea::Rect;
  return control;
}

Control Link(ControlId id, const DesignRect& rect, std::wstring label, LegalDocument document) {
  Control control = Target(id, ControlRole::Link, rect, std::move(label));
  control.document = document;
  return control;
}

Control CheckBox(ControlId id, const DesignRect& rect, std::wstring label, bool checked) {
  Control control = Target(id, ControlRole::CheckBox, rect, std::move(label));
  control.checked = checked;
  return control;
}

// The install button stays reachable when drawn gray: pressing it asks for the agreement.
Control InstallButton(ControlId id, const DesignRect& rect, bool agreed) {
  Control control = Target(id, ControlRole::Button, rect, labels::kInstall);
  control.enabled = agreed;
  control.hoverTracked = true;
  return control;
}

void AddFrame(std::vector<Control>& controls) {
  // Not in the Tab order: Esc is the close glyph, and the taskbar minimises.
  for (Control glyph :
       {Target(ControlId::Minimize, ControlRole::Button, layout::kMinimizeArea, labels::kMinimize),
        Target(ControlId::Close, ControlRole::Button, layout::kCloseArea, labels::kClose)}) {
    glyph.takesFocus = false;
    controls.push_back(std::move(glyph));
  }
}

void AddWelcome(ControlList& list, const PageView& view) {
  Control mark =
      CheckBox(ControlId::AgreementMark, layout::kAgreementCheck, labels::kAgree, view.agreed);
  // The mark's label and the gaps around the links toggle it too.
  mark.pointer = PointerArea::Row;
  mark.row = layout::kAgreementRow;
  list.controls.push_back(std::move(mark));
  list.controls.push_back(Link(ControlId::UserAgreementLink, layout::kUserAgreementLink,
                               labels::kUserAgreement, LegalDocument::UserAgreement));
  list.controls.push_back(Link(ControlId::PrivacyPolicyLink, layout::kPrivacyPolicyLink,
                               labels::kPrivacyPolicy, LegalDocument::PrivacyPolicy));
  list.controls.push_back(Link(ControlId::VipServiceLink, layout::kVipServiceLink,
                               labels::kVipService, LegalDocument::VipService));
  list.controls.push_back(Target(ControlId::CustomInstallLink, ControlRole::Link,
                                 layout::kCustomInstallLink, labels::kCustomInstall));
  list.controls.push_back(
      InstallButton(ControlId::WelcomeInstall, layout::kWelcomeInstall, view.agreed));
  list.initialFocus = ControlId::WelcomeInstall;
}

void AddCustom(ControlList& list, const PageView& view) {
  Control field =
      Target(ControlId::PathField, ControlRole::Edit, layout::kPathBox, view.installPath);
  field.pointer = PointerArea::None;  // a window of its own, which takes its own clicks
  list.controls.push_back(std::move(field));
  list.controls.push_back(Target(ControlId::ChangeFolder, ControlRole::Button,
                                 layout::kChangeFolder, labels::kChangeFolder));
  list.controls.push_back(CheckBox(ControlId::DesktopOption, layout::kDesktopOption,
                                   labels::kDesktopShortcut, view.desktopShortcut));
  list.controls.push_back(CheckBox(ControlId::StartMenuOption, layout::kStartMenuOption,
                                   labels::kStartMenu, view.startMenuShortcut));
  list.controls.push_back(
      InstallButton(ControlId::CustomInstall, layout::kCustomInstall, view.agreed));
  list.controls.push_back(
      Target(ControlId::Back, ControlRole::Button, layout::kBack, labels::kBack));
  list.initialFocus = ControlId::CustomInstall;
}

void AddProgress(ControlList& list, const PageView& view) {
  Control bar{ControlId::Progress, ControlRole::ProgressBar, layout::kProgressTrack,
              ProgressText(view.status.progress)};
  bar.value = std::clamp<std::int32_t>(view.status.progress, 0, 100);
  list.controls.push_back(std::move(bar));
}

void AddCompleted(ControlList& list) {
  list.controls.push_back(Text(ControlId::CompletedText, layout::kCompletedText, kTextCompleted));
  list.controls.push_back(
      Target(ControlId::Launch, ControlRole::Button, layout::kLaunch, labels::kLaunch));
  list.initialFocus = ControlId::Launch;
}

// The welcome page shown under a failure: until the overlay is answered it takes nothing.
void MakeShownOnly(ControlList& list) {
  for (Control& control : list.controls) {
    if (control.id == ControlId::Minimize || control.id == ControlId::Close) continue;
    control.pointer = PointerArea::None;
    control.takesFocus = false;
    control.announced = false;
  }
  list.initialFocus.reset();
}

const std::vector<DesignRect>& AllPagesTargets() {
  // Where any page takes the pointer; rows included. The same for every state of the window.
  static const std::vector<DesignRect> targets = [] {
    std::vector<DesignRect> areas;
    for (const InstallStage stage :
         {InstallStage::Welcome, InstallStage::CustomOptions, InstallStage::Completed}) {
      PageView view;
      view.status.stage = stage;
      for (const Control& control : PageControls(view).controls) {
        if (control.pointer == PointerArea::Rect) areas.push_back(control.rect);
        if (control.pointer == PointerArea::Row) areas.push_back(control.row);
      }
    }
    return areas;
  }();
  return targets;
}

}  // namespace

const Control* ControlList::Find(ControlId id) const {
  for (const Control& control : controls) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

std::vector<Decoration> PageDecorations(const PageView& view) {
  std::vector<Decoration> shown{{DecorationKind::Canvas, layout::kCanvas},
                                {DecorationKind::Hero, layout::kHero}};
  switch (view.page()) {
    case Page::Welcome:
      shown.push_back({DecorationKind::Logo, layout::kWelcomeLogo});
      shown.push_back({DecorationKind::Title, layout::kWelcomeTitle, labels::kProductTitle});
      break;
    case Page::CustomOptions:
      shown.push_back(
          {DecorationKind::SpaceFigure, layout::kRequiredSpace, labels::kRequiredSpace});
      shown.push_back(
          {DecorationKind::SpaceFigure, layout::kFreeSpace, FreeSpaceText(view.freeSpace)});
      break;
    case Page::Progress:
      shown.push_back({DecorationKind::Logo, layout::kProgressLogo});
      shown.push_back({DecorationKind::Title, layout::kProgressTitle, labels::kProductTitle});
      shown.push_back(
          {DecorationKind::Percentage, layout::kProgressText, ProgressText(view.status.progress)});
      break;
    case Page::Completed:
      shown.push_back({DecorationKind::Logo, layout::kProgressLogo});
      break;
  }
  return shown;
}

std::vector<Decoration> OverlayDecorations(const PageView& view) {
  if (view.dialog == DialogKind::NoDialog) return {};
  return {{DecorationKind::Scrim, layout::kCanvas}, {DecorationKind::Card, layout::kDialogCard}};
}

ControlList PageControls(const PageView& view) {
  ControlList list;
  AddFrame(list.controls);
  switch (view.page()) {
    case Page::Welcome:
      AddWelcome(list, view);
      if (view.status.stage == InstallStage::Failed) MakeShownOnly(list);
      break;
    case Page::CustomOptions:
      AddCustom(list, view);
      break;
    case Page::Progress:
      AddProgress(list, view);
      break;
    case Page::Completed:
      AddCompleted(list);
      break;
  }
  return list;
}

ControlList OverlayControls(const PageView& view) {
  ControlList list;
  if (view.dialog == DialogKind::NoDialog) return list;
  const DialogTexts texts = TextsForDialog(view.dialog, view.status.message, view.status.errorCode);
  const bool agreement = view.dialog == DialogKind::AgreementRequired;
  if (!texts.title.empty()) {
    list.controls.push_back(Text(ControlId::DialogTitle, layout::kDialogTitle, texts.title));
  }
  Control body = Text(ControlId::DialogBody,
                      agreement ? layout::kAgreementBox : layout::kDialogBody, texts.body);
  body.alert = view.dialog == DialogKind::InstallError;
  list.controls.push_back(std::move(body));
  if (agreement) {
    // The document titles inside the sentence. A screen reader reads them with the sentence.
    constexpr std::pair<ControlId, const wchar_t*> kTitles[] = {
        {ControlId::SentenceUserAgreement, labels::kUserAgreement},
        {ControlId::SentencePrivacyPolicy, labels::kPrivacyPolicy},
        {ControlId::SentenceVipService, labels::kVipService}};
    for (std::size_t i = 0; i < std::size(kTitles); ++i) {
      Control title = Link(kTitles[i].first, layout::kAgreementBox, kTitles[i].second,
                           kAgreementLinks[i].document);
      title.pointer = PointerArea::Sentence;
      title.takesFocus = false;
      title.announced = false;
      list.controls.push_back(std::move(title));
    }
  }
  list.controls.push_back(
      Target(ControlId::DialogCancel, ControlRole::Button, layout::kDialogCancel, texts.cancel));
  list.controls.push_back(
      Target(ControlId::DialogConfirm, ControlRole::Button, layout::kDialogConfirm, texts.confirm));
  // Where confirming destroys something (the run, or unsaved work in the application), the
  // keyboard starts on the safe answer.
  const bool destructive =
      view.dialog == DialogKind::ExitConfirm || view.dialog == DialogKind::ForceCloseConfirm;
  list.initialFocus = destructive ? ControlId::DialogCancel : ControlId::DialogConfirm;
  return list;
}

ControlList InputControls(const PageView& view) {
  return view.dialog != DialogKind::NoDialog ? OverlayControls(view) : PageControls(view);
}

std::optional<ControlId> HitTest(const ControlList& list, float x, float y,
                                 const SentenceHitTest& sentence) {
  for (const Control& control : list.controls) {
    if (control.pointer == PointerArea::Rect && control.rect.Contains(x, y)) return control.id;
  }
  for (const Control& control : list.controls) {
    if (control.pointer == PointerArea::Row && control.row.Contains(x, y)) return control.id;
  }
  std::optional<LegalDocument> title;  // laid out once, for the first title on the list
  for (const Control& control : list.controls) {
    if (control.pointer != PointerArea::Sentence || !sentence) continue;
    if (!title) title = sentence(x, y);
    if (*title == control.document) return control.id;
  }
  return std::nullopt;
}

bool IsCaption(const PageView& view, float x, float y) {
  return y < kCaptionBottom && !HitTest(PageControls(view), x, y, {});
}

bool IsCursorTarget(const PageView& view, float x, float y, const SentenceHitTest& sentence) {
  if (view.dialog != DialogKind::NoDialog) {
    return HitTest(OverlayControls(view), x, y, sentence).has_value();
  }
  const std::vector<DesignRect>& targets = AllPagesTargets();
  return std::any_of(targets.begin(), targets.end(),
                     [&](const DesignRect& area) { return area.Contains(x, y); });
}

bool IsOverHoverButton(const PageView& view, float x, float y) {
  if (view.dialog != DialogKind::NoDialog) return false;
  PageView shown;
  shown.status.stage =
      view.page() == Page::CustomOptions ? InstallStage::CustomOptions : InstallStage::Welcome;
  for (const Control& control : PageControls(shown).controls) {
    if (control.hoverTracked && control.rect.Contains(x, y)) return true;
  }
  return false;
}

std::optional<ControlId> NextFocus(const ControlList& list, std::optional<ControlId> from,
                                   bool backwards) {
  std::vector<ControlId> order;
  std::optional<std::size_t> at;
  for (const Control& control : list.controls) {
    if (!control.takesFocus) continue;
    if (from == control.id) at = order.size();
    order.push_back(control.id);
  }
  if (order.empty()) return std::nullopt;
  const std::size_t count = order.size();
  if (!at) return backwards ? order.back() : order.front();
  return order[backwards ? (*at + count - 1) % count : (*at + 1) % count];
}

}  // namespace lum::installer
