#include "ui/help.h"

#include <filesystem>

#include "platform/host_files.h"
#include "platform/shell.h"
#include "platform/text.h"
#include "platform/window/dialog.h"
#include "platform/window/message_box.h"
#include "resources/menus.h"
#include "resources/strings.h"
#include "ui/desktop.h"
#include "ui/soft_keys.h"

namespace ui {
namespace {

void appendEntity(std::string& out, std::string_view entity) {
    if (entity == "amp") out += '&';
    else if (entity == "lt") out += '<';
    else if (entity == "gt") out += '>';
    else if (entity == "quot") out += '"';
    else if (entity == "#39" || entity == "apos") out += '\'';
    else if (entity == "nbsp") out += ' ';
}

// Ends the text with one line break (two for a paragraph), unless it is empty.
void breakLine(std::string& out, int breaks) {
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (out.empty()) return;
    int present = 0;
    for (auto it = out.rbegin(); it != out.rend() && *it == '\r'; ++it) ++present;
    for (; present < breaks; ++present) out += '\r';
}

// Plain text of an HTML fragment: paragraphs and headings become blank-line breaks,
// list items lines beginning "- ", other tags go, entities are decoded and runs of
// white space become one blank.
std::string plainText(std::string_view html) {
    std::string out;
    for (std::size_t i = 0; i < html.size();) {
        const char c = html[i];
        if (c == '<') {
            const std::size_t end = html.find('>', i);
            if (end == std::string_view::npos) break;
            std::string_view tag = html.substr(i + 1, end - i - 1);
            const bool closing = tag.starts_with('/');
            if (closing) tag.remove_prefix(1);
            const std::string_view tagName = tag.substr(0, tag.find_first_of(" \t\r\n/"));
            if (tagName == "p" || tagName == "h1" || tagName == "h2" || tagName == "h3" || tagName == "ul" ||
                tagName == "table") {
                breakLine(out, 2);
            } else if (tagName == "li" && !closing) {
                breakLine(out, 1);
                out += "- ";
            } else if (tagName == "br" || tagName == "tr") {
                breakLine(out, 1);
            } else if (tagName == "td" && !closing && !out.empty() && out.back() != '\r') {
                out += ": ";
            }
            i = end + 1;
        } else if (c == '&') {
            const std::size_t end = html.find(';', i);
            if (end == std::string_view::npos || end - i > 8) {
                out += c;
                ++i;
                continue;
            }
            appendEntity(out, html.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
            if (!out.empty() && out.back() != ' ' && out.back() != '\r') out += ' ';
            ++i;
        } else {
            out += c;
            ++i;
        }
    }
    while (!out.empty() && (out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

void showTopicInTerminal(platform::Window owner, const std::u16string& text) {
    const platform::DialogTemplate helpDialog{0, u"Help", {{.text = text, .row = 0, .column = 1, .height = 200}}};
    platform::dialogBox(helpDialog, owner,
                        [](platform::Window dialog, platform::MessageId message, platform::WParam,
                           platform::LParam) -> platform::LResult {
                            if (message != platform::MessageId::initDialog) return 0;
                            if (initFullScreenDialog(dialog, resources::doneCancelBar, false)) {
                                platform::layoutDialogControls(dialog, platform::Font::normal);
                            }
                            return 1;
                        });
}

}  // namespace

std::string helpFilePath() {
    std::string path = platform::programFile();
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) path.resize(dot);
    const std::string beside = path + ".htm";
    // Installed, the program is in PREFIX/bin and its help in PREFIX/share/farlink.
    if (slash == std::string::npos || std::filesystem::exists(beside)) return beside;
    const std::filesystem::path program(path);
    const std::filesystem::path shared = program.parent_path().parent_path() / "share" / "farlink" /
                                         (program.filename().string() + ".htm");
    return std::filesystem::exists(shared) ? shared.string() : beside;
}

std::u16string helpTopicText(std::string_view html, std::string_view topic) {
    const std::string anchor = "id=\"" + std::string(topic) + "\"";
    const std::size_t at = html.find(anchor);
    if (at == std::string_view::npos) return {};
    const std::size_t start = html.rfind('<', at);
    std::size_t end = html.find("<h2", at);
    if (end == std::string_view::npos) end = html.find("</body", at);
    if (end == std::string_view::npos) end = html.size();
    return platform::toUtf16(plainText(html.substr(start, end - start)));
}

void openHelp(platform::Window owner, int topicStringId) {
    const std::u16string_view topic = resources::loadString(topicStringId).value_or(u"");
    const std::string file = helpFilePath();
    std::string html;
    if (!platform::readWhole(file, html)) {
        platform::messageBox(owner, platform::toUtf16("The help file " + file + " could not be read."), u"Help",
                             platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
        return;
    }
    const std::string topicUtf8 = platform::toUtf8(topic);
    if (openOnDesktop("file://" + file + (topic.empty() ? "" : "#" + topicUtf8))) return;
    std::u16string text = helpTopicText(html, topicUtf8);
    if (text.empty()) text = helpTopicText(html, "main");
    showTopicInTerminal(owner, text);
}

}  // namespace ui
