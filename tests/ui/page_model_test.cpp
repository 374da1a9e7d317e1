// The page model without a window, as properties of every state the window can show: every
// page and overlay (each failure's retry button too), the agreement mark and the shortcut marks
// set and cleared. For each control of each state: it lies on the canvas, a click at its centre
// reaches it (and only it), its UI Automation element has its rectangle and state, and
// activating it does what that click does.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "base/variant.h"
#include "ui/accessibility/uia_providers.h"
#include "ui/page/activation.h"
#include "ui/page/controls.h"

namespace lum::installer {
namespace {

constexpr float kScale = 1.5f;  // pixels per design unit: any scale will do

std::vector<PageView> AllStates() {
  std::vector<PageView> states;
  for (int stage = 0; stage <= 7; ++stage) {
    for (int dialog = 0; dialog <= 5; ++dialog) {
      for (const wchar_t* code : {L"", kErrorDiskSpace, kErrorNetwork}) {
        if (*code != 0 && dialog != static_cast<int>(DialogKind::InstallError)) continue;
        for (const bool marks : {true, false}) {
          PageView view;
          view.status = {static_cast<InstallStage>(stage), 45, L"消息", code};
          view.dialog = static_cast<DialogKind>(dialog);
          view.agreed = view.desktopShortcut = marks;
          view.startMenuShortcut = !marks;
          view.installPath = LR"(D:\Apps\Lumora)";
          states.push_back(view);
        }
      }
    }
  }
  return states;
}

std::string Describe(const PageView& view, const Control& control) {
  return "stage " + std::to_string(static_cast<int>(view.status.stage)) + " dialog " +
         std::to_string(static_cast<int>(view.dialog)) + " agreed " + std::to_string(view.agreed) +
         " control " + std::to_string(static_cast<int>(control.id));
}

// The sentence's layout stands in for DirectWrite's (which Wine 8 cannot hit-test): each title
// lies where the test says.
SentenceHitTest TitleAt(LegalDocument document) {
  return [document](float x, float y) {
    return layout::kAgreementBox.Contains(x, y) ? document : LegalDocument::None;
  };
}

TEST(PageModel, EveryControlOfEveryStateIsWhereTheScreenReaderAndThePointerFindIt) {
  const UiaApi noEvents{};
  for (const PageView& view : AllStates()) {
    const ControlList list = InputControls(view);
    const auto tree = std::make_shared<AccessibleTree>(noEvents, nullptr, nullptr, L"window");
    tree->Replace({list.controls, list.initialFocus, kScale}, true);
    std::vector<int> children;
    for (int i = tree->Sibling(-1, +1); i >= 0; i = tree->Sibling(i, +1)) children.push_back(i);
    std::size_t child = 0;
    for (std::size_t i = 0; i < list.controls.size(); ++i) {
      const Control& control = list.controls[i];
      SCOPED_TRACE(Describe(view, control));
      EXPECT_TRUE(layout::kCanvas.Contains(control.rect.left, control.rect.top) &&
                  layout::kCanvas.Contains(control.rect.right, control.rect.bottom));
      const float x = control.rect.CentreX();
      const float y = control.rect.CentreY();
      const std::optional<ControlId> hit = HitTest(list, x, y, TitleAt(control.document));
      if (control.pointer == PointerArea::None) {
        EXPECT_FALSE(hit.has_value()) << "its centre belongs to nothing that takes the pointer";
      } else {
        EXPECT_EQ(hit, control.id);
      }

      // Activating it is what the click at its centre does; a mark flips its own state only.
      PageView clicked = view;
      PageView activated = view;
      const Activation byClick = hit ? Activate(clicked, *hit) : Activation{};
      const Activation byId = Activate(activated, control.id);
      if (control.pointer != PointerArea::None) {
        EXPECT_EQ(byId, byClick);
        EXPECT_EQ(activated, clicked);
      }
      if (control.role == ControlRole::CheckBox) {
        const Control* after = InputControls(activated).Find(control.id);
        ASSERT_NE(after, nullptr);
        EXPECT_NE(after->checked, control.checked);
        EXPECT_EQ(byId.command, Command::None);
      } else if (control.role == ControlRole::Text || control.role == ControlRole::ProgressBar) {
        EXPECT_EQ(activated, view) << "a text does nothing";
        EXPECT_EQ(byId.command, Command::None);
      } else {
        EXPECT_TRUE(byId.command != Command::None || !(activated == view)) << "does something";
      }

      // Its UI Automation element, when it has one of its own.
      const bool isChild = control.announced && control.role != ControlRole::Edit;
      ASSERT_EQ(child < children.size() && children[child] == static_cast<int>(i), isChild);
      if (!isChild) continue;
      ++child;
      ComPtr<IRawElementProviderSimple> element = tree->ChildProvider(i);
      ComPtr<IRawElementProviderFragment> fragment;
      ASSERT_TRUE(SUCCEEDED(element.As(fragment)));
      UiaRect rect{};
      ASSERT_TRUE(SUCCEEDED(fragment->get_BoundingRectangle(&rect)));
      EXPECT_FLOAT_EQ(rect.left, control.rect.left * kScale);
      EXPECT_FLOAT_EQ(rect.top, control.rect.top * kScale);
      EXPECT_FLOAT_EQ(rect.width, control.rect.Width() * kScale);
      EXPECT_FLOAT_EQ(rect.height, control.rect.Height() * kScale);
      EXPECT_EQ(tree->ChildAt(x * kScale, y * kScale), static_cast<int>(i));
      Variant name;
      element->GetPropertyValue(UIA_NamePropertyId, name.Put());
      EXPECT_EQ(std::wstring(name.Get().vt == VT_BSTR ? name.Get().bstrVal : L"?"), control.label);
      ComPtr<IUnknown> toggle;
      element->GetPatternProvider(UIA_TogglePatternId, toggle.Put());
      ASSERT_EQ(static_cast<bool>(toggle), control.role == ControlRole::CheckBox);
      if (toggle) {
        Variant state;
        element->GetPropertyValue(UIA_ToggleToggleStatePropertyId, state.Put());
        EXPECT_EQ(state.Get().lVal, control.checked ? uia::kToggleOn : uia::kToggleOff);
      }
    }
    EXPECT_EQ(child, children.size());
    static_cast<void>(tree->Close());
  }
}

TEST(PageModel, FocusStartsOnATargetOfTheListAndOnTheSafeAnswerOfDestructiveQuestions) {
  for (const PageView& view : AllStates()) {
    const ControlList list = InputControls(view);
    SCOPED_TRACE(static_cast<int>(view.status.stage) * 10 + static_cast<int>(view.dialog));
    if (!list.initialFocus) {
      EXPECT_FALSE(NextFocus(list, std::nullopt, false).has_value()) << "nothing to Tab to";
      continue;
    }
    const Control* first = list.Find(*list.initialFocus);
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->takesFocus);
    const bool destructive =
        view.dialog == DialogKind::ExitConfirm || view.dialog == DialogKind::ForceCloseConfirm;
    if (view.dialog != DialogKind::NoDialog) {
      EXPECT_EQ(*list.initialFocus,
                destructive ? ControlId::DialogCancel : ControlId::DialogConfirm);
    }
    // Tab visits every focusable control once and comes back.
    std::optional<ControlId> at = list.initialFocus;
    std::size_t steps = 0;
    do {
      at = NextFocus(list, at, false);
      ++steps;
    } while (at != list.initialFocus && steps < 20);
    std::size_t focusable = 0;
    for (const Control& control : list.controls) focusable += control.takesFocus;
    EXPECT_EQ(steps, focusable);
  }
}

}  // namespace
}  // namespace lum::installer
