// Construction, creation, drawing resources, the path field, DPI and teardown of MainWindow.
#include "ui/main_window.h"

#include <dwmapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "base/module.h"
#include "core/build_config.h"
#include "system/channel.h"
#include "system/install_location.h"
#include "ui/paint/page_painter.h"

namespace lum::installer {
namespace {

// Not in every SDK's dwmapi.h.
constexpr DWORD kDwmWindowCornerPreference = 33;
constexpr DWORD kDwmCornerRound = 2;

// A frame that could not be drawn or shown is drawn again after this long. Without it the window
// would stay blank until something else changed; a timer rather than an immediate invalidation,
// so that a device that keeps failing does not spin the message loop.
constexpr UINT kRedrawDelayMs = 250;

// GetDpiForSystem exists from Windows 10 1607 on; looked up by name so that the executable
// still loads on older systems and can refuse them with its own message.
UINT SystemDpi() {
  using GetDpiForSystemFn = UINT(WINAPI*)();
  if (const auto getDpi = LoadedFunction<GetDpiForSystemFn>(L"user32.dll", "GetDpiForSystem")) {
    return getDpi();
  }
  HDC screen = GetDC(nullptr);
  const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, std::unique_ptr<TaskbarProgress> taskbarProgress,
                       HighContrastQuery highContrastQuery, UiaApiSource uiaApiSource,
                       DesktopIdentityCheck desktopIdentityCheck)
    : moduleInstance(instance),
      contrastQuery(highContrastQuery),
      uiaApi(uiaApiSource),
      identityCheck(desktopIdentityCheck),
      taskbar(std::move(taskbarProgress)) {
  // A factory that cannot be made stays null; the window then runs without what it provides.
  D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory), nullptr,
                    d2dFactory.PutVoid());
  DWriteCreateFactory(DWRITE_FACTORY_TYPE_SHARED, __uuidof(IDWriteFactory),
                      reinterpret_cast<IUnknown**>(textFactory.Put()));
  CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                   imagingFactory.PutVoid());
}

MainWindow::~MainWindow() {
  // The controller goes first: it cancels and joins its threads, so no callback can reach the
  // window after this line.
  std::unique_ptr<InstallerController> ending = std::move(controller);
  ending.reset();
  accessibility.reset();
  if (window != nullptr && IsWindow(window)) {
    // Only when the loop did not run to its end: nothing may call back into this object.
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  pathEditFont.Reset();
  options = InstallOptions{};
  view = PageView{};
  logoImage.Reset();
  heroImage.Reset();
  renderTarget.Reset();
  imagingFactory.Reset();
  textFactory.Reset();
  d2dFactory.Reset();
}

bool MainWindow::Create() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = &MainWindow::StaticWindowProc;
  windowClass.hInstance = moduleInstance;
  windowClass.hIcon = static_cast<HICON>(LoadImageW(moduleInstance, MAKEINTRESOURCEW(kIconId),
                                                    IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                                    GetSystemMetrics(SM_CYICON), LR_SHARED));
  windowClass.hIconSm = static_cast<HICON>(LoadImageW(moduleInstance, MAKEINTRESOURCEW(kIconId),
                                                      IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                      GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kWindowClassName;
  if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    return false;
  }

  dpi = SystemDpi();
  highContrast = contrastQuery();
  const float scale = static_cast<float>(dpi) / 96.0f;
  const int width = static_cast<int>(scale * 600.0f);
  const int height = static_cast<int>(scale * 400.0f);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  if (CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, kWindowTitle,
                      WS_POPUP | WS_CLIPCHILDREN | WS_MINIMIZEBOX, x, y, width, height, nullptr,
                      nullptr, moduleInstance, this) == nullptr) {
    return false;
  }
  taskbar.Attach(window);

  const DWORD corners = kDwmCornerRound;
  DwmSetWindowAttribute(window, kDwmWindowCornerPreference, &corners, sizeof(corners));

  pathEdit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_TABSTOP | ES_AUTOHSCROLL, 0, 0, 0, 0,
                             window, nullptr, moduleInstance, nullptr);
  LayoutPathEdit();
  SubclassPathEdit();
  pageFocus = PageControls(view).initialFocus;
  // Focus cues start hidden; the first key that navigates shows them.
  SendMessageW(window, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS), 0);

  const std::wstring channel = ReadEmbeddedChannel();
  options.bingClickId = ResolveBingClickId(channel);
  controller = std::make_unique<InstallerController>(
      channel, kManifestUrl, [this](const InstallerStatus& status) { PostStatus(status); },
      [this](ConfirmationKind kind) { return AskConfirmation(kind); });
  options.installDirectory = controller->ProposedInstallDirectory();
  controller->StartOpenEventThread();

  if (pathEdit != nullptr) {
    SetWindowTextW(pathEdit, options.installDirectory.c_str());
    ShowWindow(pathEdit, SW_HIDE);
  }
  OnPathChanged();
  ShowWindow(window, SW_SHOW);
  UpdateWindow(window);
  return true;
}

