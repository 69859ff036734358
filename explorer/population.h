// Folder population: Refresh refills the rows from the current view on a short-lived
// thread. The named mutex "VelvaneFileWorker", taken without waiting, admits one
// population at a time; a Refresh asked for while one runs stops it, and it starts
// again on its way out, so the latest request wins. Also the narrowing of a listing
// (type-ahead text, filter patterns, attribute mask) and the window title.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "explorer/rows.h"

namespace explorer {

// Starts a population of the current view's folder and returns at once. The view's
// settings, the type-ahead text and the filter patterns are taken now; a current
// folder with a ".." step is rewritten in the view first. UI thread only.
void Refresh();
// Refresh with `path` remembered; once the listing has selected its row the main window
// gets the Rename command, so that a new folder is named at once. UI thread only.
void RefreshThenRename(std::u16string_view path);

// Stops the running population: it ends without listing further, without the restart
// an abort makes, and without touching a window from then on; the next Refresh works as
// usual. For shutdown, before the window system stops (then waitForPopulations). Any
// thread.
void stopPopulations();

// Runs `body` on a thread counted with the populations, for the other listings made for
// the screen (the properties count), so that waitForPopulations covers them too. False
// when no thread could be started. Any thread.
bool startListingThread(std::function<void()> body);

// Waits until no population (nor other listing thread) runs or `limit` passes; true when
// none runs. For shutdown and tests: nothing else waits for one. Any thread but theirs.
bool waitForPopulations(std::chrono::milliseconds limit);

// The keypad type-ahead text, kept in upper case; empty shows every name. UI thread only.
void setTypeAheadText(std::u16string_view text);
const std::u16string& typeAheadText();

// The name contains the whole text when it begins with a letter, or any one of its
// characters for a keypad group such as "2ABC". Names are upper-cased first.
bool nameMatchesTypeAhead(std::u16string_view typeAhead, std::u16string_view name);
// "*" and "*.*" match every name; otherwise any ';'-separated part must match.
bool nameMatchesFilter(std::u16string_view patternList, std::u16string_view name);
// Only "*.ext" patterns match: the name ends with ".ext", case-sensitively.
bool patternMatches(std::u16string_view name, std::u16string_view pattern);
// Whether a file with `attributes` is listed under the view's "Show Files" mask.
bool shownByAttributeMask(std::uint32_t showFiles, std::uint32_t attributes);

// Resolves "." and ".." segments of a folder path, keeping its separators as they are:
// "\a\b\..\" becomes "\a\". Never climbs above the first segment.
std::u16string withoutDotSegments(std::u16string_view folder);

// The main window's title for a folder: the folder, the pattern list when the view's
// "Title Info" asks for it, the folder and file counts when it asks for them, and
// " - Farlink"; at most 259 units.
std::u16string composeTitle(const Listing& listing, std::u16string_view folder, int folders, int files);

}  // namespace explorer
