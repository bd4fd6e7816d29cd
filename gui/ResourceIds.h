// The look of the dialogs: the operator's colours and the product's images, shared by every
// dialog and control of one GUI manager.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace VmGui {

// The product logo: the PNG resource through GDI+, or the bitmap resource when that fails.
class LogoImage {
public:
    LogoImage() = default;
    ~LogoImage();
    LogoImage(const LogoImage&) = delete;
    LogoImage& operator=(const LogoImage&) = delete;

    bool LoadPng(HINSTANCE instance, int id);
    bool LoadBitmap(HINSTANCE instance, int id);
    bool Valid() const { return gdiplusImage_ != nullptr || bitmap_ != nullptr; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void Draw(HDC dc, int x, int y) const;

private:
    void* gdiplusImage_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

class ResourceLink {
public:
    virtual int GetIconId() = 0;
    // Null when neither logo resource can be loaded.
    virtual const LogoImage* GetLogoImage() = 0;
    virtual int GetHeaderImagesId() = 0;
    virtual int GetCloseImagesId() = 0;
    virtual COLORREF GetCaptionColor() = 0;
    virtual COLORREF GetAccentColor() = 0;
    virtual COLORREF GetHoverColor() = 0;
    virtual COLORREF GetFontColor() = 0;
    virtual COLORREF GetHoverFontColor() = 0;

protected:
    ~ResourceLink() = default;
};

class ResourceIds : public ResourceLink {
public:
    enum : int {
        IconId = 104,
        LogoId = 105,
        CloseImagesId = 115,
        HeaderImagesId = 116,
    };

    ResourceIds(HINSTANCE instance, COLORREF background, COLORREF font);
    virtual ~ResourceIds();
    ResourceIds(const ResourceIds&) = delete;
    ResourceIds& operator=(const ResourceIds&) = delete;

    int GetIconId() override { return IconId; }
    const LogoImage* GetLogoImage() override;
    int GetHeaderImagesId() override { return HeaderImagesId; }
    int GetCloseImagesId() override { return CloseImagesId; }
    COLORREF GetCaptionColor() override { return captionColor_; }
    COLORREF GetAccentColor() override { return accentColor_; }
    COLORREF GetHoverColor() override { return hoverColor_; }
    COLORREF GetFontColor() override { return fontColor_; }
    COLORREF GetHoverFontColor() override { return hoverFontColor_; }

    void SetColors(COLORREF caption, COLORREF accent, COLORREF hover, COLORREF font, COLORREF hoverFont);
    HINSTANCE Instance() const { return instance_; }

private:
    HINSTANCE instance_;
    COLORREF captionColor_;
    COLORREF accentColor_;
    COLORREF hoverColor_;
    COLORREF fontColor_;
    COLORREF hoverFontColor_;
    bool logoTried_ = false;
    std::unique_ptr<LogoImage> logo_;
};

} // namespace VmGui
