#include "ui/paint/page_painter.h"

#include <string_view>

#include "ui/page/layout.h"
#include "ui/page/texts.h"

namespace lum::installer {
namespace {

constexpr wchar_t kFontFamily[] = L"Microsoft YaHei UI";
constexpr wchar_t kFontLocale[] = L"zh-CN";

D2D1_RECT_F ToRect(const DesignRect& rect) {
  return D2D1::RectF(rect.left, rect.top, rect.right, rect.bottom);
}

D2D1_ROUNDED_RECT Rounded(const DesignRect& rect, float radius) {
  return D2D1::RoundedRect(ToRect(rect), radius, radius);
}

HRESULT CreateTextFormat(IDWriteFactory* factory, float size, DWRITE_FONT_WEIGHT weight,
                         ComPtr<IDWriteTextFormat>& format) {
  if (factory == nullptr) return E_POINTER;
  const HRESULT hr =
      factory->CreateTextFormat(kFontFamily, nullptr, weight, DWRITE_FONT_STYLE_NORMAL,
                                DWRITE_FONT_STRETCH_NORMAL, size, kFontLocale, format.Put());
  if (FAILED(hr)) return hr;
  return format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
}

void DrawLabel(const PaintContext& context, std::wstring_view text, float size,
               DWRITE_FONT_WEIGHT weight, const DesignRect& rect, const D2D1_COLOR_F& color,
               DWRITE_TEXT_ALIGNMENT alignment) {
  ComPtr<IDWriteTextFormat> format;
  if (FAILED(CreateTextFormat(context.textFactory, size, weight, format))) return;
  if (FAILED(format->SetTextAlignment(alignment))) return;
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(color, brush.Put()))) return;
  context.target->DrawText(text.data(), static_cast<UINT32>(text.size()), format.Get(),
                           ToRect(rect), brush.Get(), D2D1_DRAW_TEXT_OPTIONS_CLIP,
                           DWRITE_MEASURING_MODE_NATURAL);
}

void FillRect(const PaintContext& context, const DesignRect& rect, const D2D1_COLOR_F& color) {
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(color, brush.Put()))) return;
  context.target->FillRectangle(ToRect(rect), brush.Get());
}

void FillRoundedRect(const PaintContext& context, const DesignRect& rect, float radius,
                     const D2D1_COLOR_F& color) {
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(color, brush.Put()))) return;
  context.target->FillRoundedRectangle(Rounded(rect, radius), brush.Get());
}

// The palette's outline, when it has one.
void DrawOutline(const PaintContext& context, const DesignRect& rect, float radius) {
  if (context.colours.outline.a == 0.0f) return;
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.outline, brush.Put()))) return;
  context.target->DrawRoundedRectangle(Rounded(rect, radius), brush.Get(), 1.5f);
}

void DrawImage(const PaintContext& context, ID2D1Bitmap* image, const DesignRect& rect) {
  if (image == nullptr || !context.colours.images) return;
  context.target->DrawBitmap(image, ToRect(rect), 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR,
                             nullptr);
}

void DrawLine(const PaintContext& context, ID2D1Brush* brush, float x1, float y1, float x2,
              float y2, float width) {
  context.target->DrawLine(D2D1::Point2F(x1, y1), D2D1::Point2F(x2, y2), brush, width);
}

