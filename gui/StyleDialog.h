// The branded dialog base: a borderless window with a thin frame, a 40-pixel caption band in
// the operator's colour with logo, title and close square, a white client area with a header
// icon, and the fonts the controls use.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "gui/Controls.h"
#include "gui/ResourceIds.h"
#include "gui/SystemLibraries.h"

namespace VmGui {

class DialogBase : public Window {
public:
    // Creates the modeless dialog from its template; null on failure.
    HWND Create(HWND owner);

protected:
    DialogBase(HINSTANCE instance, int templateId) : instance_(instance), templateId_(templateId) {}
    // Returns what the dialog procedure returns; writes a message result through SetResult.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    INT_PTR SetResult(LRESULT result);

    HINSTANCE instance_;
    int templateId_;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
};

class StyleDialog : public DialogBase {
public:
    ~StyleDialog() override;

    virtual void EndWithAnswer(int32_t answer);
    // Control id 0 is the dialog title.
    void SetText(int controlId, const std::wstring& text);
    std::wstring GetText(int controlId) const;
    HFONT NormalFont() const { return normalFont_.get(); }
    HFONT ButtonFont() const { return buttonFont_.get(); }

    // The caption's close square (window pixels) and the header icon's place (client pixels,
    // 8 at 96 DPI, scaled with the screen).
    RECT CloseSquare() const;
    POINT HeaderIconPosition() const;

    // Where the last dialog was moved to, for the next one to open there.
    static bool RememberedPosition(POINT& position);

protected:
    StyleDialog(HINSTANCE instance, int templateId, ResourceLink& resources);

    virtual bool OnInitDialog();
    // Returns 1 when the command is not handled.
    virtual int OnCommand(int id, int code);
    virtual LRESULT OnEraseBackground(HDC dc);
    virtual void OnPaint();
    virtual int OnDrawItem(int id, const DRAWITEMSTRUCT& item);
    virtual HBRUSH OnControlColor(HDC dc);
    virtual bool OnSysCommand(WPARAM command);
    virtual void OnClose();
    virtual void OnDestroy();
    virtual void OnTimer(UINT_PTR id);
    virtual void OnNcPaint(HRGN region);
    virtual LRESULT OnNcActivate(bool active);
    virtual void OnNcCalcSize(bool calcValidRects, LPARAM lParam);
    virtual LRESULT OnHitTest(POINT screen);
    virtual void OnNcMouseMove(POINT screen);
    virtual bool OnNcButtonDown(POINT screen);
    virtual bool OnNcButtonUp(POINT screen);
    virtual LRESULT OnNotify(const NMHDR& header);

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    void SetHeaderStyle(int style);
    void SetCloseEnabled(bool enabled) { closeEnabled_ = enabled; }
    // One-line centring of a text control: whether its text fits on one line of the dialog font,
    // and moving it by dy pixels without resizing it.
    bool FitsOnOneLine(int controlId) const;
    void ShiftVertically(int controlId, int dy);
    // Makes a one-line text control at least one line of the dialog font high.
    void FitLineHeight(int controlId);
    HWND Item(int id) const { return GetDlgItem(hwnd_, id); }
    ResourceLink& Resources() { return resources_; }

private:
    bool InCloseSquare(POINT screen) const;
    void CreateFonts();

    HCURSOR cursor_ = nullptr;
    ImageList closeImages_;
    GdiObject<HFONT> normalFont_;
    GdiObject<HFONT> titleFont_;
    GdiObject<HFONT> buttonFont_;
    UniqueIcon icon_;
    ImageList headerImages_;
    int headerStyle_ = -1;
    GdiObject<HBRUSH> whiteBrush_;
    HCURSOR arrow_ = nullptr;
    HCURSOR hand_ = nullptr;
    bool closeEnabled_ = true;
    ResourceLink& resources_;
};

// Passes the title to the shell's property store of the window (taskbar relaunch name).
void SetShellTitle(HWND window, const std::wstring& title);

} // namespace VmGui
