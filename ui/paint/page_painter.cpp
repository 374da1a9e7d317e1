#include "ui/paint/page_painter.h"

#include <algorithm>

#include "core/build_config.h"
#include "system/install_location.h"
#include "ui/page/texts.h"

namespace lum::installer {
namespace {

constexpr wchar_t kFontFamily[] = L"Microsoft YaHei UI";
constexpr wchar_t kFontLocale[] = L"zh-CN";
constexpr wchar_t kProductTitle[] = L"LumoraMP3转换器";
constexpr wchar_t kAgreementSentence[] =
    L"请先阅读《用户协议》《隐私政策》《会员服务协议》并勾选同意";

struct LinkRange {
  UINT32 start;
  UINT32 length;
  LegalDocument document;
};
constexpr LinkRange kAgreementLinks[] = {
    {4, 6, LegalDocument::UserAgreement},
    {10, 6, LegalDocument::PrivacyPolicy},
    {16, 8, LegalDocument::VipService},
};

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

// A secondary button: flat translucent fill and a dark bold label.
void DrawFlatButton(const PaintContext& context, const DesignRect& rect, std::wstring_view label) {
  FillRoundedRect(context, rect, 36, context.colours.flatFill);
  DrawOutline(context, rect, 36);
  DrawLabel(context, label, 23, DWRITE_FONT_WEIGHT_BOLD, rect, context.colours.flatText,
            DWRITE_TEXT_ALIGNMENT_CENTER);
}

void DrawFrame(const PaintContext& context, const PageView& view) {
  FillRect(context, layout::kCanvas, context.colours.canvas);
  DrawImage(context, view.heroImage, layout::kHero);
  ComPtr<ID2D1SolidColorBrush> glyph;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.glyph, glyph.Put()))) return;
  DrawLine(context, glyph.Get(), 820, 45, 834, 45, 2.5f);
  DrawLine(context, glyph.Get(), 858, 37, 873, 52, 2.5f);
  DrawLine(context, glyph.Get(), 873, 37, 858, 52, 2.5f);
}

void DrawWelcomePage(const PaintContext& context, const PageView& view) {
  DrawImage(context, view.logoImage, layout::kWelcomeLogo);
  DrawLabel(context, kProductTitle, 42, DWRITE_FONT_WEIGHT_BOLD, layout::kWelcomeTitle,
            context.colours.text, DWRITE_TEXT_ALIGNMENT_CENTER);
  DrawButton(context, layout::kWelcomeInstall, labels::kInstall, true, view.agreed, 36, 23, true);
  DrawCheckOption(context, layout::kAgreementCheck, labels::kAgree, view.agreed);
  DrawLabel(context, labels::kUserAgreement, 17, DWRITE_FONT_WEIGHT_NORMAL,
            layout::kUserAgreementLink, context.colours.link, DWRITE_TEXT_ALIGNMENT_LEADING);
  DrawLabel(context, labels::kPrivacyPolicy, 17, DWRITE_FONT_WEIGHT_NORMAL,
            layout::kPrivacyPolicyLink, context.colours.link, DWRITE_TEXT_ALIGNMENT_LEADING);
  DrawLabel(context, labels::kVipService, 17, DWRITE_FONT_WEIGHT_NORMAL, layout::kVipServiceLink,
            context.colours.link, DWRITE_TEXT_ALIGNMENT_LEADING);
  DrawLabel(context, labels::kCustomInstall, 18, DWRITE_FONT_WEIGHT_NORMAL,
            layout::kCustomInstallLink, context.colours.label, DWRITE_TEXT_ALIGNMENT_TRAILING);
}

