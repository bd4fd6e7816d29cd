#include "gui/Controls.h"

#include "gui/GuiCore.h"

namespace VmGui {

namespace {

constexpr COLORREF kWhite = 0xFFFFFF;
constexpr COLORREF kDisabledGrey = 0xBFBFBF;
constexpr int kShieldSize = 16;

int TextWidth(HDC dc, HFONT font, const std::wstring& text, int* height = nullptr)
{
    HGDIOBJ old = font ? SelectObject(dc, font) : nullptr;
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    if (height) {
        TEXTMETRICW metrics{};
        GetTextMetricsW(dc, &metrics);
        *height = metrics.tmHeight;
    }
    if (old)
        SelectObject(dc, old);
    return text.empty() ? 0 : size.cx;
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color)
{
    GdiObject<HBRUSH> brush(CreateSolidBrush(color));
    FillRect(dc, &rect, brush.get());
}

} // namespace

HICON LoadShieldIcon()
{
    HICON icon = static_cast<HICON>(
        LoadImageW(nullptr, MAKEINTRESOURCEW(106), IMAGE_ICON, kShieldSize, kShieldSize, 0));
    // Systems whose user32 does not number the shield 106 still know it by its public id.
    if (!icon)
        icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(32518), IMAGE_ICON,
                                             kShieldSize, kShieldSize, 0));
    return icon;
}

ControlBase::~ControlBase() { Unsubclass(); }

bool ControlBase::Subclass(HWND control, int id)
{
    if (!control)
        return false;
    Unsubclass();
    hwnd_ = control;
    id_ = id;
    SetWindowLongPtrW(control, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    previous_ = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlProc)));
    return previous_ != nullptr;
}

void ControlBase::Unsubclass()
{
    if (hwnd_ && previous_ && IsWindow(hwnd_)) {
        SetWindowLongPtrW(hwnd_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(previous_));
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    }
    previous_ = nullptr;
}


LRESULT CALLBACK ControlBase::ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<ControlBase*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!self || !self->previous_)
        return DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_DESTROY) {
        WNDPROC previous = self->previous_;
        self->Unsubclass();
        return CallWindowProcW(previous, window, message, wParam, lParam);
    }
    return self->WindowProc(message, wParam, lParam);
}

LRESULT ControlBase::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallPrevious(message, wParam, lParam);
}

LRESULT ControlBase::CallPrevious(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcW(previous_, hwnd_, message, wParam, lParam);
}

bool Button::Setup(HWND control, int id, bool primary, ResourceLink& resources)
{
    if (!Subclass(control, id))
        return false;
    shield_.reset(LoadShieldIcon());
    primary_ = primary;
    const COLORREF accent = resources.GetAccentColor();
    normal_ = primary ? Colors{accent, kWhite} : Colors{kWhite, accent};
    hover_ = Colors{resources.GetHoverColor(), resources.GetHoverFontColor()};
    return true;
}

void Button::SetShowShield(bool show)
{
    showShield_ = show;
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, TRUE);
}

LRESULT Button::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETFONT:
        font_ = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam))
            InvalidateRect(hwnd_, nullptr, TRUE);
        return 0;
    case WM_MOUSEMOVE:
        if (!mouseOver_) {
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, hwnd_, 0};
            TrackMouseEvent(&track);
            mouseOver_ = true;
            InvalidateRect(hwnd_, nullptr, FALSE);
        }
        break;
    case WM_MOUSELEAVE:
        mouseOver_ = false;
        InvalidateRect(hwnd_, nullptr, FALSE);
        break;
    case WM_GETDLGCODE:
        // An owner-drawn button says DLGC_BUTTON only, and the dialog manager then turns Enter
        // into IDOK whatever has the focus. The focused button claims Enter for itself.
        return DLGC_BUTTON | (GetFocus() == hwnd_ ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
    case BM_SETSTYLE:
        // The dialog manager restyles push buttons as default and back; this one stays owner-drawn.
        InvalidateRect(hwnd_, nullptr, FALSE);
        return 0;
    default:
        break;
    }
    return CallPrevious(message, wParam, lParam);
}

