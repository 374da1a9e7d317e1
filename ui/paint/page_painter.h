// Drawing of the window: the frame, the four pages, the overlay and their primitives. Nothing
// is kept between paints: formats, brushes and layouts are made per element and let go.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/handles.h"
#include "core/installer_types.h"
#include "ui/page/layout.h"
#include "ui/page/controls.h"
#include "ui/paint/palette.h"

namespace lum::installer {

enum class DialogKind : std::int32_t {
  NoDialog = 0,
  ExitConfirm = 1,
  InstallError = 2,
  CloseAppConfirm = 3,
  ForceCloseConfirm = 4,
  AgreementRequired = 5,
};

enum class LegalDocument { None, UserAgreement, PrivacyPolicy, VipService };

// The document's web address on the legal-document host of this build.
std::wstring LegalDocumentUrl(LegalDocument document);

// Everything one paint shows, taken from the window's state.
struct PageView {
  InstallStage stage = InstallStage::Welcome;
  std::int32_t progress = 0;
  std::wstring message;
  std::wstring errorCode;
  DialogKind dialog = DialogKind::NoDialog;
  bool agreed = true;
  bool desktopShortcut = true;
  bool startMenuShortcut = true;
  std::wstring installPath;  // the path field's text, read for the custom-install page only
  ID2D1Bitmap* heroImage = nullptr;
  ID2D1Bitmap* logoImage = nullptr;
  std::optional<FocusTarget> focusRing;  // set only once the keyboard has been used
};

// What the primitives draw with; hover and pressed select the primary buttons' colours.
struct PaintContext {
  ID2D1RenderTarget* target = nullptr;
  IDWriteFactory* textFactory = nullptr;
  bool hover = false;
  bool pressed = false;
  Palette colours;
};

void DrawLabel(const PaintContext& context, std::wstring_view text, float size,
               DWRITE_FONT_WEIGHT weight, const DesignRect& rect, const D2D1_COLOR_F& color,
               DWRITE_TEXT_ALIGNMENT alignment);
void DrawButton(const PaintContext& context, const DesignRect& rect, std::wstring_view label,
                bool primary, bool enabled, float radius, float fontSize, bool hoverTracked);
void DrawCheckOption(const PaintContext& context, const DesignRect& rect, std::wstring_view label,
                     bool checked);

// The agreement sentence of the AgreementRequired overlay, 720 x 75 design units.
HRESULT CreateAgreementLayout(IDWriteFactory* factory, ComPtr<IDWriteTextLayout>& layout);
// The document whose title in the overlay's agreement sentence lies under the point.
LegalDocument LegalLinkAt(IDWriteFactory* factory, float x, float y);

// "可用空间：" and whole GiB, or "--" when nothing is known (0 bytes).
std::wstring FreeSpaceText(std::uint64_t bytes);
// "正在安装 " and the percentage clamped to 0-100.
std::wstring ProgressText(std::int32_t progress);
// The title, body, confirm and cancel labels of an overlay. Only the agreement question has a
// title; its body is drawn as a layout with the document titles in link colour.
struct DialogTexts {
  std::wstring title;
  std::wstring body;
  std::wstring confirm;
  std::wstring cancel;
};
DialogTexts TextsForDialog(DialogKind kind, const std::wstring& statusMessage,
                           const std::wstring& errorCode);

// One whole paint between BeginDraw and EndDraw: scale, frame, page, overlay, focus ring.
void PaintWindow(const PaintContext& context, const PageView& view);

}  // namespace lum::installer
