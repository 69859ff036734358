// Partial downloads: the file a download writes beside its target until it is complete,
// kept after a failure or a stop so that a retry continues it. Each kept partial is
// listed in the settings with the time it was kept, so that start-up can remove the ones
// left for a week, wherever they are.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "remote/places.h"

namespace remote {

inline constexpr std::u16string_view partialsKeyPath = u"\\Software\\Tarvik\\Ftp\\2.0\\Partials";
// File-time units (100 ns) in seven days.
inline constexpr std::uint64_t partialLifetime = 7ull * 24 * 3600 * 10'000'000;

// ".farlink-<16 hex digits>.part": the same name for the same account on the same
// server, the same server file and the same target, so that a retry finds what the
// failed try left without the queue knowing anything of FTP.
std::string partialNameFor(const FtpPlace& place, std::string_view remotePath, std::string_view localPath);
bool isPartialName(std::string_view name);

// Lists the partial at `hostPath` as kept since `now` (a file time), or drops it from
// the list. Any thread.
void rememberPartial(const std::string& hostPath, std::uint64_t now);
void forgetPartial(const std::string& hostPath);

// Removes the listed partials kept before `now` - partialLifetime, and drops the entries
// of files that are gone. Only a regular file with a partial's name is ever removed; an
// entry whose path now names anything else is dropped and the thing left alone.
void removeStalePartials(std::uint64_t now);

}  // namespace remote
