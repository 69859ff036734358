// The recent-documents list that the phone's programs share: per program, the files it
// opened, newest first, as a multi-string value under
// "Software\Tarvik\Shared\1.0\Recent" named after the program's file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

inline constexpr std::u16string_view recentKeyPath = u"Software\\Tarvik\\Shared\\1.0\\Recent";
// A file opened again moves to the front instead of appearing twice, and the oldest
// entries beyond this many go, so that the list cannot grow without end.
inline constexpr std::size_t maxRecentDocuments = 50;

// Puts the path at the front of this program's list. Nothing happens when the key cannot
// be opened or created.
void addRecentDocument(std::u16string_view path);

// The list as stored (for tests and for whoever shows it).
std::vector<std::u16string> recentDocuments();

}  // namespace app