// A primary button is a gradient (hover and press colours when hover-tracked), or gray while not
// enabled; its label is bold and centred.
void DrawButton(const PaintContext& context, const Control& button, float radius, float fontSize) {
  const DesignRect& rect = button.rect;
  if (button.enabled) {
    const bool hovered = button.hoverTracked && context.hover;
    D2D1_COLOR_F start = context.colours.primaryStart;
    D2D1_COLOR_F end = context.colours.primaryEnd;
    if (context.pressed && hovered) {
      start = context.colours.pressedStart;
      end = context.colours.pressedEnd;
    } else if (hovered) {
      start = context.colours.hoverStart;
      end = context.colours.hoverEnd;
    }
    const D2D1_GRADIENT_STOP stops[] = {{0.0f, start}, {1.0f, end}};
    ComPtr<ID2D1GradientStopCollection> collection;
    ComPtr<ID2D1LinearGradientBrush> gradient;
    if (SUCCEEDED(context.target->CreateGradientStopCollection(
            stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP, collection.Put())) &&
        SUCCEEDED(context.target->CreateLinearGradientBrush(
            D2D1::LinearGradientBrushProperties(D2D1::Point2F(rect.left, rect.top),
                                                D2D1::Point2F(rect.right, rect.top)),
            collection.Get(), gradient.Put()))) {
      context.target->FillRoundedRectangle(Rounded(rect, radius), gradient.Get());
    }
  } else {
    FillRoundedRect(context, rect, radius, context.colours.disabledFill);
    DrawOutline(context, rect, radius);
  }
  DrawLabel(context, button.label, fontSize, DWRITE_FONT_WEIGHT_BOLD, rect,
            button.enabled ? context.colours.primaryText : context.colours.disabledText,
            DWRITE_TEXT_ALIGNMENT_CENTER);
}

// A secondary button: flat translucent fill and a dark bold label.
void DrawFlatButton(const PaintContext& context, const Control& button) {
  FillRoundedRect(context, button.rect, 36, context.colours.flatFill);
  DrawOutline(context, button.rect, 36);
  DrawLabel(context, button.label, 23, DWRITE_FONT_WEIGHT_BOLD, button.rect,
            context.colours.flatText, DWRITE_TEXT_ALIGNMENT_CENTER);
}

// A round mark at the left of the rectangle and the label right of it.
void DrawCheckOption(const PaintContext& context, const Control& option) {
  const float l = option.rect.left;
  const float t = option.rect.top;
  ComPtr<ID2D1SolidColorBrush> circle;
  if (SUCCEEDED(context.target->CreateSolidColorBrush(
          option.checked ? context.colours.checked : context.colours.unchecked, circle.Put()))) {
    context.target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(l + 11, t + 19), 11, 11), circle.Get());
  }
  ComPtr<ID2D1SolidColorBrush> ring;
  if (!option.checked && context.colours.outline.a != 0.0f &&
      SUCCEEDED(context.target->CreateSolidColorBrush(context.colours.outline, ring.Put()))) {
    context.target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(l + 11, t + 19), 10.25f, 10.25f),
                                ring.Get(), 1.5f);
  }
  ComPtr<ID2D1SolidColorBrush> tick;
  if (option.checked &&
      SUCCEEDED(context.target->CreateSolidColorBrush(context.colours.tick, tick.Put()))) {
    DrawLine(context, tick.Get(), l + 6, t + 19, l + 10, t + 23, 2.2f);
    DrawLine(context, tick.Get(), l + 10, t + 23, l + 17, t + 15, 2.2f);
  }
  const bool linked = option.label.find(L'\u300A') != std::wstring::npos;
  DrawLabel(context, option.label, 18, DWRITE_FONT_WEIGHT_NORMAL,
            DesignRect{l + 30, t, option.rect.right, option.rect.bottom},
            linked ? context.colours.link : context.colours.label, DWRITE_TEXT_ALIGNMENT_LEADING);
}

void DrawGlyph(const PaintContext& context, ControlId glyph) {
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.glyph, brush.Put()))) return;
  if (glyph == ControlId::Minimize) {
    DrawLine(context, brush.Get(), 820, 45, 834, 45, 2.5f);
  } else {
    DrawLine(context, brush.Get(), 858, 37, 873, 52, 2.5f);
    DrawLine(context, brush.Get(), 873, 37, 858, 52, 2.5f);
  }
}

void DrawProgress(const PaintContext& context, const Control& bar) {
  FillRect(context, bar.rect, context.colours.progressTrack);
  DrawOutline(context, bar.rect, 0);
  const DesignRect fill{bar.rect.left, bar.rect.top, 9.0f * static_cast<float>(bar.value),
                        bar.rect.bottom};
  FillRect(context, fill, context.colours.progressFill);
}

