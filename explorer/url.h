// Location forms: a phone location travels as "file://" + phone path, a server location
// as a bare "/..." path. Compose builds one, canonicalize cleans one, split takes one
// apart. Results never exceed a 260-unit path buffer: a result that would is refused
// rather than cut, since a cut path can name another file.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace explorer {

inline constexpr std::u16string_view phoneScheme = u"file://";

// "scheme://folder name.extension", or "scheme://folder name" with an empty extension.
// An empty scheme composes a server path ("folder name.extension") with no "://".
// Returns the characters written, 0 (and an empty output) when the result would not
// fit in a path buffer.
std::size_t compose(std::u16string& output, std::u16string_view scheme, std::u16string_view folder,
                    std::u16string_view name, std::u16string_view extension);

// Makes a path canonical: runs of separators become one '\', "." segments go, ".."
// segments remove the folder before them (never above the start), a leading "\\"
// pair and a "file://", "ftp://" or "http://" prefix are kept. A relative path is
// taken from the current view's folder. False (and an empty output) when the result
// would not fit in a path buffer. A path that begins with a separator or a scheme may be
// made canonical on any thread; a relative one only on the UI thread (it asks the view).
bool canonicalize(std::u16string_view input, std::u16string& output);

struct PathParts {
    std::u16string scheme;     // up to and including the first ':', else empty
    std::u16string folder;     // after the scheme, up to and including the last separator
    std::u16string name;       // after the last separator, without the extension
    std::u16string extension;  // after the last '.' of the name, else empty
};
// "file://\My Documents\a.txt" gives "file:", "//\My Documents\", "a", "txt".
PathParts split(std::u16string_view path);

inline bool isSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// The folder with a final '\\' unless it ends with a separator already; "\\" for an empty
// one. A current folder always ends so: without it "\\home\\me" would list "\\home\\me*"
// and make row paths like "\\home\\meme" that name other entries. Any thread.
inline std::u16string withSeparator(std::u16string_view folder) {
    std::u16string result(folder);
    if (result.empty() || !isSeparator(result.back())) result += u'\\';
    return result;
}

}  // namespace explorer
