// comctl32 and gdiplus are not among the libraries Windows protects as known DLLs, so they are
// loaded from the system folder at run time and bound by name instead of being imported.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "common/Handles.h"

namespace VmGui {

class CommonControls {
public:
    // The process-wide binding, loaded on first use. Registers the progress bar and combo box
    // classes that the dialog templates use.
    static CommonControls& Get();
    bool Loaded() const { return loaded_; }

    HIMAGELIST Create(int cx, int cy, UINT flags, int initial, int grow) const;
    int AddMasked(HIMAGELIST list, HBITMAP bitmap, COLORREF mask) const;
    bool Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style) const;
    void Destroy(HIMAGELIST list) const;

private:
    CommonControls();
    HIMAGELIST(WINAPI* create_)(int, int, UINT, int, int) = nullptr;
    int(WINAPI* addMasked_)(HIMAGELIST, HBITMAP, COLORREF) = nullptr;
    BOOL(WINAPI* draw_)(HIMAGELIST, int, HDC, int, int, UINT) = nullptr;
    BOOL(WINAPI* destroy_)(HIMAGELIST) = nullptr;
    bool loaded_ = false;
};

// An image list with its owner.
class ImageList {
public:
    ImageList() = default;
    ~ImageList() { reset(); }
    ImageList(const ImageList&) = delete;
    ImageList& operator=(const ImageList&) = delete;
    // A strip of square images of the given size from a bitmap resource; magenta is transparent.
    bool LoadStrip(HINSTANCE instance, int bitmapId, int size, int grow);
    void Draw(int index, HDC dc, int x, int y) const;
    int Count() const { return count_; }
    void reset();

private:
    HIMAGELIST list_ = nullptr;
    int count_ = 0;
};

// The GDI+ flat functions the logo needs. GDI+ itself is started by the entry code.
class GdiplusFlat {
public:
    static GdiplusFlat& Get();
    bool Loaded() const { return loaded_; }

    int (WINAPI* CreateBitmapFromStream)(IStream*, void**) = nullptr;
    int (WINAPI* DisposeImage)(void*) = nullptr;
    int (WINAPI* GetImageWidth)(void*, UINT*) = nullptr;
    int (WINAPI* GetImageHeight)(void*, UINT*) = nullptr;
    int (WINAPI* CreateFromHDC)(HDC, void**) = nullptr;
    int (WINAPI* DeleteGraphics)(void*) = nullptr;
    int (WINAPI* DrawImageRectI)(void*, void*, INT, INT, INT, INT) = nullptr;

private:
    GdiplusFlat();
    bool loaded_ = false;
};

} // namespace VmGui
