// The device's side of every download and upload, FTP and SFTP, one file or a batch: what
// each file must hold to, in one place. A download arrives in a temporary file that it
// makes beside its target (O_EXCL, a random name of platform/own_files.h, readable by the
// user alone while it arrives), reached through folder handles (platform/folder_handles.h).
// Only a file of the expected size replaces the target, with its source's permission
// bits; when no temporary file can be made the download fails, saying why, and the target
// stays as it was: nothing is ever written in place. An upload reads its file through
// folder handles too. Each object serves one file on one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/folder_handles.h"
#include "sftp/sftp_session.h"

namespace session {

// Where and how one file arrives.
struct DownloadTarget {
    platform::AnchoredPath file = {};
    std::int64_t expectedSize = -1;  // from a listing, SIZE or a stat; -1: unknown
    // The source's permission bits where a listing gave them (FTP), -1 unknown; an SFTP
    // download takes its file's own. Unknown, the target keeps its mode, or a new one
    // takes 0666 less the umask.
    int sourceMode = -1;
    // The partial file of an earlier try (a name in the target's folder): with `resume`
    // continued while it is still this user's file alone, else removed.
    std::string partialName = {};
    bool resume = false;
    // Told the temporary file's host path before its first byte, so that a retry can
    // find it: a failure then keeps the bytes that arrived. Null: a failure removes it.
    std::function<void(const std::string& hostPath)> keepPartial = {};
};

// One download's device side, from open to close (the engines' LocalEnd).
class DownloadFile final : public sftp::LocalEnd {
public:
    explicit DownloadFile(DownloadTarget target) : target_(std::move(target)) {}
    ~DownloadFile() override;  // an open file not closed is closed as failed
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // The temporary file, positioned after the bytes a continued partial holds (their
    // count in `offset`); -1 with the reason ("cannot create a temporary file in FOLDER:
    // Permission denied").
    int open(std::int64_t& offset, std::string& reason) override;
    // The bytes the file held when it was opened.
    std::int64_t offset() const { return offset_; }
    // A `whole` transfer replaces the target when it arrived with the expected size;
    // anything else fails, and the temporary file goes unless it is kept for a retry with
    // bytes in it. `sourceMode` as DownloadTarget's (the SFTP stat's, or -1).
    bool close(bool whole, int sourceMode, std::string& reason) override;

private:
    bool fail(std::string text, std::string& reason);
    int openPartial(std::int64_t& offset);

    DownloadTarget target_;
    platform::EntryFolder folder_;
    std::string temporaryName_;
    platform::Descriptor file_;
    std::int64_t offset_ = 0;
};

// One upload's device side: its file read through folder handles.
class UploadFile final : public sftp::LocalEnd {
public:
    explicit UploadFile(platform::AnchoredPath file) : file_(std::move(file)) {}
    int open(std::int64_t& offset, std::string& reason) override;
    bool close(bool, int, std::string&) override;

private:
    platform::AnchoredPath file_;
    platform::Descriptor opened_;
};

}  // namespace session
