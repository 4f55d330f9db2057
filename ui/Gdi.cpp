#include "ui/Gdi.h"

namespace quorvane {

UniqueImageList LoadImageList(HINSTANCE instance, const char* bitmapResource, int size,
                              COLORREF transparent) {
    const HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 1, 0);
    const UniqueBitmap bitmap(LoadBitmapA(instance, bitmapResource));
    if (list != nullptr && bitmap.Get() != nullptr) ImageList_AddMasked(list, bitmap.Get(), transparent);
    return UniqueImageList(list);
}

}  // namespace quorvane
