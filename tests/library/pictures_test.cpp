// Toolbar pictures and icons at the size of the screen's scale, with alpha.
#include "library/Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/Handles.h"
#include "base/resource.h"

TEST(Pictures, ToolbarsComeInTheCellSizeOfTheScreenScaleWithAlpha) {
    // DPI, large and small cell: 110 (between 100 and 125 %) takes the larger; 200 % is the most.
    const int cases[][3] = {{96, 32, 16},  {110, 40, 20}, {120, 40, 20},
                            {144, 48, 24}, {192, 64, 32}, {288, 64, 32}};
    for (const auto& [dpi, bigCell, smallCell] : cases) {
        for (const bool smallButtons : {false, true}) {
            SCOPED_TRACE(testing::Message() << dpi << " dpi, " << (smallButtons ? "small" : "big"));
            AutoHimagelist list(Pictures::toolbarImages(smallButtons, dpi));
            ASSERT_TRUE(list);
            int cx = 0, cy = 0;
            ImageList_GetIconSize(list.get(), &cx, &cy);
            EXPECT_EQ(smallButtons ? smallCell : bigCell, cx);
            EXPECT_EQ(cx, cy);
            EXPECT_EQ(smallButtons ? 3 : 5, ImageList_GetImageCount(list.get()));
            // Edges blend into the ground through partial alpha; no mask colour is left.
            IMAGEINFO info{};
            DIBSECTION ds{};
            ASSERT_TRUE(ImageList_GetImageInfo(list.get(), 0, &info));
            ASSERT_EQ(static_cast<int>(sizeof ds), GetObjectW(info.hbmImage, sizeof ds, &ds));
            ASSERT_EQ(32, ds.dsBm.bmBitsPixel);
            const auto* px = static_cast<const RGBQUAD*>(ds.dsBm.bmBits);
            const auto* end = px + ds.dsBm.bmWidth * ds.dsBm.bmHeight;
            EXPECT_TRUE(
                std::any_of(px, end, [](RGBQUAD p) { return p.rgbReserved > 0 && p.rgbReserved < 255; }));
            EXPECT_TRUE(std::none_of(
                px, end, [](RGBQUAD p) { return p.rgbRed == 255 && !p.rgbGreen && p.rgbBlue == 255; }));
        }
    }
}

TEST(Pictures, ProgramIconsComeAtTheAskedSize) {
    for (const int size : {20, 40, 256}) {
        SCOPED_TRACE(size);
        AutoHicon icon(Pictures::programIcon(IDI_MAIN, size));
        ICONINFO info{};
        ASSERT_TRUE(icon && GetIconInfo(icon.get(), &info));
        AutoHbitmap color(info.hbmColor), mask(info.hbmMask);
        BITMAP bm{};
        ASSERT_TRUE(GetObjectW(color.get(), sizeof bm, &bm));
        EXPECT_EQ(size, bm.bmWidth);
        EXPECT_EQ(size, bm.bmHeight);
    }
}
