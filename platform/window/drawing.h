// Drawing on a window of one's own: while a window handles paint, these functions draw
// into its client area (clipped to it), in cells. Called at other times they draw
// nothing. Icons are a symbol in a UTF-8 locale, a bracketed ASCII tag such as "[D]"
// otherwise. UI thread only.
#pragma once

#include <string_view>

#include "platform/icons.h"
#include "platform/window/window.h"

namespace platform {

enum DrawTextFlag : unsigned {
    drawCenter = 1u << 0,     // centre each line in the rectangle
    drawWordBreak = 1u << 1,  // wrap lines at spaces to the rectangle's width
    drawBold = 1u << 2,
};

// Draws text whose lines are separated by "\r" (or "\r\n", "\n") into the rectangle of
// the client area; returns the number of lines it took (also those cut off at the bottom).
int drawText(Window window, Rect rect, std::u16string_view text, unsigned flags = 0);  // UI thread only.
// Draws an icon with its first cell at the point; returns the cells it took.
int drawIcon(Window window, Point point, IconId icon);  // UI thread only.
// Clears the rectangle to blanks.
void clearRect(Window window, Rect rect);  // UI thread only.

}  // namespace platform
