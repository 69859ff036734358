// Internal: the frame of cells the window system draws into, and text measuring.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/icons.h"
#include "platform/window/terminal.h"
#include "platform/window/window.h"

namespace platform::detail {

// Cells a character takes: 0 for combining marks, 2 for wide (East Asian, emoji), else 1.
int characterWidth(char32_t character);
std::u32string codePoints(std::u16string_view text);
std::u16string utf16Units(std::u32string_view text);
int cellWidth(std::u32string_view text);

// Splits text at "\r", "\r\n" and "\n"; with wordBreak also wraps each line at spaces
// (a word longer than the width is cut) so that no line is wider than `width` cells.
std::vector<std::u32string> layoutLines(std::u16string_view text, int width, bool wordBreak);

Rect intersect(Rect a, Rect b);

// The cells of the screen.
class Frame {
public:
    void resize(TerminalSize size);
    TerminalSize size() const { return size_; }
    void clear();
    const Cell* row(int y) const { return &cells_[static_cast<std::size_t>(y) * size_.columns]; }
    void put(int x, int y, char32_t character, CellStyle style);
    void setStyle(int x, int y, CellStyle style);

private:
    Cell& at(int x, int y) { return cells_[static_cast<std::size_t>(y) * size_.columns + x]; }
    TerminalSize size_;
    std::vector<Cell> cells_;
};

// Drawing into the frame through a window's client area: coordinates are relative to
// `origin`, and nothing lands outside `clip` (screen cells).
class Canvas {
public:
    Canvas(Frame& frame, Point origin, Rect clip) : frame_(&frame), origin_(origin), clip_(clip) {}
    // Writes the text from (x, y), at most maxWidth cells; returns the cells used.
    int text(int x, int y, std::u32string_view text, CellStyle style, int maxWidth = 1 << 20);
    int text(int x, int y, std::u16string_view text, CellStyle style, int maxWidth = 1 << 20);
    void fill(Rect rect, CellStyle style, char32_t character = U' ');
    // A frame along the edges of `box`, in box-drawing characters or ASCII.
    void frame(Rect box, bool unicode);
    // A horizontal line across a frame at row y, joined to its sides.
    void frameDivider(Rect box, int y, bool unicode);
    // The same canvas clipped further to `area` (screen cells).
    Canvas within(Rect area) const { return Canvas(*frame_, origin_, intersect(clip_, area)); }
    Point origin() const { return origin_; }
    Rect clip() const { return clip_; }

private:
    bool inside(int x, int y) const;
    Frame* frame_;
    Point origin_;
    Rect clip_;
};

// The icon of an id as written in a list row, padded to iconCellWidth cells.
std::u32string iconCells(IconId icon, bool unicode);
int iconWidth(bool unicode);

}  // namespace platform::detail
