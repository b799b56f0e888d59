// The toolbar pictures and icons come at the size of the screen's scale, with
// their alpha channel.
#include "library/Pictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "base/Handles.h"
#include "base/resource.h"

TEST(Pictures, ToolbarsComeInTheCellSizeOfTheScreenScaleWithAlpha) {
    struct Case {
        int dpi, bigCell, smallCell;
    };
    // 110 lies between 100 and 125 %: the larger pictures; above 200 % they stop growing.
    for (const Case c : {Case{96, 32, 16}, Case{110, 40, 20}, Case{120, 40, 20}, Case{144, 48, 24},
                         Case{192, 64, 32}, Case{288, 64, 32}}) {
        for (const bool smallButtons : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.dpi << " dpi, " << (smallButtons ? "small" : "big"));
            AutoHimagelist list(Pictures::toolbarImages(smallButtons, c.dpi));
            ASSERT_TRUE(list);
            int cx = 0, cy = 0;
            ImageList_GetIconSize(list.get(), &cx, &cy);
            EXPECT_EQ(smallButtons ? c.smallCell : c.bigCell, cx);
            EXPECT_EQ(cx, cy);
            EXPECT_EQ(smallButtons ? 3 : 5, ImageList_GetImageCount(list.get()));
            // Edges blend into the ground through partial alpha; no mask colour is left.
            IMAGEINFO info{};
            DIBSECTION ds{};
            ASSERT_TRUE(ImageList_GetImageInfo(list.get(), 0, &info));
            ASSERT_EQ(static_cast<int>(sizeof ds), GetObjectW(info.hbmImage, sizeof ds, &ds));
            ASSERT_EQ(32, ds.dsBm.bmBitsPixel);
            const auto* px = static_cast<const RGBQUAD*>(ds.dsBm.bmBits);
            const auto* end = px + ds.dsBm.bmWidth * std::abs(ds.dsBm.bmHeight);
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
