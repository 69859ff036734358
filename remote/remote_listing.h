// The Remote view's listing: a folder of the current place is listed once, whole, into
// a cache file of its own and read back one entry at a time through find first / next /
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

// Each open listing has its file, "tmp<N>.dir", in the instance's cache folder.
inline constexpr std::string_view listingFilePrefix = "tmp";

// The folder of this instance that holds the cache files: under $XDG_CACHE_HOME (else
// ~/.cache, which must be the user's own), "farlink/" (the user's alone) followed by a
// name made from the settings folder, the process id and a unique suffix; mode 0700,
// made on first use, with a lock file that this instance holds while it runs. Making
// it removes the folders of instances that ended without removing theirs. Empty when
// it cannot be made. Any thread.
std::string listingCacheFolder();
// Removes the cache files and their folder; the next listing makes a new one.
// Pre: no listing is open. UI thread only.
void removeListingCache();

// Lists the folder that `pattern` names ('\' or '/' separators; a last segment holding
// '*' is dropped) on the current place into a cache file of its own, puts the server
// back in "/", and fills `data` with the first entry. The place's session is held only
// while the server lists; the entries are then read from the file. On failure the
// invalid handle, with the place's error "(KVT-FFF-1)" and its text, and the last error
// errorGeneric; a folder that lists no entry gives the invalid handle with the last
// error errorNoMoreFiles, which callers take for an empty folder. Pre: the caller holds
// no place's session. Any thread.
platform::FindHandle remoteFindFirst(std::u16string_view pattern, platform::FindData& data);
// The next entry; 0 with errorNoMoreFiles at the end the listing wrote, or with another
// error when its file could not be read whole (cut short or removed meanwhile). Any
// thread, one at a time per handle.
int remoteFindNext(platform::FindHandle handle, platform::FindData& data);
// Removes the listing's file and ends it. Any thread.
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
