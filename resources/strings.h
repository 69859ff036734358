// The string table: texts the program loads by id (the title, the window class, the
// "Help" item, and the help topics that dialogs open by their own ids).
#pragma once

#include <optional>
#include <string_view>

namespace resources {

enum StringId : int {
    stringTitle = 1,
    stringWindowClass = 2,
    stringMainHelpTopic = 102,
    stringOptionsHelpTopic = 106,
    stringPropertiesHelpTopic = 132,
    stringPlaceHelpTopic = 136,
    stringFilterHelpTopic = 137,
    stringAdvancedPlaceHelpTopic = 141,
    stringSynchronizeHelpTopic = 6000,
    stringViewEditHelpTopic = 6100,
    stringHelp = 18905,
    stringUpFolder = 18906,  // the left soft key of the "Select" picker, by the focused row
    stringExpand = 18907,
    stringSelect = 18908,
};

// The string with this id; nothing when the table has none.
std::optional<std::u16string_view> loadString(int id);

}  // namespace resources
