#include "gui/SystemLibraries.h"

#include "common/CreateOnce.h"
#include "common/DelayLoad.h"

namespace VmGui {

namespace {

constexpr COLORREF kTransparent = RGB(255, 0, 255);

// Bound once for the process; never unloaded.
VmCommon::CreateOnce<CommonControls> g_commonControls;
VmCommon::CreateOnce<GdiplusFlat> g_gdiplus;

} // namespace

CommonControls::CommonControls()
{
    VmCommon::DelayLoadedLibrary& module = VmCommon::ComCtl32Library();
    loaded_ = module.Bind(create_, "ImageList_Create", addMasked_, "ImageList_AddMasked", draw_,
                          "ImageList_Draw", destroy_, "ImageList_Destroy");
    using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = module.Function<InitFn>("InitCommonControlsEx");
    if (init) {
        INITCOMMONCONTROLSEX classes{sizeof(classes), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
        init(&classes);
    }
}

CommonControls& CommonControls::Get()
{
    return g_commonControls.Get([] { return new CommonControls(); });
}

HIMAGELIST CommonControls::Create(int cx, int cy, UINT flags, int initial, int grow) const
{
    return create_ ? create_(cx, cy, flags, initial, grow) : nullptr;
}

int CommonControls::AddMasked(HIMAGELIST list, HBITMAP bitmap, COLORREF mask) const
{
    return addMasked_ ? addMasked_(list, bitmap, mask) : -1;
}

bool CommonControls::Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style) const
{
    return draw_ && draw_(list, index, dc, x, y, style);
}

void CommonControls::Destroy(HIMAGELIST list) const
{
    if (destroy_)
        destroy_(list);
}

bool ImageList::LoadStrip(HINSTANCE instance, int bitmapId, int size, int grow)
{
    reset();
    const CommonControls& controls = CommonControls::Get();
    HBITMAP bitmap = static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(bitmapId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!bitmap)
        return false;
    BITMAP info{};
    GetObjectW(bitmap, sizeof(info), &info);
    list_ = controls.Create(size, size, ILC_COLOR32 | ILC_MASK, info.bmHeight > 0 ? info.bmWidth / size : 1,
                            grow);
    if (list_ && controls.AddMasked(list_, bitmap, kTransparent) >= 0)
        count_ = info.bmWidth / size;
    DeleteObject(bitmap);
    if (count_ == 0)
        reset();
    return count_ > 0;
}

void ImageList::Draw(int index, HDC dc, int x, int y) const
{
    if (list_ && index >= 0 && index < count_)
        CommonControls::Get().Draw(list_, index, dc, x, y, ILD_TRANSPARENT);
}

void ImageList::reset()
{
    if (list_)
        CommonControls::Get().Destroy(list_);
    list_ = nullptr;
    count_ = 0;
}

GdiplusFlat::GdiplusFlat()
{
    loaded_ = VmCommon::GdiplusLibrary().Bind(
        CreateBitmapFromStream, "GdipCreateBitmapFromStream", DisposeImage, "GdipDisposeImage", GetImageWidth,
        "GdipGetImageWidth", GetImageHeight, "GdipGetImageHeight", CreateFromHDC, "GdipCreateFromHDC",
        DeleteGraphics, "GdipDeleteGraphics", DrawImageRectI, "GdipDrawImageRectI");
}

GdiplusFlat& GdiplusFlat::Get()
{
    return g_gdiplus.Get([] { return new GdiplusFlat(); });
}

} // namespace VmGui
