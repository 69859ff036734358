// Listings and transfers over the engine's own SFTP requests (sftp_protocol.h). A
// transfer keeps reads or writes in flight up to a window that follows the rate, and a
// batch keeps several files open at once; replies are matched to their files by id, in
// whatever order they come.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "ftp/machine_listing.h"
#include "platform/text.h"
#include "sftp/sftp_internal.h"
#include "sftp/sftp_protocol.h"
#include "sftp/sftp_session.h"

namespace sftp {

namespace {

// Reads of this size keep OpenSSH's server at its best; it answers up to 255 KiB.
constexpr std::uint32_t readChunk = 64 * 1024;
// OpenSSH's server drops messages over 256 KiB; a write carries about 40 bytes more.
// Large writes cost fewer system calls on either side.
constexpr std::uint32_t writeChunk = 255 * 1024;
// The bytes kept in flight: never fewer than this, never more than the largest window.
constexpr std::int64_t smallestWindow = 1 << 20;
constexpr std::int64_t largestWindow = 8 << 20;
constexpr std::size_t filesInFlight = 16;
constexpr std::int64_t noEnd = std::numeric_limits<std::int64_t>::max();

using Clock = std::chrono::steady_clock;

// One fact line of the listing file, or none. A name that cannot stand for one entry (the name
// rule every side asks) is written as a skipped line: browsing never shows it, and a
// synchronisation leaves it alone on both sides rather than taking it for absent.
// "." and ".." are the folder and its parent, no entries: left out.
std::string factLine(std::string_view name, const Attributes& entry) {
    if (name == "." || name == "..") return {};
    if (!platform::unusableName(name).empty()) return ftp::skippedFactLine(name);
    std::string line = "+";
    if (entry.isFolder()) {
        line += "/,";
    } else if (entry.isLink()) {
        // Either may work; a walk that sees "r" never enters it.
        line += "r,/,";
    } else if (entry.isRegularFile()) {
        line += "r,";
        if (entry.flags & Attributes::size) line += "s" + std::to_string(entry.bytes) + ",";
    }
    if (entry.flags & Attributes::times) line += "m" + std::to_string(entry.modificationTime) + ",";
    if (entry.flags & Attributes::permissions) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "up%03o,", entry.mode & 0777);
        line += mode;
    }
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

bool writeAllAt(int file, const char* bytes, std::size_t size, std::int64_t position) {
    while (size > 0) {
        const ssize_t written = ::pwrite(file, bytes, size, position);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= std::size_t(written);
        position += written;
    }
    return true;
}

struct LocalFile {
    int descriptor = -1;
    LocalFile() = default;
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

// A local read or write that failed, in the words of the FTP engine's.
std::string localFailure() { return std::string("Local file error: ") + std::strerror(errno); }

// The bytes a transfer keeps in flight: twice what the link carried per shortest round
// trip, measured over intervals of a few round trips, so that the window grows while the
// rate grows and settles once the link (or either end) is full.
class Pacing {
public:
    std::int64_t window() const { return window_; }

