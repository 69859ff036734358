// The frame of cells, text measuring and wrapping, and the icons as cells.
#include "platform/window/internal/canvas.h"

#include "platform/text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace platform::detail {

namespace {

struct Range {
    char32_t first;
    char32_t last;
};

constexpr Range zeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x0591, 0x05BD}, {0x0610, 0x061A}, {0x064B, 0x065F},
    {0x0E31, 0x0E31}, {0x0E34, 0x0E3A}, {0x1AB0, 0x1AFF}, {0x1DC0, 0x1DFF}, {0x200B, 0x200F},
    {0x20D0, 0x20FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F},
};

constexpr Range wide[] = {
    {0x1100, 0x115F}, {0x2E80, 0x303E},   {0x3041, 0x33FF},   {0x3400, 0x4DBF},   {0x4E00, 0x9FFF},
    {0xA000, 0xA4CF}, {0xAC00, 0xD7A3},   {0xF900, 0xFAFF},   {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},
    {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F}, {0x1F900, 0x1F9FF}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD},
};

template <std::size_t N>
bool within(const Range (&ranges)[N], char32_t c) {
    return std::any_of(std::begin(ranges), std::end(ranges), [c](Range r) { return c >= r.first && c <= r.last; });
}

// Control characters would be commands to the terminal: never let one through.
char32_t printable(char32_t c) { return isControlCharacter(c) ? U'?' : c; }

bool isBlank(char32_t c) { return c == U' '; }

}  // namespace

int characterWidth(char32_t c) {
    if (within(zeroWidth, c)) return 0;
    return within(wide, c) ? 2 : 1;
}

std::u32string codePoints(std::u16string_view text) {
    std::u32string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
            result += static_cast<char32_t>(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (isNameEscape(unit)) {
            // A name's own byte: '\\' and control characters as themselves (printable()
            // masks the latter), a byte that is no UTF-8 as the replacement character.
            const auto byte = static_cast<unsigned char>(escapedByte(unit));
            result += byte < 0x80 ? char32_t(byte) : U'\uFFFD';
        } else if (unit >= 0xD800 && unit < 0xE000) {
            result += U'\uFFFD';
        } else {
            result += unit;
        }
    }
    return result;
}

