#include "gui/ResourceIds.h"

#include <objbase.h>

#include <cstring>

#include "gui/SystemLibraries.h"

namespace VmGui {

LogoImage::~LogoImage()
{
    if (gdiplusImage_)
        GdiplusFlat::Get().DisposeImage(gdiplusImage_);
    if (bitmap_)
        DeleteObject(bitmap_);
}

bool LogoImage::LoadPng(HINSTANCE instance, int id)
{
    const GdiplusFlat& gdiplus = GdiplusFlat::Get();
    if (!gdiplus.Loaded())
        return false;
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), L"PNG");
    HGLOBAL loaded = found ? LoadResource(instance, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    const DWORD size = found ? SizeofResource(instance, found) : 0;
    if (!data || size == 0)
        return false;

    // GDI+ reads the stream for as long as the image lives, so it gets a copy that the stream
    // owns (and frees on its last release).
    HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE, size);
    if (!copy)
        return false;
    if (void* target = GlobalLock(copy)) {
        std::memcpy(target, data, size);
        GlobalUnlock(copy);
    }
    IStream* stream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(copy, TRUE, &stream))) {
        GlobalFree(copy);
        return false;
    }
    void* image = nullptr;
    const int status = gdiplus.CreateBitmapFromStream(stream, &image);
    stream->Release();
    if (status != 0 || !image)
        return false;
    UINT width = 0;
    UINT height = 0;
    gdiplus.GetImageWidth(image, &width);
    gdiplus.GetImageHeight(image, &height);
    gdiplusImage_ = image;
    width_ = static_cast<int>(width);
    height_ = static_cast<int>(height);
    return true;
}

bool LogoImage::LoadBitmap(HINSTANCE instance, int id)
{
    bitmap_ = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap_)
        return false;
    BITMAP info{};
    GetObjectW(bitmap_, sizeof(info), &info);
    width_ = info.bmWidth;
    height_ = info.bmHeight;
    return true;
}

void LogoImage::Draw(HDC dc, int x, int y) const
{
    if (gdiplusImage_) {
        const GdiplusFlat& gdiplus = GdiplusFlat::Get();
        void* graphics = nullptr;
        if (gdiplus.CreateFromHDC(dc, &graphics) == 0 && graphics) {
            gdiplus.DrawImageRectI(graphics, gdiplusImage_, x, y, width_, height_);
            gdiplus.DeleteGraphics(graphics);
        }
        return;
    }
    if (bitmap_) {
        HDC memory = CreateCompatibleDC(dc);
        if (!memory)
            return;
        HGDIOBJ old = SelectObject(memory, bitmap_);
        BitBlt(dc, x, y, width_, height_, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
}

ResourceIds::ResourceIds(HINSTANCE instance, COLORREF background, COLORREF font)
    : instance_(instance), captionColor_(background), accentColor_(background), hoverColor_(background),
      fontColor_(font), hoverFontColor_(font)
{
}

ResourceIds::~ResourceIds() = default;

const LogoImage* ResourceIds::GetLogoImage()
{
    // Decoded once for all dialogs of the run.
    if (!logoTried_) {
        logoTried_ = true;
        auto logo = std::make_unique<LogoImage>();
        if (logo->LoadPng(instance_, LogoId) || logo->LoadBitmap(instance_, LogoId))
            logo_ = std::move(logo);
    }
    return logo_.get();
}

void ResourceIds::SetColors(COLORREF caption, COLORREF accent, COLORREF hover, COLORREF font,
                            COLORREF hoverFont)
{
    captionColor_ = caption;
    accentColor_ = accent;
    hoverColor_ = hover;
    fontColor_ = font;
    hoverFontColor_ = hoverFont;
}

} // namespace VmGui
