#include <gtest/gtest.h>

#include "base/ModCommon.h"
#include "library/SplitHost.h"

using splithost::Host;

namespace {

long height(const RECT& r) {
    return r.bottom - r.top;
}
long width(const RECT& r) {
    return r.right - r.left;
}

template <typename F>
SplitterError errorOf(F&& f) {
    try {
        f();
    } catch (const SplitterError& e) {
        return e;
    }
    return {0, "", "no error"};
}

}  // namespace

TEST(SplitterProperties, DefaultsAtCreation) {
    cSplitter s;
    EXPECT_FALSE(s.FullDrag());
    EXPECT_EQ(s.Orientation(), 1);
    EXPECT_FLOAT_EQ(s.Proportion(), 100.0f);
    EXPECT_EQ(s.Position(), 128);
    EXPECT_FALSE(s.KeepProportion());
    EXPECT_EQ(s.Container(), nullptr);
    EXPECT_EQ(s.SplitterSize(), 30);
    EXPECT_EQ(s.MinimumSize(1), 8);
    EXPECT_EQ(s.MinimumSize(2), 8);
    EXPECT_EQ(s.MaximumSize(1), -1);
    EXPECT_EQ(s.MaximumSize(2), -1);
    EXPECT_FALSE(s.dragging());
}

TEST(SplitterProperties, InvalidValuesRaiseNumberedErrorsAndStoreNothing) {
    cSplitter s;
    s.Proportion(40);
    const std::string source = ModCommon::exeBaseName() + ".cSplitter";
    EXPECT_EQ(source, "test_library.cSplitter");
    for (float bad : {100.5f, -1.0f}) {
        SplitterError e = errorOf([&] { s.Proportion(bad); });
        EXPECT_EQ(e.number, 380) << bad;
        EXPECT_EQ(e.source, source);
    }
    EXPECT_FLOAT_EQ(s.Proportion(), 40.0f);
    s.Proportion(0);
    s.Proportion(100);  // both ends are valid

    SplitterError e = errorOf([&] { s.SplitterSize(-1); });
    EXPECT_EQ(e.number, 380);
    EXPECT_EQ(e.source, source);
    EXPECT_EQ(s.SplitterSize(), 30);
    s.SplitterSize(0);
    EXPECT_EQ(s.SplitterSize(), 0);

    for (int pane : {0, 3, -1}) {
        EXPECT_EQ(errorOf([&] { s.MinimumSize(pane, 5); }).number, 9) << pane;
        EXPECT_EQ(errorOf([&] { (void)s.MinimumSize(pane); }).number, 9) << pane;
        EXPECT_EQ(errorOf([&] { s.MaximumSize(pane, 5); }).number, 9) << pane;
        EXPECT_EQ(errorOf([&] { (void)s.MaximumSize(pane); }).number, 9) << pane;
    }
    EXPECT_EQ(s.MinimumSize(1), 8);
    EXPECT_EQ(s.MaximumSize(2), -1);
}

TEST(SplitterProperties, UnboundSplitterIgnoresEventsAndKeepsPosition) {
    cSplitter s;
    s.Resize();
    s.MouseDown(1, 0, 10, 10);
    s.MouseMove(1, 0, 10, 50);
    s.MouseUp(1, 0, 10, 50);
    EXPECT_FALSE(s.dragging());
    // Without a container there is no length to clamp against.
    s.Position(3);
    EXPECT_EQ(s.Position(), 3);
}

