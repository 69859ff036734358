// The owner-data list view and its image lists. The list holds no rows: it knows only
// how many there are and their states (selected, focused, cut), and asks its parent for
// the text and image of each row it draws (listGetDisplayInfo). Report mode draws one row
// per line (small icon, name); icon mode a grid of large icons with the name below.
#pragma once

#include <string_view>

#include "platform/icons.h"
#include "platform/window/window.h"

namespace platform {

// An image list maps indexes to icons; a list view draws a row's image index through
// the image list attached for its mode. Image lists are plain data: every function may
// be called from any thread without marshalling.
struct ImageList {
    std::uint32_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(ImageList, ImageList) = default;
};

ImageList imageListCreate(int count = 0);                       // every image IconId::none. Any thread.
bool imageListDestroy(ImageList list);                          // Any thread.
bool imageListSetImageCount(ImageList list, int count);         // grows with IconId::none. Any thread.
int imageListGetImageCount(ImageList list);                     // -1 for no list. Any thread.
bool imageListReplace(ImageList list, int index, IconId icon);  // false outside the count. Any thread.
IconId imageListGetIcon(ImageList list, int index);             // none outside the count. Any thread.

enum class ListViewMode { report, icon };
enum class ImageListKind { small, normal };  // small: report mode, normal: icon mode

enum ListItemState : unsigned {
    itemSelected = 1u << 0,
    itemFocused = 1u << 1,  // at most one row has it
    itemCut = 1u << 2,
};

// Flags of listViewSetItemCount.
enum ItemCountFlag : unsigned {
    countNoInvalidate = 1u << 0,  // do not redraw now (rows are being appended)
    countNoScroll = 1u << 1,      // keep the first visible row where it is
};

// Flags of listViewGetNextItem: the states the row must have (none: any row).
enum NextItemFlag : unsigned {
    nextAll = 0,
    nextSelected = itemSelected,
    nextFocused = itemFocused,
    nextCut = itemCut,
};

// What listGetDisplayInfo asks: the owner fills text (bounded by textCapacity, with its
// terminating zero) when mask has displayText, and image when it has displayImage.
enum DisplayInfoMask : unsigned {
    displayText = 1u << 0,
    displayImage = 1u << 1,
};

struct ListViewDisplayInfo : NotifyHeader {
    int item = 0;
    int subItem = 0;
    unsigned mask = 0;
    unsigned state = 0;  // the row's ListItemState bits, for the owner to read
    char16_t* text = nullptr;
    int textCapacity = 0;  // units, terminating zero included
    int image = -1;        // index in the image list; -1 draws no icon
};

struct ListViewStateChange : NotifyHeader {
    int from = 0;  // first row
    int to = 0;    // last row, inclusive
    unsigned newState = 0;
    unsigned oldState = 0;  // of the first row
};

struct ListViewKeyDown : NotifyHeader {
    Key key = Key::none;
};

// A character typed in the list. digitKey is the digit key that produced it (so a keypad
// group such as "2ABC" can be chosen), or Key::none. Answer the row to focus, or -1.
struct ListViewFindItem : NotifyHeader {
    char16_t character = 0;
    Key digitKey = Key::none;
    int start = 0;  // the focused row
};

// Begin: text is null; the edit control exists (listViewGetEditControl) and shows the
// row's display text: the owner may change its text and selection, or refuse (nonzero).
// End: text is the edited text, or null when the edit was cancelled; it is textLength
// units long and may hold a NUL of its own.
struct ListViewLabelEdit : NotifyHeader {
    int item = 0;
    const char16_t* text = nullptr;
    std::size_t textLength = 0;
};

struct ListViewItem : NotifyHeader {
    int item = 0;
};

// Each function below is Any thread: from another thread it is carried out on the UI
// thread, in order. Indexes count from 0; -1 means "all" where stated.

bool listViewSetItemCount(Window list, int count, unsigned flags = 0);  // ItemCountFlag bits. Any thread.
int listViewGetItemCount(Window list);                                  // Any thread.
// Sets the bits of `mask` to those of `state`, on one row or on all (-1). Rows beyond the
// item count keep their states and show them once the count grows. Focusing a row takes
// the focus from the one that had it. The parent gets listStateChanged.
bool listViewSetItemState(Window list, int index, unsigned state, unsigned mask);  // Any thread.
unsigned listViewGetItemState(Window list, int index, unsigned mask);              // Any thread.
// The first row after `start` (-1: from the top) that has every state in `flags`; -1 none.
int listViewGetNextItem(Window list, int start, unsigned flags);  // Any thread.
// Scrolls so that the row is visible.
bool listViewEnsureVisible(Window list, int index);  // Any thread.
int listViewGetTopIndex(Window list);                // Any thread.
// How many rows fit on one page (report: lines; icon: the whole grid).
int listViewGetCountPerPage(Window list);              // Any thread.
bool listViewSetMode(Window list, ListViewMode mode);  // Any thread.
ListViewMode listViewGetMode(Window list);             // Any thread.
// Attaches an image list (replacing the one of that kind, which is not destroyed).
bool listViewSetImageList(Window list, ImageList images, ImageListKind kind);  // Any thread.
ImageList listViewGetImageList(Window list, ImageListKind kind);               // Any thread.
// Redraws rows from..to (asks the owner again).
bool listViewRedrawItems(Window list, int from, int to);  // Any thread.

// Starts the in-place edit of a row's label: the parent gets listBeginLabelEdit and may
// refuse it. Returns the edit control, or no window when refused. The edit ends with
// listEndLabelEdit when it loses the focus or on Enter (with the text), or when Back
// is pressed on an empty text (cancelled).
Window listViewEditLabel(Window list, int index);  // Any thread.
// The edit control of the open label edit; no window when none is open.
Window listViewGetEditControl(Window list);  // Any thread.

}  // namespace platform
