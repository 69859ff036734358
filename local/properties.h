// The "File Properties" screen of every view: name, type, size, dates and attribute
// words of the focused row, and for a folder the folders, files and bytes in it and in
// the whole tree below it. Also the size and date formatting it uses.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "explorer/folder_walk.h"
#include "explorer/provider.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace local {

// "1023 B", "1.5 KB", "1.00 MB", "1.000 GB", "1.0000 TB".
std::u16string formatSize(std::uint32_t low, std::uint32_t high);
// The local calendar date of a file time in the user's short date format, without time.
std::u16string formatDate(platform::FileTime time);
// " ARC CMP DIR ..." for the attribute bits that are set, in a fixed order.
std::u16string attributeWords(std::uint32_t attributes);

// The screen's text for a path whose attributes are `data`: the file lines (or, once
// walked, the folder lines), the three dates and the attribute words, lines separated by
// "\r"; or what the view says of an entry it describes itself (DescribeEntry). `walked`
// is null while a folder is still being counted.
std::u16string propertiesText(const explorer::ViewProvider& view, std::u16string_view path,
                              const platform::FileAttributeData& data, const explorer::FolderCounters* walked);
// The same with the attributes asked of the view (zeros when it cannot tell).
std::u16string propertiesText(const explorer::ViewProvider& view, std::u16string_view path,
                              const explorer::FolderCounters* walked);

// Shows the screen for owner.path over the current view; true when closed with "Done".
// A folder is counted on a listing thread while "Determining Folder Size" shows; closing
// the screen tells the count to stop and never waits for it (it may be blocked in the
// view), so the count holds only what it owns. `known`: the entry's attributes as the view
// gave them (a server's are asked off the UI thread); null asks the view here. UI thread only.
bool showProperties(const explorer::OwnerRecord& owner, const platform::FileAttributeData* known = nullptr);

}  // namespace local