LRESULT CALLBACK MainWindow::StaticWindowProc(HWND hwnd, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  MainWindow* self = nullptr;
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    self = static_cast<MainWindow*>(create->lpCreateParams);
    self->window = hwnd;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  } else {
    self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  }
  if (self == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
  return self->WindowProc(message, wParam, lParam);
}

float MainWindow::PixelsPerDesignUnit() const { return DesignToPixelFactor(dpi); }

void MainWindow::LayoutPathEdit() {
  if (pathEdit == nullptr) return;
  const float f = PixelsPerDesignUnit();
  const DesignRect& place = layout::kPathEdit;
  SetWindowPos(pathEdit, nullptr, static_cast<int>(place.left * f), static_cast<int>(place.top * f),
               static_cast<int>((place.right - place.left) * f),
               static_cast<int>((place.bottom - place.top) * f), SWP_NOZORDER | SWP_NOACTIVATE);
  pathEditFont.Reset(CreateFontW(static_cast<int>(-22.0f * f), 0, 0, 0, FW_NORMAL, FALSE, FALSE,
                                 FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                 CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 L"Microsoft YaHei UI"));
  SendMessageW(pathEdit, WM_SETFONT, reinterpret_cast<WPARAM>(pathEditFont.Get()), TRUE);
  const int margin = static_cast<int>(lroundf((static_cast<float>(dpi) / 96.0f) * 16.0f));
  SendMessageW(pathEdit, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(margin, margin));
}

void MainWindow::LoadPngResource(int resourceId, ComPtr<ID2D1Bitmap>& bitmap) {
  if (!renderTarget || !imagingFactory) return;
  const std::string_view bytes = ResourceBytes(moduleInstance, resourceId);
  if (bytes.empty()) return;

  ComPtr<IStream> stream;
  stream.Reset(SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<UINT>(bytes.size())));
  if (!stream) return;
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  ComPtr<IWICFormatConverter> converter;
  if (FAILED(imagingFactory->CreateDecoderFromStream(
          stream.Get(), nullptr, WICDecodeMetadataCacheOnLoad, decoder.Put())) ||
      FAILED(decoder->GetFrame(0, frame.Put())) ||
      FAILED(imagingFactory->CreateFormatConverter(converter.Put())) ||
      FAILED(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA,
                                   WICBitmapDitherTypeNone, nullptr, 0.0,
                                   WICBitmapPaletteTypeMedianCut))) {
    return;
  }
  ComPtr<ID2D1Bitmap> decoded;
  if (SUCCEEDED(renderTarget->CreateBitmapFromWicBitmap(converter.Get(), nullptr, decoded.Put()))) {
    bitmap = std::move(decoded);
  }
}

