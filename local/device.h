// The Device view: the phone's own files, reached through explorer::deviceProvider.
// Thin wrappers over the host layer's file calls, a recursive folder copy that asks
// before it overwrites, the folder rule that ties the current folder to the selected
// filter, and the view's error descriptions and "File System Error" box.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace local {

// Binds the Device view's operations into explorer::deviceProvider, then loads its
// options and its filters. UI thread only, once at start-up.
void setUpDeviceView();

// The sentence for a platform error code; "No description available." for codes
// without one, and the empty text for 0. Any thread.
std::u16string_view errorDescription(std::uint32_t code);

// The text of the "File System Error" box for a failed operation. Any thread.
std::u16string fileSystemErrorText(std::u16string_view caption, std::uint32_t code);

// Where a filter starts: the user's documents folder, ending with '\'; the root when
// that does not fit a path buffer. Any thread.
std::u16string defaultFolder();

}  // namespace local
