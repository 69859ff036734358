#include "app/queue_progress.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "app/synchronize.h"
#include "local/properties.h"
#include "platform/text.h"
#include "platform/window/soft_keys.h"
#include "remote/places.h"
#include "remote/remote_files.h"
#include "remote/remote_options.h"
#include "remote/remote_view.h"

namespace app {
namespace {

constexpr platform::MessageId queueChangedMessage = platform::userMessage(20);
constexpr int progressTimer = 113;
constexpr int progressIntervalMs = 500;
// Bytes that have not moved for this long: the rate and the time left would only fall.
constexpr std::uint32_t stalledAfterMs = 5000;

std::atomic<platform::Window> progressWindow;
bool timerRunning = false;
ProgressLook lastLook;

std::u16string number(std::uint64_t value) { return platform::toUtf16(std::to_string(value)); }

std::u16string sizeText(std::int64_t bytes) {
    const auto value = static_cast<std::uint64_t>(bytes);
    return local::formatSize(static_cast<std::uint32_t>(value), static_cast<std::uint32_t>(value >> 32));
}

std::u16string durationText(std::uint64_t seconds) {
    const std::u16string secondsText = (seconds % 60 < 10 ? u"0" : u"") + number(seconds % 60);
    if (seconds < 3600) return number(seconds / 60) + u":" + secondsText;
    const std::uint64_t minutes = seconds / 60 % 60;
    return number(seconds / 3600) + u":" + (minutes < 10 ? u"0" : u"") + number(minutes) + u":" + secondsText;
}

void refreshDisplay() {
    const platform::Window window = progressWindow.load();
    const queue::QueueProgress progress = queue::queueProgress();
    platform::setSoftKeyStatus(progressText(progress, stillFor(lastLook, progress)));
    const bool busy = progress.active || progress.pending > 0;
    if (busy && !timerRunning) timerRunning = platform::setTimer(window, progressTimer, progressIntervalMs);
    if (!busy && timerRunning) {
        platform::killTimer(window, progressTimer);
        timerRunning = false;
    }
}

// Any thread: the worker tells of a record that starts or ends.
void onQueueChanged() {
    if (const platform::Window window = progressWindow.load()) platform::postMessage(window, queueChangedMessage);
}

}  // namespace

std::uint32_t stillFor(ProgressLook& seen, const queue::QueueProgress& progress) {
    if (!progress.active) {
        seen = {};
        return 0;
    }
    // Another record, or bytes moved, since the last look.
    if (progress.destination != seen.destination || progress.elapsedMs < seen.movedAtMs || progress.done != seen.done) {
        seen = {progress.destination, progress.done, progress.elapsedMs};
    }
    return progress.elapsedMs - seen.movedAtMs;
}

std::u16string progressText(const queue::QueueProgress& progress, std::uint32_t stillMs) {
    std::u16string text;
    if (progress.active) {
        text = sizeText(progress.done);
        if (progress.total > 0) {
            const std::int64_t done = std::min(progress.done, progress.total);
            text += u" of " + sizeText(progress.total) + u" " + number(std::uint64_t(done * 100 / progress.total)) +
                    u"%";
        }
        if (stillMs >= stalledAfterMs) {
            text += u" stalled";
        } else if (progress.elapsedMs >= 1000 && progress.done > 0) {
            const std::uint64_t rate = std::uint64_t(progress.done) * 1000 / progress.elapsedMs;
            text += u" " + sizeText(std::int64_t(rate)) + u"/s";
            if (progress.total > progress.done && rate > 0) {
                text += u" " + durationText(std::uint64_t(progress.total - progress.done) / rate) + u" left";
            }
        }
    }
    // One running record is what the bytes tell of; several are counted.
    if (progress.running > 1) text += u", " + number(std::uint64_t(progress.running)) + u" running";
    if (progress.pending > 0) {
        if (!text.empty()) text += u", ";
        text += number(std::uint64_t(progress.pending)) + u" waiting";
    }
    return text;
}

void bindQueue(platform::Window window) {
    progressWindow = window;
    queue::QueueBindings bindings;
    bindings.currentPlace = remote::currentPlaceToken;
    bindings.enterPlace = remote::enterPlaceToken;
    bindings.leavePlace = remote::leavePlaceToken;
    bindings.samePlace = remote::samePlaceToken;
    bindings.idle = remote::dropThreadSessions;
    bindings.changed = onQueueChanged;
    bindings.simultaneousCopies = remote::simultaneousCopies;
    bindings.serverEntryNow = serverEntryNow;
    queue::bindQueue(bindings);
    // The Remote view's folder copies log each file they handled.
    remote::setCopyLogHook([](int kind, std::u16string_view source, std::u16string_view destination,
                              remote::CopyLogList list, explorer::EntryStamp stamp) {
        queue::addOperation(static_cast<std::uint32_t>(kind), source, destination,
                            list == remote::CopyLogList::successful ? queue::listSuccessful : queue::listFailed, stamp);
    });
}

void endQueueDisplay() {
    progressWindow = platform::Window{};
    timerRunning = false;
    platform::setSoftKeyStatus(u"");
}

bool handleQueueMessage(platform::MessageId message, platform::WParam wParam) {
    if (message == queueChangedMessage ||
        (message == platform::MessageId::timer && static_cast<int>(wParam) == progressTimer)) {
        refreshDisplay();
        return true;
    }
    return false;
}

}  // namespace app
