#include "remote/remote_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "explorer/folder_walk.h"
#include "explorer/url.h"
#include "ftp/ftp_commands.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/folder_handles.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "platform/window/message_box.h"
#include "remote/connect.h"
#include "remote/partial_downloads.h"
#include "remote/places.h"
#include "remote/remote_listing.h"

namespace remote {
namespace {

constexpr std::size_t maxServerPathBytes = 319;
// "RETR " or "STOR " and the path must stay under 256 characters.
constexpr std::size_t maxTransferPathLength = 250;
constexpr std::size_t maxMessageLength = 1023;
constexpr int fileLogKind = 1;
constexpr int folderLogKind = 6;

std::atomic<CopyLogHook> copyLogHook{nullptr};

void setError(FtpPlace& place, std::u16string_view tag, std::string_view text) { setPlaceError(place, tag, text); }

// Every failure also leaves a last error of its own, so that a stale "access denied"
// never reads as an existing target.
int failed() {
    platform::setLastError(platform::errorGeneric);
    return 0;
}

bool isDevicePath(std::u16string_view path) { return path.starts_with(devicePrefix); }
bool isServerPath(std::u16string_view path) { return !path.empty() && (path[0] == u'/' || path[0] == u'\\'); }
std::u16string_view devicePart(std::u16string_view path) { return path.substr(devicePrefix.size()); }

// The bytes a server gets for `path` ('\' turned into '/'), or none with the place's
// error set: a path that would be cut, or that holds a line break, never reaches it.
std::optional<std::string> serverPath(FtpPlace& place, std::u16string_view path, std::size_t limit,
                                      std::u16string_view tag) {
    std::u16string slashed(path);
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    if (!platform::hasByteForm(slashed)) {
        setError(place, tag, "The path has no form the server can be sent.\n");
        return std::nullopt;
    }
    std::string bytes = platform::toUtf8(slashed);
    limit = std::min(limit, maxServerPathBytes);
    if (bytes.size() > limit) {
        setError(place, tag,
                 "The path is too long for the server: " + std::to_string(bytes.size()) + " bytes, at most " +
                     std::to_string(limit) + ".\n");
        return std::nullopt;
    }
    if (std::any_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
        setError(place, tag, "The path holds a control character.\n");
        return std::nullopt;
    }
    return bytes;
}

// The host file of a device path, or none with the place's error set.
std::optional<std::string> hostPath(FtpPlace& place, std::u16string_view devicePath, std::u16string_view tag) {
    if (devicePath.size() >= platform::maxPath) {
        setError(place, tag, "The device path is too long: at most 259 characters.\n");
        return std::nullopt;
    }
    std::string host = platform::toHostPath(devicePath);
    if (host.empty()) {
        setError(place, tag, "The device path has no form on this system.\n");
        return std::nullopt;
    }
    return host;
}

// What a listing gave a file to copy: its exact size and permission bits (-1: none).
struct Listed {
    std::int64_t size = -1;
    int mode = -1;
};

// New Folder's work, with the permission bits `mode` (-1: the server's own).
int createServerFolder(std::u16string_view path, int mode);

using PathCommand = int (session::ServerSession::*)(const std::string& path);

// One command on one path over the place's session.
int runOnPath(std::u16string_view path, PathCommand command, std::size_t limit, std::u16string_view tag) {
    SessionUse use = useSession(viewPlaceIndex());
    if (!ensureConnected(use)) return failed();
    FtpPlace& place = *use.place;
    const std::optional<std::string> remotePath = serverPath(place, path, limit, tag);
    if (!remotePath) return failed();
    if (((**use.session).*command)(*remotePath)) return 1;
    setError(place, tag, (*use.session)->failureText());
    return failed();
}

std::int64_t deviceFileSize(std::u16string_view devicePath) {
    platform::FileAttributeData data{};
    if (!platform::getFileAttributes(devicePath, data)) return -1;
    return std::int64_t(data.sizeHigh) << 32 | data.sizeLow;
}

// The size of a file to download as its folder lists it, for a server without SIZE; -1
// when it is not listed as a file (a link's listed size is that of the link).
std::int64_t listedFileSize(std::u16string_view remote) {
    platform::FileAttributeData data{};
    if (!remoteGetAttributes(remote, 0, data) ||
        (data.attributes & (platform::attributeFolder | platform::attributeLink)))
        return -1;
    return std::int64_t(data.sizeHigh) << 32 | data.sizeLow;
}

PlaceSession newSession(const FtpPlace& place) { return session::newServerSession(settingsOf(place).host); }

// The device side of a download: its partial continued on a retry, else made anew under
// a random name and listed in the settings before its first byte (and after the download
// only while it is still there), so that a retry, and the start-up's clean-up, find it.
session::DownloadTarget downloadTarget(const FtpPlace& place, const std::string& remotePath, const std::string& local,
                                       Listed listed, bool resume) {
    const std::uint64_t key = partialKeyFor(place, remotePath, local);
    session::DownloadTarget target{.file = platform::anchoredForThread(local),
                                   .expectedSize = listed.size,
                                   .sourceMode = listed.mode,
                                   .resume = resume};
    const std::string kept = keptPartial(key);
    const auto slash = kept.rfind('/');
    if (slash != std::string::npos && local.compare(0, slash + 1, kept, 0, slash + 1) == 0 &&
        local.find('/', slash + 1) == std::string::npos) {
        target.partialName = kept.substr(slash + 1);
    }
    target.keepPartial = [key](const std::string& partial) {
        rememberPartial(partial, key, platform::toUint64(platform::fileTimeNow()));
    };
    return target;
}

// Drops the listed partial of a download that left none.
void forgetGonePartial(const FtpPlace& place, const std::string& remotePath, const std::string& local) {
    const std::string kept = keptPartial(partialKeyFor(place, remotePath, local));
    struct stat info {};
    if (!kept.empty() && (lstat(kept.c_str(), &info) != 0 || !S_ISREG(info.st_mode))) forgetPartial(kept);
}

// A download or upload. On a thread with a session of its own (the queue's worker) it
// runs on that session, which stays open for the next one; elsewhere on a session made
// for it, with the place's session let go, so that browsing goes on. The device side is
// reached from the thread's device top (platform/folder_handles.h). A download arrives in
// a temporary file beside the target that replaces it only once complete, so a failure
// never destroys what the device had; the partial stays after a failure, and a retry on
// the worker continues it. A download given the listed size (the exact size a listing
// just gave) does not ask the server for it, and takes the listed permission bits.
int transfer(SessionUse& use, bool upload, std::u16string_view devicePath, std::u16string_view remote, Listed listed) {
    FtpPlace& place = *use.place;
    const std::u16string_view tag = upload ? u"(KVT-CF-1)" : u"(KVT-CF-2)";
    const std::optional<std::string> local = hostPath(place, devicePath, tag);
    if (!local) return failed();
    const std::optional<std::string> remotePath = serverPath(place, remote, maxTransferPathLength, tag);
    if (!remotePath) return failed();

    PlaceSession made;
    PlaceSession& session = use.threadOwn ? *use.session : made;
    if (!use.threadOwn) {
        releaseSession(use);
        made = newSession(place);
        if (!connectPlace(place, *made)) {
            setPlaceErrorTag(place, tag);  // the connection's text stays
            return failed();
        }
        bool lost = false;
        made->probe(lost);
    }
    // The size is known only for a watched copy: it shows the share done, and a download
    // of another size than announced is not trusted. A retry asks the server anew, since
    // the partial it continues must be of the file as it is now.
    session::TransferWatch* const watch = session::threadTransferWatch();
    // An upload always starts over: servers differ too much in how they continue one.
    const bool resume = watch && watch->resume.load();
    std::int64_t size = !watch                        ? -1
                        : upload                      ? deviceFileSize(devicePath)
                        : !resume && listed.size >= 0 ? listed.size
                                                      : session->fileSize(*remotePath);
    // Without SIZE a download cut short would pass for whole: its listing says how long.
    if (watch && !upload && size < 0) size = listedFileSize(remote);
    if (watch) {
        watch->done.store(0);
        watch->total.store(size);
        session->watchTransfers(watch);
    }
    const platform::AnchoredPath anchored = platform::anchoredForThread(*local);
    const bool done = upload ? session->upload(anchored, *remotePath)
                             : session->download(*remotePath, downloadTarget(place, *remotePath, *local,
                                                                             {size, listed.mode}, resume));
    const std::string text = done ? std::string() : session->failureText();
    if (watch) session->watchTransfers(nullptr);
    if (done && !use.threadOwn) session->quit(false);
    // A failed transfer's connection is dropped at once: replies of the aborted transfer
    // may still be on their way.
    if (!done || !use.threadOwn) session.reset();
    if (!upload) forgetGonePartial(place, *remotePath, *local);
    if (done) return 1;
    setError(place, tag, text);
    return failed();
}

// A copy on the servers, within the place of `use` or, with `sourcePlace`, from that
// place to it: the data goes between two control connections made for it, since one
// connection cannot carry both ends.
int copyOnServers(SessionUse& use, const std::shared_ptr<FtpPlace>& sourcePlace, std::u16string_view source,
                  std::u16string_view destination) {
    FtpPlace& place = *use.place;
    constexpr std::u16string_view tag = u"(KVT-CF-3)";
    const std::optional<std::string> from = serverPath(place, source, maxTransferPathLength, tag);
    const std::optional<std::string> to = serverPath(place, destination, maxTransferPathLength, tag);
    if (!from || !to) return failed();
    // Both ends on connections of their own: one connection cannot carry both, and a
    // server may not serve a passive copy on a connection that moved data actively
    // before (pyftpdlib leaves the PORT of the other end unanswered). The place's own
    // connection stays as browsing left it, whatever the copy's end.
    releaseSession(use);
    FtpPlace& sourceOwner = sourcePlace ? *sourcePlace : place;
    PlaceSession sourceSession = newSession(sourceOwner);
    PlaceSession target = newSession(place);
    const bool connected = connectPlace(sourceOwner, *sourceSession) && connectPlace(place, *target);
    if (session::TransferWatch* watch = session::threadTransferWatch(); connected && watch) {
        sourceSession->watchTransfers(watch);
        target->watchTransfers(watch);
    }
    std::string refusal;
    const bool copied = connected && sourceSession->copyToServer(*target, *from, *to, refusal);
    const std::string failure = "Fxp Error" + (refusal.empty() ? std::string() : "\n" + refusal);
    if (copied) {
        sourceSession->quit(false);
        target->quit(false);
    }
    // A failed copy's connections are dropped at once: replies of the aborted transfer
    // may still be on their way.
    sourceSession.reset();
    target.reset();
    if (copied) return 1;
    if (connected) setError(place, tag, failure);
    else setPlaceErrorTag(place, tag);  // the connection's text stays
    return failed();
}

// A server path as the server resolves it, to tell whether two paths name one entry:
// '\\' read as '/', no doubled or final separator, no "." segment, ".." taken back.
std::u16string canonicalServerPath(std::u16string_view path) {
    std::u16string slashed(path);
    std::replace(slashed.begin(), slashed.end(), u'\\', u'/');
    std::u16string canonical;
    if (!explorer::canonicalize(u"/" + slashed, canonical)) return slashed;
    while (canonical.size() > 1 && canonical.back() == u'\\') canonical.pop_back();
    return canonical;
}

// A place's error text as the user reads it: a reply keeps its final line break, which
// would end the box or the row with an empty line.
std::u16string describedText(std::string_view text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    return platform::toUtf16(text);
}

void logCopy(int kind, std::u16string_view source, std::u16string_view destination, bool succeeded,
             explorer::EntryStamp stamp = {}) {
    if (const CopyLogHook hook = copyLogHook.load()) {
        hook(kind, source, destination, succeeded ? CopyLogList::successful : CopyLogList::failed, stamp);
    }
}

void setCurrentError(std::u16string_view tag, std::string_view text) {
    if (const std::shared_ptr<FtpPlace> place = threadPlace(viewPlaceIndex())) setError(*place, tag, text);
}

void setCurrentTag(std::u16string_view tag) {
    if (const std::shared_ptr<FtpPlace> place = threadPlace(viewPlaceIndex())) setPlaceErrorTag(*place, tag);
}

// The find entries of either side, for listFolder.
explorer::ViewProvider findsOf(bool device) {
    explorer::ViewProvider finds{};
    if (device) {
        finds.FindFirst = platform::findFirstFile;
        finds.FindNext = [](platform::FindHandle handle, platform::FindData& data) {
            return int(platform::findNextFile(handle, data));
        };
        finds.FindClose = [](platform::FindHandle handle) { return int(platform::findClose(handle)); };
    } else {
        finds.FindFirst = remoteFindFirst;
        finds.FindNext = remoteFindNext;
        finds.FindClose = remoteFindClose;
    }
    return finds;
}

struct TreeEntry {
    std::u16string name;
    std::uint32_t attributes = 0;
    explorer::EntryStamp stamp;
    std::int32_t mode = -1;
};

// A name the other side would take for something else: an escaped '\' (a separator on
// many servers and on the device) or control character (a line break ends a command).
// Escapes of bytes that are merely not UTF-8 name their own entry and are kept.
bool isHostileName(std::u16string_view name) {
    return std::any_of(name.begin(), name.end(), [](char16_t unit) {
        if (!platform::isNameEscape(unit)) return unit < 0x20 || unit == 0x7F;
        const unsigned char byte = static_cast<unsigned char>(platform::escapedByte(unit));
        return byte == '\\' || byte < 0x20 || byte == 0x7F;
    });
}

struct FolderCopy {
    bool failIfExists;
    int mode = -1;  // the source folder's permission bits, for the folder it makes
    bool anyFailed = false;
};

bool copyTree(std::u16string_view source, std::u16string_view destination, FolderCopy walk);

// Makes the destination folder with `mode`'s bits; a remote one that exists already (550)
// is used as it is.
bool makeDestination(std::u16string_view destination, int mode) {
    if (isDevicePath(destination)) {
        const std::u16string_view folder = devicePart(destination);
        const std::string host = platform::toHostPath(folder);
        std::string reason;
        if (folder.size() + 2 < platform::maxPath && !host.empty() &&
            platform::makeFolderAt(platform::anchoredForThread(host), mode, reason))
            return true;
        setCurrentError(u"(KVT-CP-1)", "Unable to create the destination folder" +
                                           (reason.empty() ? std::string(".") : ": " + reason + ".\n"));
        return false;
    }
    if (createServerFolder(destination, mode) || platform::lastError() == platform::errorAlreadyExists) return true;
    setCurrentTag(u"(KVT-CP-2)");
    return false;
}

// Asks whether an existing file may be overwritten. Any thread: on a worker the UI
// thread shows the box while the worker waits.
bool askReplaceFile() {
    return platform::messageBox(platform::getForegroundWindow(),
                                u"The file already exists, would you like to overwrite?", u"Replace File?",
                                platform::MessageBoxButtons::yesNo,
                                platform::MessageBoxIcon::question) == platform::MessageBoxResult::yes;
}

// The device target of a copy that may not replace what is there: access denied, as
// the phone reports it.
bool refusesExistingTarget(std::u16string_view destination, bool failIfExists) {
    platform::FileAttributeData existing{};
    if (!failIfExists || !isDevicePath(destination) || !platform::getFileAttributes(devicePart(destination), existing))
        return false;
    setCurrentError(u"(KVT-CF-2)", "The file already exists.\n");
    platform::setLastError(platform::errorAccessDenied);
    return true;
}

// A copy of one file; `listed` as transfer takes it.
int copyFile(std::u16string_view source, std::u16string_view destination, Listed listed) {
    SessionUse use = useSession(viewPlaceIndex());
    if (!ensureConnected(use)) return failed();
    const bool fromDevice = isDevicePath(source);
    const bool toDevice = isDevicePath(destination);
    if (fromDevice && toDevice) {
        setError(*use.place, u"(KVT-CF-1)", "Both paths are on the device; the Device view copies them.\n");
        return failed();
    }
    if (!fromDevice && !toDevice) {
        const std::shared_ptr<FtpPlace> sourcePlace = sourcePlaceOfThread();
        const std::string refusal = sourcePlace && sourcePlace != use.place
                                        ? std::string()
                                        : selfCopyRefusal(source, destination, false);
        if (!refusal.empty()) {
            setError(*use.place, u"(KVT-CF-3)", refusal);
            return failed();
        }
        return copyOnServers(use, sourcePlace, source, destination);
    }
    if (fromDevice) return transfer(use, true, devicePart(source), destination, {});
    return transfer(use, false, devicePart(destination), source, listed);
}

// `listed` as transfer takes it.
void copyTreeFile(const std::u16string& source, const std::u16string& destination, explorer::EntryStamp stamp,
                  Listed listed, FolderCopy& walk) {
    if (!refusesExistingTarget(destination, walk.failIfExists) && copyFile(source, destination, listed)) {
        logCopy(fileLogKind, source, destination, true, stamp);
        return;
    }
    if (platform::lastError() == platform::errorAccessDenied && !platform::threadStopped()) {
        if (!askReplaceFile()) {
            logCopy(fileLogKind, source, destination, false);
            return;
        }
        walk.failIfExists = false;
        if (copyFile(source, destination, listed)) {
            logCopy(fileLogKind, source, destination, true, stamp);
            return;
        }
    }
    setCurrentTag(u"(KVT-CP-4)");
    logCopy(fileLogKind, source, destination, false);
    walk.anyFailed = true;
}

// Copies `source` into `destination` (made first). The folder's entries are read whole
// before any is copied, since a sub-folder's listing takes the listing cache. A link is
// never gone into: a device link to a folder is left out as the Device view leaves it (and logged as not copied),
// and a server's entry that may be a link is copied as a file, or fails as one.
bool copyTree(std::u16string_view source, std::u16string_view destination, FolderCopy walk) {
    const bool fromDevice = isDevicePath(source);
    const char16_t separator = fromDevice ? u'\\' : u'/';
    const char16_t targetSeparator = isDevicePath(destination) ? u'\\' : u'/';
    if (!makeDestination(destination, walk.mode)) return false;

    const std::u16string folder = std::u16string(fromDevice ? devicePart(source) : source) + separator;
    std::vector<TreeEntry> entries;
    const explorer::ListingResult listing = explorer::listFolder(
        findsOf(fromDevice), folder + u"*", folder, [&](const explorer::FolderEntry& entry) {
            entries.push_back(
                {std::u16string(entry.name), entry.data.attributes, explorer::stampOf(entry.data), entry.data.mode});
            return true;
        });
    if (listing.end != explorer::ListingEnd::complete) {
        setCurrentError(u"(KVT-CP-3)", "Unable to find files in the source folder.");
        return false;
    }
    if (listing.leftOut > 0) {
        setCurrentError(u"(KVT-CP-4)",
                        std::to_string(listing.leftOut) + " entries have names that cannot be copied as they are.\n");
        walk.anyFailed = true;
    }
    for (const TreeEntry& entry : entries) {
        if (platform::threadStopped()) {
            setCurrentError(u"(KVT-CP-4)", "Stopped.\n");
            return false;
        }
        const std::u16string from = std::u16string(source) + separator + entry.name;
        const std::u16string to = std::u16string(destination) + targetSeparator + entry.name;
        const bool isFolder = entry.attributes & platform::attributeFolder;
        const bool isLink = entry.attributes & platform::attributeLink;
        if (isHostileName(entry.name)) {
            setCurrentError(u"(KVT-CP-4)", "'" + platform::toUtf8(entry.name) +
                                               "' is no name the other side can use; it was not copied.\n");
            logCopy(isFolder ? folderLogKind : fileLogKind, from, to, false);
            walk.anyFailed = true;
        } else if (isFolder && !isLink) {
            // The folder's own outcome: its earlier siblings' failures are not its own.
            const bool copied = copyTree(from, to, FolderCopy{.failIfExists = walk.failIfExists, .mode = entry.mode});
            logCopy(folderLogKind, from, to, copied);
            walk.anyFailed |= !copied;
        } else if (!isFolder || !fromDevice) {
            // A listed size is exact, save a link's (that of the link) and the 0 of a
            // listing that gives none.
            const bool sized = !fromDevice && !isLink && entry.stamp.size > 0;
            copyTreeFile(from, to, entry.stamp, {sized ? std::int64_t(entry.stamp.size) : -1, entry.mode}, walk);
        } else {
            // Left out, yet logged as not copied: a move must not delete it with its folder.
            // Logged as a file, so that a Retry never copies the tree the link points at.
            logCopy(fileLogKind, from, to, false);
        }
    }
    return !walk.anyFailed;
}

}  // namespace

void setCopyLogHook(CopyLogHook hook) { copyLogHook.store(hook); }

int onServerFile(std::u16string_view path, std::u16string_view tag, const ServerFileStep& step) {
    SessionUse use = useSession(viewPlaceIndex());
    if (!ensureConnected(use)) return failed();
    FtpPlace& place = *use.place;
    const std::optional<std::string> remotePath = serverPath(place, path, maxTransferPathLength, tag);
    if (!remotePath) return failed();
    const std::string reason = step(**use.session, *remotePath);
    if (reason.empty()) return 1;
    setError(place, tag, reason);
    return failed();
}

int remoteDeleteFile(std::u16string_view path) {
    return runOnPath(path, &session::ServerSession::deleteFile, ftp::maxFilePathLength, u"(KVT-DF-1)");
}

int remoteRemoveFolder(std::u16string_view path) {
    return runOnPath(path, &session::ServerSession::removeFolder, ftp::maxFolderPathLength, u"(KVT-RF-1)");
}

int remoteCreateFolder(std::u16string_view path) { return createServerFolder(path, -1); }

namespace {

int createServerFolder(std::u16string_view path, int mode) {
    constexpr std::u16string_view tag = u"(KVT-CF-1)";
    SessionUse use = useSession(viewPlaceIndex());
    if (!ensureConnected(use)) return failed();
    const std::optional<std::string> remotePath = serverPath(*use.place, path, ftp::maxFolderPathLength, tag);
    if (!remotePath) return failed();
    session::ServerSession& session = **use.session;
    if (session.makeFolder(*remotePath, mode)) return 1;
    setError(*use.place, tag, session.failureText());
    // A name that is taken: New Folder goes on to "New Folder (1)" rather than stop at the
    // first name, and a folder copy goes into it.
    const bool taken = session.nameTaken(*remotePath);
    failed();
    if (taken) platform::setLastError(platform::errorAlreadyExists);
    return 0;
}

}  // namespace

std::string selfCopyRefusal(std::u16string_view source, std::u16string_view destination, bool folder) {
    const std::u16string from = canonicalServerPath(source);
    const std::u16string to = canonicalServerPath(destination);
    if (from == to) {
        return "'" + platform::toUtf8(source) +
               "' would be copied onto itself, which empties it: paste it into another folder.";
    }
    if (folder && to.starts_with(from == u"\\" ? from : from + u'\\')) {
        return "'" + platform::toUtf8(source) + "' would be copied into itself, as '" + platform::toUtf8(destination) +
               "': that copy would never end.";
    }
    return {};
}

int remoteCopyFile(std::u16string_view source, std::u16string_view destination, int) {
    return copyFile(source, destination, {});
}

void remoteCopyFiles(const explorer::NextCopyOrder& next, const explorer::CopyOrderEnded& ended) {
    std::optional<explorer::FileCopyOrder> first = next();
    if (!first) return;
    const bool upload = isDevicePath(first->source);
    const std::u16string_view tag = upload ? u"(KVT-CF-1)" : u"(KVT-CF-2)";
    std::size_t orders = 0;
    const auto takeOrder = [&] { return first ? std::exchange(first, std::nullopt) : next(); };
    const auto fail = [&] {
        ended(orders++, false, remoteLastErrorText());
        failed();
    };
    SessionUse use = useSession(viewPlaceIndex());
    if (!ensureConnected(use)) {
        fail();
        return;
    }
    FtpPlace& place = *use.place;
    // The batch numbers its files, of which some orders may not be (a path the server
    // cannot be given fails at once).
    std::vector<std::size_t> orderOf;
    std::vector<std::pair<std::string, std::string>> paths;  // each file's remote and local path
    const session::NextTransfer nextFile = [&]() -> std::optional<session::FileTransfer> {
        for (std::optional<explorer::FileCopyOrder> order; (order = takeOrder());) {
            const std::u16string_view device = upload ? order->source : order->destination;
            const std::u16string_view remote = upload ? order->destination : order->source;
            const std::optional<std::string> local = isDevicePath(device) && isServerPath(remote)
                                                         ? hostPath(place, devicePart(device), tag)
                                                         : std::nullopt;
            const std::optional<std::string> remotePath = local ? serverPath(place, remote, maxTransferPathLength, tag)
                                                                : std::nullopt;
            if (!remotePath) {
                if (!local) setError(place, tag, "The copy does not go the batch's way.\n");
                fail();
                continue;
            }
            // Each file's device side as a single copy's: an upload read from the thread's
            // device top, a download's target with its partial kept for a retry.
            session::FileTransfer file{.remotePath = *remotePath, .keepTime = order->keepTimes};
            if (upload) file.local = platform::anchoredForThread(*local);
            else file.target = downloadTarget(place, *remotePath, *local, {order->size, order->mode}, order->resume);
            orderOf.push_back(orders++);
            paths.emplace_back(*remotePath, *local);
            return file;
        }
        return std::nullopt;
    };
    bool anyFailed = false;
    const session::TransferEnded endFile = [&](std::size_t file, const session::TransferOutcome& outcome) {
        if (!upload) forgetGonePartial(place, paths[file].first, paths[file].second);
        if (outcome.done) return ended(orderOf[file], true, {});
        anyFailed = true;
        setError(place, tag, outcome.failure);
        ended(orderOf[file], false, remoteLastErrorText());
        failed();
    };
    PlaceSession& session = *use.session;
    session::TransferWatch* const watch = session::threadTransferWatch();
    session->watchTransfers(watch);
    if (upload) session->uploadFiles(nextFile, endFile);
    else session->downloadFiles(nextFile, endFile);
    session->watchTransfers(nullptr);
    // As after a single copy: a failed transfer's replies may still be on their way.
    if (anyFailed) session.reset();
}

int remoteMove(std::u16string_view source, std::u16string_view destination) {
    constexpr std::u16string_view tag = u"(KVT-MF-1)";
    if (isServerPath(source) && isServerPath(destination)) {
        SessionUse use = useSession(viewPlaceIndex());
        if (!ensureConnected(use)) return failed();
        FtpPlace& place = *use.place;
        const std::optional<std::string> from = serverPath(place, source, ftp::maxFilePathLength, tag);
        const std::optional<std::string> to = serverPath(place, destination, ftp::maxFilePathLength, tag);
        if (!from || !to) return failed();
        if ((*use.session)->rename(*from, *to)) return 1;
        setError(place, tag, (*use.session)->failureText());
        return failed();
    }
    // The source goes only once its copy exists.
    if (!remoteCopyFile(source, destination, 1)) {
        setCurrentTag(tag);
        return failed();
    }
    if (isDevicePath(source)) platform::deleteFile(devicePart(source));
    else remoteDeleteFile(source);
    return 1;
}

int remoteCopyFolder(std::u16string_view source, std::u16string_view destination, int failIfExists) {
    // A row's folder may come with its separator; each entry adds one of its own.
    const auto trimmed = [](std::u16string_view path) {
        while (!path.empty() && (path.back() == u'/' || path.back() == u'\\')) path.remove_suffix(1);
        return path;
    };
    if (!isDevicePath(source) && !isDevicePath(destination)) {
        if (const std::string refusal = selfCopyRefusal(source, destination, true); !refusal.empty()) {
            setCurrentError(u"(KVT-CF-3)", refusal);
            return failed();
        }
    }
    if (!copyTree(trimmed(source), trimmed(destination), FolderCopy{.failIfExists = failIfExists != 0}))
        return failed();
    return 1;
}

int remoteGetAttributes(std::u16string_view path, int, platform::FileAttributeData& data) {
    std::u16string entry(path);
    std::replace(entry.begin(), entry.end(), u'\\', u'/');
    while (entry.size() > 1 && entry.back() == u'/') entry.pop_back();
    const std::size_t cut = entry.rfind(u'/');
    if (cut == std::u16string::npos) {
        setCurrentError(u"(KVT-FAE-1)", "The path is no server path: it does not begin with '/'.\n");
        return failed();
    }
    data = {};
    // No folder lists the root.
    if (entry == u"/") {
        data.attributes = platform::attributeFolder;
        return 1;
    }
    // A folder lists its entries with their own facts; a file cannot be listed by itself.
    const std::u16string folder = entry.substr(0, cut + 1);
    const std::u16string_view name = std::u16string_view(entry).substr(cut + 1);
    bool found = false;
    const explorer::ListingResult listing = explorer::listFolder(findsOf(false), folder + u"*", folder,
                                                                 [&](const explorer::FolderEntry& listed) {
                                                                     if (listed.name != name) return true;
                                                                     data.attributes = listed.data.attributes;
                                                                     data.creationTime = listed.data.creationTime;
                                                                     data.lastAccessTime = listed.data.lastAccessTime;
                                                                     data.lastWriteTime = listed.data.lastWriteTime;
                                                                     data.sizeHigh = listed.data.sizeHigh;
                                                                     data.sizeLow = listed.data.sizeLow;
                                                                     found = true;
                                                                     return false;
                                                                 });
    if (found) return 1;
    if (listing.end == explorer::ListingEnd::failed) setCurrentTag(u"(KVT-FAE-1)");  // the listing's text stays
    else setCurrentError(u"(KVT-FAE-1)", "'" + platform::toUtf8(name) + "' is not listed in its folder.\n");
    return failed();
}

int showRemoteError(std::u16string_view caption) {
    // The current place's error, else place 0's.
    const std::shared_ptr<FtpPlace> place = threadPlace(viewPlaceIndex(), true);
    if (!place) return -1;
    std::u16string text = u"An error ocured with '" + settingsOf(*place).name + u"'.\r\r" + std::u16string(caption) +
                          u" " + placeErrorTag(*place) + u"\rDescription:\r" + describedText(placeErrorText(*place));
    text.resize(std::min(text.size(), maxMessageLength));
    platform::messageBeep(platform::MessageBoxIcon::hand);
    return static_cast<int>(platform::messageBox(platform::getForegroundWindow(), text, u"Ftp Error",
                                                 platform::MessageBoxButtons::ok, platform::MessageBoxIcon::hand));
}

std::u16string remoteLastErrorText() {
    const std::shared_ptr<FtpPlace> place = threadPlace(viewPlaceIndex(), true);
    const PlaceError error = place ? threadPlaceError(*place) : PlaceError{};
    if (error.tag.empty()) return {};
    std::u16string text = error.tag + u" " + describedText(error.text);
    text.resize(std::min(text.size(), maxMessageLength));
    return text;
}

void bindRemoteFiles(explorer::ViewProvider& view) {
    view.Move = remoteMove;
    view.DeleteFile = remoteDeleteFile;
    view.RemoveFolder = remoteRemoveFolder;
    view.CopyFile = remoteCopyFile;
    view.CopyFolder = remoteCopyFolder;
    view.CopyFiles = remoteCopyFiles;
    view.GetAttributes = remoteGetAttributes;
    view.CreateFolder = remoteCreateFolder;
    view.ShowError = showRemoteError;
    view.GetLastErrorText = remoteLastErrorText;
}

}  // namespace remote