std::u16string utf16Units(std::u32string_view text) {
    std::u16string result;
    for (char32_t c : text) {
        if (c < 0x10000) {
            result += static_cast<char16_t>(c);
        } else {
            result += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            result += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return result;
}

int cellWidth(std::u32string_view text) {
    int width = 0;
    for (char32_t c : text) width += characterWidth(c);
    return width;
}

std::vector<std::u32string> layoutLines(std::u16string_view text, int width, bool wordBreak) {
    std::vector<std::u32string> lines;
    std::u32string all = codePoints(text);
    std::size_t start = 0;
    while (start <= all.size()) {
        std::size_t end = all.find_first_of(U"\r\n", start);
        if (end == std::u32string::npos) end = all.size();
        std::u32string_view line(all.data() + start, end - start);
        if (!wordBreak || width <= 0) {
            lines.emplace_back(line);
        } else {
            // Greedy wrap: break at the last blank that keeps the line within the width.
            while (cellWidth(line) > width) {
                std::size_t cut = 0;
                std::size_t lastBlank = std::u32string_view::npos;
                int used = 0;
                while (cut < line.size() && used + characterWidth(line[cut]) <= width) {
                    if (isBlank(line[cut])) lastBlank = cut;
                    used += characterWidth(line[cut]);
                    ++cut;
                }
                if (cut < line.size() && isBlank(line[cut])) lastBlank = cut;
                std::size_t take = lastBlank != std::u32string_view::npos && lastBlank > 0
                                       ? lastBlank
                                       : std::max<std::size_t>(cut, 1);
                lines.emplace_back(line.substr(0, take));
                line.remove_prefix(take);
                while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
            }
            lines.emplace_back(line);
        }
        if (end == all.size()) break;
        start = end + (all[end] == U'\r' && end + 1 < all.size() && all[end + 1] == U'\n' ? 2 : 1);
    }
    return lines;
}

Rect intersect(Rect a, Rect b) {
    Rect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

void Frame::resize(TerminalSize size) {
    size_ = size;
    cells_.assign(static_cast<std::size_t>(std::max(0, size.columns * size.rows)), Cell{});
}

void Frame::clear() { std::fill(cells_.begin(), cells_.end(), Cell{}); }

void Frame::put(int x, int y, char32_t character, CellStyle style) {
    if (y < 0 || y >= size_.rows || x < 0 || x >= size_.columns) return;
    character = printable(character);
    int width = characterWidth(character);
    if (width == 0) {
        // A combining mark joins the character before it.
        if (x > 0 && at(x - 1, y).combining == 0) at(x - 1, y).combining = character;
        return;
    }
    // Overwriting half of a wide character blanks its other half.
    if (at(x, y).character == 0 && x > 0) at(x - 1, y) = Cell{U' ', 0, at(x - 1, y).style};
    if (x + 1 < size_.columns && at(x + 1, y).character == 0) at(x + 1, y) = Cell{U' ', 0, at(x + 1, y).style};
    if (width == 2) {
        if (x + 1 >= size_.columns) {
            at(x, y) = Cell{U' ', 0, style};
            return;
        }
        if (x + 2 < size_.columns && at(x + 2, y).character == 0) at(x + 2, y) = Cell{U' ', 0, at(x + 2, y).style};
        at(x + 1, y) = Cell{0, 0, style};
    }
    at(x, y) = Cell{character, 0, style};
}

void Frame::setStyle(int x, int y, CellStyle style) {
    if (y < 0 || y >= size_.rows || x < 0 || x >= size_.columns) return;
    at(x, y).style = style;
}

bool Canvas::inside(int x, int y) const {
    int sx = origin_.x + x;
    int sy = origin_.y + y;
    return sx >= clip_.left && sx < clip_.right && sy >= clip_.top && sy < clip_.bottom;
}

int Canvas::text(int x, int y, std::u32string_view text, CellStyle style, int maxWidth) {
    int used = 0;
    for (char32_t c : text) {
        int width = characterWidth(printable(c));
        if (used + width > maxWidth) break;
        // A wide character must fit whole inside the clip.
        if (inside(x + used, y) && (width < 2 || inside(x + used + 1, y)))
            frame_->put(origin_.x + x + used, origin_.y + y, c, style);
        else if (width == 2 && inside(x + used, y)) frame_->put(origin_.x + x + used, origin_.y + y, U' ', style);
        used += width;
    }
    return used;
}

int Canvas::text(int x, int y, std::u16string_view text, CellStyle style, int maxWidth) {
    return this->text(x, y, std::u32string_view(codePoints(text)), style, maxWidth);
}

void Canvas::fill(Rect rect, CellStyle style, char32_t character) {
    for (int y = rect.top; y < rect.bottom; ++y)
        for (int x = rect.left; x < rect.right; ++x)
            if (inside(x, y)) frame_->put(origin_.x + x, origin_.y + y, character, style);
}

void Canvas::frame(Rect box, bool unicode) {
    std::u32string line(static_cast<std::size_t>(std::max(0, box.width() - 2)), unicode ? U'\u2500' : U'-');
    text(box.left, box.top, (unicode ? U"\u250C" : U"+") + line + (unicode ? U"\u2510" : U"+"), CellStyle::frame);
    text(box.left, box.bottom - 1, (unicode ? U"\u2514" : U"+") + line + (unicode ? U"\u2518" : U"+"),
         CellStyle::frame);
    std::u32string side(1, unicode ? U'\u2502' : U'|');
    for (int y = box.top + 1; y < box.bottom - 1; ++y) {
        text(box.left, y, side, CellStyle::frame);
        text(box.right - 1, y, side, CellStyle::frame);
    }
}

void Canvas::frameDivider(Rect box, int y, bool unicode) {
    std::u32string line(static_cast<std::size_t>(std::max(0, box.width() - 2)), unicode ? U'\u2500' : U'-');
    text(box.left, y, (unicode ? U"\u251C" : U"|") + line + (unicode ? U"\u2524" : U"|"), CellStyle::frame);
}

namespace {

struct IconLook {
    char32_t symbol;
    std::u32string_view ascii;
};

constexpr std::array<IconLook, static_cast<std::size_t>(IconId::count)> iconLooks{{
    {U' ', U""},           // none
    {U'\u25A0', U"[D]"},   // folder
    {U'\u21B0', U"[..]"},  // parentFolder
    {U'\u25A1', U"[F]"},   // file
    {U'\u2261', U"[T]"},   // text
    {U'\u25A8', U"[I]"},   // image
    {U'\u266A', U"[A]"},   // audio
    {U'\u25B6', U"[V]"},   // video
    {U'\u25A4', U"[Z]"},   // archive
    {U'\u2318', U"[X]"},   // program
    {U'\u21AA', U"[L]"},   // link
    {U'\u00B6', U"[W]"},   // document
    {U'\u25CE', U"[H]"},   // web
    {U'\u25AF', U"[M]"},   // device
    {U'\u25AD', U"[C]"},   // storageCard
    {U'\u2630', U"[S]"},   // server
    {U'\u25CB', U"[ ]"},   // queuePending
    {U'\u25D0', U"[>]"},   // queueActive
    {U'\u2713', U"[+]"},   // queueDone
    {U'\u2717', U"[!]"},   // queueFailed
}};

}  // namespace

int iconWidth(bool unicode) { return unicode ? 2 : 4; }

std::u32string iconCells(IconId icon, bool unicode) {
    auto index = static_cast<std::size_t>(icon);
    if (index >= iconLooks.size()) index = 0;
    std::u32string cells = unicode ? std::u32string(1, iconLooks[index].symbol)
                                   : std::u32string(iconLooks[index].ascii);
    cells.resize(static_cast<std::size_t>(iconWidth(unicode)), U' ');
    return cells;
}

}  // namespace platform::detail
