#include "gui/StyleDialog.h"

#include <objbase.h>
#include <propsys.h>

#include "common/DelayLoad.h"
#include "common/Handles.h"
#include "gui/GuiCore.h"

namespace VmGui {

namespace {

constexpr int kBorder = 1;
constexpr int kCaptionHeight = 40;
constexpr int kCloseSize = 24;
constexpr int kCloseInset = 8;
constexpr int kLogoInset = 8;
constexpr int kTitleMargin = 86;
constexpr int kHeaderIconSize = 48;
constexpr COLORREF kFrameColor = 0x4D4D4D;
constexpr COLORREF kWhite = 0xFFFFFF;

// Only the GUI thread touches it; it outlives every dialog of the run.
bool g_havePosition = false;
POINT g_position{};

RECT WindowRectAtOrigin(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    OffsetRect(&rect, -rect.left, -rect.top);
    return rect;
}

RECT CaptionRect(const RECT& window)
{
    return RECT{kBorder, kBorder, window.right - kBorder, kBorder + kCaptionHeight};
}

// {9F4C2855-9F79-4B39-A8D0-E1D42DE1D5F3}, 4
const PROPERTYKEY kRelaunchDisplayNameResource = {
    {0x9F4C2855, 0x9F79, 0x4B39, {0xA8, 0xD0, 0xE1, 0xD4, 0x2D, 0xE1, 0xD5, 0xF3}}, 4};
// {886D8EEB-8CF2-4446-8D02-CDBA1DBDCF99}
const IID kIidPropertyStore = {0x886D8EEB, 0x8CF2, 0x4446, {0x8D, 0x02, 0xCD, 0xBA, 0x1D, 0xBD, 0xCF, 0x99}};

} // namespace

void SetShellTitle(HWND window, const std::wstring& title)
{
    using GetStoreFn = HRESULT(WINAPI*)(HWND, REFIID, void**);
    auto getStore = VmCommon::Shell32Library().Function<GetStoreFn>("SHGetPropertyStoreForWindow");
    IPropertyStore* store = nullptr;
    if (!getStore || FAILED(getStore(window, kIidPropertyStore, reinterpret_cast<void**>(&store))) || !store)
        return;
    PROPVARIANT value;
    PropVariantInit(&value);
    const size_t bytes = (title.size() + 1) * sizeof(wchar_t);
    if (auto* copy = static_cast<wchar_t*>(CoTaskMemAlloc(bytes))) {
        CopyMemory(copy, title.c_str(), bytes);
        value.vt = VT_LPWSTR;
        value.pwszVal = copy;
        if (SUCCEEDED(store->SetValue(kRelaunchDisplayNameResource, value)))
            store->Commit();
        PropVariantClear(&value);
    }
    store->Release();
}

HWND DialogBase::Create(HWND owner)
{
    return CreateDialogParamW(instance_, MAKEINTRESOURCEW(templateId_), owner, &DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR DialogBase::SetResult(LRESULT result)
{
    SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CALLBACK DialogBase::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<DialogBase*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, lParam);
        self->hwnd_ = window;
    }
    auto* self = reinterpret_cast<DialogBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self)
        return FALSE;
    const INT_PTR result = self->HandleMessage(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

StyleDialog::StyleDialog(HINSTANCE instance, int templateId, ResourceLink& resources)
    : DialogBase(instance, templateId), whiteBrush_(CreateSolidBrush(kWhite)),
      arrow_(LoadCursorW(nullptr, IDC_ARROW)), hand_(LoadCursorW(nullptr, IDC_HAND)), resources_(resources)
{
}

StyleDialog::~StyleDialog()
{
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

bool StyleDialog::RememberedPosition(POINT& position)
{
    position = g_position;
    return g_havePosition;
}

void StyleDialog::EndWithAnswer(int32_t) { DestroyWindow(hwnd_); }

void StyleDialog::SetText(int controlId, const std::wstring& text)
{
    if (controlId != 0) {
        SetDlgItemTextW(hwnd_, controlId, text.c_str());
        return;
    }
    SetWindowTextW(hwnd_, text.c_str());
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE);
    SetShellTitle(hwnd_, text);
}

std::wstring StyleDialog::GetText(int controlId) const
{
    HWND control = controlId == 0 ? hwnd_ : GetDlgItem(hwnd_, controlId);
    const int length = GetWindowTextLengthW(control);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(control, &text[0], length + 1)));
    return text;
}

