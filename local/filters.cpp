#include "local/filters.h"

#include <iterator>

#include "local/device.h"
#include "platform/text.h"

namespace local {
namespace {

FilterRecord allFiles{};
int filterCount = 0;

}  // namespace

int loadFilters() {
    allFiles = FilterRecord{};
    platform::copyBounded(allFiles.name, platform::maxPath, u"All Files");
    platform::copyBounded(allFiles.pattern, std::size(allFiles.pattern), u"*");
    platform::copyBounded(allFiles.folder, platform::maxPath, defaultFolder());
    filterCount = 1;
    return 1;
}

FilterRecord* filterAt(int index) { return index == 0 && filterCount > 0 ? &allFiles : nullptr; }

}  // namespace local
