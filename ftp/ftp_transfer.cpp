// Transfers between a local file and the server.
#include "ftp/ftp_transfer.h"

#include "ftp/engine_internal.h"
#include "ftp/ftp_commands.h"
#include "ftp/ftp_data.h"
#include "ftp/listing_parser.h"
#include "ftp/machine_listing.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

namespace ftp {

using namespace detail;

namespace {

struct TransferCommand {
    const char* verb;
    ConnectionDirection direction;
};

bool isFileTransfer(TransferType type) {
    return type == TransferType::Download || type == TransferType::Upload || type == TransferType::DownloadAppend ||
           type == TransferType::UploadResume;
}

bool isUpload(TransferType type) { return type == TransferType::Upload || type == TransferType::UploadResume; }

// A listing whose final reply says it failed, though with a code of success: vsftpd
// answers a folder it cannot open with "226 Transfer done (but failed to open
// directory)." and no lines, which must never pass for an empty folder.
bool listingFailed(TransferType type, const char* reply) {
    if (isFileTransfer(type)) return false;
    for (const char* at = reply; *at; ++at) {
        if (std::tolower(static_cast<unsigned char>(at[0])) == 'f' && std::strncmp(at + 1, "ailed", 5) == 0)
            return true;
    }
    return false;
}

std::optional<TransferCommand> commandFor(TransferType type) {
    switch (type) {
    case TransferType::NameList: return TransferCommand{"NLST", ConnectionDirection::Read};
    case TransferType::DirectoryList: return TransferCommand{"LIST -aL", ConnectionDirection::Read};
    case TransferType::MachineList: return TransferCommand{"MLSD", ConnectionDirection::Read};
    case TransferType::Download:
    case TransferType::DownloadAppend: return TransferCommand{"RETR", ConnectionDirection::Read};
    case TransferType::Upload:
    case TransferType::UploadResume: return TransferCommand{"STOR", ConnectionDirection::Write};
    }
    return std::nullopt;
}

// Adds `count` moved bytes to the connection's accounting; false when the progress
// callback cancels.
bool accountProgress(FtpConnection* data, int count) {
    data->transferred += count;
    if (!data->progressCallback || !data->progressInterval) return true;
    data->sinceProgress += count;
    if (data->sinceProgress <= data->progressInterval) return true;
    if (!data->progressCallback(data->transferred, data->callbackContext, data->progressInterval,
                                data->sinceProgress)) {
        return false;
    }
    data->sinceProgress = 0;
    return true;
}

// readData's work: bytes read, 0 at the end of the data, -1 on an error, a wait that
// gave up or a cancel.
int readChunk(char* buffer, int capacity, FtpConnection* data) {
    if (!data || data->direction != ConnectionDirection::Read) return -1;
    long count;
    if (data->buffer) {
        LineEnd end;
        count = readLinePiece(buffer, capacity, data, end);
        // A listing cut by a reset is not a complete one, whatever the server says next.
        if (end == LineEnd::Failed || end == LineEnd::GaveUp) return -1;
        if (count < 0) return 0;
    } else {
        count = receiveWaiting(data, buffer, std::size_t(capacity));
        if (count < 0) return -1;
    }
    if (count > 0 && !accountProgress(data, int(count))) return -1;
    return int(count);
}

// The local end of a transfer; every stream is closed on exec, so that a program the
// user starts meanwhile holds no handle to it. A Download writes into a temporary file beside the
// target, so that a failure leaves the target as it was.
struct LocalFile {
    std::FILE* stream = nullptr;
    std::string path;
    std::string temporaryPath;
};

// A new file beside `target` with the mode of `existing` (when given); null when the
// folder takes no new file.
std::FILE* openTemporaryBeside(const std::string& target, const struct stat* existing, std::string& temporaryPath) {
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".farlink-%08x.part", unsigned(random()));
        temporaryPath = folder + name;
        const int descriptor = open(temporaryPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor < 0 && errno == EEXIST) continue;
        if (descriptor < 0) break;
        if (existing) fchmod(descriptor, existing->st_mode & 07777);
        if (std::FILE* stream = fdopen(descriptor, "wb")) return stream;
        close(descriptor);
        unlink(temporaryPath.c_str());
        break;
    }
    temporaryPath.clear();
    return nullptr;
}

// Whether a plain open could write the existing file `path`.
bool writable(const std::string& path) {
    const int probe = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (probe < 0) return false;
    close(probe);
    return true;
}

