#include "explorer/url.h"

#include <array>

#include "explorer/provider.h"
#include "platform/files.h"

namespace explorer {
namespace {

bool fitsPathBuffer(const std::u16string& text) { return text.size() < platform::maxPath; }

// Removes the last folder segment of `output` (which ends with a separator), keeping
// everything before `floor`; at the top nothing is removed.
void removeLastSegment(std::u16string& output, std::size_t floor) {
    if (output.size() <= floor + 1) return;
    const std::size_t previous = output.find_last_of(u"\\/", output.size() - 2);
    if (previous == std::u16string::npos || previous < floor) return;
    output.resize(previous + 1);
}

}  // namespace

std::size_t compose(std::u16string& output, std::u16string_view scheme, std::u16string_view folder,
                    std::u16string_view name, std::u16string_view extension) {
    output.clear();
    if (!scheme.empty()) {
        output.append(scheme);
        output.append(u"://");
    }
    output.append(folder);
    output.append(name);
    if (!extension.empty()) {
        output += u'.';
        output.append(extension);
    }
    if (!fitsPathBuffer(output)) {
        output.clear();
        return 0;
    }
    return output.size();
}

bool canonicalize(std::u16string_view input, std::u16string& output) {
    static constexpr std::array<std::u16string_view, 3> schemes = {u"file://", u"ftp://", u"http://"};
    output.clear();
    std::u16string_view rest = input;
    std::size_t floor = 0;
    bool afterSeparator = false;
    if (input.empty() || isSeparator(input[0])) {
        if (input.size() >= 2 && input[0] == u'\\' && input[1] == u'\\') output = u"\\";
        floor = output.size();
    } else {
        bool hasScheme = false;
        for (std::u16string_view scheme : schemes) {
            if (input.starts_with(scheme)) {
                output.assign(scheme);
                rest = input.substr(scheme.size());
                hasScheme = true;
                break;
            }
        }
        if (hasScheme) {
            floor = output.size();
        } else if (currentProvider != nullptr) {
            output = currentProvider->GetCurrentFolder();
            afterSeparator = !output.empty() && isSeparator(output.back());
        }
    }
    std::size_t i = 0;
    while (i < rest.size()) {
        const char16_t c = rest[i];
        if (isSeparator(c)) {
            if (!afterSeparator) output += u'\\';
            afterSeparator = true;
            ++i;
            continue;
        }
        if (afterSeparator) {
            std::size_t end = i;
            while (end < rest.size() && !isSeparator(rest[end])) ++end;
            const std::u16string_view segment = rest.substr(i, end - i);
            if (segment == u"." || segment == u"..") {
                if (segment == u"..") removeLastSegment(output, floor);
                i = end < rest.size() ? end + 1 : end;
                continue;
            }
        }
        output += c;
        afterSeparator = false;
        ++i;
    }
    if (!fitsPathBuffer(output)) {
        output.clear();
        return false;
    }
    return true;
}

PathParts split(std::u16string_view path) {
    PathParts parts;
    const std::size_t lastSeparator = path.find_last_of(u"\\/");
    const std::size_t lastDot = path.find_last_of(u'.');
    const std::size_t firstColon = path.find(u':');
    const std::size_t nameStart = lastSeparator == std::u16string_view::npos ? 0 : lastSeparator + 1;
    if (lastDot != std::u16string_view::npos && lastDot >= nameStart) {
        parts.name = path.substr(nameStart, lastDot - nameStart);
        parts.extension = path.substr(lastDot + 1);
    } else {
        parts.name = path.substr(nameStart);
    }
    std::size_t folderStart = 0;
    if (firstColon != std::u16string_view::npos) {
        parts.scheme = path.substr(0, firstColon + 1);
        folderStart = firstColon + 1;
    }
    if (nameStart > folderStart) parts.folder = path.substr(folderStart, nameStart - folderStart);
    return parts;
}

}  // namespace explorer
