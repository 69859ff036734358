#include "platform/clipboard.h"

#include <mutex>
#include <optional>
#include <thread>

#include "platform/errors.h"

namespace platform {
namespace {

struct Clipboard {
    std::mutex lock;
    std::optional<std::thread::id> openedBy;
    std::optional<std::u16string> text;
};

Clipboard& clipboard() {
    static Clipboard instance;
    return instance;
}

// True when the calling thread has the clipboard open; otherwise sets the last error.
// Pre: the clipboard's lock is held.
bool openedHere(const Clipboard& board) {
    if (board.openedBy == std::this_thread::get_id()) return true;
    setLastError(errorAccessDenied);
    return false;
}

}  // namespace

bool openClipboard() {
    Clipboard& board = clipboard();
    std::lock_guard guard(board.lock);
    if (board.openedBy && *board.openedBy != std::this_thread::get_id()) {
        setLastError(errorAccessDenied);
        return false;
    }
    board.openedBy = std::this_thread::get_id();
    return true;
}

bool closeClipboard() {
    Clipboard& board = clipboard();
    std::lock_guard guard(board.lock);
    if (!openedHere(board)) return false;
    board.openedBy.reset();
    return true;
}

bool emptyClipboard() {
    Clipboard& board = clipboard();
    std::lock_guard guard(board.lock);
    if (!openedHere(board)) return false;
    board.text.reset();
    return true;
}

bool setClipboardText(std::u16string_view text) {
    Clipboard& board = clipboard();
    std::lock_guard guard(board.lock);
    if (!openedHere(board)) return false;
    board.text = std::u16string(text);
    return true;
}

bool getClipboardText(std::u16string& text) {
    Clipboard& board = clipboard();
    std::lock_guard guard(board.lock);
    if (!openedHere(board)) return false;
    if (!board.text) {
        setLastError(errorFileNotFound);
        return false;
    }
    text = *board.text;
    return true;
}

}  // namespace platform
