// Help: the file farlink.htm beside the program, opened at a topic (a string id whose
// text is the section's anchor). In a graphical session the desktop's opener shows it;
// in a bare terminal, or when no opener works, the topic's text is shown full-screen.
#pragma once

#include <string>
#include <string_view>

#include "platform/window/window.h"

namespace ui {

// The help file: the program's path with its extension (if any) replaced by ".htm".
std::string helpFilePath();

// Opens the help at the topic with this string id. UI thread only.
void openHelp(platform::Window owner, int topicStringId);

// The text of one topic of the help file: its heading, then its paragraphs and list
// items, lines separated by "\r". Empty when the file has no such topic.
std::u16string helpTopicText(std::string_view html, std::string_view topic);

}  // namespace ui
