// Divides a container window's inner area into two panes with a bar the user
// drags. The splitter owns no window: the container shows through between the
// panes, forwards its mouse and resize events here, and the splitter moves the
// panes. The container's own scale is twips. The bar's size and the panes'
// limits are pixels at 96 DPI, drawn larger at the container's DPI; the
// position is in the container's pixels.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "base/Handles.h"

// A numbered error, raised by the setters as the program's classes raise them:
// source is the executable's base name + ".cSplitter".
struct SplitterError {
    long number;
    std::string source, description;
};

class cSplitter {
public:
    static constexpr long errInvalidProperty = 380;
    static constexpr long errSubscript = 9;
    static constexpr long horizontal = 1;  // bar across, pane 1 above pane 2
    static constexpr long vertical = 2;    // bar upright, pane 1 left of pane 2

    cSplitter();
    ~cSplitter();
    cSplitter(const cSplitter&) = delete;
    cSplitter& operator=(const cSplitter&) = delete;

    bool FullDrag() const { return fullDrag_; }
    void FullDrag(bool bFullDrag);
    long Orientation() const { return orientation_; }
    void Orientation(long lOrientation);
    float Proportion() const;
    void Proportion(float fProportion);
    long Position() const { return position_; }
    void Position(long lPosition);
    bool KeepProportion() const { return keepProportion_; }
    void KeepProportion(bool bKeep) { keepProportion_ = bKeep; }
    void Container(HWND oContainer);
    HWND Container() const { return container_; }
    // The DPI the container is drawn for; a change keeps the proportion.
    void DisplayDpi(int dpi);
    int DisplayDpi() const { return dpi_; }
    long SplitterSize() const { return splitterSize_; }
    void SplitterSize(long lSize);
    long MinimumSize(int ePanel) const;
    void MinimumSize(int ePanel, long lSize);
    long MaximumSize(int ePanel) const;
    void MaximumSize(int ePanel, long lSize);

    void Bind(HWND oLeftTop, HWND oRightBottom);
    // The container's mouse events, passed unchanged (Button: 1 left, 2 right,
    // 4 middle; x and y in the container's units).
    void MouseDown(short Button, short Shift, float x, float y);
    void MouseMove(short Button, short Shift, float x, float y);
    void MouseUp(short Button, short Shift, float x, float y);
    void Resize();

    // Raised when a drag is about to start; setting bCancel stops it.
    std::function<void(float x, float y, bool& bCancel)> Split;

    bool dragging() const { return dragging_; }
    // The outline bar's screen rectangle while an outline drag runs.
    RECT dragBarRect() const { return barRect_; }

private:
    bool IsBound() const;
    void DrawDragBar() const;
    void UpdateProportion();
    void ClampPosition();
    void LayoutPanes();
    void CreateDragBrush();
    void DeleteDragBrush();

    long innerLength() const;  // pixels along the split direction
    long scaled(long dips) const;  // a size at 96 DPI, at the container's
    RECT outlineRect() const;
    long dragPosition() const;
    void loadCursor();
    static int panelIndex(int ePanel);

    bool fullDrag_ = false;
    long orientation_ = horizontal;
    mutable float fraction_ = 1.0f;  // reading Proportion caps it at the whole
    long position_ = 128;
    bool keepProportion_ = false;
    HWND container_ = nullptr;
    int dpi_ = 96;
    long splitterSize_ = 30;
    long minimum_[2] = {8, 8};
    long maximum_[2] = {-1, -1};

    HWND paneLeftTop_ = nullptr, paneRightBottom_ = nullptr;
    bool dragging_ = false;
    POINT dragStart_{};
    long dragStartPosition_ = 0;
    RECT barRect_{};
    HCURSOR cursor_ = nullptr;  // a shared system cursor: nothing to free
    AutoHbrush dragBrush_;
};
