#include "remote/place_dialog.h"

#include <charconv>
#include <string>

#include "platform/secret.h"
#include "platform/text.h"
#include "platform/window/controls.h"
#include "platform/window/dialog.h"
#include "resources/commands.h"
#include "resources/dialogs.h"
#include "resources/menus.h"
#include "resources/strings.h"
#include "session/server_session.h"
#include "ui/dialog_runner.h"

namespace remote {
namespace {

using platform::LParam;
using platform::LResult;
using platform::MessageId;
using platform::Window;
using platform::WParam;

template <std::size_t N>
std::u16string_view textOf(const char16_t (&field)[N]) {
    return platform::boundedView(field, N);
}

template <std::size_t N>
void setText(char16_t (&field)[N], std::u16string_view text) {
    std::fill(field, field + N, u'\0');
    platform::copyBounded(field, N, text);
}

// The part of a host the user most likely changes: from after its first "." to the
// first "." in its last 7 characters, so that "ftp.example.com" offers "example".
std::pair<int, int> hostSelection(std::u16string_view host) {
    const std::size_t firstDot = host.find(u'.');
    const int from = firstDot == std::u16string_view::npos ? 0 : static_cast<int>(firstDot) + 1;
    const std::size_t searchFrom = host.size() <= 7 ? 0 : host.size() - 7;
    const std::size_t endDot = host.find(u'.', searchFrom);
    const int to = endDot == std::u16string_view::npos ? static_cast<int>(host.size()) : static_cast<int>(endDot);
    return {from, to};
}

// The connection name after the host changed from `previous` to `current`: a name made
// from the host follows it. An empty previous host names nothing in the name.
std::u16string nameFollowingHost(std::u16string name, std::u16string_view previous, std::u16string_view current) {
    const std::size_t at = previous.empty() ? std::u16string::npos : name.find(previous);
    if (at == std::u16string::npos) return name;
    name.replace(at, previous.size(), current);
    if (name.size() > std::size_t(resources::placeNameLimit)) name.resize(resources::placeNameLimit);
    return name;
}

// An unsigned number from a digits field; anything else gives 0.
std::uint32_t numberOf(const std::u16string& text) {
    const std::string digits = platform::toUtf8(text);
    std::uint32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size() ? value : 0;
}

std::u16string textOfNumber(std::uint32_t value) { return platform::toUtf16(std::to_string(value)); }

}  // namespace

int runPlaceDialog(PlaceDialogData& data, Window owner) {
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::placeDialogKeypad,
                                      .touchTemplate = &resources::placeDialogTouch,
                                      .keybarCaption = u"Edit Ftp Place",
                                      .helpTopic = resources::stringPlaceHelpTopic,
                                      .bar = &resources::placeDialogBar};
    std::u16string previousHost;
    return ui::runDialog(dialog, owner, [&](Window window, MessageId message, WParam wParam, LParam) -> LResult {
        const auto item = [window](int id) { return platform::getDialogItem(window, id); };
        const auto applyAnonymous = [&] {
            const bool anonymous = platform::checkBoxIsChecked(item(resources::placeAnonymousCheck));
            platform::editSetReadOnly(item(resources::placeUserEdit), anonymous);
            platform::editSetReadOnly(item(resources::placePasswordEdit), anonymous);
        };
        switch (message) {
        case MessageId::initDialog: {
            platform::layoutDialogControls(window, platform::Font::label);
            platform::setWindowText(item(resources::placeNameEdit), textOf(data.name));
            previousHost = textOf(data.host);
            platform::setWindowText(item(resources::placeHostEdit), previousHost);
            platform::setWindowText(item(resources::placeUserEdit), textOf(data.userName));
            platform::setWindowText(item(resources::placePasswordEdit), textOf(data.password));
            const auto [from, to] = hostSelection(previousHost);
            platform::editSetSelection(item(resources::placeHostEdit), from, to);
            platform::setFocus(item(resources::placeHostEdit));
            if (textOf(data.userName) == anonymousUser) {
                platform::checkBoxSetChecked(item(resources::placeAnonymousCheck), true);
                applyAnonymous();
            }
            return 1;
        }
        case MessageId::activate:
            if (wParam != 0) platform::setFocus(item(resources::placeHostEdit));
            return 1;
        case MessageId::command:
            switch (platform::commandId(wParam)) {
            case resources::placeHostEdit: {
                if (platform::commandCode(wParam) != platform::CommandCode::editChanged) return 0;
                const std::u16string host = platform::getWindowText(item(resources::placeHostEdit));
                const Window name = item(resources::placeNameEdit);
                const std::u16string before = platform::getWindowText(name);
                const std::u16string after = nameFollowingHost(before, previousHost, host);
                if (after != before) platform::setWindowText(name, after);
                // The port follows the protocol while it holds the other's default.
                const bool sftp = session::isSftpHost(host);
                if (sftp != session::isSftpHost(previousHost)) {
                    if (sftp && data.port == session::ftpDefaultPort) data.port = session::sftpDefaultPort;
                    if (!sftp && data.port == session::sftpDefaultPort) data.port = session::ftpDefaultPort;
                }
                previousHost = host;
                return 1;
            }
            case resources::placeAnonymousCheck: applyAnonymous(); return 1;
            case resources::commandAdvanced:
                runAdvancedPlaceDialog(data, window);
                platform::setFocus(item(resources::placeHostEdit));
                return 1;
            case resources::commandDone:
                setText(data.name, platform::getWindowText(item(resources::placeNameEdit)));
                setText(data.host, platform::getWindowText(item(resources::placeHostEdit)));
                // SFTP has no anonymous login: the fields hold what the user typed.
                if (platform::checkBoxIsChecked(item(resources::placeAnonymousCheck)) &&
                    !session::isSftpHost(textOf(data.host))) {
                    setText(data.userName, anonymousUser);
                    setText(data.password, anonymousPassword);
                } else {
                    setText(data.userName, platform::getWindowText(item(resources::placeUserEdit)));
                    std::u16string password = platform::getWindowText(item(resources::placePasswordEdit));
                    setText(data.password, password);
                    platform::wipe(password);
                }
                platform::endDialog(window, resources::commandDone);
                return 1;
            default: return 0;
            }
        default: return 0;
        }
    });
}