// A Download's file: a temporary file beside the file the target names, to be renamed
// over it on success, so that a link stays a link. What a plain open could not write
// fails as that open would; what is not a regular file, or what no temporary file can
// be made beside, is written in place as that open would.
std::FILE* openDownloadTarget(LocalFile& file) {
    const std::string resolved = followLinks(file.path);
    struct stat existing {};
    const bool exists = stat(resolved.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) return std::fopen(file.path.c_str(), "wbe");
    if (exists && !writable(resolved)) return nullptr;
    if (std::FILE* stream = openTemporaryBeside(resolved, exists ? &existing : nullptr, file.temporaryPath)) {
        file.path = resolved;
        return stream;
    }
    return std::fopen(file.path.c_str(), "wbe");
}

// A listing's file is ours: never written through a link.
std::FILE* openListingFile(const std::string& path) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    if (std::FILE* stream = fdopen(descriptor, "wb")) return stream;
    close(descriptor);
    return nullptr;
}

LocalFile openLocalFile(std::string_view path, TransferType type, std::int64_t restartOffset) {
    LocalFile file;
    file.path = path;
    switch (type) {
    case TransferType::Download: file.stream = openDownloadTarget(file); break;
    case TransferType::DownloadAppend: file.stream = std::fopen(file.path.c_str(), "abe"); break;
    case TransferType::Upload:
    case TransferType::UploadResume: file.stream = std::fopen(file.path.c_str(), "rbe"); break;
    default: file.stream = openListingFile(file.path); break;  // NameList, DirectoryList, MachineList
    }
    if (file.stream && type == TransferType::UploadResume && fseeko(file.stream, restartOffset, SEEK_SET) != 0) {
        std::fclose(file.stream);
        file.stream = nullptr;
    }
    return file;
}

// Closes the file; false when its data did not all reach the disk. A temporary file
// then replaces the target when `keep`, and is removed otherwise; false when the
// target could not be replaced.
bool finishLocalFile(LocalFile& file, bool keep) {
    const bool written = std::fclose(file.stream) == 0;
    if (file.temporaryPath.empty()) return written;
    if (keep && written && std::rename(file.temporaryPath.c_str(), file.path.c_str()) == 0) return true;
    unlink(file.temporaryPath.c_str());
    return !keep;
}

// Why a download that brought more than the bytes it had room for stopped.
constexpr const char* moreThanAnnounced = "The server sent more than the rest of the file\n";

// Copies the data connection into the file, or the file into it. Returns null when
// every byte went through, else why the copy stopped early. A download with `room` >= 0
// stops before it writes more than `room` bytes. Type 'I' moves in large steps, falling
// back to small ones when no large buffer can be had; type 'A' keeps its small steps,
// whose bounds its line handling follows.
const char* copyData(LocalFile& file, FtpConnection* data, bool upload, std::int64_t room) {
    char small[transferStep];
    const std::unique_ptr<char[]> large(data->buffer ? nullptr : new (std::nothrow) char[binaryTransferStep]);
    char* const buffer = large ? large.get() : small;
    const int capacity = large ? binaryTransferStep : transferStep;
    for (;;) {
        // Data that keeps flowing never waits, where the stop is heard otherwise.
        if (stopAsked(*data)) return "stopped during the transfer\n";
        if (upload) {
            const int count = int(std::fread(buffer, 1, std::size_t(capacity), file.stream));
            if (count == 0) return std::ferror(file.stream) ? "Local file error\n" : nullptr;
            const int written = writeData(buffer, count, data);
            if (written < count) {
                debugLine("short write: passed %d, wrote %d\n", count, written);
                return "Transfer incomplete\n";
            }
        } else {
            const int count = readChunk(buffer, capacity, data);
            if (count == 0) return nullptr;
            if (count < 0) return "Transfer incomplete\n";
            if (room >= 0 && (room -= count) < 0) return moreThanAnnounced;
            if (std::fwrite(buffer, 1, std::size_t(count), file.stream) != std::size_t(count)) {
                debugLine("FTP:: localfile write");
                return "Local file error\n";
            }
        }
    }
}

}  // namespace

