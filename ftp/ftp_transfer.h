// Transfers: one listing or one file between the server and a local file, over a data
// connection of its own, in steps of at most 1024 bytes for type 'A' and of up to
// binaryTransferStep bytes for type 'I'. A transfer succeeds when the server's final
// reply is 2xx and every byte reached its destination.
#pragma once

#include "ftp/ftp_session.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ftp {

enum class TransferType : std::int32_t {
    NameList = 1,        // NLST into a new local file
    DirectoryList = 2,   // "LIST -aL" into a new local file
    Download = 3,        // RETR; replaces the local file only when the transfer succeeded
    Upload = 4,          // STOR from the local file
    DownloadAppend = 5,  // RETR appended to the local file (after REST)
    UploadResume = 6,    // STOR from the local file's restartOffset (after REST)
    MachineList = 7,     // MLSD into a new local file
};

inline constexpr int transferStep = 1024;
// A type 'I' step: large enough that system calls cost little per byte.
inline constexpr int binaryTransferStep = 256 * 1024;

// Sends TYPE, then opens the data connection for `type` in the control connection's
// mode and stores it in *place. A null remote path sends the verb alone; it is refused
// for file transfers.
int openTransfer(std::optional<std::string_view> remotePath, TransferType type, char typeCharacter,
                 FtpConnection* control, FtpConnection** place);
// One line (type 'A') or one recv (type 'I'); 0 at the end, on an error or a cancel.
int readData(char* buffer, int capacity, FtpConnection* data);
// Returns the bytes written; 0 on an error or a cancel.
int writeData(const char* buffer, int length, FtpConnection* data);

// The whole transfer: local file, data connection, copy loop, final reply.
int transferFile(std::string_view localPath, std::optional<std::string_view> remotePath, FtpConnection* control,
                 TransferType type, char typeCharacter);
// "LIST -aL" (with the remote path, if any) into the local file, type 'A'.
int listToFile(FtpSession& session, std::string_view localPath, std::optional<std::string_view> remotePath);
// The listing of `folder` into the new local file as exact fact lines, for a
// synchronisation: in the folder (CWD; the session stays there), "LIST -aL" and MLSD, each MLSD
// line turned by factLineFromMachineLine (machine_listing.h) and kept as it says only
// where LIST gives the name the same kind; else the name is a link, which nothing acts
// on. -1 when the server offers no MLSD (nothing but FEAT was sent), so that the caller
// lists as listToFile does.
int listExactToFile(FtpSession& session, std::string_view localPath, std::string_view folder);
// With offset 0 the file arrives in a temporary file beside the target (beside the file
// it names, for a link), renamed over it only on success; a target that is no regular
// file, or beside which no file can be made, is written in place. With an offset the
// data is appended to the local file from REST offset on.
int download(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
             std::int64_t offset);
// A download that keeps what arrived: the data goes into `partialPath` (a regular file
// beside the file the target names, never opened through a link), which replaces the
// target once complete and stays after a failure or a stop that left bytes in it. With `resume` a partial
// already there is continued from its end (REST) when the server accepts that, else
// started over. With `expectedSize` >= 0 a complete file of another size fails and its
// partial goes. A target that is no regular file, or beside which no file can be made,
// is downloaded as `download` does.
int downloadResumable(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
                      std::string_view partialPath, bool resume, std::int64_t expectedSize);
// The file a plain open of `path` would write: `path` followed through symbolic links
// (a link's relative target is taken from the link's folder). It need not exist.
std::string followLinks(std::string path);
// Sends the local file from `offset` on, announcing the offset with REST when not 0.
int upload(FtpSession& session, std::string_view localPath, std::string_view remotePath, char typeCharacter,
           std::int64_t offset);

}  // namespace ftp