void DrawCustomPage(const PaintContext& context, const PageView& view) {
  ComPtr<ID2D1SolidColorBrush> outline;
  if (SUCCEEDED(
          context.target->CreateSolidColorBrush(context.colours.pathBoxOutline, outline.Put()))) {
    context.target->DrawRoundedRectangle(Rounded(layout::kPathBox, 6), outline.Get(), 1.5f);
  }
  DrawButton(context, layout::kChangeFolder, labels::kChangeFolder, true, true, 6, 18, false);
  DrawCheckOption(context, layout::kDesktopOption, labels::kDesktopShortcut, view.desktopShortcut);
  DrawCheckOption(context, layout::kStartMenuOption, labels::kStartMenu, view.startMenuShortcut);
  DrawLabel(context, L"所需空间：281MB", 17, DWRITE_FONT_WEIGHT_NORMAL, layout::kRequiredSpace,
            context.colours.label, DWRITE_TEXT_ALIGNMENT_CENTER);
  DrawLabel(context, FreeSpaceText(AvailableDiskSpace(view.installPath)), 17,
            DWRITE_FONT_WEIGHT_NORMAL, layout::kFreeSpace, context.colours.label,
            DWRITE_TEXT_ALIGNMENT_CENTER);
  DrawButton(context, layout::kCustomInstall, labels::kInstall, true, view.agreed, 36, 23, true);
  DrawFlatButton(context, layout::kBack, labels::kBack);
}

void DrawProgressPage(const PaintContext& context, const PageView& view) {
  DrawImage(context, view.logoImage, layout::kProgressLogo);
  DrawLabel(context, kProductTitle, 42, DWRITE_FONT_WEIGHT_BOLD, layout::kProgressTitle,
            context.colours.text, DWRITE_TEXT_ALIGNMENT_CENTER);
  FillRect(context, layout::kProgressTrack, context.colours.progressTrack);
  DrawOutline(context, layout::kProgressTrack, 0);
  const std::int32_t percent = std::clamp<std::int32_t>(view.progress, 0, 100);
  const DesignRect fill{layout::kProgressTrack.left, layout::kProgressTrack.top,
                        9.0f * static_cast<float>(percent), layout::kProgressTrack.bottom};
  FillRect(context, fill, context.colours.progressFill);
  DrawLabel(context, ProgressText(view.progress), 22, DWRITE_FONT_WEIGHT_NORMAL,
            layout::kProgressText, context.colours.label, DWRITE_TEXT_ALIGNMENT_CENTER);
}

void DrawCompletionPage(const PaintContext& context, const PageView& view) {
  DrawImage(context, view.logoImage, layout::kProgressLogo);
  DrawLabel(context, kTextCompleted, 30, DWRITE_FONT_WEIGHT_NORMAL, layout::kCompletedText,
            context.colours.label, DWRITE_TEXT_ALIGNMENT_CENTER);
  DrawButton(context, layout::kLaunch, labels::kLaunch, true, true, 36, 23, false);
}

void DrawAgreementBody(const PaintContext& context) {
  ComPtr<IDWriteTextLayout> sentence;
  if (FAILED(CreateAgreementLayout(context.textFactory, sentence))) return;
  ComPtr<ID2D1SolidColorBrush> text;
  ComPtr<ID2D1SolidColorBrush> link;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.text, text.Put())) ||
      FAILED(context.target->CreateSolidColorBrush(context.colours.link, link.Put()))) {
    return;
  }
  for (const LinkRange& range : kAgreementLinks) {
    sentence->SetDrawingEffect(link.Get(), DWRITE_TEXT_RANGE{range.start, range.length});
  }
  context.target->DrawTextLayout(
      D2D1::Point2F(layout::kAgreementOriginX, layout::kAgreementOriginY), sentence.Get(),
      text.Get(), D2D1_DRAW_TEXT_OPTIONS_CLIP);
}

void DrawOverlay(const PaintContext& context, const PageView& view) {
  FillRect(context, layout::kCanvas, context.colours.scrim);
  FillRoundedRect(context, layout::kDialogCard, 12, context.colours.card);
  DrawOutline(context, layout::kDialogCard, 12);
  const DialogTexts texts = TextsForDialog(view.dialog, view.message, view.errorCode);
  if (!texts.title.empty()) {
    DrawLabel(context, texts.title, 30, DWRITE_FONT_WEIGHT_BOLD, layout::kDialogTitle,
              context.colours.text, DWRITE_TEXT_ALIGNMENT_CENTER);
  }
  if (view.dialog == DialogKind::AgreementRequired) {
    DrawAgreementBody(context);
  } else {
    DrawLabel(context, texts.body, 27, DWRITE_FONT_WEIGHT_BOLD, layout::kDialogBody,
              context.colours.text, DWRITE_TEXT_ALIGNMENT_CENTER);
  }
  DrawFlatButton(context, layout::kDialogCancel, texts.cancel);
  DrawButton(context, layout::kDialogConfirm, texts.confirm, true, true, 36, 23, false);
}