    void answered(std::int64_t bytes, Clock::time_point sent, Clock::time_point now) {
        fastest_ = std::min(fastest_, now - sent);
        intervalBytes_ += bytes;
        const Clock::duration interval = now - intervalStart_;
        if (interval < std::max<Clock::duration>(2 * fastest_, std::chrono::milliseconds(20))) return;
        const double rate = double(intervalBytes_) / std::chrono::duration<double>(interval).count();
        const auto wanted = std::int64_t(2 * rate * std::chrono::duration<double>(fastest_).count());
        window_ = std::clamp(std::max(wanted, window_ / 2), smallestWindow, largestWindow);
        intervalStart_ = now;
        intervalBytes_ = 0;
    }

private:
    std::int64_t window_ = smallestWindow;
    Clock::duration fastest_ = Clock::duration::max();
    Clock::time_point intervalStart_ = Clock::now();
    std::int64_t intervalBytes_ = 0;
};

enum class Direction { download, upload };
enum class Phase { waiting, opening, moving, closing, finished };
enum class Ask { open, size, data, close };

// A reply of a read, kept until the file's size is known.
struct ReadAnswer {
    std::int64_t offset;
    std::int64_t asked;
    std::int64_t got;  // 0 with `atEnd` for an end of file
    bool atEnd;
};

// One file of a batch on its way.
struct Job {
    Phase phase = Phase::waiting;
    std::string handle;
    int local = -1;           // the local end's descriptor, while it is open
    std::int64_t offset = 0;  // where the transfer starts: the bytes a continued download had
    std::int64_t next = 0;    // the next offset to ask for (download) or to send (upload)
    std::int64_t moved = 0;   // bytes that arrived, or that the server took
    int outstanding = 0;      // requests of the file awaiting their replies
    // Downloads.
    bool sized = false;            // FSTAT answered
    std::int64_t size = -1;        // as FSTAT gave it (an upload's: the local file's); -1: none
    std::int64_t time = -1;        // the modification time FSTAT gave; -1: none
    int mode = -1;                 // its permission bits, as FSTAT gave them
    std::int64_t endSeen = noEnd;  // the lowest offset a read met the end at (size unknown)
    std::int64_t dataEnd = 0;      // the end of the furthest bytes received
    std::deque<std::pair<std::int64_t, std::int64_t>> holes;  // asked, not received: [from, to)
    std::vector<ReadAnswer> unsettled;
    // Uploads.
    bool sourceEnded = false;
};

struct Pending {
    std::size_t job;
    Ask ask;
    std::int64_t offset = 0;
    std::int64_t length = 0;
    Clock::time_point sent;
};

// A batch of files one way over the session, fed as it goes; run() once.
class Transfers {
public:
    Transfers(SftpSession& session, Direction direction, const NextCopy& next, const BatchProgress& progress,
              const CopyEnded& ended)
        : session_(session), direction_(direction), next_(next), progress_(progress), ended_(ended) {}

    void run() {
        if (!ready(session_)) {
            const std::string reason = session_.error;
            if (std::optional<FileCopy> file = next_()) {
                take(std::move(*file));
                finish(0, jobs_[0], reason);
            }
            session_.error = reason;
            return;
        }
        for (;;) {
            startFiles();
            askMore();
            if (unfinished_ == 0) break;
            Reply reply;
            if (!receive(session_, reply)) {
                failAll(session_.error);
                break;
            }
            const auto found = pending_.find(reply.id);
            if (found == pending_.end()) continue;
            const Pending pending = found->second;
            pending_.erase(found);
            Job& job = jobs_[pending.job];
            --job.outstanding;
            if (pending.ask == Ask::data) inFlight_ -= pending.length;
            handle(pending, job, reply);
            if (stopAsked(session_)) {
                stopAll();
                break;
            }
        }
        session_.error = firstError_;
    }

private:
    void take(FileCopy file) {
        files_.push_back(std::move(file));
        jobs_.emplace_back();
        ++unfinished_;
    }

    // Opens the next files while fewer than filesInFlight are open.
    void startFiles() {
        while (open_ < filesInFlight && !ending_) {
            std::optional<FileCopy> file = next_();
            if (!file) return;
            take(std::move(*file));
            const std::size_t index = files_.size() - 1;
            Job& job = jobs_[index];
            // A download's local file is made once the server has opened the remote one.
            if (direction_ == Direction::upload && !openLocal(index, job)) continue;
            Attributes created;
            std::uint32_t flags = openRead;
            if (direction_ == Direction::upload) {
                flags = openWrite | openCreate | openTruncate;
                struct stat source {};
                if (fstat(job.local, &source) == 0) {
                    job.size = source.st_size;
                    created.flags = Attributes::permissions;
                    created.mode = source.st_mode & 0777;
                }
            }
            Request request = newRequest(session_, fxpOpen);
            request.text(files_[index].remote).number(flags).attributes(created);
            ask(index, job, request, Ask::open);
            job.phase = Phase::opening;
            ++open_;
        }
    }

