#include "remote/remote_view.h"

#include <atomic>

#include "explorer/provider.h"
#include "platform/window/message_box.h"
#include "remote/connect.h"
#include "remote/place_dialog.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "remote/remote_listing.h"
#include "remote/remote_options.h"

namespace remote {
namespace {

using platform::LParam;
using platform::MessageId;
using platform::Window;
using platform::WParam;

// The message that asks the editor window to run the place editor: wParam the index,
// lParam the OwnerRecord.
constexpr MessageId editPlaceMessage = platform::userMessage(1);
// Posted at start-up when the stored places could not all be loaded: the box says so
// once the main window is on the screen.
constexpr MessageId placesNoticeMessage = platform::userMessage(2);

// A hidden child of the main window. Sending it a message runs the procedure on the UI
// thread, whichever thread sends; the sender waits for the answer.
std::atomic<Window> editorWindow;

int editPlaceOnUiThread(int index, const explorer::OwnerRecord& owner) {
    // Any thread: sendMessage runs the dialog on the UI thread and waits for the user
    // there; it answers 0 when the window system stops meanwhile.
    return static_cast<int>(platform::sendMessage(editorWindow.load(), editPlaceMessage, static_cast<WParam>(index),
                                                  reinterpret_cast<LParam>(&owner)));
}

}  // namespace

std::shared_ptr<const void> currentPlaceToken() {
    PlaceTicket ticket = placeTicket(static_cast<int>(explorer::remoteProvider.filterIndex));
    if (ticket.place.expired()) return nullptr;
    return std::make_shared<const PlaceTicket>(std::move(ticket));
}

bool enterPlaceToken(const std::shared_ptr<const void>& token, const std::shared_ptr<const void>& sourceToken,
                     std::u16string& reason) {
    if (!token) {
        reason = u"No Ftp Place was selected when this was queued.";
        return false;
    }
    const auto& ticket = *static_cast<const PlaceTicket*>(token.get());
    std::shared_ptr<FtpPlace> place = redeemPlaceTicket(ticket, reason);
    if (!place) return false;
    std::shared_ptr<FtpPlace> sourcePlace;
    if (sourceToken) {
        sourcePlace = redeemPlaceTicket(*static_cast<const PlaceTicket*>(sourceToken.get()), reason);
        if (!sourcePlace) return false;
    }
    pinPlaceForThread(std::move(place), ticket.revision);
    pinSourcePlaceForThread(std::move(sourcePlace));
    return true;
}

void leavePlaceToken() {
    pinPlaceForThread(nullptr, 0);
    pinSourcePlaceForThread(nullptr);
}

bool samePlaceToken(const std::shared_ptr<const void>& one, const std::shared_ptr<const void>& other) {
    if (!one || !other) return one == other;
    const auto& a = *static_cast<const PlaceTicket*>(one.get());
    const auto& b = *static_cast<const PlaceTicket*>(other.get());
    return a.revision == b.revision && !a.place.owner_before(b.place) && !b.place.owner_before(a.place);
}

bool isCurrentPlaceToken(const std::shared_ptr<const void>& token) {
    if (!token) return false;
    const auto& ticket = *static_cast<const PlaceTicket*>(token.get());
    const std::shared_ptr<FtpPlace> place = ticket.place.lock();
    if (!place || place != placeAt(static_cast<int>(explorer::remoteProvider.filterIndex))) return false;
    std::u16string reason;
    return redeemPlaceTicket(ticket, reason) != nullptr;
}

int initRemoteView(Window mainWindow) {
    explorer::ViewProvider& view = explorer::remoteProvider;
    setRemoteDefaults(view);
    view.LoadList = loadPlaces;
    view.SaveList = savePlaces;
    view.EditItem = editPlace;
    view.DeleteItem = removePlace;
    bindRemoteListing(view);
    bindRemoteFiles(view);
    view.OptionsDialog = [](const explorer::OwnerRecord& owner) {
        return editRemoteOptions(explorer::remoteProvider, owner);
    };
    view.LoadOptions = loadRemoteOptions;
    view.LoadOptions();
    view.LoadList();
    startNetworkClock();

    editorWindow = platform::createWindow(
        {.options = platform::optionHidden,
         .parent = mainWindow,
         .procedure = [](Window self, MessageId message, WParam wParam, LParam lParam) -> platform::LResult {
             if (message == editPlaceMessage) {
                 return editPlace(static_cast<int>(wParam), *reinterpret_cast<const explorer::OwnerRecord*>(lParam));
             }
             if (message == placesNoticeMessage) {
                 platform::messageBox(platform::getParent(self), placesLoadNotice(), u"Ftp Places",
                                      platform::MessageBoxButtons::ok, platform::MessageBoxIcon::exclamation);
                 return 0;
             }
             return platform::defaultWindowProcedure(self, message, wParam, lParam);
         }});
    setEditPlaceHook(editPlaceOnUiThread);
    if (!placesLoadNotice().empty()) platform::postMessage(editorWindow.load(), placesNoticeMessage);
    return 1;
}

}  // namespace remote
