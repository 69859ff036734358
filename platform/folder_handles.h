// Folder handles: the device side of a synchronisation, a mirror, a queued copy and a
// download reaches each entry from a top folder one name at a time, never following a
// link (openat with O_NOFOLLOW | O_DIRECTORY), so that a link put in place after the plan
// fails the action ("is a link now") instead of leading it elsewhere: nothing is written,
// read or removed through one. The top itself is opened as named, since the user chose
// it. Failures say why in the system's words. Any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/host_files.h"

namespace platform {

// An entry reached from a top folder: `below` names it from there, '/' between names.
struct AnchoredPath {
    std::string top;
    std::string below;
};
// The entry as one host path, for messages and lists.
std::string hostPathOf(const AnchoredPath& entry);
// A file that a user named alone: the folder the path names is its top.
AnchoredPath anchoredInFolder(const std::string& path);
// The folder (a host path) from which the calling thread's device actions reach their
// entries, set by the queue's worker for each record: a synchronisation's device folder,
// a copy's target folder. Empty: none.
void setThreadDeviceTop(std::string hostFolder);
// `path` anchored at the thread's top when it lies below it, else at its own folder.
AnchoredPath anchoredForThread(const std::string& path);
// `path` followed through symbolic links (a link's relative target taken from the link's
// folder); it need not exist. For a path that the user typed, whose links are the user's.
std::string followLinks(std::string path);

// The folder that holds an entry, open, and the entry's name in it.
struct EntryFolder {
    Descriptor folder;
    std::string name;
};
bool openEntryFolder(const AnchoredPath& entry, EntryFolder& opened, std::string& reason);
// Whether the entry `name` of `folder` is a symbolic link; `reason` then says so, naming
// it by `shownAs`.
bool isLinkNow(int folder, const std::string& name, const std::string& shownAs, std::string& reason);

// Makes the folder with `sourceMode`'s permission bits and its owner's (see creationBits;
// -1: 0777 with the umask); one that exists already counts as made.
bool makeFolderAt(const AnchoredPath& folder, int sourceMode, std::string& reason);
// Removes a file, or an empty folder.
bool removeAt(const AnchoredPath& entry, bool folder, std::string& reason);
// Opens a regular file for reading; -1 in the descriptor on failure.
Descriptor openToReadAt(const AnchoredPath& file, std::string& reason);
// Sets the modification time (seconds since 1970 UTC), leaving the access time.
bool setModificationTimeAt(const AnchoredPath& entry, std::int64_t seconds, std::string& reason);

// The permission bits a new file or folder takes from its source's mode: mode & 0777,
// less the process's umask.
unsigned creationBits(unsigned sourceMode);

}  // namespace platform
