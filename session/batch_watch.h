// What the two sessions share in a batch of transfers: the bytes of all its files on the
// transfer watch, and a copied file's time. Internal to session/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "session/server_session.h"

namespace session {

// The watch of a batch: `done` is every file's bytes, `total` the sizes of the files whose
// size is known. Null watches nothing. One thread.
class BatchWatch {
public:
    explicit BatchWatch(TransferWatch* watch);
    // File `file` has moved `moved` bytes of `size` (-1: not known yet). False when the
    // watch asks the batch to stop.
    bool moved(std::size_t file, std::int64_t moved, std::int64_t size);

private:
    TransferWatch* watch_;
    std::vector<std::int64_t> moved_, sizes_;
    std::int64_t done_ = 0, total_ = 0;
};

// A whole download's target takes its time when the file asks: `serverTime` is the
// server's (-1: none).
void keepDownloadTime(const FileTransfer& file, std::int64_t serverTime);

// The time an upload's target takes: the file's own `time`, else the local file's; -1 when
// none is to be taken.
std::int64_t uploadTime(const FileTransfer& file);

}  // namespace session
