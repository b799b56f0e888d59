#include "library/cSplitter.h"

#include <cmath>

#include "base/Dpi.h"
#include "base/ModCommon.h"

namespace {

// Four 32-bit words 0xAAAA5555: rows alternate 55 55 / AA AA, a 50 % checkerboard.
constexpr WORD dragPattern[8] = {0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA, 0x5555, 0xAAAA};

[[noreturn]] void raise(long number, const char* description) {
    throw SplitterError{number, ModCommon::exeBaseName() + ".cSplitter", description};
}

RECT clientRect(HWND h) {
    RECT rc{};
    GetClientRect(h, &rc);
    return rc;
}

// Moves a pane by the container's twips. A negative size is refused, as the
// platform's Move refuses it, and the pane keeps its place.
void movePane(HWND pane, int left, int top, int width, int height, int dpi) {
    if (width < 0 || height < 0)
        return;
    MoveWindow(pane, Dpi::fromTwips(left, dpi), Dpi::fromTwips(top, dpi), Dpi::fromTwips(width, dpi),
               Dpi::fromTwips(height, dpi), TRUE);
}

}  // namespace

cSplitter::cSplitter() {
    loadCursor();
    CreateDragBrush();
}

cSplitter::~cSplitter() {
    if (dragging_)
        ClipCursor(nullptr);
    DeleteDragBrush();
}

void cSplitter::loadCursor() {
    cursor_ = LoadCursor(nullptr, orientation_ == horizontal ? IDC_SIZENS : IDC_SIZEWE);
}

int cSplitter::panelIndex(int ePanel) {
    if (ePanel != 1 && ePanel != 2)
        raise(errSubscript, "Subscript out of range");
    return ePanel - 1;
}

void cSplitter::FullDrag(bool bFullDrag) {
    if (bFullDrag == fullDrag_)
        return;
    fullDrag_ = bFullDrag;
    if (fullDrag_)
        DeleteDragBrush();
    else
        CreateDragBrush();
}

void cSplitter::Orientation(long lOrientation) {
    if (lOrientation == orientation_)
        return;
    orientation_ = lOrientation;
    loadCursor();
    Resize();
}

float cSplitter::Proportion() const {
    if (fraction_ > 1.0f)
        fraction_ = 1.0f;
    return fraction_ * 100.0f;
}

void cSplitter::Proportion(float fProportion) {
    if (!(fProportion >= 0.0f && fProportion <= 100.0f))
        raise(errInvalidProperty, "Invalid property value");
    fraction_ = fProportion / 100.0f;
    Resize();
}

void cSplitter::Position(long lPosition) {
    if (lPosition == position_)
        return;
    position_ = lPosition;
    ClampPosition();
    UpdateProportion();
    Resize();
}

void cSplitter::SplitterSize(long lSize) {
    if (lSize == splitterSize_)
        return;
    if (lSize < 0)
        raise(errInvalidProperty, "Invalid property value");
    splitterSize_ = lSize;
    Resize();
}

long cSplitter::MinimumSize(int ePanel) const {
    return minimum_[panelIndex(ePanel)];
}

void cSplitter::MinimumSize(int ePanel, long lSize) {
    long& slot = minimum_[panelIndex(ePanel)];
    if (lSize == slot)
        return;
    slot = lSize;
    Resize();
}

long cSplitter::MaximumSize(int ePanel) const {
    return maximum_[panelIndex(ePanel)];
}

void cSplitter::MaximumSize(int ePanel, long lSize) {
    maximum_[panelIndex(ePanel)] = lSize;
}

void cSplitter::Container(HWND oContainer) {
    container_ = oContainer;
    if (container_)
        dpi_ = Dpi::ofWindow(container_);
}

void cSplitter::DisplayDpi(int dpi) {
    if (dpi <= 0 || dpi == dpi_)
        return;
    position_ = MulDiv(position_, dpi, dpi_);
    dpi_ = dpi;
    ClampPosition();
    UpdateProportion();
    Resize();
}

long cSplitter::scaled(long dips) const {
    return MulDiv(dips, dpi_, Dpi::standard);
}

void cSplitter::Bind(HWND oLeftTop, HWND oRightBottom) {
    if (!container_)
        Container(GetParent(oLeftTop));
    paneLeftTop_ = oLeftTop;
    paneRightBottom_ = oRightBottom;
    if (GetParent(oLeftTop) != container_)
        SetParent(oLeftTop, container_);
    if (GetParent(oRightBottom) != container_)
        SetParent(oRightBottom, container_);
    Resize();
}

bool cSplitter::IsBound() const {
    return container_ && paneLeftTop_ && paneRightBottom_;
}

long cSplitter::innerLength() const {
    RECT rc = clientRect(container_);
    return orientation_ == horizontal ? rc.bottom - rc.top : rc.right - rc.left;
}