RECT StyleDialog::CloseSquare() const
{
    const RECT caption = CaptionRect(WindowRectAtOrigin(hwnd_));
    const int right = caption.right - kCloseInset;
    const int top = caption.top + kCloseInset;
    return RECT{right - kCloseSize, top, right, top + kCloseSize};
}

POINT StyleDialog::HeaderIconPosition() const
{
    HDC dc = GetDC(hwnd_);
    POINT position{MulDiv(8, GetDeviceCaps(dc, LOGPIXELSX), 96), MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 96)};
    ReleaseDC(hwnd_, dc);
    return position;
}

void StyleDialog::SetHeaderStyle(int style)
{
    headerStyle_ = style;
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, TRUE);
}

void StyleDialog::CreateFonts()
{
    HDC dc = GetDC(hwnd_);
    const int height = -MulDiv(12, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(hwnd_, dc);
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExW(&version);
#pragma GCC diagnostic pop
    const wchar_t* face = version.dwMajorVersion < 6 ? L"Tahoma" : L"Segoe UI";
    auto make = [&](int weight) {
        return CreateFontW(height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_TT_ONLY_PRECIS,
                           CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
    };
    normalFont_.reset(make(0));
    titleFont_.reset(make(600));
    buttonFont_.reset(make(600));
}

bool StyleDialog::OnInitDialog()
{
    RECT client{};
    GetClientRect(hwnd_, &client);
    SetWindowPos(hwnd_, nullptr, 0, 0, client.right + 2 * kBorder, client.bottom + kCaptionHeight + 2 * kBorder,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_FRAMECHANGED);

    closeImages_.LoadStrip(instance_, resources_.GetCloseImagesId(), kCloseSize, 2);
    headerImages_.LoadStrip(instance_, resources_.GetHeaderImagesId(), kHeaderIconSize, 5);

    CreateFonts();
    for (HWND child = GetWindow(hwnd_, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(normalFont_.get()), FALSE);

    icon_.reset(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(resources_.GetIconId()), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0)));
    if (icon_.get()) {
        SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
        SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
    }
    return true;
}

int StyleDialog::OnCommand(int, int) { return 1; }

LRESULT StyleDialog::OnEraseBackground(HDC) { return 1; }

void StyleDialog::OnPaint()
{
    PAINTSTRUCT paint{};
    HDC dc = BeginPaint(hwnd_, &paint);
    RECT client{};
    GetClientRect(hwnd_, &client);
    FillRect(dc, &client, whiteBrush_.get());
    if (headerStyle_ >= 0) {
        const POINT at = HeaderIconPosition();
        headerImages_.Draw(headerStyle_, dc, at.x, at.y);
    }
    EndPaint(hwnd_, &paint);
}

int StyleDialog::OnDrawItem(int, const DRAWITEMSTRUCT&) { return 0; }

HBRUSH StyleDialog::OnControlColor(HDC dc)
{
    SetTextColor(dc, 0);
    SetBkColor(dc, kWhite);
    return whiteBrush_.get();
}

bool StyleDialog::OnSysCommand(WPARAM command)
{
    if ((command & 0xFFF0) == SC_CLOSE) {
        OnClose();
        return true;
    }
    return false;
}

void StyleDialog::OnClose() { EndWithAnswer(2); }

void StyleDialog::OnDestroy()
{
    closeImages_.reset();
    headerImages_.reset();
}

void StyleDialog::OnTimer(UINT_PTR) {}

void StyleDialog::OnNcPaint(HRGN)
{
    HDC dc = GetWindowDC(hwnd_);
    if (!dc)
        return;
    const RECT window = WindowRectAtOrigin(hwnd_);
    RECT client{};
    GetClientRect(hwnd_, &client);
    ExcludeClipRect(dc, kBorder, kBorder + kCaptionHeight, kBorder + client.right,
                    kBorder + kCaptionHeight + client.bottom);

    {
        GdiObject<HBRUSH> caption(CreateSolidBrush(resources_.GetCaptionColor()));
        FillRect(dc, &window, caption.get());
        GdiObject<HBRUSH> frame(CreateSolidBrush(kFrameColor));
        FrameRect(dc, &window, frame.get());
    }

    RECT caption = CaptionRect(window);
    if (closeEnabled_) {
        const RECT close = CloseSquare();
        closeImages_.Draw(CloseImageIndex(resources_.GetFontColor()), dc, close.left, close.top);
    }
    if (const LogoImage* logo = resources_.GetLogoImage())
        logo->Draw(dc, caption.left + kLogoInset, caption.top + kLogoInset);

    const std::wstring title = GetText(0);
    RECT titleRect{caption.left + kTitleMargin, caption.top, caption.right - kTitleMargin, caption.bottom};
    HGDIOBJ oldFont = SelectObject(dc, titleFont_.get());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, resources_.GetFontColor());
    DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &titleRect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, oldFont);
    ReleaseDC(hwnd_, dc);
}