TEST(SplitterGeometry, BindTakesFirstPaneParentAndLaysOutHorizontally) {
    Host host(300, 400);
    cSplitter s;
    s.Bind(host.pane1, host.pane2);
    EXPECT_EQ(s.Container(), host.box);
    // Position 128, bar 30: pane 2 takes the rest.
    EXPECT_EQ(host.rectOf(host.pane1).top, 0);
    EXPECT_EQ(height(host.rectOf(host.pane1)), 128);
    EXPECT_EQ(width(host.rectOf(host.pane1)), 300);
    EXPECT_EQ(host.rectOf(host.pane2).top, 158);
    EXPECT_EQ(height(host.rectOf(host.pane2)), 400 - 158);

    s.Orientation(2);
    EXPECT_EQ(width(host.rectOf(host.pane1)), 128);
    EXPECT_EQ(height(host.rectOf(host.pane1)), 400);
    EXPECT_EQ(host.rectOf(host.pane2).left, 158);
    EXPECT_EQ(width(host.rectOf(host.pane2)), 300 - 158);
    EXPECT_EQ(height(host.rectOf(host.pane2)), 400);
}

TEST(SplitterGeometry, BindMovesPanesIntoAnExplicitContainer) {
    Host host(200, 200);
    HWND other = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 0, 0, 120, 90, host.frame, nullptr,
                                 nullptr, nullptr);
    cSplitter s;
    s.Container(other);
    s.Bind(host.pane1, host.pane2);
    EXPECT_EQ(GetParent(host.pane1), other);
    EXPECT_EQ(GetParent(host.pane2), other);
    // Without KeepProportion a resize lays out the stored position unclamped:
    // pane 1 overhangs, and pane 2, which would get a negative height, stays.
    RECT p1{}, p2{};
    GetWindowRect(host.pane1, &p1);
    GetWindowRect(host.pane2, &p2);
    EXPECT_EQ(height(p1), 128);
    EXPECT_EQ(height(p2), 1);
    s.Position(40);  // setting the position clamps it: 90 - 30 - 8 = 52 at most
    s.Position(70);
    GetWindowRect(host.pane1, &p1);
    GetWindowRect(host.pane2, &p2);
    EXPECT_EQ(height(p1), 52);
    EXPECT_EQ(height(p2), 8);
}

TEST(SplitterGeometry, OnePercentWithMinimumHoldsPaneOneAtMinimumAtAnySize) {
    Host host(200, 200);
    cSplitter s;
    s.KeepProportion(true);
    s.MinimumSize(2, 58);
    s.MinimumSize(1, 100);
    s.Bind(host.pane1, host.pane2);
    s.Proportion(1);
    host.attach(s);
    for (int h : {189, 500, 2000, 9999, 10000}) {
        host.size(200, h);
        EXPECT_EQ(height(host.rectOf(host.pane1)), 100) << h;
        EXPECT_EQ(host.rectOf(host.pane2).top, 130) << h;
        EXPECT_EQ(height(host.rectOf(host.pane2)), h - 130) << h;
    }
}

TEST(SplitterGeometry, PositionBelowMinimumStoresMinimumAndItsShare) {
    Host host(200, 400);
    cSplitter s;
    s.KeepProportion(true);
    s.MinimumSize(1, 100);
    s.Bind(host.pane1, host.pane2);
    host.attach(s);
    s.Position(1);
    EXPECT_EQ(s.Position(), 100);
    EXPECT_FLOAT_EQ(s.Proportion(), 25.0f);
    // Later resizes keep the share, not the minimum.
    host.size(200, 800);
    EXPECT_EQ(height(host.rectOf(host.pane1)), 200);
    host.size(200, 1000);
    EXPECT_EQ(height(host.rectOf(host.pane1)), 250);
    // ... and the minimum still wins below it.
    host.size(200, 300);
    EXPECT_EQ(height(host.rectOf(host.pane1)), 100);
}

TEST(SplitterGeometry, RoundsTheShareHalfToEven) {
    Host host(200, 200);
    cSplitter s;
    s.MinimumSize(1, 0);
    s.MinimumSize(2, 0);
    s.KeepProportion(true);
    s.SplitterSize(0);
    s.Bind(host.pane1, host.pane2);
    host.attach(s);
    s.Proportion(50);
    host.size(200, 201);  // 100.5 -> 100
    EXPECT_EQ(s.Position(), 100);
    host.size(200, 203);  // 101.5 -> 102
    EXPECT_EQ(s.Position(), 102);
}