// Outside a button, on a link's or mark's own bounds (neighbours are 3 units apart) and on the
// path box's outline; in design units, so it grows with the DPI like everything else.
void DrawFocusRing(const PaintContext& context, const FocusTarget& target) {
  const DesignRect& r = target.rect;
  float inset = 0;
  float radius = 4;
  if (target.kind == FocusKind::Button) {
    // Rounded like the button: the tall ones are pills, the folder button has small corners.
    inset = -5;
    radius = r.bottom - r.top >= 70 ? (r.bottom - r.top) / 2 - inset : 6 - inset;
  } else if (target.kind == FocusKind::Edit) {
    radius = 6;
  }
  ComPtr<ID2D1SolidColorBrush> brush;
  if (FAILED(context.target->CreateSolidColorBrush(context.colours.focusRing, brush.Put()))) return;
  const DesignRect ring{r.left + inset, r.top + inset, r.right - inset, r.bottom - inset};
  context.target->DrawRoundedRectangle(Rounded(ring, radius), brush.Get(), 3.0f);
}

}  // namespace

std::wstring LegalDocumentUrl(LegalDocument document) {
  std::wstring url = kLegalBaseUrl;
  switch (document) {
    case LegalDocument::UserAgreement:
      return url + L"/html/android/lumora/user_agreement.html";
    case LegalDocument::PrivacyPolicy:
      return url + L"/html/android/lumora/privacy_policy.html";
    case LegalDocument::VipService:
      return url + L"/html/android/lumora/vip_service.html";
    case LegalDocument::None:
      break;
  }
  return {};
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

void DrawButton(const PaintContext& context, const DesignRect& rect, std::wstring_view label,
                bool primary, bool enabled, float radius, float fontSize, bool hoverTracked) {
  if (primary && enabled) {
    const bool hovered = hoverTracked && context.hover;
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
    FillRoundedRect(context, rect, radius,
                    enabled ? context.colours.flatFill : context.colours.disabledFill);
    DrawOutline(context, rect, radius);
  }
  D2D1_COLOR_F text = primary ? context.colours.primaryText : context.colours.flatText;
  if (primary && !enabled) text = context.colours.disabledText;
  DrawLabel(context, label, fontSize, DWRITE_FONT_WEIGHT_BOLD, rect, text,
            DWRITE_TEXT_ALIGNMENT_CENTER);
}

void DrawCheckOption(const PaintContext& context, const DesignRect& rect, std::wstring_view label,
                     bool checked) {
  const float l = rect.left;
  const float t = rect.top;
  ComPtr<ID2D1SolidColorBrush> circle;
  if (SUCCEEDED(context.target->CreateSolidColorBrush(
          checked ? context.colours.checked : context.colours.unchecked, circle.Put()))) {
    context.target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(l + 11, t + 19), 11, 11), circle.Get());
  }
  ComPtr<ID2D1SolidColorBrush> ring;
  if (!checked && context.colours.outline.a != 0.0f &&
      SUCCEEDED(context.target->CreateSolidColorBrush(context.colours.outline, ring.Put()))) {
    context.target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(l + 11, t + 19), 10.25f, 10.25f),
                                ring.Get(), 1.5f);
  }
  ComPtr<ID2D1SolidColorBrush> tick;
  if (checked &&
      SUCCEEDED(context.target->CreateSolidColorBrush(context.colours.tick, tick.Put()))) {
    DrawLine(context, tick.Get(), l + 6, t + 19, l + 10, t + 23, 2.2f);
    DrawLine(context, tick.Get(), l + 10, t + 23, l + 17, t + 15, 2.2f);
  }
  const bool linked = label.find(L'\u300A') != std::wstring_view::npos;
  DrawLabel(context, label, 18, DWRITE_FONT_WEIGHT_NORMAL,
            DesignRect{l + 30, t, rect.right, rect.bottom},
            linked ? context.colours.link : context.colours.label, DWRITE_TEXT_ALIGNMENT_LEADING);
}