// The sentence in dark text with the document titles in link colour.
void DrawAgreementSentence(const PaintContext& context, const DesignRect& box) {
  ComPtr<IDWriteTextLayout> sentence;
  if (FAILED(CreateAgreementLayout(context.textFactory, sentence))) return;
  ComPtr<ID2D1SolidColorBrush> text;
  ComPtr<ID2D1SolidColorBrush> link;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.text, text.Put())) ||
      FAILED(context.target->CreateSolidColorBrush(context.colours.link, link.Put()))) {
    return;
  }
  for (const SentenceLink& range : kAgreementLinks) {
    sentence->SetDrawingEffect(link.Get(), DWRITE_TEXT_RANGE{range.start, range.length});
  }
  context.target->DrawTextLayout(D2D1::Point2F(box.left, box.top), sentence.Get(), text.Get(),
                                 D2D1_DRAW_TEXT_OPTIONS_CLIP);
}

void DrawControl(const PaintContext& context, const PageView& view, const Control& control) {
  switch (control.id) {
    case ControlId::Minimize:
    case ControlId::Close:
      DrawGlyph(context, control.id);
      return;
    case ControlId::AgreementMark:
    case ControlId::DesktopOption:
    case ControlId::StartMenuOption:
      DrawCheckOption(context, control);
      return;
    case ControlId::UserAgreementLink:
    case ControlId::PrivacyPolicyLink:
    case ControlId::VipServiceLink:
      DrawLabel(context, control.label, 17, DWRITE_FONT_WEIGHT_NORMAL, control.rect,
                context.colours.link, DWRITE_TEXT_ALIGNMENT_LEADING);
      return;
    case ControlId::CustomInstallLink:
      DrawLabel(context, control.label, 18, DWRITE_FONT_WEIGHT_NORMAL, control.rect,
                context.colours.label, DWRITE_TEXT_ALIGNMENT_TRAILING);
      return;
    case ControlId::WelcomeInstall:
    case ControlId::CustomInstall:
    case ControlId::Launch:
    case ControlId::DialogConfirm:
      DrawButton(context, control, 36, 23);
      return;
    case ControlId::ChangeFolder:
      DrawButton(context, control, 6, 18);
      return;
    case ControlId::Back:
    case ControlId::DialogCancel:
      DrawFlatButton(context, control);
      return;
    case ControlId::PathField: {
      // The native field lies inside; this is its frame.
      ComPtr<ID2D1SolidColorBrush> outline;
      if (SUCCEEDED(context.target->CreateSolidColorBrush(context.colours.pathBoxOutline,
                                                          outline.Put()))) {
        context.target->DrawRoundedRectangle(Rounded(control.rect, 6), outline.Get(), 1.5f);
      }
      return;
    }
    case ControlId::Progress:
      DrawProgress(context, control);
      return;
    case ControlId::CompletedText:
      DrawLabel(context, control.label, 30, DWRITE_FONT_WEIGHT_NORMAL, control.rect,
                context.colours.label, DWRITE_TEXT_ALIGNMENT_CENTER);
      return;
    case ControlId::DialogTitle:
      DrawLabel(context, control.label, 30, DWRITE_FONT_WEIGHT_BOLD, control.rect,
                context.colours.text, DWRITE_TEXT_ALIGNMENT_CENTER);
      return;
    case ControlId::DialogBody:
      if (view.dialog == DialogKind::AgreementRequired) {
        DrawAgreementSentence(context, control.rect);
      } else {
        DrawLabel(context, control.label, 27, DWRITE_FONT_WEIGHT_BOLD, control.rect,
                  context.colours.text, DWRITE_TEXT_ALIGNMENT_CENTER);
      }
      return;
    case ControlId::SentenceUserAgreement:
    case ControlId::SentencePrivacyPolicy:
    case ControlId::SentenceVipService:
      return;  // drawn with the sentence
  }
}

