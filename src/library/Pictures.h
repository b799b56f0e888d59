// The program's pictures at the size a screen asks for: toolbar image lists
// drawn for 100, 125, 150 and 200 %, and icons at any size.
//
//   AutoHimagelist big(Pictures::toolbarImages(false, dpi));
//   SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(big.get()));
//   AutoHicon icon(Pictures::programIcon(IDI_MAIN, MulDiv(16, dpi, USER_DEFAULT_SCREEN_DPI)));
//
// The caller owns what these return (ImageList_Destroy, DestroyIcon). When the
// DPI changes, make new ones and destroy the old ones once nothing shows them.
#pragma once
#include <windows.h>
// commctrl.h needs windows.h first.
#include <commctrl.h>

namespace Pictures {

// An image list with alpha (ILC_COLOR32, no mask) holding the large (five
// pictures) or small (three pictures) toolbar's strip for dpi; nullptr when
// the strip cannot be loaded.
HIMAGELIST toolbarImages(bool smallButtons, int dpi);

// The icon resource at size x size pixels, scaled down from a larger image
// when the file holds no such size; nullptr when it cannot be loaded.
HICON programIcon(int resource, int size);

}  // namespace Pictures
