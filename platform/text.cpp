#include "platform/text.h"

#include <cstdint>

namespace platform {
namespace {

void appendUtf8(std::string& out, char32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

void appendUtf16(std::u16string& out, char32_t code) {
    if (code >= 0x10000) {
        out += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
        out += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
    } else {
        out += static_cast<char16_t>(code);
    }
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// What decodeUtf8 gives for bytes that are no UTF-8 character.
constexpr char32_t notUtf8 = 0xFFFFFFFF;

// Decodes one UTF-8 character at `text[pos]`; sets `length` to the bytes it takes.
// Overlong forms, surrogates, values above U+10FFFF and cut sequences decode as
// notUtf8 taking the bytes that were examined (at least one).
char32_t decodeUtf8(std::string_view text, std::size_t pos, std::size_t& length) {
    const auto lead = static_cast<unsigned char>(text[pos]);
    length = 1;
    if (lead < 0x80) return lead;
    std::size_t needed;
    char32_t code;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        code = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        code = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        code = lead & 0x07;
        minimum = 0x10000;
    } else {
        return notUtf8;
    }
    for (std::size_t i = 1; i <= needed; ++i) {
        if (pos + i >= text.size() || !isContinuation(static_cast<unsigned char>(text[pos + i]))) {
            length = i;
            return notUtf8;
        }
        code = (code << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
    }
    length = needed + 1;
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return notUtf8;
    }
    return code;
}

}  // namespace

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            const char32_t code = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            appendUtf8(out, code);
            ++i;
        } else if (isNameEscape(unit)) {
            out += escapedByte(unit);
        } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
            appendUtf8(out, replacementCharacter);
        } else {
            appendUtf8(out, unit);
        }
    }
    return out;
}

std::u16string toUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t length;
        char32_t code = decodeUtf8(text, pos, length);
        if (code == notUtf8) code = replacementCharacter;
        pos += length;
        appendUtf16(out, code);
    }
    return out;
}

namespace {

std::string printable(std::string_view text, bool keepLineFeeds) {
    std::u16string wide = toUtf16(text);
    for (char16_t& unit : wide) {
        if (isControlCharacter(unit) && !(keepLineFeeds && unit == u'\n')) unit = u'?';
    }
    return toUtf8(wide);
}

}  // namespace

std::string printableText(std::string_view text) { return printable(text, true); }

std::string printableLine(std::string_view text) { return printable(text, false); }

std::string_view unusableName(std::string_view name) {
    if (name.empty()) return "no name";
    if (name == "." || name == "..") return "'.' or '..'";
    std::string_view reason;
    for (std::size_t pos = 0, length = 0; pos < name.size(); pos += length) {
        const char32_t code = decodeUtf8(name, pos, length);
        // A line end outweighs the rest: it is what would cut a listing's line in two.
        if (code == '\r' || code == '\n') return "a line end in its name";
        if (!reason.empty()) continue;
        if (code == notUtf8) reason = "not UTF-8";
        else if (isControlCharacter(code)) reason = "a control character in its name";
        else if (code == '/' || code == '\\') reason = "a '/' or '\\' in its name";
    }
    return reason;
}

bool isNameEscape(char16_t unit) {
    if (unit < 0xDC01 || unit > 0xDCFF) return false;
    const auto byte = static_cast<unsigned char>(escapedByte(unit));
    return byte >= 0x80 || byte < 0x20 || byte == 0x7F || byte == '\\';
}

std::u16string nameFromHost(std::string_view name) {
    std::u16string out;
    out.reserve(name.size());
    std::size_t pos = 0;
    while (pos < name.size()) {
        const auto byte = static_cast<unsigned char>(name[pos]);
        std::size_t length;
        const char32_t code = decodeUtf8(name, pos, length);
        // Only the first byte of a bad sequence is escaped: the next may begin a good one.
        const bool escaped = code == notUtf8 || byte == '\\' || byte < 0x20 || byte == 0x7F;
        if (escaped) {
            out += static_cast<char16_t>(0xDC00 + byte);
            ++pos;
            continue;
        }
        pos += length;
        appendUtf16(out, code);
    }
    return out;
}

bool hasByteForm(std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (isHighSurrogate(text[i]) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;
        } else if ((isHighSurrogate(text[i]) || isLowSurrogate(text[i])) && !isNameEscape(text[i])) {
            return false;
        }
    }
    return true;
}

bool copyBounded(char16_t* target, std::size_t capacity, std::u16string_view source) {
    if (capacity == 0) return source.empty();
    std::size_t count = source.size();
    const bool fits = count < capacity;
    if (!fits) {
        count = capacity - 1;
        if (count > 0 && isHighSurrogate(source[count - 1]) && isLowSurrogate(source[count])) --count;
    }
    source.copy(target, count);
    target[count] = 0;
    return fits;
}

bool copyBounded(char* target, std::size_t capacity, std::string_view source) {
    if (capacity == 0) return source.empty();
    std::size_t count = source.size();
    const bool fits = count < capacity;
    if (!fits) {
        count = capacity - 1;
        // Step back to the lead byte of a sequence that the cut would split.
        while (count > 0 && isContinuation(static_cast<unsigned char>(source[count]))) --count;
    }
    source.copy(target, count);
    target[count] = 0;
    return fits;
}

std::u16string_view boundedView(const char16_t* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return {text, length};
}

std::string_view boundedView(const char* text, std::size_t capacity) {
    std::size_t length = 0;
    while (length < capacity && text[length] != 0) ++length;
    return {text, length};
}

std::u16string lowerAscii(std::u16string_view text) {
    std::u16string result(text);
    for (auto& unit : result) {
        if (unit >= u'A' && unit <= u'Z') unit = static_cast<char16_t>(unit - u'A' + u'a');
    }
    return result;
}

}  // namespace platform
