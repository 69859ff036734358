// Drawing into a window while it paints, and the measures of text and icons.
#include "platform/window/drawing.h"

#include <algorithm>

#include "platform/window/internal/system.h"

namespace platform {

using namespace detail;

namespace {

// The canvas of the window being painted, or null.
Canvas* paintCanvasOf(Window window) {
    State* s = state();
    return s && onUiThread() && s->painting == window ? s->paintCanvas : nullptr;
}

}  // namespace

int drawText(Window window, Rect rect, std::u16string_view text, unsigned flags) {
    std::vector<std::u32string> lines = layoutLines(text, rect.width(), (flags & drawWordBreak) != 0);
    Canvas* canvas = paintCanvasOf(window);
    if (!canvas) return static_cast<int>(lines.size());
    Point origin = canvas->origin();
    Rect area = intersect(canvas->clip(),
                          {origin.x + rect.left, origin.y + rect.top, origin.x + rect.right, origin.y + rect.bottom});
    Canvas target = canvas->within(area);
    CellStyle style = (flags & drawBold) ? CellStyle::label : CellStyle::normal;
    for (std::size_t row = 0; row < lines.size(); ++row) {
        int y = rect.top + static_cast<int>(row);
        if (y >= rect.bottom) break;
        int x = rect.left;
        if (flags & drawCenter) x += std::max(0, (rect.width() - cellWidth(lines[row])) / 2);
        target.text(x, y, lines[row], style, rect.right - x);
    }
    return static_cast<int>(lines.size());
}

int drawIcon(Window window, Point point, IconId icon) {
    State* s = state();
    if (!s) return 0;
    std::u32string cells = iconCells(icon, s->terminal.unicode());
    while (!cells.empty() && cells.back() == U' ') cells.pop_back();
    if (Canvas* canvas = paintCanvasOf(window)) canvas->text(point.x, point.y, cells, CellStyle::normal);
    return cellWidth(cells);
}

void clearRect(Window window, Rect rect) {
    if (Canvas* canvas = paintCanvasOf(window)) canvas->fill(rect, CellStyle::normal);
}

}  // namespace platform