void Button::Draw(const DRAWITEMSTRUCT& item)
{
    HDC dc = item.hDC;
    const RECT rect = item.rcItem;
    // Only the white (secondary and disabled) looks carry a frame.
    Colors colors = normal_;
    bool framed = !primary_;
    if (item.itemState & ODS_SELECTED) {
        colors = Colors{0x313131, kWhite};
        framed = false;
    } else if (item.itemState & ODS_DISABLED) {
        colors = Colors{kWhite, kDisabledGrey};
        framed = true;
    } else if (mouseOver_) {
        colors = hover_;
        framed = false;
    }
    const COLORREF fill = colors.fill;
    const COLORREF text = colors.text;

    // The corners outside the rounded shape show the dialog's white background.
    FillSolid(dc, rect, kWhite);
    GdiObject<HRGN> shape(CreateRoundRectRgn(rect.left, rect.top, rect.right + 1, rect.bottom + 1, 4, 4));
    {
        GdiObject<HBRUSH> brush(CreateSolidBrush(fill));
        FillRgn(dc, shape.get(), brush.get());
    }
    if (framed) {
        GdiObject<HBRUSH> frame(CreateSolidBrush(text));
        FrameRgn(dc, shape.get(), frame.get(), 2, 2);
    }
    if (item.itemState & ODS_FOCUS) {
        RECT focus{rect.left + 3, rect.top + 3, rect.right - 4, rect.bottom - 4};
        SetTextColor(dc, 0);
        SetBkColor(dc, kWhite);
        DrawFocusRect(dc, &focus);
    }

    const int length = GetWindowTextLengthW(hwnd_);
    std::wstring caption(static_cast<size_t>(length) + 1, L'\0');
    caption.resize(static_cast<size_t>(GetWindowTextW(hwnd_, &caption[0], length + 1)));
    HGDIOBJ oldFont = font_ ? SelectObject(dc, font_) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text);
    RECT textRect = rect;
    DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &textRect,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    if (showShield_ && shield_.get()) {
        SIZE size{};
        GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
        const int textLeft = rect.left + (rect.right - rect.left - size.cx) / 2;
        int x = textLeft - 17;
        if (x < rect.left)
            x = rect.left;
        DrawIconEx(dc, x, rect.top + (rect.bottom - rect.top - kShieldSize) / 2, shield_.get(),
                   kShieldSize, kShieldSize, 0, nullptr, DI_NORMAL);
    }
    if (oldFont)
        SelectObject(dc, oldFont);
}

bool StaticLink::Setup(HWND control, int id)
{
    if (!Subclass(control, id))
        return false;
    hand_ = LoadCursorW(nullptr, IDC_HAND);
    arrow_ = LoadCursorW(nullptr, IDC_ARROW);
    shield_.reset(LoadShieldIcon());
    // The template's alignment decides where the text sits; the control itself only notifies
    // clicks and lets the owner paint.
    LONG_PTR style = GetWindowLongPtrW(control, GWL_STYLE);
    alignment_ = static_cast<DWORD>(style & SS_TYPEMASK);
    style = (style & ~static_cast<LONG_PTR>(SS_TYPEMASK)) | SS_OWNERDRAW | SS_NOTIFY;
    SetWindowLongPtrW(control, GWL_STYLE, style);
    font_ = reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0));
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
    return true;
}

void StaticLink::SetTabStop(bool on)
{
    LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    style = on ? (style | WS_TABSTOP) : (style & ~static_cast<LONG_PTR>(WS_TABSTOP));
    SetWindowLongPtrW(hwnd_, GWL_STYLE, style);
}