    bool openLocal(std::size_t index, Job& job) {
        std::string reason;
        job.local = files_[index].local->open(job.offset, reason);
        if (job.local < 0) return finish(index, job, std::move(reason));
        job.next = job.dataEnd = job.offset;
        return true;
    }

    // Ends the local side once; false with the reason when it fails a whole file.
    bool closeLocal(std::size_t index, Job& job, bool whole, std::string& reason) {
        if (job.local < 0) return true;
        job.local = -1;
        return files_[index].local->close(whole, job.mode, reason);
    }

    std::uint32_t ask(std::size_t index, Job& job, Request& request, Ask what, std::int64_t offset = 0,
                      std::int64_t length = 0) {
        const std::uint32_t id = post(session_, request);
        pending_[id] = {index, what, offset, length, Clock::now()};
        ++job.outstanding;
        if (what == Ask::data) inFlight_ += length;
        return id;
    }

    bool windowOpen(std::int64_t length) const { return inFlight_ == 0 || inFlight_ + length <= pacing_.window(); }

    // Fills the window, the earliest files first, and ends the files that are whole.
    void askMore() {
        for (std::size_t index = 0; index < jobs_.size(); ++index) {
            Job& job = jobs_[index];
            if (job.phase != Phase::moving) continue;
            if (direction_ == Direction::download) {
                askReads(index, job);
            } else {
                sendWrites(index, job);
            }
        }
    }

    void askRead(std::size_t index, Job& job, std::int64_t offset, std::int64_t length) {
        Request request = newRequest(session_, fxpRead);
        request.text(job.handle).number64(std::uint64_t(offset)).number(std::uint32_t(length));
        ask(index, job, request, Ask::data, offset, length);
    }

    // The reads still wanted: what came short first, then what follows. With the size
    // known they cover it and a byte past it, so that a file that grew shows; without,
    // they go on until one meets the end.
    void askReads(std::size_t index, Job& job) {
        const std::int64_t limit = job.size >= 0 ? job.size + 1 : job.endSeen;
        while (!job.holes.empty() && job.holes.front().first >= limit) job.holes.pop_front();
        while (!job.holes.empty() && windowOpen(readChunk)) {
            auto& [from, to] = job.holes.front();
            const std::int64_t length = std::min<std::int64_t>(to - from, readChunk);
            askRead(index, job, from, length);
            from += length;
            if (from == to) job.holes.pop_front();
        }
        if (!job.sized) return;
        while (job.next < limit && windowOpen(readChunk)) {
            const std::int64_t length = std::min<std::int64_t>(limit - job.next, readChunk);
            askRead(index, job, job.next, length);
            job.next += length;
        }
        if (job.outstanding == 0 && job.holes.empty() && job.next >= limit) completeDownload(index, job);
    }

    void sendWrites(std::size_t index, Job& job) {
        std::string& chunk = scratch_;
        chunk.resize(writeChunk);
        while (!job.sourceEnded && windowOpen(writeChunk)) {
            const ssize_t got = pread(job.local, chunk.data(), chunk.size(), job.next);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                fail(index, job, localFailure());
                return;
            }
            if (got == 0) {
                job.sourceEnded = true;
                break;
            }
            Request request = newRequest(session_, fxpWrite);
            request.text(job.handle).number64(std::uint64_t(job.next)).text(std::string_view(chunk.data(), got));
            ask(index, job, request, Ask::data, job.next, got);
            job.next += got;
        }
        if (job.sourceEnded && job.outstanding == 0) closeUpload(index, job);
    }

