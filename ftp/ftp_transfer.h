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
    NameList = 1,       // NLST into a new local file
    DirectoryList = 2,  // "LIST -aL" into a new local file
    Download = 3,       // RETR into the caller's open file
    Upload = 4,         // STOR from the caller's open file
    MachineList = 7,    // MLSD into a new local file
    LinkList = 8,       // "LIST -a" into a new local file: links shown as links, never followed
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

// A listing into a new local file (never written through a link): the data connection,
// the copy loop and the final reply.
int transferFile(std::string_view localPath, std::optional<std::string_view> remotePath, FtpConnection* control,
                 TransferType type, char typeCharacter);
// "LIST -aL" (with the remote path, if any) into the local file, type 'A'.
int listToFile(FtpSession& session, std::string_view localPath, std::optional<std::string_view> remotePath);
// The listing of `folder` into the new local file for a synchronisation, which acts on
// what it lists and so never has a link followed: in the folder (CWD; the session stays
// there), "LIST -a" and, where the server offers it, MLSD. Then each MLSD line is turned
// by factLineFromMachineLine (machine_listing.h) into an exact fact line, kept as it says
// only where LIST gives the name the same kind; else the name is a link, which nothing
// acts on. Without MLSD the LIST lines are the listing.
int listExactToFile(FtpSession& session, std::string_view localPath, std::string_view folder);
// RETR into the caller's open file `descriptor` (which stays the caller's), holding
// `offset` bytes already: a continuation asks REST for the rest, and starts over (the file
// emptied) where the server cannot restart. With `expectedSize` >= 0 a continuation that
// brings more than the rest of the file was sent from the start in spite of REST: it is
// fetched again from the start. Local failures give the system's reason.
int download(FtpSession& session, int descriptor, std::string_view remotePath, char typeCharacter, std::int64_t offset,
             std::int64_t expectedSize);
// STOR of the caller's open file `descriptor`, from its start.
int upload(FtpSession& session, int descriptor, std::string_view remotePath, char typeCharacter);

}  // namespace ftp
