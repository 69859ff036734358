// Text: the user interface works in UTF-16, the FTP engine and the host in UTF-8.
// These conversions stand in for the platform's code-page conversions; they never
// fail: unpaired surrogates and invalid bytes become U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

inline constexpr char16_t replacementCharacter = 0xFFFD;

std::string toUtf8(std::u16string_view text);
std::u16string toUtf16(std::string_view text);

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