HRESULT CreateAgreementLayout(IDWriteFactory* factory, ComPtr<IDWriteTextLayout>& layout) {
  ComPtr<IDWriteTextFormat> format;
  HRESULT hr = CreateTextFormat(factory, 18, DWRITE_FONT_WEIGHT_NORMAL, format);
  if (FAILED(hr)) return hr;
  hr = format->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
  if (FAILED(hr)) return hr;
  const std::wstring_view sentence = kAgreementSentence;
  return factory->CreateTextLayout(sentence.data(), static_cast<UINT32>(sentence.size()),
                                   format.Get(), layout::kAgreementWidth, layout::kAgreementHeight,
                                   layout.Put());
}

LegalDocument LegalLinkAt(IDWriteFactory* factory, float x, float y) {
  const DesignRect bounds{layout::kAgreementOriginX, layout::kAgreementOriginY,
                          layout::kAgreementOriginX + layout::kAgreementWidth,
                          layout::kAgreementOriginY + layout::kAgreementHeight};
  if (!bounds.Contains(x, y)) return LegalDocument::None;
  ComPtr<IDWriteTextLayout> sentence;
  if (FAILED(CreateAgreementLayout(factory, sentence))) return LegalDocument::None;
  BOOL trailing = FALSE;
  BOOL inside = FALSE;
  DWRITE_HIT_TEST_METRICS metrics{};
  if (FAILED(sentence->HitTestPoint(x - layout::kAgreementOriginX, y - layout::kAgreementOriginY,
                                    &trailing, &inside, &metrics)) ||
      !inside) {
    return LegalDocument::None;
  }
  for (const LinkRange& range : kAgreementLinks) {
    if (metrics.textPosition >= range.start && metrics.textPosition < range.start + range.length) {
      return range.document;
    }
  }
  return LegalDocument::None;
}

std::wstring FreeSpaceText(std::uint64_t bytes) {
  if (bytes == 0) return L"可用空间：--";
  return L"可用空间：" + std::to_wstring(bytes >> 30) + L"G";
}

std::wstring ProgressText(std::int32_t progress) {
  return L"正在安装 " + std::to_wstring(std::clamp<std::int32_t>(progress, 0, 100)) + L"%";
}

DialogTexts TextsForDialog(DialogKind kind, const std::wstring& statusMessage,
                           const std::wstring& errorCode) {
  switch (kind) {
    case DialogKind::AgreementRequired:
      return {L"提示", kAgreementSentence, L"同意并安装", L"取消"};
    case DialogKind::ExitConfirm:
      return {L"", L"确认要退出LumoraMP3转换器安装吗？", L"确定", L"取消"};
    case DialogKind::CloseAppConfirm:
      return {L"", L"安装前需要关闭LumoraMP3转换器，是否继续？", L"关闭并继续", L"取消"};
    case DialogKind::ForceCloseConfirm:
      return {L"", L"Lumora仍在运行，是否强制关闭并继续安装？", L"强制关闭", L"取消"};
    default:
      break;
  }
  std::wstring confirm = L"重新下载";
  if (errorCode == kErrorDiskSpace) {
    confirm = L"更改目录";
  } else if (errorCode == kErrorNetwork) {
    confirm = L"重新检测";
  } else if (errorCode == kErrorUac) {
    confirm = L"重新授权";
  } else if (errorCode == kErrorInstall) {
    confirm = L"重新安装";
  }
  return {L"", statusMessage, confirm, L"退出安装"};
}

void PaintWindow(const PaintContext& context, const PageView& view) {
  if (context.target == nullptr) return;
  context.target->SetTransform(D2D1::Matrix3x2F::Scale(kDesignScale, kDesignScale));
  DrawFrame(context, view);
  switch (view.stage) {
    case InstallStage::CustomOptions:
      DrawCustomPage(context, view);
      break;
    case InstallStage::Preparing:
    case InstallStage::Downloading:
    case InstallStage::Verifying:
    case InstallStage::Installing:
      DrawProgressPage(context, view);
      break;
    case InstallStage::Completed:
      DrawCompletionPage(context, view);
      break;
    default:
      DrawWelcomePage(context, view);
      break;
  }
  if (view.dialog != DialogKind::NoDialog) DrawOverlay(context, view);
  if (view.focusRing) DrawFocusRing(context, *view.focusRing);
  context.target->SetTransform(D2D1::Matrix3x2F::Identity());
}

}  // namespace lum::installer