void DrawDecoration(const PaintContext& context, const Decoration& decoration) {
  const DesignRect& rect = decoration.rect;
  switch (decoration.kind) {
    case DecorationKind::Canvas:
      FillRect(context, rect, context.colours.canvas);
      return;
    case DecorationKind::Hero:
      DrawImage(context, context.heroImage, rect);
      return;
    case DecorationKind::Logo:
      DrawImage(context, context.logoImage, rect);
      return;
    case DecorationKind::Title:
      DrawLabel(context, decoration.text, 42, DWRITE_FONT_WEIGHT_BOLD, rect, context.colours.text,
                DWRITE_TEXT_ALIGNMENT_CENTER);
      return;
    case DecorationKind::SpaceFigure:
      DrawLabel(context, decoration.text, 17, DWRITE_FONT_WEIGHT_NORMAL, rect,
                context.colours.label, DWRITE_TEXT_ALIGNMENT_CENTER);
      return;
    case DecorationKind::Percentage:
      DrawLabel(context, decoration.text, 22, DWRITE_FONT_WEIGHT_NORMAL, rect,
                context.colours.label, DWRITE_TEXT_ALIGNMENT_CENTER);
      return;
    case DecorationKind::Scrim:
      FillRect(context, rect, context.colours.scrim);
      return;
    case DecorationKind::Card:
      FillRoundedRect(context, rect, 12, context.colours.card);
      DrawOutline(context, rect, 12);
      return;
  }
}

// Outside a button, on a link's or mark's own bounds (neighbours are 3 units apart) and on the
// path box's outline; in design units, so it grows with the DPI like everything else.
void DrawFocusRing(const PaintContext& context, const Control& control) {
  const DesignRect& r = control.rect;
  float inset = 0;
  float radius = 4;
  if (control.role == ControlRole::Button) {
    // Rounded like the button: the tall ones are pills, the folder button has small corners.
    inset = -5;
    radius = r.Height() >= 70 ? r.Height() / 2 - inset : 6 - inset;
  } else if (control.role == ControlRole::Edit) {
    radius = 6;
  }
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.focusRing, brush.Put()))) return;
  const DesignRect ring{r.left + inset, r.top + inset, r.right - inset, r.bottom - inset};
  context.target->DrawRoundedRectangle(Rounded(ring, radius), brush.Get(), 3.0f);
}

}  // namespace

HRESULT CreateAgreementLayout(IDWriteFactory* factory, ComPtr<IDWriteTextLayout>& layout) {
  ComPtr<IDWriteTextFormat> format;
  HRESULT hr = CreateTextFormat(factory, 18, DWRITE_FONT_WEIGHT_NORMAL, format);
  if (FAILED(hr)) return hr;
  hr = format->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
  if (FAILED(hr)) return hr;
  const std::wstring_view sentence = kAgreementSentence;
  return factory->CreateTextLayout(sentence.data(), static_cast<UINT32>(sentence.size()),
                                   format.Get(), layout::kAgreementBox.Width(),
                                   layout::kAgreementBox.Height(), layout.Put());
}

LegalDocument LegalLinkAt(IDWriteFactory* factory, float x, float y) {
  const DesignRect& box = layout::kAgreementBox;
  if (!box.Contains(x, y)) return LegalDocument::None;
  ComPtr<IDWriteTextLayout> sentence;
  if (FAILED(CreateAgreementLayout(factory, sentence))) return LegalDocument::None;
  BOOL trailing = FALSE;
  BOOL inside = FALSE;
  DWRITE_HIT_TEST_METRICS metrics{};
  if (FAILED(sentence->HitTestPoint(x - box.left, y - box.top, &trailing, &inside, &metrics)) ||
      !inside) {
    return LegalDocument::None;
  }
  return DocumentAtSentencePosition(metrics.textPosition);
}

void PaintWindow(const PaintContext& context, const PageView& view,
                 std::optional<ControlId> focusRing) {
  if (context.target == nullptr) return;
  context.target->SetTransform(D2D1::Matrix3x2F::Scale(kDesignScale, kDesignScale));
  for (const Decoration& decoration : PageDecorations(view)) DrawDecoration(context, decoration);
  const ControlList page = PageControls(view);
  for (const Control& control : page.controls) DrawControl(context, view, control);
  for (const Decoration& decoration : OverlayDecorations(view)) {
    DrawDecoration(context, decoration);
  }
  const ControlList overlay = OverlayControls(view);
  for (const Control& control : overlay.controls) DrawControl(context, view, control);
  const ControlList& input = view.dialog != DialogKind::NoDialog ? overlay : page;
  if (const Control* focused = focusRing ? input.Find(*focusRing) : nullptr) {
    DrawFocusRing(context, *focused);
  }
  context.target->SetTransform(D2D1::Matrix3x2F::Identity());
}

}  // namespace lum::installer
