// The controls of each page and overlay: the one list that the painter draws, the pointer
// hit-tests, the keyboard walks and a screen reader is given. Each control says where it lies,
// what it shows, what state it is in, whether the keyboard stops on it and where the pointer
// takes it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ui/page/layout.h"
#include "ui/page/page_view.h"
#include "ui/page/texts.h"

namespace lum::installer {

enum class ControlId : std::uint8_t {
  // The frame, on every page.
  Minimize,
  Close,
  // Welcome page.
  AgreementMark,
  UserAgreementLink,
  PrivacyPolicyLink,
  VipServiceLink,
  CustomInstallLink,
  WelcomeInstall,
  // Custom-install page.
  PathField,
  ChangeFolder,
  DesktopOption,
  StartMenuOption,
  CustomInstall,
  Back,
  // Progress and completion pages.
  Progress,
  CompletedText,
  Launch,
  // Overlay.
  DialogTitle,
  DialogBody,
  SentenceUserAgreement,
  SentencePrivacyPolicy,
  SentenceVipService,
  DialogCancel,
  DialogConfirm,
};

enum class ControlRole { Button, CheckBox, Link, Edit, ProgressBar, Text };

// Where the pointer takes a control.
enum class PointerArea {
  None,      // nowhere: texts, the progress bar, and the path field, a window of its own
  Rect,      // its rectangle
  Row,       // the row given, behind the controls standing in it (the agreement mark's)
  Sentence,  // its title inside the agreement sentence, wherever the sentence's layout puts it
};

struct Control {
  ControlId id;
  ControlRole role;
  DesignRect rect;            // where it is drawn, ringed and announced
  std::wstring label;         // as shown: the path field's path, the progress text
  bool checked = false;       // a check box's state
  bool enabled = true;        // false: a primary button drawn gray; it still takes clicks
  std::int32_t value = 0;     // the progress bar's percentage, 0-100
  bool alert = false;         // read out as soon as it appears: a failure's message
  bool takesFocus = false;    // the keyboard stops on it
  bool hoverTracked = false;  // drawn in hover colours while the pointer is over it
  bool announced = true;      // a screen reader is told of it
  PointerArea pointer = PointerArea::None;
  DesignRect row{};                              // for PointerArea::Row
  LegalDocument document = LegalDocument::None;  // what a link opens
};

struct ControlList {
  std::vector<Control> controls;          // in reading order, which is also the Tab order
  std::optional<ControlId> initialFocus;  // where the keyboard starts on this page or overlay

  const Control* Find(ControlId id) const;
};

// What a page or overlay shows besides its controls.
enum class DecorationKind {
  Canvas,       // the background
  Hero,         // the image across the top of every page
  Logo,         // the logo image
  Title,        // the product's name
  SpaceFigure,  // the required and the free space on the options page
  Percentage,   // the progress text under the bar
  Scrim,        // the dimming under an overlay
  Card,         // the overlay's card
};
struct Decoration {
  DecorationKind kind;
  DesignRect rect;
  std::wstring text;
};
// The frame and the page's own, drawn before the page's controls.
std::vector<Decoration> PageDecorations(const PageView& view);
// The scrim and the card, drawn over the page before the overlay's controls; none without one.
std::vector<Decoration> OverlayDecorations(const PageView& view);

// The page the view's stage shows, whatever overlay is over it. Under a failure (the welcome
// page) the page's own controls are shown only: until its overlay is answered only the window
// glyphs answer.
ControlList PageControls(const PageView& view);
// The overlay's controls; none without one. An overlay takes every click, the glyphs' too.
ControlList OverlayControls(const PageView& view);
// What takes input: the overlay while one is up, else the page.
ControlList InputControls(const PageView& view);

// Which document's title in the agreement sentence lies under a point: the sentence's layout
// (the painter's) knows, the page does not.
using SentenceHitTest = std::function<LegalDocument(float x, float y)>;

// The control a click at the point (design units) reaches: a control's own rectangle wins over
// a row behind it. None where nothing takes the pointer.
std::optional<ControlId> HitTest(const ControlList& list, float x, float y,
                                 const SentenceHitTest& sentence);

// The strip the window is dragged by: the top of the canvas, but for the controls there (the
// window glyphs, on every page and under every overlay).
bool IsCaption(const PageView& view, float x, float y);

// Where the pointer shows the hand. With no overlay this is any page's target, wherever the
// window is: one list for all pages, so the hand also shows over another page's buttons (where
// a click does nothing).
bool IsCursorTarget(const PageView& view, float x, float y, const SentenceHitTest& sentence);

// Whether the pointer is over the hover-tracked install button: the custom page's while that page
// shows, the welcome page's on every other page; never under an overlay.
bool IsOverHoverButton(const PageView& view, float x, float y);

// The next control in Tab order after from (or the first, or the last going backwards, when from
// is none or not on the list); none when nothing on the list takes the keyboard.
std::optional<ControlId> NextFocus(const ControlList& list, std::optional<ControlId> from,
                                   bool backwards);

}  // namespace lum::installer
