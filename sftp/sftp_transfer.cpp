#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "platform/text.h"
#include "sftp/sftp_internal.h"
#include "sftp/sftp_session.h"

namespace sftp {

namespace {

// Reads of this size keep OpenSSH's server at its best; it answers up to 255 KiB.
constexpr std::uint32_t readChunk = 64 * 1024;
// OpenSSH's server drops messages over 256 KiB; a write carries about 40 bytes more.
constexpr std::size_t writeChunk = 255 * 1024;

// Names a listing must not carry: they would stand for another entry, climb out of the
// folder, or hold bytes a terminal takes as commands.
bool hostileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos) return true;
    for (const char16_t unit : platform::nameFromHost(name)) {
        if (platform::isNameEscape(unit) && platform::escapedByte(unit) != '\\') return true;
        if (platform::isControlCharacter(unit)) return true;
    }
    return false;
}

// One fact line of the listing file, or empty for an entry left out.
std::string factLine(const sftp_attributes_struct& entry) {
    const std::string_view name = entry.name ? entry.name : "";
    if (hostileName(name)) return {};
    std::string line = "+";
    if (entry.type == SSH_FILEXFER_TYPE_DIRECTORY) {
        line += "/,";
    } else if (entry.type == SSH_FILEXFER_TYPE_SYMLINK) {
        // Either may work; a walk that sees "r" never enters it.
        line += "r,/,";
    } else if (entry.type == SSH_FILEXFER_TYPE_REGULAR) {
        line += "r,";
        if (entry.flags & SSH_FILEXFER_ATTR_SIZE) line += "s" + std::to_string(entry.size) + ",";
    }
    if (entry.flags & SSH_FILEXFER_ATTR_ACMODTIME) line += "m" + std::to_string(entry.mtime) + ",";
    line += "\t";
    line += name;
    line += "\n";  // as the FTP listing file holds its lines
    return line;
}

bool writeAll(int file, const char* bytes, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(file, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= std::size_t(written);
    }
    return true;
}

struct FileCloser {
    void operator()(sftp_file file) const { sftp_close(file); }
};
using RemoteFile = std::unique_ptr<sftp_file_struct, FileCloser>;

struct LocalFile {
    int descriptor;
    explicit LocalFile(int opened) : descriptor(opened) {}
    ~LocalFile() {
        if (descriptor >= 0) ::close(descriptor);
    }
    LocalFile(const LocalFile&) = delete;
    LocalFile& operator=(const LocalFile&) = delete;
    // False when the bytes written may not all have reached the file.
    bool close() {
        const int result = ::close(descriptor);
        descriptor = -1;
        return result == 0;
    }
};

struct ReadRequest {
    std::uint32_t id;
    std::uint32_t length;
};

// Takes the replies of the reads still in flight, so that none is left for later
// requests to meet.
void drain(sftp_file file, std::deque<ReadRequest>& inFlight, std::vector<char>& buffer) {
    for (const ReadRequest& request : inFlight) {
        if (sftp_async_read(file, buffer.data(), request.length, request.id) < 0) break;
    }
    inFlight.clear();
}

}  // namespace

