#include "ui/Gdi.h"

namespace quorvane {

UniqueImageList LoadImageList(HINSTANCE instance, const char* bitmapResource, int size,
                              COLORREF transparent) {
    const HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 1, 0);
    // A picture drawn smaller is stretched to `size`. Enlarging repeats
    // pixels and blends none, so the transparent colour stays exact.
    const UniqueBitmap bitmap(
        static_cast<HBITMAP>(LoadImageA(instance, bitmapResource, IMAGE_BITMAP, size, size, 0)));
    if (list != nullptr && bitmap.Get() != nullptr) ImageList_AddMasked(list, bitmap.Get(), transparent);
    return UniqueImageList(list);
}

}  // namespace quorvane