    // Every write was taken: the time, then the close, whose status tells whether the
    // server kept the bytes.
    void closeUpload(std::size_t index, Job& job) {
        if (files_[index].time >= 0 && files_[index].time <= std::int64_t(UINT32_MAX)) {
            Attributes attributes;
            attributes.flags = Attributes::times;
            attributes.accessTime = attributes.modificationTime = std::uint32_t(files_[index].time);
            // Its reply is not waited for: a time not set leaves the copy standing.
            Request request = newRequest(session_, fxpFsetstat);
            request.text(job.handle).attributes(attributes);
            giveUp(session_, post(session_, request));
        }
        Request request = newRequest(session_, fxpClose);
        request.text(job.handle);
        ask(index, job, request, Ask::close);
        job.handle.clear();
        job.phase = Phase::closing;
    }

    void handle(const Pending& pending, Job& job, Reply& reply) {
        const std::size_t index = pending.job;
        switch (pending.ask) {
        case Ask::open:
            if (reply.type != fxpHandle) return fail(index, job, statusReason(reply));
            job.handle = reply.fields.text();
            job.phase = Phase::moving;
            if (direction_ == Direction::download) {
                if (!openLocal(index, job)) return closeRemote(job);
                // The size is asked with the first read, which for a small file is all.
                Request request = newRequest(session_, fxpFstat);
                request.text(job.handle);
                ask(index, job, request, Ask::size);
                askRead(index, job, job.next, readChunk);
                job.next += readChunk;
            }
            return;
        case Ask::size: {
            if (reply.type != fxpAttrs) return fail(index, job, statusReason(reply));
            const Attributes attributes = reply.fields.attributes();
            job.sized = true;
            job.size = attributes.flags & Attributes::size ? std::int64_t(attributes.bytes) : -1;
            job.time = attributes.flags & Attributes::times ? std::int64_t(attributes.modificationTime) : -1;
            job.mode = attributes.flags & Attributes::permissions ? int(attributes.mode & 0777) : -1;
            for (const ReadAnswer& answer : std::exchange(job.unsettled, {})) settle(index, job, answer);
            return;
        }
        case Ask::data:
            return direction_ == Direction::download ? received(pending, job, reply) : written(pending, job, reply);
        case Ask::close:
            if (statusOf(reply) != fxOk) return fail(index, job, statusReason(reply));
            finish(index, job, {});
            return;
        }
    }

    void written(const Pending& pending, Job& job, const Reply& reply) {
        if (statusOf(reply) != fxOk) return fail(pending.job, job, statusReason(reply));
        pacing_.answered(pending.length, pending.sent, Clock::now());
        job.moved += pending.length;
        reportProgress(pending.job, job);
    }

    void received(const Pending& pending, Job& job, Reply& reply) {
        const std::size_t index = pending.job;
        ReadAnswer answer{pending.offset, pending.length, 0, false};
        if (reply.type == fxpData) {
            const std::string_view data = reply.fields.text();
            if (reply.fields.broken() || std::int64_t(data.size()) > pending.length)
                return fail(index, job, statusText(fxBadMessage));
            if (!writeAllAt(job.local, data.data(), data.size(), pending.offset))
                return fail(index, job, localFailure());
            answer.got = std::int64_t(data.size());
            job.moved += answer.got;
            job.dataEnd = std::max(job.dataEnd, pending.offset + answer.got);
            pacing_.answered(answer.got, pending.sent, Clock::now());
        } else if (statusOf(reply) == fxEof) {
            answer.atEnd = true;
        } else {
            return fail(index, job, statusReason(reply));
        }
        if (!job.sized) {
            job.unsettled.push_back(answer);
        } else {
            settle(index, job, answer);
        }
        if (job.phase == Phase::moving && answer.got > 0) reportProgress(index, job);
    }

    // Judges a read's reply by the file's size: bytes short of what the size promised are
    // asked again; bytes past it, or an end before it, mean the file changed.
    void settle(std::size_t index, Job& job, const ReadAnswer& answer) {
        std::int64_t expected = answer.asked;
        if (job.size >= 0) {
            expected = std::clamp<std::int64_t>(job.size - answer.offset, 0, answer.asked);
        } else if (answer.atEnd) {
            job.endSeen = std::min(job.endSeen, answer.offset);
            expected = 0;
        }
        if (answer.got > expected || (answer.atEnd && expected > 0) || job.dataEnd > job.endSeen)
            return fail(index, job, changedText(job));
        if (answer.got < expected && !answer.atEnd)
            job.holes.emplace_back(answer.offset + answer.got, answer.offset + expected);
    }