void StaticLink::SetLinkText(const std::wstring& text, const std::wstring& linkText,
                             const std::wstring& marker)
{
    text_ = text;
    linkText_ = linkText;
    marker_ = marker;
    if (!hwnd_)
        return;
    SetTabStop(true);
    // The window text is what accessibility tools and window searches see.
    SetWindowTextW(hwnd_, SplitLinkTemplate(text, linkText, marker).link.c_str());
    UpdateLinkRect();
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void StaticLink::SetPlainText(const std::wstring& text)
{
    text_ = text;
    linkText_.clear();
    marker_.clear();
    linkRect_ = RECT{};
    if (!hwnd_)
        return;
    SetTabStop(false);
    SetWindowTextW(hwnd_, text.c_str());
    InvalidateRect(hwnd_, nullptr, TRUE);
}

void StaticLink::SetShowIcon(bool show)
{
    showIcon_ = show;
    UpdateLinkRect();
    if (hwnd_)
        InvalidateRect(hwnd_, nullptr, TRUE);
}

bool StaticLink::IsLinkActivation() const
{
    if (keyboardActivation_)
        return true;
    if (linkText_.empty())
        return false;
    POINT cursor{};
    if (!GetCursorPos(&cursor) || !ScreenToClient(hwnd_, &cursor))
        return false;
    return PtInRect(&linkRect_, cursor) != FALSE;
}

StaticLink::Layout StaticLink::Measure(HDC dc, const RECT& rect) const
{
    Layout layout;
    layout.left = rect.left;
    if (showIcon_ && shield_.get())
        layout.left += 18;
    const LinkPieces pieces = SplitLinkTemplate(text_, linkText_, marker_);
    HFONT linkFont = linkFont_ ? linkFont_.get() : font_;
    layout.beforeWidth = TextWidth(dc, font_, pieces.before, &layout.height);
    layout.linkWidth = TextWidth(dc, linkFont, pieces.link);
    layout.afterWidth = TextWidth(dc, font_, pieces.after);
    const int total = layout.beforeWidth + layout.linkWidth + layout.afterWidth;
    layout.x = layout.left;
    if (alignment_ == SS_CENTER)
        layout.x = layout.left + (rect.right - layout.left - total) / 2;
    else if (alignment_ == SS_RIGHT)
        layout.x = rect.right - total;
    if (layout.x < layout.left)
        layout.x = layout.left;
    layout.y = rect.top + (rect.bottom - rect.top - layout.height) / 2;
    layout.link = pieces.link.empty() ? RECT{}
                                      : RECT{layout.x + layout.beforeWidth, layout.y,
                                             layout.x + layout.beforeWidth + layout.linkWidth, layout.y + layout.height};
    return layout;
}

// The link's place is known as soon as its text is, not only after the first paint, so that an
// early click is judged right.
void StaticLink::UpdateLinkRect()
{
    if (!hwnd_)
        return;
    HDC dc = GetDC(hwnd_);
    if (!dc)
        return;
    RECT client{};
    GetClientRect(hwnd_, &client);
    linkRect_ = Measure(dc, client).link;
    ReleaseDC(hwnd_, dc);
}

void StaticLink::Draw(const DRAWITEMSTRUCT& item)
{
    HDC dc = item.hDC;
    RECT rect = item.rcItem;
    FillSolid(dc, rect, kWhite);
    if (showIcon_ && shield_.get())
        DrawIconEx(dc, rect.left, rect.top + (rect.bottom - rect.top - kShieldSize) / 2, shield_.get(),
                   kShieldSize, kShieldSize, 0, nullptr, DI_NORMAL);

    const LinkPieces pieces = SplitLinkTemplate(text_, linkText_, marker_);
    const Layout layout = Measure(dc, rect);
    HFONT linkFont = linkFont_ ? linkFont_.get() : font_;
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ oldFont = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
    int x = layout.x;
    SetTextColor(dc, normalColor_);
    TextOutW(dc, x, layout.y, pieces.before.c_str(), static_cast<int>(pieces.before.size()));
    x += layout.beforeWidth;
    if (linkFont)
        SelectObject(dc, linkFont);
    SetTextColor(dc, linkColor_);
    TextOutW(dc, x, layout.y, pieces.link.c_str(), static_cast<int>(pieces.link.size()));
    x += layout.linkWidth;
    if (font_)
        SelectObject(dc, font_);
    SetTextColor(dc, normalColor_);
    TextOutW(dc, x, layout.y, pieces.after.c_str(), static_cast<int>(pieces.after.size()));
    SelectObject(dc, oldFont);
    linkRect_ = layout.link;

    if (focused_ && !pieces.link.empty()) {
        RECT focus = linkRect_;
        InflateRect(&focus, 1, 1);
        SetTextColor(dc, 0);
        SetBkColor(dc, kWhite);
        DrawFocusRect(dc, &focus);
    }
}

LRESULT StaticLink::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        focused_ = message == WM_SETFOCUS;
        InvalidateRect(hwnd_, nullptr, TRUE);
        break;
    case WM_SETCURSOR: {
        POINT cursor{};
        GetCursorPos(&cursor);
        ScreenToClient(hwnd_, &cursor);
        SetCursor(!linkText_.empty() && PtInRect(&linkRect_, cursor) ? hand_ : arrow_);
        return TRUE;
    }
    case WM_SETFONT: {
        font_ = reinterpret_cast<HFONT>(wParam);
        LOGFONTW logFont{};
        if (font_ && GetObjectW(font_, sizeof(logFont), &logFont)) {
            logFont.lfUnderline = TRUE;
            linkFont_.reset(CreateFontIndirectW(&logFont));
        }
        UpdateLinkRect();
        break;
    }
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_CHAR:
        if (wParam == L' ' && !linkText_.empty()) {
            keyboardActivation_ = true;
            SendMessageW(GetParent(hwnd_), WM_COMMAND, MAKEWPARAM(Id(), STN_CLICKED),
                         reinterpret_cast<LPARAM>(hwnd_));
            keyboardActivation_ = false;
        }
        return 0;
    default:
        break;
    }
    return CallPrevious(message, wParam, lParam);
}

} // namespace VmGui
