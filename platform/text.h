// Text: the user interface works in UTF-16, the FTP engine and the host in UTF-8.
// These conversions stand in for the platform's code-page conversions; they never
// fail: invalid bytes become U+FFFD, and so do unpaired surrogates, except the name
// escapes below, which toUtf8 turns back into their bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char16_t replacementCharacter = 0xFFFD;

std::string toUtf8(std::u16string_view text);
std::u16string toUtf16(std::string_view text);

// A file name from the host or a server, as device text. The device path syntax gives
// '\\' a meaning, and bytes that are not UTF-8 have no UTF-16 form, so either would let
// one name stand for another entry. Here each '\\', each control character and each
// byte that is not part of a valid UTF-8 character becomes the unpaired surrogate
// U+DC00 + byte (a name escape), which no valid UTF-8 decodes to: the mapping is
// reversible (toUtf8 gives the bytes back) and no name can hold a separator.
std::u16string nameFromHost(std::string_view name);
// True for a unit that only a name escape produces.
bool isNameEscape(char16_t unit);
// The byte a name escape stands for.
inline char escapedByte(char16_t unit) { return static_cast<char>(unit - 0xDC00); }
// False when `text` holds an unpaired surrogate that is no name escape: such text has
// no byte form, and converting it would alias it with a real "\uFFFD" name.
bool hasByteForm(std::u16string_view text);

// A control character (C0, DEL or C1): a terminal would take it as a command.
inline bool isControlCharacter(char32_t c) { return c < 0x20 || (c >= 0x7F && c < 0xA0); }

// The one rule for the names a synchronisation acts on, on the device and on servers
// alike: why `name` cannot stand for one entry on the other side ("a line end in its
// name", "a control character in its name", "a '/' or '\\' in its name", "not
// UTF-8", "'.' or '..'"), or empty when it can. The SFTP engine, the listing reader and
// the device walk all ask it, so that a name left alone on one side is left alone on
// the other.
std::string_view unusableName(std::string_view name);
// Text from outside (a server's reply or listing) for a terminal, as the screen shows
// names: each control character but the line feed as '?', each byte that is not part
// of valid UTF-8 as U+FFFD.
std::string printableText(std::string_view text);
// The same for what must stay on its line (a name, a path): a line feed as '?' too.
std::string printableLine(std::string_view text);

// Copies `source` into a buffer of `capacity` units and terminates it. Returns false
// when the source did not fit; the copy is then cut at a character boundary (never
// half a surrogate pair or half a UTF-8 sequence). A capacity of 0 copies nothing.
bool copyBounded(char16_t* target, std::size_t capacity, std::u16string_view source);
bool copyBounded(char* target, std::size_t capacity, std::string_view source);

// The text of a NUL-terminated buffer of at most `capacity` units: stops at the first
// NUL or at the capacity, whichever comes first, so an unterminated buffer is safe.
std::u16string_view boundedView(const char16_t* text, std::size_t capacity);
std::string_view boundedView(const char* text, std::size_t capacity);

// `text` with the ASCII letters in lower case, for names that compare without case.
std::u16string lowerAscii(std::u16string_view text);

}  // namespace platform