    std::string changedText(const Job& job) const {
        return "The file changed while it was read: " + std::to_string(job.dataEnd) + " bytes of " +
               std::to_string(job.size);
    }

    void completeDownload(std::size_t index, Job& job) {
        const std::int64_t size = job.size >= 0 ? job.size : job.endSeen;
        if (job.moved != size - job.offset) return fail(index, job, changedText(job));
        closeRemote(job);
        std::string reason;
        finish(index, job, closeLocal(index, job, true, reason) ? std::string() : std::move(reason));
    }

    // A download's handle closes without waiting: its reply tells nothing worth a round trip.
    void closeRemote(Job& job) {
        if (job.handle.empty()) return;
        Request request = newRequest(session_, fxpClose);
        request.text(job.handle);
        giveUp(session_, post(session_, request));
        job.handle.clear();
    }

    void reportProgress(std::size_t index, Job& job) {
        if (progress_ && !progress_(index, job.moved, job.size)) stopping_ = true;
        if (stopping_) stopAll();
    }

    // The file fails; its requests still due are given up, its handle closed.
    void fail(std::size_t index, Job& job, std::string reason) {
        if (job.phase == Phase::finished) return;
        for (auto pending = pending_.begin(); pending != pending_.end();) {
            if (pending->second.job != index) {
                ++pending;
                continue;
            }
            if (pending->second.ask == Ask::data) inFlight_ -= pending->second.length;
            giveUp(session_, pending->first);
            pending = pending_.erase(pending);
        }
        job.outstanding = 0;
        closeRemote(job);
        finish(index, job, std::move(reason));
    }

    // Returns false for a failure, so that callers may return it.
    bool finish(std::size_t index, Job& job, std::string error) {
        if (job.phase != Phase::waiting) --open_;
        job.phase = Phase::finished;
        std::string unused;
        // An upload's end is whole once the server's close said so; anything that ends
        // here otherwise failed.
        if (!closeLocal(index, job, error.empty(), unused) && error.empty()) error = unused;
        if (!error.empty() && firstError_.empty()) firstError_ = error;
        const CopyResult result{error.empty(), std::move(error), job.time};
        --unfinished_;
        if (ended_) ended_(index, result);
        return result.done;
    }

    // A stop between replies: every file not done fails, the connection stays.
    void stopAll() {
        ending_ = true;
        for (std::size_t index = 0; index < jobs_.size(); ++index) fail(index, jobs_[index], "Stopped");
    }

    // The connection ended under a wait: nothing more is sent.
    void failAll(const std::string& reason) {
        ending_ = true;
        pending_.clear();
        for (std::size_t index = 0; index < jobs_.size(); ++index) {
            if (jobs_[index].phase != Phase::finished) finish(index, jobs_[index], reason);
        }
    }

    SftpSession& session_;
    const Direction direction_;
    const NextCopy& next_;
    const BatchProgress& progress_;
    const CopyEnded& ended_;
    std::deque<FileCopy> files_;  // as `next_` gave them; deques keep references to them
    std::deque<Job> jobs_;
    std::string firstError_;
    std::unordered_map<std::uint32_t, Pending> pending_;
    Pacing pacing_;
    std::int64_t inFlight_ = 0;  // bytes of the reads or writes awaiting replies
    std::string scratch_;        // an upload's next chunk
    std::size_t open_ = 0;
    std::size_t unfinished_ = 0;
    bool ending_ = false;  // no more files are asked for
    bool stopping_ = false;
};

}  // namespace

