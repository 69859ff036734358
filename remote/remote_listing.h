// The Remote view's listing: a folder of the current place is listed once into the
// cache file "tmp.dir" and read back one entry at a time through find first / next /
// close, as the explorer reads a local folder; beside them the current folder, the
// place names and patterns for the selector, and the icon lookup of remote rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "explorer/provider.h"
#include "platform/files.h"
#include "platform/shell.h"

namespace remote {

inline constexpr std::string_view listingFileName = "tmp.dir";
inline constexpr std::string_view restFileName = "tmp1.dir";

// The folder of this instance that holds the cache files: under $XDG_CACHE_HOME (else
// ~/.cache), "farlink/" followed by a name made from the settings folder, the process
// id and a unique suffix; mode 0700, made on first use. Empty when it cannot be made.
// Any thread.
std::string listingCacheFolder();
// Removes the cache files and their folder; the next listing makes a new one.
// Pre: no listing is open. UI thread only.
void removeListingCache();

// Lists the folder that `pattern` names ('\' or '/' separators; the text from its first
// '*' on is dropped) on the current place into "tmp.dir", puts the server back in "/",
// and fills `data` with the first entry. On failure the invalid handle, with the
// place's error "(KVT-FFF-1)" and its text, and the last error errorGeneric; a folder
// that lists no entry gives the invalid handle with the last error errorNoMoreFiles,
// which callers take for an empty folder. A handle stays with the thread that opened
// it; until its FindClose other threads' listings wait (for at most 60 s, then fail
// saying so). Pre: the caller holds no place's lock. Any thread.
platform::FindHandle remoteFindFirst(std::u16string_view pattern, platform::FindData& data);
// The next entry; 0 with errorNoMoreFiles at the end, or with another error when the
// rest of the listing could not be read or written. Same thread as the FindFirst.
int remoteFindNext(platform::FindHandle handle, platform::FindData& data);
// Removes the cache files of the listing and ends it. Same thread as the FindFirst.
int remoteFindClose(platform::FindHandle handle);

// Type name and icon of a remote row, from its name and attributes alone.
// Any thread.
std::uintptr_t remoteFileInfo(std::u16string_view path, std::uint32_t attributes, platform::ShellFileInfo& info,
                              std::uint32_t flags);

// The current place's folder ("/" separators, ending with one), or the folder kept
// for when there is no place. UI thread only.
std::u16string remoteCurrentFolder();
// Records `path` as the current place's folder, saving the place list at once when the
// place remembers its folder. 0 when the path would not fit in 259 units.
// UI thread only.
int setRemoteCurrentFolder(std::u16string_view path);

// The name and pattern of the place at `index`; none past the last. UI thread only.
std::optional<std::u16string> placeName(int index);
std::optional<std::u16string> placePattern(int index);

// Binds the operations above into the Remote view's provider.
void bindRemoteListing(explorer::ViewProvider& view);

}  // namespace remote