int openTransfer(std::optional<std::string_view> remotePath, TransferType type, char typeCharacter,
                 FtpConnection* control, FtpConnection** place) {
    if (!control) return 0;
    if (!remotePath && isFileTransfer(type)) {
        setReply(control, "Missing path argument for file transfer\n");
        return 0;
    }
    if (remotePath && !acceptCommandText(control, *remotePath)) return 0;
    if (!useType(control, typeCharacter)) return 0;
    const auto command = commandFor(type);
    if (!command) {
        setReply(control, "Invalid open type %d\n", int(type));
        return 0;
    }
    CommandLine line;
    if (!line.set(command->verb, remotePath)) return 0;

    if (control->mode == ConnectionMode::Passive) {
        if (!openPassiveData(control, place, typeCharacter, command->direction, line.view())) return 0;
    } else if (control->mode != ConnectionMode::Active ||
               !openActiveData(control, place, typeCharacter, command->direction, line.view())) {
        return 0;
    } else if (!acceptData(*place, control)) {
        closeData(*place);
        *place = nullptr;
        return 0;
    }
    if (control->tls && !startDataTls(*place, control)) {
        // The server's final reply is read to keep the control connection in step; the
        // failure's reason is ours.
        char reason[replySize];
        std::memcpy(reason, control->reply, replySize);
        if (!closeData(*place)) {
            debugLine("FTP:: the server's reply after the failed TLS data connection: %s", control->reply);
        }
        *place = nullptr;
        std::memcpy(control->reply, reason, replySize);
        return 0;
    }
    return 1;
}

int readData(char* buffer, int capacity, FtpConnection* data) {
    const int count = readChunk(buffer, capacity, data);
    return count > 0 ? count : 0;
}

int writeData(const char* buffer, int length, FtpConnection* data) {
    if (!data || data->direction != ConnectionDirection::Write) return 0;
    long written;
    if (data->buffer) {
        written = writeTranslated(buffer, length, data);
    } else {
        written = sendWaiting(data, buffer, std::size_t(length));
    }
    if (written <= 0) return 0;
    if (!accountProgress(data, int(written))) return 0;
    return int(written);
}

namespace {

// The transfer between an open local file and the server, up to the final reply; the
// file stays open. `alreadyHere` bytes of a resumed download count as moved. A download
// given `room` >= 0 that brings more than `room` bytes stops there and fails, with
// `overran` set.
int transferOpened(LocalFile& file, std::optional<std::string_view> remotePath, FtpConnection* control,
                   TransferType type, char typeCharacter, std::int64_t alreadyHere, std::int64_t room = -1,
                   bool* overran = nullptr) {
    FtpConnection* data = nullptr;
    if (!openTransfer(remotePath, type, typeCharacter, control, &data)) return 0;
    data->transferred = alreadyHere;
    const char* stopped = copyData(file, data, isUpload(type), room);
    if (overran) *overran = stopped == moreThanAnnounced;
    if (std::fflush(file.stream) != 0 && !stopped) stopped = "Local file error\n";
    // Closing reads the final reply even after an early stop, so that the control
    // connection stays in step; the early stop still fails the transfer.
    int result = closeData(data);
    if (result && stopped) {
        setReply(control, "%s", stopped);
        result = 0;
    }
    return result;
}

}  // namespace

int transferFile(std::string_view localPath, std::optional<std::string_view> remotePath, FtpConnection* control,
                 TransferType type, char typeCharacter) {
    if (!control) return 0;
    LocalFile file = openLocalFile(localPath, type, control->restartOffset);
    debugLine("localfile: -%s-", file.path.c_str());
    if (!file.stream) {
        setReply(control, "Unknown Error");
        return 0;
    }
    int result = transferOpened(file, remotePath, control, type, typeCharacter, 0);
    if (result && listingFailed(type, control->reply)) result = 0;
    if (!finishLocalFile(file, result == 1) && result) {
        setReply(control, "Local file error\n");
        result = 0;
    }
    return result;
}

int listToFile(FtpSession& session, std::string_view localPath, std::optional<std::string_view> remotePath) {
    if (!session.control) return 0;
    session.control->restartOffset = 0;
    return transferFile(localPath, remotePath, session.control, TransferType::DirectoryList, 'A');
}

namespace {

// The lines of a listing file, without their LF; false when it cannot be read. The data
// connection's reading turned each CR LF into LF already: a CR still at a line's end is
// the name's own ("cr\r\r\n" names "cr\r"), never to be cut off.
bool readLines(const std::string& path, std::vector<std::string>& lines) {
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) lines.push_back(std::move(line));
    return !file.bad();
}

// What a listing line says an entry is: bit 1 a folder, bit 2 a file (both: a link).
int kindOf(const RemoteEntry& entry) { return (entry.mayBeFolder ? 1 : 0) | (entry.mayBeFile ? 2 : 0); }

