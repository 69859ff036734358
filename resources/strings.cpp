#include "resources/strings.h"

#include <array>
#include <utility>

namespace resources {

std::optional<std::u16string_view> loadString(int id) {
    // The help topics are the anchors of the sections of farlink.htm.
    static constexpr std::array<std::pair<int, std::u16string_view>, 14> table = {{
        {stringTitle, u"Farlink"},
        {stringWindowClass, u"FARLINK"},
        {stringMainHelpTopic, u"main"},
        {stringOptionsHelpTopic, u"options"},
        {stringPropertiesHelpTopic, u"properties"},
        {stringPlaceHelpTopic, u"places"},
        {stringFilterHelpTopic, u"filters"},
        {stringAdvancedPlaceHelpTopic, u"advanced-place"},
        {stringSynchronizeHelpTopic, u"synchronize"},
        {stringViewEditHelpTopic, u"view-edit"},
        {stringHelp, u"Help"},
        {stringUpFolder, u"Up Folder"},
        {stringExpand, u"Expand"},
        {stringSelect, u"Select"},
    }};
    for (const auto& [stringId, text] : table) {
        if (stringId == id) return text;
    }
    return std::nullopt;
}

}  // namespace resources