void MainWindow::CreateDeviceResources() {
  if (renderTarget || !d2dFactory) return;
  RECT client{};
  GetClientRect(window, &client);
  const D2D1_SIZE_U size =
      D2D1::SizeU(static_cast<UINT32>(client.right), static_cast<UINT32>(client.bottom));
  if (FAILED(d2dFactory->CreateHwndRenderTarget(D2D1::RenderTargetProperties(),
                                                D2D1::HwndRenderTargetProperties(window, size),
                                                renderTarget.Put()))) {
    return;
  }
  // Render-target units become DIPs: 600 x 400 at any DPI.
  renderTarget->SetDpi(static_cast<float>(dpi), static_cast<float>(dpi));
  LoadPngResource(kHeroImageId, heroImage);
  LoadPngResource(kLogoImageId, logoImage);
}

void MainWindow::DiscardDeviceResources() {
  heroImage.Reset();
  logoImage.Reset();
  renderTarget.Reset();
}

void MainWindow::Paint() {
  PAINTSTRUCT paint{};
  BeginPaint(window, &paint);
  bool shown = false;
  CreateDeviceResources();
  if (renderTarget) {
    PaintContext context;
    context.target = renderTarget.Get();
    context.textFactory = textFactory.Get();
    context.hover = hover;
    context.pressed = pressed;
    context.colours = PaletteFor(highContrast);
    context.heroImage = heroImage.Get();
    context.logoImage = logoImage.Get();
    std::optional<ControlId> ring;  // once the keyboard has been used
    if (!focusHidden) ring = view.dialog != DialogKind::NoDialog ? overlayFocus : pageFocus;
    renderTarget->BeginDraw();
    PaintWindow(context, view, ring);
    const HRESULT drawn = renderTarget->EndDraw();
    if (drawn == static_cast<HRESULT>(D2DERR_RECREATE_TARGET)) DiscardDeviceResources();
    shown = SUCCEEDED(drawn);
  }
  EndPaint(window, &paint);
  if (!shown) SetTimer(window, kRedrawTimer, kRedrawDelayMs, nullptr);
}

void MainWindow::OnRedrawTimer() {
  KillTimer(window, kRedrawTimer);
  InvalidateRect(window, nullptr, FALSE);
}

void MainWindow::OnDpiChanged(WPARAM wParam, LPARAM lParam) {
  dpi = HIWORD(wParam);
  const auto* suggested = reinterpret_cast<const RECT*>(lParam);
  SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
               suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  LayoutPathEdit();
  DiscardDeviceResources();
}

void MainWindow::Invalidate() {
  InvalidateRect(window, nullptr, FALSE);
  // What is drawn next is what a client reads.
  SyncAccessibility();
}

std::wstring MainWindow::PathEditText() const {
  if (pathEdit == nullptr) return {};
  const int length = GetWindowTextLengthW(pathEdit);
  if (length <= 0) return {};
  std::vector<wchar_t> buffer(static_cast<std::size_t>(length) + 1);
  const int copied = GetWindowTextW(pathEdit, buffer.data(), length + 1);
  return std::wstring(buffer.data(), static_cast<std::size_t>(std::max(copied, 0)));
}

void MainWindow::OnPathChanged() {
  std::wstring text = PathEditText();
  if (text == view.installPath) return;  // the field's notice of a text this window put there
  view.installPath = std::move(text);
  // Asked here, not at each paint: a paint must not wait on a drive.
  view.freeSpace = AvailableDiskSpace(view.installPath);
  Invalidate();
}

void MainWindow::ShowPathEdit(bool visible) {
  if (pathEdit == nullptr) return;
  // Keys must keep reaching the window once the field is gone.
  if (!visible && GetFocus() == pathEdit) SetFocus(window);
  ShowWindow(pathEdit, visible ? SW_SHOW : SW_HIDE);
  // Back from an overlay, a field that had the keyboard gets it again.
  if (visible && !focusHidden) PlaceKeyboardFocus();
}

}  // namespace lum::installer