// MLSD lines as fact lines, each entry taken as MLSD says only where LIST, which shows
// links, says the same: some servers (pyftpdlib) give a link in MLSD as what it points
// to, and nothing is to be copied or removed through a link.
std::string exactFactLines(const std::vector<std::string>& machineLines, const std::vector<std::string>& listLines) {
    std::map<std::string, int, std::less<>> listed;  // -1: a name given twice as different kinds
    for (const std::string& line : listLines) {
        RemoteEntry entry;
        if (!parseListingLine(&entry, line.data(), int(line.size()))) continue;
        const auto [at, added] = listed.emplace(std::string(entry.name, std::size_t(entry.nameLength)), kindOf(entry));
        if (!added && at->second != kindOf(entry)) at->second = -1;
    }
    std::string facts;
    for (const std::string& machineLine : machineLines) {
        const std::string line = factLineFromMachineLine(machineLine);
        if (nameOfSkippedLine(std::string_view(line).substr(0, line.size() - 1))) {
            facts += line;
            continue;
        }
        RemoteEntry entry;
        // The fact line's LF is no part of the name.
        if (line.empty() || !parseListingLine(&entry, line.data(), int(line.size()) - 1)) continue;
        const std::string_view name(entry.name, std::size_t(entry.nameLength));
        const auto found = listed.find(name);
        facts += found != listed.end() && found->second == kindOf(entry) ? line : "+r,/,\t" + std::string(name) + "\n";
    }
    return facts;
}

bool writeListing(const std::string& path, const std::string& text) {
    std::FILE* const file = openListingFile(path);
    if (!file) return false;
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace

int listExactToFile(FtpSession& session, std::string_view localPath, std::string_view folder) {
    const int offered = offersMachineListing(session);
    if (offered <= 0) return offered == 0 ? -1 : 0;
    FtpConnection* const control = session.control;
    if (!changeFolder(session, folder)) return 0;
    // Both listings arrive in the listing file in turn; the fact lines then replace them.
    const std::string path(localPath);
    control->restartOffset = 0;
    const auto list = [&](TransferType type, std::vector<std::string>& lines) {
        if (!transferFile(path, std::nullopt, control, type, 'A')) return false;
        if (readLines(path, lines)) return true;
        setReply(control, "Local file error\n");
        return false;
    };
    // The session stays in the folder: every other operation names absolute paths, so
    // a way back to "/" would cost a round trip per folder for nothing.
    std::vector<std::string> listLines, machineLines;
    const bool listed = list(TransferType::DirectoryList, listLines) && list(TransferType::MachineList, machineLines);
    if (!listed) return 0;
    if (writeListing(path, exactFactLines(machineLines, listLines))) return 1;
    setReply(control, "Local file error\n");
    return 0;
}

namespace {

// A file transfer from `offset` on: the whole file when it is 0, else resumed.
int transferFrom(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
                 std::int64_t offset, TransferType whole, TransferType resumed) {
    if (!session.control) return 0;
    session.control->restartOffset = offset;
    return transferFile(localPath, remotePath, session.control, offset ? resumed : whole, typeCharacter);
}

}  // namespace

int download(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
             std::int64_t offset) {
    return transferFrom(session, localPath, remotePath, typeCharacter, offset, TransferType::Download,
                        TransferType::DownloadAppend);
}

int upload(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
           std::int64_t offset) {
    return transferFrom(session, localPath, remotePath, typeCharacter, offset, TransferType::Upload,
                        TransferType::UploadResume);
}

std::string followLinks(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) break;
        char target[4096];
        const long length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || length == long(sizeof target)) break;
        const std::string_view link(target, std::size_t(length));
        const auto slash = path.rfind('/');
        path = link[0] == '/' || slash == std::string::npos ? std::string(link)
                                                            : path.substr(0, slash + 1) + std::string(link);
    }
    return path;
}

namespace {

constexpr const char* partialTaken = "The partial file's name is taken by something that is no file\n";

// Opens the partial for writing, never through a link and only as a regular file. A
// partial is continued only when it is this user's and has no other name: one that
// someone else made or linked beforehand is replaced by a new one, with the target's
// mode. Returns the descriptor, or -1 with `why` set; -1 with `why` null when the
// folder takes no new file.
int openPartial(const std::string& path, const struct stat* target, struct stat& partial, const char*& why) {
    why = partialTaken;
    if (lstat(path.c_str(), &partial) == 0) {
        if (!S_ISREG(partial.st_mode)) return -1;
        const int existing = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (existing >= 0 && fstat(existing, &partial) == 0 && S_ISREG(partial.st_mode) &&
            partial.st_uid == geteuid() && partial.st_nlink == 1) {
            return existing;
        }
        if (existing >= 0) close(existing);
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            why = "Local file error\n";
            return -1;
        }
    }
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        if (errno != EEXIST) why = nullptr;
        return -1;
    }
    if (fstat(descriptor, &partial) != 0) {
        close(descriptor);
        why = "Local file error\n";
        return -1;
    }
    if (target) fchmod(descriptor, target->st_mode & 07777);
    return descriptor;
}

