// Partial downloads: the file a download writes beside its target until it is complete,
// kept after a failure or a stop so that a retry continues it. Its name is random
// (platform/own_files.h), so that nobody can make it first; so each partial is listed in
// the settings before its first byte arrives, with its download's key, by which a retry
// finds it, so that start-up can remove what a run left, wherever it is (after a crash
// too): only a Retry continues a partial, and no record outlives its run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "remote/places.h"

namespace remote {

inline constexpr std::u16string_view partialsKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Partials";

// A download's key: the same for the same account on the same server, the same server
// file and the same target, so that a retry finds what the failed try left without the
// queue knowing anything of FTP.
std::uint64_t partialKeyFor(const FtpPlace& place, std::string_view remotePath, std::string_view localPath);
// The host path of the partial listed for `key`, or empty. Any thread.
std::string keptPartial(std::uint64_t key);

// Lists the partial at `hostPath` as kept for `key` since `now` (a file time), in place
// of any other of that key; or drops it from the list. Any thread.
void rememberPartial(const std::string& hostPath, std::uint64_t key, std::uint64_t now);
void forgetPartial(const std::string& hostPath);

// At start, before any record exists: removes the listed partials, and drops the entries
// of files that are gone. Only this user's regular file with a partial's name
// (own_files.h) and no other name, reached without a link, is ever removed; an entry
// whose path now names anything else is dropped and the thing left alone.
void removeLeftPartials();

}  // namespace remote