int listToFile(SftpSession& session, std::string_view folder, std::string_view listingPath) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string path(folder);
    const std::string localPath(listingPath);
    sftp_dir dir = sftp_opendir(session.channel, path.c_str());
    if (!dir) return fail(session, watching);
    LocalFile listing(::open(localPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    bool written = listing.descriptor >= 0;
    while (written && !stopAsked(session)) {
        sftp_attributes entry = sftp_readdir(session.channel, dir);
        if (!entry) break;
        watching.progressed();
        const std::string line = factLine(*entry);
        sftp_attributes_free(entry);
        written = writeAll(listing.descriptor, line.data(), line.size());
    }
    const bool complete = written && sftp_dir_eof(dir) == 1;
    const bool closed = sftp_closedir(dir) == SSH_NO_ERROR;
    written = listing.close() && written;
    if (complete && closed && written) return 1;
    // A listing cut short must not pass for the whole folder.
    ::unlink(localPath.c_str());
    if (!written) return failWith(session, "Cannot write the listing file " + localPath);
    if (stopAsked(session)) return failWith(session, "Stopped");
    return fail(session, watching);
}

int download(SftpSession& session, std::string_view remotePath, std::string_view localPath, std::int64_t offset,
             const Progress& progress) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string path(remotePath);
    const RemoteFile file(sftp_open(session.channel, path.c_str(), O_RDONLY, 0));
    if (!file) return fail(session, watching);
    sftp_attributes attributes = sftp_fstat(file.get());
    if (!attributes) return fail(session, watching);
    const std::int64_t size = (attributes->flags & SSH_FILEXFER_ATTR_SIZE) ? std::int64_t(attributes->size)
                                                                           : std::int64_t(-1);
    sftp_attributes_free(attributes);
    if (offset > 0 && sftp_seek64(file.get(), std::uint64_t(offset)) != 0) return failWith(session, "Cannot seek");

    const std::string local(localPath);
    LocalFile target(
        ::open(local.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | (offset > 0 ? O_APPEND : O_TRUNC), 0644));
    if (target.descriptor < 0) return failWith(session, "Cannot write " + local + ": " + std::strerror(errno));

    std::vector<char> buffer(readChunk);
    std::deque<ReadRequest> inFlight;
    std::int64_t position = offset;
    bool atEnd = false;
    while (!atEnd) {
        while (int(inFlight.size()) < readsInFlight) {
            const int id = sftp_async_read_begin(file.get(), readChunk);
            if (id < 0) return fail(session, watching);
            inFlight.push_back({std::uint32_t(id), readChunk});
        }
        const ReadRequest request = inFlight.front();
        inFlight.pop_front();
        const int got = sftp_async_read(file.get(), buffer.data(), request.length, request.id);
        if (got < 0) return fail(session, watching);
        watching.progressed();
        if (got == 0) {
            atEnd = true;
            drain(file.get(), inFlight, buffer);
            break;
        }
        if (!writeAll(target.descriptor, buffer.data(), std::size_t(got))) {
            return failWith(session, "Cannot write " + local + ": " + std::strerror(errno));
        }
        position += got;
        const bool goOn = !stopAsked(session) && (!progress || progress(position - offset));
        if (!goOn || std::uint32_t(got) < request.length) {
            // The reads after a short one asked for the wrong offsets: ask again from here.
            drain(file.get(), inFlight, buffer);
            if (!goOn) return failWith(session, "Stopped");
            if (sftp_seek64(file.get(), std::uint64_t(position)) != 0) return failWith(session, "Cannot seek");
        }
    }
    if (!target.close()) return failWith(session, "Cannot write " + local + ": " + std::strerror(errno));
    if (size >= 0 && position != size) {
        return failWith(session, "The file changed while it was read: " + std::to_string(position) + " bytes of " +
                                     std::to_string(size));
    }
    return 1;
}

int upload(SftpSession& session, std::string_view localPath, std::string_view remotePath, std::int64_t offset,
           const Progress& progress) {
    if (!ready(session)) return 0;
    Watching watching(session);
    const std::string local(localPath);
    LocalFile source(::open(local.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.descriptor < 0) return failWith(session, "Cannot read " + local + ": " + std::strerror(errno));
    const std::string path(remotePath);
    sftp_file opened = sftp_open(session.channel, path.c_str(), O_WRONLY | O_CREAT | (offset == 0 ? O_TRUNC : 0), 0644);
    if (!opened) return fail(session, watching);
    RemoteFile file(opened);
    if (offset > 0 && sftp_seek64(file.get(), std::uint64_t(offset)) != 0) return failWith(session, "Cannot seek");

    std::vector<char> buffer(writeChunk);
    std::int64_t position = offset;
    for (;;) {
        const ssize_t got = pread(source.descriptor, buffer.data(), buffer.size(), position);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return failWith(session, "Cannot read " + local + ": " + std::strerror(errno));
        if (got == 0) break;
        if (sftp_write(file.get(), buffer.data(), std::size_t(got)) != got) return fail(session, watching);
        watching.progressed();
        position += got;
        if (stopAsked(session) || (progress && !progress(position - offset))) return failWith(session, "Stopped");
    }
    // The server reports a write it could not finish when the file closes.
    if (sftp_close(file.release()) != SSH_NO_ERROR) return fail(session, watching);
    return 1;
}

}  // namespace sftp
