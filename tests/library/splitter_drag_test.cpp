// Drags with the real pointer: synthetic input through the platform's input
// queue, on the virtual display the tests run on.
#include <gtest/gtest.h>

#include "library/SplitHost.h"

using splithost::Host;

namespace {

constexpr int hostX = 100, hostY = 100, boxW = 400, boxH = 500;
// The container sits 20 pixels inside its frame.
constexpr int boxLeft = hostX + 20, boxTop = hostY + 20;

void pumpFor(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    do {
        splithost::pump();
        Sleep(5);
    } while (static_cast<long>(until - GetTickCount()) > 0);
}

void moveTo(int x, int y) {
    SetCursorPos(x, y);
    mouse_event(MOUSEEVENTF_MOVE, 0, 0, 0, 0);
    pumpFor(100);
}

void button(DWORD flags) {
    mouse_event(flags, 0, 0, 0, 0);
    pumpFor(150);
}

RECT screenRect() {
    return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_XVIRTUALSCREEN) + GetSystemMetrics(SM_CXVIRTUALSCREEN),
            GetSystemMetrics(SM_YVIRTUALSCREEN) + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

bool sameRect(const RECT& a, const RECT& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string str(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

COLORREF screenPixel(int x, int y) {
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    COLORREF c = GetPixel(dc, x, y);
    DeleteDC(dc);
    return c;
}

struct DragFixture : ::testing::Test {
    Host host{boxW, boxH, true, hostX, hostY};
    cSplitter s;

    void SetUp() override {
        SetForegroundWindow(host.frame);
        s.KeepProportion(true);
        s.Bind(host.pane1, host.pane2);
        host.attach(s);
        s.Position(100);  // bar from 100 to 130 inside the container
        pumpFor(100);
    }
    void TearDown() override {
        if (GetAsyncKeyState(VK_LBUTTON) & 0x8000)
            button(MOUSEEVENTF_LEFTUP);
        ClipCursor(nullptr);
    }
    long pane1Height() const {
        RECT r = host.rectOf(host.pane1);
        return r.bottom - r.top;
    }
};

using SplitterDrag = DragFixture;

}  // namespace

TEST_F(SplitterDrag, FullDragMovesPanesWithPointerAndConfinesIt) {
    s.FullDrag(true);
    moveTo(boxLeft + 200, boxTop + 115);
    button(MOUSEEVENTF_LEFTDOWN);
    ASSERT_TRUE(s.dragging());
    RECT clip{}, box{};
    GetClipCursor(&clip);
    GetWindowRect(host.box, &box);
    // Wine drops a clip at once when its libXi (libxi6 of its architecture) is missing.
    EXPECT_TRUE(sameRect(clip, box)) << str(clip) << " vs " << str(box);

    moveTo(boxLeft + 200, boxTop + 165);
    EXPECT_EQ(pane1Height(), 150);  // follows while the button is down
    moveTo(boxLeft + 200, boxTop + 215);
    EXPECT_EQ(pane1Height(), 200);

    // The pointer cannot leave the container while dragging.
    SetCursorPos(boxLeft + 200, boxTop + boxH + 200);
    POINT pt{};
    GetCursorPos(&pt);
    EXPECT_LT(pt.y, box.bottom);

    moveTo(boxLeft + 200, boxTop + 215);
    button(MOUSEEVENTF_LEFTUP);
    EXPECT_FALSE(s.dragging());
    GetClipCursor(&clip);
    EXPECT_TRUE(sameRect(clip, screenRect())) << str(clip);
    EXPECT_EQ(pane1Height(), 200);
    EXPECT_FLOAT_EQ(s.Proportion(), 40.0f);

    // Twice as large: pane 1 keeps its 40 %.
    host.size(boxW, boxH * 2);
    EXPECT_EQ(pane1Height(), 400);
    // The minimum of pane 2 still clamps.
    s.MinimumSize(2, 700);
    EXPECT_EQ(pane1Height(), 1000 - 700 - 30);
}

TEST_F(SplitterDrag, DragIsClampedByTheMinimums) {
    s.FullDrag(true);
    s.MinimumSize(1, 60);
    moveTo(boxLeft + 50, boxTop + 115);
    button(MOUSEEVENTF_LEFTDOWN);
    moveTo(boxLeft + 50, boxTop + 5);
    EXPECT_EQ(pane1Height(), 60);
    button(MOUSEEVENTF_LEFTUP);
    EXPECT_EQ(pane1Height(), 60);
    EXPECT_FLOAT_EQ(s.Proportion(), 60.0f / boxH * 100.0f);
}

TEST_F(SplitterDrag, OutlineFollowsPointerAndPanesMoveOnRelease) {
    ASSERT_FALSE(s.FullDrag());
    const int probeX = boxLeft + 200, oldBar = boxTop + 115, newBar = boxTop + 265;
    const COLORREF before = screenPixel(probeX, oldBar);
    moveTo(probeX, oldBar);
    button(MOUSEEVENTF_LEFTDOWN);
    ASSERT_TRUE(s.dragging());
    RECT bar = s.dragBarRect();
    EXPECT_TRUE(sameRect(bar, RECT{boxLeft, boxTop + 100, boxLeft + boxW, boxTop + 130})) << str(bar);

    moveTo(probeX, newBar);
    bar = s.dragBarRect();
    EXPECT_TRUE(sameRect(bar, RECT{boxLeft, boxTop + 250, boxLeft + boxW, boxTop + 280})) << str(bar);
    EXPECT_EQ(pane1Height(), 100);  // only the outline moves
    // The outline inverts the screen where it lies (two neighbours cover both
    // phases of the checkerboard).
    const bool inverted = screenPixel(probeX, newBar) != screenPixel(probeX + 1, newBar) ||
                          screenPixel(probeX, newBar) != screenPixel(probeX, newBar + 1);
    EXPECT_TRUE(inverted);

    button(MOUSEEVENTF_LEFTUP);
    EXPECT_FALSE(s.dragging());
    EXPECT_EQ(pane1Height(), 250);
    pumpFor(100);
    // Erased: the container shows through the bar again, as before the drag.
    EXPECT_EQ(screenPixel(probeX + 1, newBar), before);
    EXPECT_EQ(screenPixel(probeX, newBar + 1), before);
}

TEST_F(SplitterDrag, RightButtonAndCancelStartNoDragAndAnyReleaseEndsOne) {
    s.FullDrag(true);
    moveTo(boxLeft + 200, boxTop + 115);
    button(MOUSEEVENTF_RIGHTDOWN);
    EXPECT_FALSE(s.dragging());
    button(MOUSEEVENTF_RIGHTUP);

    int raised = 0;
    s.Split = [&](float x, float y, bool& bCancel) {
        ++raised;
        EXPECT_FLOAT_EQ(x, 200.0f);
        EXPECT_FLOAT_EQ(y, 115.0f);
        bCancel = true;
    };
    button(MOUSEEVENTF_LEFTDOWN);
    EXPECT_EQ(raised, 1);
    EXPECT_FALSE(s.dragging());
    RECT clip{};
    GetClipCursor(&clip);
    EXPECT_TRUE(sameRect(clip, screenRect())) << str(clip);
    button(MOUSEEVENTF_LEFTUP);

    s.Split = nullptr;
    button(MOUSEEVENTF_LEFTDOWN);
    ASSERT_TRUE(s.dragging());
    moveTo(boxLeft + 200, boxTop + 145);
    s.MouseUp(2, 0, 200, 145);  // a release of the other button ends it too
    EXPECT_FALSE(s.dragging());
    EXPECT_EQ(pane1Height(), 130);
    GetClipCursor(&clip);
    EXPECT_TRUE(sameRect(clip, screenRect())) << str(clip);
}
