// The Remote view's file operations on the current place: copy (download and upload on
// a session of their own, a copy within the server over two sessions), move and rename,
// delete, new and removed folders, the recursive folder copy, the attribute query, and
// the "Ftp Error" box with the place's error tag and text.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "explorer/folder_walk.h"
#include "explorer/provider.h"
#include "platform/files.h"
#include "session/server_session.h"

namespace remote {

// A phone path inside a remote operation: "file://" followed by the device path.
inline constexpr std::u16string_view devicePrefix = u"file://";

// Where the recursive copy logs each file (kind 1) and folder (kind 6) it handled, with
// the stamp its source's listing gave a file. The queue sets it; null logs nothing. Any
// thread.
enum class CopyLogList { successful, failed };
using CopyLogHook = void (*)(int kind, std::u16string_view source, std::u16string_view destination, CopyLogList list,
                             explorer::EntryStamp stamp);
void setCopyLogHook(CopyLogHook hook);

// Each operation returns non-zero for success; a failure leaves the current place's
// error tag and text (and a last error) for ShowError and GetLastErrorText. Any thread;
// the caller holds no place's lock and no open remote listing.
int remoteMove(std::u16string_view source, std::u16string_view destination);
int remoteDeleteFile(std::u16string_view path);
int remoteRemoveFolder(std::u16string_view path);
int remoteCreateFolder(std::u16string_view path);
// An existing target is replaced: `failIfExists` has no effect here.
int remoteCopyFile(std::u16string_view source, std::u16string_view destination, int failIfExists);
// Copies single files between the server and the device, all one way (that of the
// first), several at once on one session (the queue worker's own), each replacing its
// target: see ViewProvider::CopyFiles. A download continues its partial when its order
// says so. A session that met a failure is dropped after the batch.
void remoteCopyFiles(const explorer::NextCopyOrder& next, const explorer::CopyOrderEnded& ended);
// Copies a folder tree between the server and the device, either way. Every entry is
// tried; 0 when one of them failed or could not be named safely on the other side.
int remoteCopyFolder(std::u16string_view source, std::u16string_view destination, int failIfExists);
// Why a copy within one server from `source` to `destination` must not run, empty when it
// may: the two name one entry (a copy onto itself empties it, since the target is
// truncated before the source is read), or a folder would go into itself or below it (the
// copy would never end). Paths are compared as the server resolves them. Any thread.
std::string selfCopyRefusal(std::u16string_view source, std::u16string_view destination, bool folder);
// The entry `path` names, as its folder lists it (the root is a folder); a path its
// folder does not list fails with "(KVT-FAE-1)".
int remoteGetAttributes(std::u16string_view path, int informationLevel, platform::FileAttributeData& data);

// Runs `step` on the current place's session, connected first, with the server's form of
// `path`: for a command that makes several requests of one file (a file viewed or edited
// through a private copy). `step` returns "" when it succeeded, else the reason, which
// becomes the place's error under `tag` (the result is then 0). Any thread but the UI
// thread: the step waits on the network.
using ServerFileStep = std::function<std::string(session::ServerSession& session, const std::string& serverPath)>;
int onServerFile(std::u16string_view path, std::u16string_view tag, const ServerFileStep& step);

// The "Ftp Error" box for the current place (else place 0) under `caption`; -1 without
// a box when there is no place. Any thread: the UI thread shows it.
int showRemoteError(std::u16string_view caption);
// "TAG TEXT" of the last failure this thread gave the current place (else place 0);
// empty when it gave none. Any thread.
std::u16string remoteLastErrorText();

// Binds the operations above into the Remote view's provider.
void bindRemoteFiles(explorer::ViewProvider& view);

}  // namespace remote