TEST(SplitterGeometry, ClampChecksRunInOrderAndPaneOneMinimumWins) {
    Host host(100, 500);
    cSplitter s;
    s.Bind(host.pane1, host.pane2);
    s.MaximumSize(2, 100);
    s.Position(50);  // pane 2 would be 420: held at 100
    EXPECT_EQ(s.Position(), 500 - 100 - 30);
    s.MaximumSize(1, 200);
    s.Position(300);
    EXPECT_EQ(s.Position(), 200);  // pane 1's maximum beats pane 2's
    s.MinimumSize(2, 400);
    s.Position(150);
    EXPECT_EQ(s.Position(), 70);
    s.MinimumSize(1, 120);
    s.Position(60);
    EXPECT_EQ(s.Position(), 120);  // contradicting limits: pane 1's minimum
    // Below 1 means no limit.
    s.MaximumSize(1, 0);
    s.MaximumSize(2, 0);
    s.MinimumSize(1, 0);
    s.MinimumSize(2, 0);
    s.Position(-5);
    EXPECT_EQ(s.Position(), -5);
}

TEST(SplitterGeometry, TooSmallContainerGivesPaneOneItsMinimumAndPaneTwoTheRest) {
    Host host(200, 400);
    cSplitter s;
    s.KeepProportion(true);
    s.MinimumSize(2, 58);
    s.MinimumSize(1, 100);
    s.Bind(host.pane1, host.pane2);
    s.Proportion(1);
    host.attach(s);
    host.size(200, 150);  // 100 + 30 + 58 = 188 > 150
    EXPECT_EQ(height(host.rectOf(host.pane1)), 100);
    EXPECT_EQ(host.rectOf(host.pane2).top, 130);
    EXPECT_EQ(height(host.rectOf(host.pane2)), 20);
    host.size(200, 130);  // nothing left: zero is still a size
    EXPECT_EQ(height(host.rectOf(host.pane2)), 0);
    host.size(200, 110);  // less than nothing: pane 2 stays where it was
    EXPECT_EQ(height(host.rectOf(host.pane1)), 100);
    EXPECT_EQ(host.rectOf(host.pane2).top, 130);
    EXPECT_EQ(height(host.rectOf(host.pane2)), 0);
}

TEST(SplitterGeometry, VerticalBarKeepsTreeWidthAtMinimum) {
    // The library's lower split: 205 | 7 | 205, proportion 1 %.
    Host host(559, 83);
    cSplitter s;
    s.Orientation(2);
    s.FullDrag(true);
    s.KeepProportion(true);
    s.Container(host.box);
    s.MinimumSize(2, 205);
    s.MinimumSize(1, 205);
    s.Bind(host.pane1, host.pane2);
    s.SplitterSize(7);
    s.Proportion(1);
    host.attach(s);
    for (int w : {559, 800, 1200, 417}) {
        host.size(w, 83);
        EXPECT_EQ(width(host.rectOf(host.pane1)), 205) << w;
        EXPECT_EQ(host.rectOf(host.pane2).left, 212) << w;
        EXPECT_EQ(width(host.rectOf(host.pane2)), w - 212) << w;
        EXPECT_EQ(height(host.rectOf(host.pane2)), 83) << w;
    }
    EXPECT_FLOAT_EQ(s.Proportion(), 1.0f);
}

TEST(SplitterGeometry, ProportionGetLimitsStoredShareToWhole) {
    Host host(100, 60);
    cSplitter s;
    s.MinimumSize(1, 0);
    s.MinimumSize(2, 0);
    s.SplitterSize(0);
    s.Bind(host.pane1, host.pane2);
    s.MaximumSize(2, -1);
    s.Position(58);
    EXPECT_NEAR(s.Proportion(), 58.0f / 60.0f * 100.0f, 0.001f);
    host.size(100, 20);
    s.Position(40);  // more than the container: the share is capped when read
    EXPECT_FLOAT_EQ(s.Proportion(), 100.0f);
}