void cSplitter::Resize() {
    if (!IsBound())
        return;
    if (keepProportion_) {
        // Halves go to the even neighbour, as the platform's own rounding does.
        position_ = static_cast<long>(std::nearbyint(static_cast<double>(fraction_) * innerLength()));
        ClampPosition();
    }
    LayoutPanes();
}

void cSplitter::ClampPosition() {
    if (!container_)
        return;
    const long length = innerLength(), bar = scaled(splitterSize_);
    const long min[2] = {scaled(minimum_[0]), scaled(minimum_[1])};
    const long max[2] = {scaled(maximum_[0]), scaled(maximum_[1])};
    if (maximum_[1] >= 1 && length - position_ - bar > max[1])
        position_ = length - max[1] - bar;
    if (maximum_[0] >= 1 && position_ > max[0])
        position_ = max[0];
    if (minimum_[1] > 0 && length - position_ - bar < min[1])
        position_ = length - min[1] - bar;
    if (minimum_[0] >= 1 && position_ < min[0])
        position_ = min[0];
}

void cSplitter::LayoutPanes() {
    RECT rc = clientRect(container_);
    const int dpi = dpi_;
    const int width = Dpi::toTwips(rc.right, dpi), height = Dpi::toTwips(rc.bottom, dpi);
    const int p = Dpi::toTwips(position_, dpi), s = Dpi::toTwips(scaled(splitterSize_), dpi);
    if (orientation_ == horizontal) {
        movePane(paneLeftTop_, 0, 0, width, p, dpi);
        movePane(paneRightBottom_, 0, p + s, width, height - (p + s), dpi);
    } else {
        movePane(paneLeftTop_, 0, 0, p, height, dpi);
        movePane(paneRightBottom_, p + s, 0, width - (p + s), height, dpi);
    }
}

void cSplitter::UpdateProportion() {
    if (!container_)
        return;
    // An empty container has no share to take; the old fraction stays.
    const long length = innerLength();
    if (length > 0)
        fraction_ = static_cast<float>(position_) / static_cast<float>(length);
}

void cSplitter::CreateDragBrush() {
    DeleteDragBrush();
    BITMAP bm{};
    bm.bmWidth = 16;
    bm.bmHeight = 8;
    bm.bmWidthBytes = 2;
    bm.bmPlanes = 1;
    bm.bmBitsPixel = 1;
    bm.bmBits = const_cast<WORD*>(dragPattern);
    AutoHbitmap pattern(CreateBitmapIndirect(&bm));
    if (pattern)
        dragBrush_.reset(CreatePatternBrush(pattern.get()));
}

void cSplitter::DeleteDragBrush() {
    dragBrush_.reset();
}

void cSplitter::DrawDragBar() const {
    HDC dc = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!dc)
        return;
    HGDIOBJ old = SelectObject(dc, dragBrush_.get());
    PatBlt(dc, barRect_.left, barRect_.top, barRect_.right - barRect_.left, barRect_.bottom - barRect_.top,
           PATINVERT);
    SelectObject(dc, old);
    DeleteDC(dc);
}

RECT cSplitter::outlineRect() const {
    RECT w{};
    GetWindowRect(container_, &w);
    if (orientation_ == horizontal)
        return {w.left, w.top + position_, w.right, w.top + position_ + scaled(splitterSize_)};
    return {w.left + position_, w.top, w.left + position_ + scaled(splitterSize_), w.bottom};
}

long cSplitter::dragPosition() const {
    POINT pt{};
    GetCursorPos(&pt);
    return dragStartPosition_ + (orientation_ == horizontal ? pt.y - dragStart_.y : pt.x - dragStart_.x);
}

void cSplitter::MouseDown(short Button, short, float x, float y) {
    if (Button != 1 || !IsBound())
        return;
    bool cancel = false;
    if (Split)
        Split(x, y, cancel);
    if (cancel)
        return;
    dragging_ = true;
    GetCursorPos(&dragStart_);
    dragStartPosition_ = position_;
    RECT w{};
    GetWindowRect(container_, &w);
    ClipCursor(&w);
    if (!fullDrag_) {
        barRect_ = outlineRect();
        DrawDragBar();
    }
}

void cSplitter::MouseMove(short, short, float, float) {
    if (!IsBound())
        return;
    SetCursor(cursor_);
    if (!dragging_)
        return;
    if (!fullDrag_)
        DrawDragBar();
    position_ = dragPosition();
    ClampPosition();
    if (fullDrag_) {
        LayoutPanes();
    } else {
        barRect_ = outlineRect();
        DrawDragBar();
    }
}

void cSplitter::MouseUp(short, short, float, float) {
    if (!IsBound() || !dragging_)
        return;
    ClipCursor(nullptr);
    if (!fullDrag_)
        DrawDragBar();
    position_ = dragPosition();
    ClampPosition();
    LayoutPanes();
    UpdateProportion();
    dragging_ = false;
}
