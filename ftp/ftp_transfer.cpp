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
#include <string>
#include <vector>

namespace ftp {

using namespace detail;

namespace {

struct TransferCommand {
    const char* verb;
    ConnectionDirection direction;
};

bool isFileTransfer(TransferType type) { return type == TransferType::Download || type == TransferType::Upload; }

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
    case TransferType::LinkList: return TransferCommand{"LIST -a", ConnectionDirection::Read};
    case TransferType::Download: return TransferCommand{"RETR", ConnectionDirection::Read};
    case TransferType::Upload: return TransferCommand{"STOR", ConnectionDirection::Write};
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

// The local end of a transfer: a listing's file, or a stream over a copy of the caller's
// descriptor. Every file is closed on exec, so that a program the user starts meanwhile
// holds no handle to it.
struct LocalFile {
    std::FILE* stream = nullptr;
    int error = 0;  // errno of the local step that failed
};

// A listing's file is ours: never written through a link.
std::FILE* openListingFile(const std::string& path) {
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (descriptor < 0) return nullptr;
    if (std::FILE* stream = fdopen(descriptor, "wb")) return stream;
    close(descriptor);
    return nullptr;
}

// A stream over the caller's open file, which stays the caller's.
std::FILE* streamOver(int descriptor, const char* mode) {
    const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return nullptr;
    if (std::FILE* stream = fdopen(copy, mode)) return stream;
    close(copy);
    return nullptr;
}

// The system's reason for a local step that failed.
void setLocalReply(FtpConnection* control, int error) {
    setReply(control, "Local file error: %s\n", std::strerror(error ? error : EIO));
}

// Why a download that brought more than the bytes it had room for stopped.
constexpr const char* moreThanAnnounced = "The server sent more than the rest of the file\n";
// A local step failed: the reply then gives the system's reason.
constexpr const char* localFailed = "local";

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
            if (count == 0 && std::ferror(file.stream)) file.error = errno;
            if (count == 0) return file.error ? localFailed : nullptr;
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
                file.error = errno;
                return localFailed;
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
    const char* stopped = copyData(file, data, type == TransferType::Upload, room);
    if (overran) *overran = stopped == moreThanAnnounced;
    if (std::fflush(file.stream) != 0 && !stopped) {
        file.error = errno;
        stopped = localFailed;
    }
    // Closing reads the final reply even after an early stop, so that the control
    // connection stays in step; the early stop still fails the transfer.
    int result = closeData(data);
    if (result && stopped == localFailed) {
        setLocalReply(control, file.error);
        result = 0;
    } else if (result && stopped) {
        setReply(control, "%s", stopped);
        result = 0;
    }
    return result;
}

}  // namespace

int transferFile(std::string_view localPath, std::optional<std::string_view> remotePath, FtpConnection* control,
                 TransferType type, char typeCharacter) {
    if (!control) return 0;
    LocalFile file{openListingFile(std::string(localPath))};
    if (!file.stream) {
        setLocalReply(control, errno);
        return 0;
    }
    int result = transferOpened(file, remotePath, control, type, typeCharacter, 0);
    if (result && listingFailed(type, control->reply)) result = 0;
    if (std::fclose(file.stream) != 0 && result) {
        setLocalReply(control, errno);
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
    if (offered < 0) return 0;
    FtpConnection* const control = session.control;
    if (!changeFolder(session, folder)) return 0;
    const std::string path(localPath);
    control->restartOffset = 0;
    if (offered == 0) return transferFile(path, std::nullopt, control, TransferType::LinkList, 'A');
    // Both listings arrive in the listing file in turn; the fact lines then replace them.
    const auto list = [&](TransferType type, std::vector<std::string>& lines) {
        if (!transferFile(path, std::nullopt, control, type, 'A')) return false;
        if (readLines(path, lines)) return true;
        setLocalReply(control, errno);
        return false;
    };
    // The session stays in the folder: every other operation names absolute paths, so
    // a way back to "/" would cost a round trip per folder for nothing.
    std::vector<std::string> listLines, machineLines;
    const bool listed = list(TransferType::LinkList, listLines) && list(TransferType::MachineList, machineLines);
    if (!listed) return 0;
    if (writeListing(path, exactFactLines(machineLines, listLines))) return 1;
    setLocalReply(control, errno);
    return 0;
}

namespace {

// Where a continued download starts: the file's end when the server takes REST for it
// (asked before the data connection, so that a server that cannot restart sends the
// whole file instead), else 0.
std::int64_t restartPoint(FtpConnection* control, std::int64_t offset, std::int64_t expectedSize) {
    // A partial longer than the server's file belongs to another version of it.
    if (offset <= 0 || (expectedSize >= 0 && offset > expectedSize)) return 0;
    char command[32];
    const int length = std::snprintf(command, sizeof command, "REST %lld", static_cast<long long>(offset));
    return sendCommand(std::string_view(command, std::size_t(length)), '3', control) ? offset : 0;
}

// Empties the file for a download from the start.
bool startOver(LocalFile& file) {
    if (std::fflush(file.stream) == 0 && ftruncate(fileno(file.stream), 0) == 0 &&
        fseeko(file.stream, 0, SEEK_SET) == 0)
        return true;
    file.error = errno;
    return false;
}

}  // namespace

int download(FtpSession& session, int descriptor, std::string_view remotePath, char typeCharacter, std::int64_t offset,
             std::int64_t expectedSize) {
    FtpConnection* const control = session.control;
    // A path no command can carry is refused before REST goes out.
    if (!control || !acceptCommandText(control, remotePath)) return 0;
    LocalFile file{streamOver(descriptor, "wb")};
    if (!file.stream) {
        setLocalReply(control, errno);
        return 0;
    }
    const std::int64_t start = restartPoint(control, offset, expectedSize);
    int result = 0;
    if (start == offset || startOver(file)) {
        control->restartOffset = start;
        // A continuation can bring no more than the rest of the file the server announced.
        const std::int64_t room = start > 0 && expectedSize >= 0 ? expectedSize - start : -1;
        bool overran = false;
        result = transferOpened(file, remotePath, control, TransferType::Download, typeCharacter, start, room,
                                &overran);
        control->restartOffset = 0;
        if (overran) {
            // The server took REST but sent the file from its start: what came is no
            // continuation, so the download starts over.
            debugLine("FTP:: the server ignored REST %lld; downloading the whole file", static_cast<long long>(start));
            result = startOver(file)
                         ? transferOpened(file, remotePath, control, TransferType::Download, typeCharacter, 0)
                         : 0;
        }
    }
    const bool closed = std::fclose(file.stream) == 0;
    if (!file.error && !closed) file.error = errno;
    if (file.error) {
        setLocalReply(control, file.error);
        return 0;
    }
    return result;
}

int upload(FtpSession& session, int descriptor, std::string_view remotePath, char typeCharacter) {
    FtpConnection* const control = session.control;
    if (!control) return 0;
    LocalFile file{streamOver(descriptor, "rb")};
    if (!file.stream || fseeko(file.stream, 0, SEEK_SET) != 0) {
        setLocalReply(control, errno);
        if (file.stream) std::fclose(file.stream);
        return 0;
    }
    control->restartOffset = 0;
    const int result = transferOpened(file, remotePath, control, TransferType::Upload, typeCharacter, 0);
    std::fclose(file.stream);
    return result;
}

}  // namespace ftp