LRESULT StyleDialog::OnNcActivate(bool)
{
    RedrawWindow(hwnd_, nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
    return TRUE;
}

void StyleDialog::OnNcCalcSize(bool, LPARAM lParam)
{
    // Both forms of the message start with the proposed window rectangle.
    RECT* proposed = reinterpret_cast<RECT*>(lParam);
    InflateRect(proposed, -kBorder, -kBorder);
    proposed->top += kCaptionHeight;
}

bool StyleDialog::InCloseSquare(POINT screen) const
{
    if (!closeEnabled_)
        return false;
    RECT window{};
    GetWindowRect(hwnd_, &window);
    const POINT local{screen.x - window.left, screen.y - window.top};
    const RECT close = CloseSquare();
    return PtInRect(&close, local) != FALSE;
}

LRESULT StyleDialog::OnHitTest(POINT screen)
{
    RECT window{};
    GetWindowRect(hwnd_, &window);
    POINT client = screen;
    ScreenToClient(hwnd_, &client);
    RECT clientRect{};
    GetClientRect(hwnd_, &clientRect);
    if (PtInRect(&clientRect, client))
        return HTCLIENT;
    const POINT local{screen.x - window.left, screen.y - window.top};
    const RECT caption = CaptionRect(WindowRectAtOrigin(hwnd_));
    if (PtInRect(&caption, local) && !InCloseSquare(screen))
        return HTCAPTION;
    return HTBORDER;
}

void StyleDialog::OnNcMouseMove(POINT screen)
{
    cursor_ = InCloseSquare(screen) ? hand_ : arrow_;
    SetCursor(cursor_);
}

bool StyleDialog::OnNcButtonDown(POINT screen) { return InCloseSquare(screen); }

bool StyleDialog::OnNcButtonUp(POINT screen)
{
    if (!InCloseSquare(screen))
        return false;
    OnClose();
    return true;
}

LRESULT StyleDialog::OnNotify(const NMHDR&) { return 0; }

bool StyleDialog::FitsOnOneLine(int controlId) const
{
    HWND control = GetDlgItem(hwnd_, controlId);
    if (!control)
        return true;
    const std::wstring text = GetText(controlId);
    HDC dc = GetDC(control);
    if (!dc)
        return true;
    HGDIOBJ old = SelectObject(dc, normalFont_.get());
    SIZE size{};
    const BOOL measured = GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    if (!measured)
        return true;
    RECT client{};
    GetClientRect(control, &client);
    return client.right >= size.cx;
}

void StyleDialog::ShiftVertically(int controlId, int dy)
{
    HWND control = GetDlgItem(hwnd_, controlId);
    if (!control)
        return;
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&rect), 2);
    SetWindowPos(control, nullptr, rect.left, rect.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void StyleDialog::FitLineHeight(int controlId)
{
    HWND control = GetDlgItem(hwnd_, controlId);
    HDC dc = control ? GetDC(control) : nullptr;
    if (!dc)
        return;
    HGDIOBJ old = SelectObject(dc, normalFont_.get());
    TEXTMETRICW metrics{};
    const BOOL measured = GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    RECT rect{};
    GetWindowRect(control, &rect);
    const int needed = metrics.tmHeight + metrics.tmExternalLeading;
    if (measured && rect.bottom - rect.top < needed)
        SetWindowPos(control, nullptr, 0, 0, rect.right - rect.left, needed,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR StyleDialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    const POINT screen{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    switch (message) {
    case WM_INITDIALOG: {
        POINT position{};
        if (RememberedPosition(position))
            SetWindowPos(hwnd_, nullptr, position.x, position.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        // The dialogs choose their focus themselves.
        OnInitDialog();
        return FALSE;
    }
    case WM_WINDOWPOSCHANGED: {
        RECT rect{};
        GetWindowRect(hwnd_, &rect);
        g_position = POINT{rect.left, rect.top};
        g_havePosition = true;
        return FALSE;
    }
    case WM_DESTROY:
        OnDestroy();
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return TRUE;
    case WM_CLOSE:
        OnClose();
        return TRUE;
    case WM_ERASEBKGND:
        return SetResult(OnEraseBackground(reinterpret_cast<HDC>(wParam)));
    case WM_TIMER:
        OnTimer(wParam);
        return TRUE;
    case WM_SETCURSOR:
        if (cursor_ && reinterpret_cast<HWND>(wParam) == hwnd_) {
            SetCursor(cursor_);
            return SetResult(TRUE);
        }
        return FALSE;
    case WM_DRAWITEM:
        return OnDrawItem(static_cast<int>(wParam), *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
    case WM_COMMAND:
        return OnCommand(LOWORD(wParam), HIWORD(wParam)) == 0;
    case WM_SYSCOMMAND:
        return OnSysCommand(wParam) ? SetResult(0) : FALSE;
    case WM_NCCALCSIZE:
        OnNcCalcSize(wParam != FALSE, lParam);
        return SetResult(0);
    case WM_NCHITTEST:
        return SetResult(OnHitTest(screen));
    case WM_NCPAINT:
        OnNcPaint(reinterpret_cast<HRGN>(wParam));
        return SetResult(0);
    case WM_NCACTIVATE:
        return SetResult(OnNcActivate(wParam != FALSE));
    case WM_NCMOUSEMOVE:
        OnNcMouseMove(screen);
        return FALSE;
    case WM_NCLBUTTONDOWN:
        return OnNcButtonDown(screen) ? SetResult(0) : FALSE;
    case WM_NCLBUTTONUP:
        return OnNcButtonUp(screen) ? SetResult(0) : FALSE;
    case WM_NOTIFY:
        return SetResult(OnNotify(*reinterpret_cast<const NMHDR*>(lParam)));
    case DM_GETDEFID: {
        // Asked for Enter when the focus is on no button (the combo box, a link): the affirmative
        // button when it is offered, else nothing, so that Enter never answers through a hidden
        // or disabled button.
        HWND affirmative = Item(IDOK);
        const bool offered = affirmative && IsWindowVisible(affirmative) && IsWindowEnabled(affirmative);
        return SetResult(offered ? MAKELONG(IDOK, DC_HASDEFID) : 0);
    }
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(OnControlColor(reinterpret_cast<HDC>(wParam)));
    default:
        return FALSE;
    }
}

} // namespace VmGui
