// The owner-drawn controls of the dialogs: push buttons in the operator's colours and the link
// line. Each subclasses the control window that the dialog template created.
#pragma once

#include <windows.h>

#include <string>

#include "common/Handles.h"
#include "gui/ResourceIds.h"

namespace VmGui {

class Window {
public:
    Window() = default;
    virtual ~Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    HWND Handle() const { return hwnd_; }

protected:
    HWND hwnd_ = nullptr;
};

// GDI objects and icons with their owner, in the common handle template.
template <typename T>
struct GdiTraits {
    using Type = T;
    static Type Invalid() { return nullptr; }
    static void Close(Type object) { DeleteObject(object); }
};
struct IconTraits {
    using Type = HICON;
    static Type Invalid() { return nullptr; }
    static void Close(Type icon) { DestroyIcon(icon); }
};
template <typename T>
using GdiObject = VmCommon::UniqueAny<GdiTraits<T>>;
using UniqueIcon = VmCommon::UniqueAny<IconTraits>;

// The small shield that marks an action needing administrator rights.
HICON LoadShieldIcon();

class ControlBase : public Window {
public:
    ~ControlBase() override;
    int Id() const { return id_; }

protected:
    // Takes over the control's window procedure until the control is destroyed.
    bool Subclass(HWND control, int id);
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallPrevious(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Unsubclass();

    WNDPROC previous_ = nullptr;
    int id_ = 0;
};

class Button : public ControlBase {
public:
    bool Setup(HWND control, int id, bool primary, ResourceLink& resources);
    void SetShowShield(bool show);
    // Paints the button for the owner's WM_DRAWITEM.
    void Draw(const DRAWITEMSTRUCT& item);

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    HFONT font_ = nullptr; // the dialog's, not owned
    UniqueIcon shield_;
    // A state's look: the fill, and the text colour that also frames an outlined button.
    struct Colors {
        COLORREF fill;
        COLORREF text;
    };
    Colors normal_{};
    Colors hover_{};
    bool showShield_ = false;
    bool primary_ = false;
    bool mouseOver_ = false;
};

class StaticLink : public ControlBase {
public:
    bool Setup(HWND control, int id);
    // The template with the marker replaced by the link text; "*", link, "*" is a link alone.
    void SetLinkText(const std::wstring& text, const std::wstring& linkText, const std::wstring& marker);
    void SetPlainText(const std::wstring& text);
    void SetShowIcon(bool show);
    // True for Space on the focused link, or when the mouse cursor is on the link text.
    bool IsLinkActivation() const;
    void Draw(const DRAWITEMSTRUCT& item);
    RECT LinkRect() const { return linkRect_; }

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    struct Layout {
        int left = 0;
        int x = 0;
        int y = 0;
        int height = 0;
        int beforeWidth = 0;
        int linkWidth = 0;
        int afterWidth = 0;
        RECT link{};
    };
    Layout Measure(HDC dc, const RECT& rect) const;
    void UpdateLinkRect();
    void SetTabStop(bool on);

    std::wstring text_;
    std::wstring linkText_;
    std::wstring marker_;
    RECT linkRect_{};
    HCURSOR hand_ = nullptr;
    HCURSOR arrow_ = nullptr;
    UniqueIcon shield_;
    COLORREF normalColor_ = 0;
    COLORREF linkColor_ = 0xFF0000;
    HFONT font_ = nullptr; // the dialog's, not owned
    GdiObject<HFONT> linkFont_;
    DWORD alignment_ = SS_LEFT;
    bool focused_ = false;
    bool keyboardActivation_ = false;
    bool showIcon_ = false;
};

class ComboBox : public Window {
public:
    void Attach(HWND control, int id)
    {
        hwnd_ = control;
        id_ = id;
    }
    int Id() const { return id_; }

private:
    int id_ = 0;
};

} // namespace VmGui