// Where a resumed download starts: the partial's end when the server takes REST for it
// (asked before the data connection, so that a server that cannot restart sends the
// whole file instead), else 0.
std::int64_t restartPoint(FtpConnection* control, std::int64_t partialSize, std::int64_t expectedSize) {
    // A partial longer than the server's file belongs to another version of it.
    if (partialSize <= 0 || (expectedSize >= 0 && partialSize > expectedSize)) return 0;
    char command[32];
    const int length = std::snprintf(command, sizeof command, "REST %lld", static_cast<long long>(partialSize));
    return sendCommand(std::string_view(command, std::size_t(length)), '3', control) ? partialSize : 0;
}

// After the transfer: a complete partial of the expected size replaces the target; a
// failed one stays when it holds bytes to continue; one of another size goes, since its
// bytes cannot be trusted.
int finishPartial(const LocalFile& file, int result, std::int64_t expectedSize, FtpConnection* control) {
    struct stat partial {};
    const bool present = stat(file.temporaryPath.c_str(), &partial) == 0;
    if (!result) {
        if (present && partial.st_size == 0) unlink(file.temporaryPath.c_str());
        return 0;
    }
    if (expectedSize >= 0 && (!present || partial.st_size != expectedSize)) {
        setReply(control, "The file arrived with %lld bytes where the server announced %lld\n",
                 static_cast<long long>(present ? partial.st_size : 0), static_cast<long long>(expectedSize));
        unlink(file.temporaryPath.c_str());
        return 0;
    }
    if (std::rename(file.temporaryPath.c_str(), file.path.c_str()) != 0) {
        setReply(control, "Local file error\n");
        return 0;
    }
    return 1;
}

}  // namespace

int downloadResumable(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
                      std::string_view partialPath, bool resume, std::int64_t expectedSize) {
    FtpConnection* const control = session.control;
    if (!control) return 0;
    LocalFile file;
    file.path = followLinks(std::string(localPath));
    file.temporaryPath = partialPath;
    struct stat existing {};
    const bool exists = stat(file.path.c_str(), &existing) == 0;
    // A device or a pipe takes the data as it comes: there is nothing to keep or continue.
    if (exists && !S_ISREG(existing.st_mode)) return download(session, localPath, remotePath, typeCharacter, 0);
    if (exists && !writable(file.path)) {
        setReply(control, "Unknown Error");
        return 0;
    }
    struct stat partial {};
    const char* why = nullptr;
    const int descriptor = openPartial(file.temporaryPath, exists ? &existing : nullptr, partial, why);
    if (descriptor < 0 && !why) return download(session, localPath, remotePath, typeCharacter, 0);
    if (descriptor < 0) {
        setReply(control, "%s", why);
        return 0;
    }
    const std::int64_t offset = resume ? restartPoint(control, partial.st_size, expectedSize) : 0;
    if (ftruncate(descriptor, offset) != 0 || lseek(descriptor, offset, SEEK_SET) != offset ||
        !(file.stream = fdopen(descriptor, "wb"))) {
        close(descriptor);
        setReply(control, "Local file error\n");
        return 0;
    }
    control->restartOffset = offset;
    // A continuation can bring no more than the rest of the file the server announced.
    const std::int64_t room = offset > 0 && expectedSize >= 0 ? expectedSize - offset : -1;
    bool overran = false;
    int result = transferOpened(file, remotePath, control, TransferType::Download, typeCharacter, offset, room,
                                &overran);
    control->restartOffset = 0;
    if (overran) {
        // The server took REST but sent the file from its start: what came is no
        // continuation, so the download starts over.
        debugLine("FTP:: the server ignored REST %lld; downloading the whole file", static_cast<long long>(offset));
        if (ftruncate(fileno(file.stream), 0) != 0 || fseeko(file.stream, 0, SEEK_SET) != 0) {
            setReply(control, "Local file error\n");
        } else {
            result = transferOpened(file, remotePath, control, TransferType::Download, typeCharacter, 0);
        }
    }
    if (std::fclose(file.stream) != 0 && result) {
        setReply(control, "Local file error\n");
        result = 0;
    }
    return finishPartial(file, result, expectedSize, control);
}

}  // namespace ftp
