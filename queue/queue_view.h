// The Queue view: the operation queue shown in the explorer list as if each of its four
// lists were a folder and each record a file named by its destination.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace queue {

// Binds the Queue view's operations into explorer::queueProvider. UI thread only, once
// at start-up, after the Device view (whose icon lookup it borrows).
void initQueueView();

// Retry on the Failed list: the record shown as the row named `rowName` whose time is
// `started` goes back to Pending (see retryFailed). 0 when no such record is in Failed.
// UI thread only.
int retryRow(std::u16string_view rowName, std::uint64_t started);

// A record's destination as a row's name, as the user reads it: a phone path without its
// "file://", a server path as it is. A name holds no separator, so '\' and '/' become
// the look-alikes U+29F5 and U+2215. Any thread.
std::u16string rowNameOf(std::u16string_view destination);

}  // namespace queue