int runAdvancedPlaceDialog(PlaceDialogData& data, Window owner) {
    const ui::FullScreenDialog dialog{.keypadTemplate = &resources::advancedPlaceDialogKeypad,
                                      .touchTemplate = &resources::advancedPlaceDialogTouch,
                                      .keybarCaption = u"Edit Ftp Place",
                                      .helpTopic = resources::stringAdvancedPlaceHelpTopic};
    struct Check {
        int id;
        std::uint8_t PlaceDialogData::*field;
    };
    static constexpr Check checks[] = {
        {resources::placePassiveCheck, &PlaceDialogData::passive},
        {resources::placeRememberFolderCheck, &PlaceDialogData::rememberFolder},
        {resources::placeAutoReconnectCheck, &PlaceDialogData::autoReconnect},
        {resources::placeTemporaryUploadCheck, &PlaceDialogData::uploadThroughTemporary},
    };
    return ui::runDialog(dialog, owner, [&](Window window, MessageId message, WParam wParam, LParam) -> LResult {
        const auto item = [window](int id) { return platform::getDialogItem(window, id); };
        switch (message) {
        case MessageId::initDialog:
            platform::layoutDialogControls(window, platform::Font::label);
            platform::setWindowText(item(resources::placeStartupFolderEdit), textOf(data.startupFolder));
            platform::setWindowText(item(resources::placePortEdit), textOfNumber(data.port));
            platform::setWindowText(item(resources::placeTimeoutEdit), textOfNumber(data.timeout));
            for (const Check& check : checks) {
                platform::checkBoxSetChecked(item(check.id), data.*check.field != 0);
            }
            platform::setFocus(item(resources::placeStartupFolderEdit));
            return 1;
        case MessageId::command:
            if (platform::commandId(wParam) != resources::commandDone) return 0;
            setText(data.startupFolder, platform::getWindowText(item(resources::placeStartupFolderEdit)));
            data.port = numberOf(platform::getWindowText(item(resources::placePortEdit)));
            data.timeout = numberOf(platform::getWindowText(item(resources::placeTimeoutEdit)));
            for (const Check& check : checks) {
                data.*check.field = platform::checkBoxIsChecked(item(check.id)) ? 1 : 0;
            }
            platform::endDialog(window, resources::commandDone);
            return 1;
        default: return 0;
        }
    });
}

int editPlace(int index, const explorer::OwnerRecord& owner) {
    std::optional<PlaceDialogData> data = placeDialogData(index, owner.ownerWindow);
    if (!data) return 0;
    if (runPlaceDialog(*data, owner.ownerWindow) != resources::commandDone) return 0;
    return applyPlaceDialogData(index, *data);
}

}  // namespace remote
