// Drawing of the window from its page model: the frame, the page's decorations and controls, the
// overlay's, and the keyboard's focus ring. Nothing is kept between paints: formats, brushes and
// layouts are made per element and let go.
#pragma once

#include <windows.h>
#include <d2d1.h>
#include <dwrite.h>

#include <optional>

#include "base/handles.h"
#include "ui/page/controls.h"
#include "ui/page/page_view.h"
#include "ui/paint/palette.h"

namespace lum::installer {

// What one paint draws with: the target, the text factory, the images (null: left out), the
// colours, and the pointer's hover and press over the hover-tracked buttons.
struct PaintContext {
  ID2D1RenderTarget* target = nullptr;
  IDWriteFactory* textFactory = nullptr;
  bool hover = false;
  bool pressed = false;
  Palette colours;
  ID2D1Bitmap* heroImage = nullptr;
  ID2D1Bitmap* logoImage = nullptr;
};

// The agreement sentence of the AgreementRequired overlay, laid out in its box.
HRESULT CreateAgreementLayout(IDWriteFactory* factory, ComPtr<IDWriteTextLayout>& layout);
// The document whose title in the overlay's agreement sentence lies under the point.
LegalDocument LegalLinkAt(IDWriteFactory* factory, float x, float y);

// One whole paint between BeginDraw and EndDraw: scale, frame, page, overlay, and the ring
// around the focused control once the keyboard has been used.
void PaintWindow(const PaintContext& context, const PageView& view,
                 std::optional<ControlId> focusRing);

}  // namespace lum::installer