int listToFile(SftpSession& session, std::string_view folder, std::string_view listingPath) {
    if (!ready(session)) return 0;
    Request opening = newRequest(session, fxpOpendir);
    opening.text(folder);
    Reply reply;
    if (!call(session, opening, reply)) return 0;
    if (reply.type != fxpHandle) return failWithReply(session, reply);
    const std::string handle(reply.fields.text());
    const std::string localPath(listingPath);
    LocalFile listing(::open(localPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
    bool written = listing.descriptor >= 0;
    bool complete = false;
    bool answered = true;
    std::uint32_t status = fxOk;
    while (written && !complete && !stopAsked(session)) {
        Request next = newRequest(session, fxpReaddir);
        next.text(handle);
        answered = call(session, next, reply);
        if (!answered) break;
        if (reply.type != fxpName) {
            status = statusOf(reply);
            complete = status == fxEof;
            if (!complete) break;
            continue;
        }
        for (std::uint32_t count = reply.fields.number(); count > 0 && written; --count) {
            const std::string_view name = reply.fields.text();
            reply.fields.text();  // the long name, as ls would show the entry
            const Attributes attributes = reply.fields.attributes();
            if (reply.fields.broken()) break;
            const std::string line = factLine(name, attributes);
            written = writeAll(listing.descriptor, line.data(), line.size());
        }
        if (reply.fields.broken()) {
            status = fxBadMessage;
            break;
        }
    }
    if (answered) {
        Request closing = newRequest(session, fxpClose);
        closing.text(handle);
        giveUp(session, post(session, closing));
    }
    written = listing.close() && written;
    if (complete && written) return 1;
    // A listing cut short must not pass for the whole folder.
    ::unlink(localPath.c_str());
    if (!answered) return 0;
    if (!written) return failWith(session, "Cannot write the listing file " + localPath);
    if (!complete && status == fxOk) return failWith(session, "Stopped");
    return failWith(session, statusText(status));
}

namespace {

BatchProgress forOneFile(const Progress& progress) {
    if (!progress) return nullptr;
    return [&progress](std::size_t, std::int64_t transferred, std::int64_t) { return progress(transferred); };
}

// A batch of the files given, with a result for each; those never asked for (the
// session could not take requests) fail with its reason.
std::vector<CopyResult> runBatch(SftpSession& session, Direction direction, const std::vector<FileCopy>& files,
                                 const BatchProgress& progress) {
    std::vector<CopyResult> results(files.size());
    std::size_t given = 0;
    const NextCopy next = [&]() -> std::optional<FileCopy> {
        if (given == files.size()) return std::nullopt;
        return files[given++];
    };
    const CopyEnded ended = [&](std::size_t index, const CopyResult& result) { results[index] = result; };
    Transfers(session, direction, next, progress, ended).run();
    for (std::size_t index = given; index < files.size(); ++index) results[index].error = session.error;
    return results;
}

}  // namespace

int download(SftpSession& session, std::string_view remotePath, LocalEnd& local, const Progress& progress) {
    const std::vector<FileCopy> files{{std::string(remotePath), &local}};
    return downloadFiles(session, files, forOneFile(progress)).front().done ? 1 : 0;
}

int upload(SftpSession& session, LocalEnd& local, std::string_view remotePath, const Progress& progress) {
    const std::vector<FileCopy> files{{std::string(remotePath), &local}};
    return uploadFiles(session, files, forOneFile(progress)).front().done ? 1 : 0;
}

std::vector<CopyResult> downloadFiles(SftpSession& session, const std::vector<FileCopy>& files,
                                      const BatchProgress& progress) {
    return runBatch(session, Direction::download, files, progress);
}

std::vector<CopyResult> uploadFiles(SftpSession& session, const std::vector<FileCopy>& files,
                                    const BatchProgress& progress) {
    return runBatch(session, Direction::upload, files, progress);
}

void downloadStream(SftpSession& session, const NextCopy& next, const BatchProgress& progress, const CopyEnded& ended) {
    Transfers(session, Direction::download, next, progress, ended).run();
}

void uploadStream(SftpSession& session, const NextCopy& next, const BatchProgress& progress, const CopyEnded& ended) {
    Transfers(session, Direction::upload, next, progress, ended).run();
}

}  // namespace sftp
