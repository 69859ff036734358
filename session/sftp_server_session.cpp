// The SFTP engine behind the server session: the host without its "sftp://", the
// thread's stop for each operation and the login's waits, the host-key question and the
// key trusted beyond known_hosts, downloads through a partial file as FTP's, and the
// transfer watch.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <utility>

#include "ftp/ftp_transfer.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "session/batch_watch.h"
#include "session/server_session.h"
#include "sftp/sftp_session.h"

namespace session {
namespace {

// A partial left by someone else, or with another name as well, is never continued.
bool isOwnPartial(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

// The local side of one download, shared by download() and downloadFiles(), before the
// engine's transfer into the partial: the target must be a regular file or absent; a
// partial there is continued when asked, if it is the user's own and shorter than the
// file, else removed. Returns the offset to continue from; -1 with the reason in `why`.
std::int64_t startDownload(const FileTransfer& file, std::string& why) {
    const std::string target = ftp::followLinks(file.localPath);
    struct stat existing {};
    if (stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
        why = "The target is no regular file.\n";
        return -1;
    }
    struct stat partial {};
    if (lstat(file.partialPath.c_str(), &partial) != 0) return 0;
    if (file.resume && isOwnPartial(partial) && (file.expectedSize < 0 || partial.st_size < file.expectedSize))
        return partial.st_size;
    if (unlink(file.partialPath.c_str()) == 0) return 0;
    why = "The partial file's name is taken by something that is no file\n";
    return -1;
}

// And after it: a failed transfer leaves no empty partial; a whole file must have the
// size expected, takes its time when asked (`serverTime`: the server's, -1 none), and
// replaces the target. False with the reason in `why`, which stays empty where the
// engine's own reason tells.
bool endDownload(const FileTransfer& file, bool received, std::int64_t serverTime, std::string& why) {
    struct stat partial {};
    const bool present = stat(file.partialPath.c_str(), &partial) == 0;
    if (!received) {
        if (present && partial.st_size == 0) unlink(file.partialPath.c_str());
        return false;
    }
    if (file.expectedSize >= 0 && (!present || partial.st_size != file.expectedSize)) {
        unlink(file.partialPath.c_str());
        why = "The file arrived with " + std::to_string(present ? partial.st_size : 0) +
              " bytes where the server announced " + std::to_string(file.expectedSize) + "\n";
        return false;
    }
    if (file.keepTime) {
        const std::int64_t time = file.timeExact || serverTime < 0 ? file.time : serverTime;
        if (time >= 0) setLocalTime(file.partialPath, time);
    }
    if (::rename(file.partialPath.c_str(), ftp::followLinks(file.localPath).c_str()) == 0) return true;
    why = "Local file error\n";
    return false;
}

class SftpServerSession final : public ServerSession {
public:
    ~SftpServerSession() override { sftp::release(session_); }

    int open(const ServerLogin& login, OpenFailure& failure, std::string& reason) override {
        login_ = login;
        std::string host = login.host;
        if (isSftpHost(platform::toUtf16(host))) host.erase(0, sftpPrefix.size());
        sftp::OpenOptions options;
        options.host = host;
        options.port = int(login.port);
        options.user = login.user;
        options.password = login.password;
        options.connectTimeoutMs = login.connectWaitMs;
        options.silenceLimitMs = login.silenceLimitMs;
        options.stop = platform::threadStopFlag();
        if (login.trust)
            options.trustedFingerprint = login.trust->trustedHostKey(host + ":" + std::to_string(login.port));
        // A key with a passphrase takes the one the user gave for it, else it is left out
        // and the first such key is named, so that the user can be asked between opens.
        lockedKey_.clear();
        options.askPassphrase = [this, &login](std::string_view keyFile) -> std::optional<std::string> {
            if (!login.keyFile.empty() && keyFile == login.keyFile) return login.passphrase;
            if (lockedKey_.empty()) lockedKey_ = keyFile;
            return std::nullopt;
        };
        login_.passphrase.clear();  // never kept
        problem_.reset();
        const int opened = sftp::open(*session_, options);
        sftp::setStopFlag(*session_, nullptr);  // the opening thread's flag goes with it
        if (opened) {
            failure = OpenFailure::none;
            lockedKey_.clear();
            return 1;
        }
        problem_ = sftp::hostKeyProblem(*session_);
        failure = authenticationFailed() ? OpenFailure::login : OpenFailure::connection;
        if (failure != OpenFailure::login) lockedKey_.clear();
        reason = failureText();
        return 0;
    }

    std::u16string_view openFailureTag(OpenFailure failure) const override {
        return failure == OpenFailure::login ? u"(KVT-SC-2)" : u"(KVT-SC-1)";
    }

    bool isOpen() const override { return sftp::isOpen(*session_); }
    void quit(bool) override {
        const HeardStop heard(*session_);
        sftp::close(*session_);
    }

    int probe(bool& lost) override {
        lost = isOpen();
        const HeardStop heard(*session_);
        if (lost && sftp::probe(*session_)) return 1;
        sftp::close(*session_);
        return 0;
    }

    std::uint32_t quietMs() const override { return isOpen() ? millisecondsSince(lastAnswer_) : UINT32_MAX; }

    // The engine closes a connection whose wait gave up, and says so.
    std::string failureText() override {
        if (!localFailure_.empty()) return std::exchange(localFailure_, {});
        const std::atomic<bool>* stop = platform::threadStopFlag();
        if (stop && stop->load()) {
            sftp::close(*session_);
            return "Stopped.\n";
        }
        std::string text = sftp::lastError(*session_);
        if (!text.empty() && text.back() != '\n') text += '\n';
        return text;
    }

    bool gaveUpWaiting() const override {
        return localFailure_.empty() && sftp::lastError(*session_).starts_with("The server did not answer");
    }

    std::string lastMessage() const override { return {}; }

    std::string untrustedIdentity() const override {
        return problem_ && problem_->check == sftp::HostKeyCheck::unknown ? "host key" : "";
    }

    std::string presentedFingerprint() const override {
        return untrustedIdentity().empty() ? "" : problem_->fingerprint;
    }

    // OpenSSH's own question, with the key's fingerprint in its form.
    std::u16string trustQuestion(std::u16string_view placeName) const override {
        if (!problem_ || problem_->check != sftp::HostKeyCheck::unknown) return {};
        return u"The authenticity of " + std::u16string(placeName) + u" can't be established.\r\r" +
               platform::toUtf16(problem_->keyType) + u" key fingerprint:\r" +
               platform::toUtf16(problem_->fingerprint) + u"\r\rTrust this host key and add it to known_hosts?";
    }

    std::string lockedKey() const override { return lockedKey_; }

    int trustPresented(std::string& reason) override {
        if (sftp::trustHostKey(*session_)) return 1;
        reason = sftp::lastError(*session_);
        return 0;
    }

    int listToFile(const std::string& folder, const std::string& listingPath) override {
        const HeardStop heard(*session_);
        return answered(sftp::listToFile(*session_, folder, listingPath));
    }
    int listExactToFile(const std::string& folder, const std::string& listingPath) override {
        return listToFile(folder, listingPath);
    }

    int download(const std::string& remotePath, const std::string& localPath, const std::string& partialPath,
                 bool resume, std::int64_t expectedSize) override {
        localFailure_.clear();
        const FileTransfer file{remotePath, localPath, partialPath, resume, expectedSize};
        std::string why;
        const std::int64_t offset = startDownload(file, why);
        if (offset < 0) return fail(why);
        const HeardStop heard(*session_);
        const bool received = sftp::download(*session_, remotePath, partialPath, offset, progress(offset));
        if (received) lastAnswer_ = AnswerClock::now();
        if (endDownload(file, received, -1, why)) return 1;
        return why.empty() ? 0 : fail(why);
    }

    int upload(const std::string& localPath, const std::string& remotePath) override {
        const HeardStop heard(*session_);
        return answered(sftp::upload(*session_, localPath, remotePath, 0, progress()));
    }

    // The engine's batch, each file's local side as download()'s. Files are numbered
    // here as `next` gave them, by the engine as it took them: a file that fails before
    // the engine takes it is not the engine's.
    void downloadFiles(const NextTransfer& next, const TransferEnded& ended) override {
        localFailure_.clear();
        const HeardStop heard(*session_);
        std::vector<FileTransfer> given;
        std::vector<std::size_t> numberOf;  // by the engine's number
        BatchWatch watch(watch_);
        const sftp::NextCopy nextCopy = [&]() -> std::optional<sftp::FileCopy> {
            for (std::optional<FileTransfer> file; (file = next());) {
                given.push_back(*file);
                std::string why;
                const std::int64_t offset = startDownload(*file, why);
                if (offset >= 0) {
                    numberOf.push_back(given.size() - 1);
                    return sftp::FileCopy{file->remotePath, file->partialPath, "", offset};
                }
                ended(given.size() - 1, {false, why, false});
            }
            return std::nullopt;
        };
        const sftp::BatchProgress onProgress = [&](std::size_t index, std::int64_t moved, std::int64_t size) {
            return watch.moved(numberOf[index], moved, size);
        };
        sftp::downloadStream(*session_, nextCopy, onProgress, [&](std::size_t index, const sftp::CopyResult& result) {
            const FileTransfer& file = given[numberOf[index]];
            if (result.done) lastAnswer_ = AnswerClock::now();
            std::string why;
            const bool done = endDownload(file, result.done, result.time, why);
            ended(numberOf[index], outcome(done, why.empty() ? result.error : why));
        });
    }

    void uploadFiles(const NextTransfer& next, const TransferEnded& ended) override {
        localFailure_.clear();
        const HeardStop heard(*session_);
        BatchWatch watch(watch_);
        const sftp::NextCopy nextCopy = [&]() -> std::optional<sftp::FileCopy> {
            const std::optional<FileTransfer> file = next();
            if (!file) return std::nullopt;
            return sftp::FileCopy{file->localPath, file->remotePath, "", 0, uploadTime(*file)};
        };
        sftp::uploadStream(
            *session_, nextCopy,
            [&](std::size_t index, std::int64_t moved, std::int64_t size) { return watch.moved(index, moved, size); },
            [&](std::size_t index, const sftp::CopyResult& result) {
                if (result.done) lastAnswer_ = AnswerClock::now();
                ended(index, outcome(result.done, result.error));
            });
    }

    std::int64_t fileSize(const std::string& path) override {
        const HeardStop heard(*session_);
        return sftp::fileSize(*session_, path);
    }
    std::int64_t modificationTime(const std::string& path) override {
        const HeardStop heard(*session_);
        return sftp::modificationTime(*session_, path);
    }
    int setModificationTime(const std::string& path, std::int64_t time) override {
        const HeardStop heard(*session_);
        return answered(sftp::setModificationTime(*session_, path, time));
    }
    int makeFolder(const std::string& path) override {
        const HeardStop heard(*session_);
        return sftp::makeFolder(*session_, path);
    }
    bool nameTaken(const std::string& path) override {
        const HeardStop heard(*session_);
        return sftp::isFolder(*session_, path) == 1;
    }
    int removeFolder(const std::string& path) override {
        const HeardStop heard(*session_);
        return sftp::removeFolder(*session_, path);
    }
    int deleteFile(const std::string& path) override {
        const HeardStop heard(*session_);
        return sftp::removeFile(*session_, path);
    }
    int rename(const std::string& from, const std::string& to) override {
        const HeardStop heard(*session_);
        return sftp::rename(*session_, from, to);
    }

    int copyToServer(ServerSession&, const std::string&, const std::string&, std::string& refusal) override {
        refusal = sftpServerToServerRefusal;
        return 0;
    }

    void watchTransfers(TransferWatch* watch) override { watch_ = watch; }

private:
    // One operation: its waits hear the stop of the thread that runs it, and the engine
    // lets go of that flag when it ends, since the next operation may run on another
    // thread, and this one's flag may be gone by then.
    class HeardStop {
    public:
        explicit HeardStop(sftp::SftpSession& session) : session_(session) {
            sftp::setStopFlag(session, platform::threadStopFlag());
        }
        ~HeardStop() { sftp::setStopFlag(session_, nullptr); }
        HeardStop(const HeardStop&) = delete;
        HeardStop& operator=(const HeardStop&) = delete;

    private:
        sftp::SftpSession& session_;
    };

    int answered(int result) {
        if (result) lastAnswer_ = AnswerClock::now();
        return result;
    }

    int fail(std::string text) {
        localFailure_ = std::move(text);
        return 0;
    }

    // A batch's file: its failure as failureText() would give it, the connection left as
    // the engine left it.
    static TransferOutcome outcome(bool done, std::string reason) {
        if (done) return {true, {}, false};
        const std::atomic<bool>* stop = platform::threadStopFlag();
        if (stop && stop->load()) return {false, "Stopped.\n", false};
        if (!reason.empty() && reason.back() != '\n') reason += '\n';
        const bool silent = reason.starts_with("The server did not answer");
        return {false, std::move(reason), silent};
    }

    bool authenticationFailed() const { return sftp::lastError(*session_).starts_with("Permission denied"); }

    // The watch sees the bytes of the file done (those a continued download had too);
    // its stop ends the transfer.
    sftp::Progress progress(std::int64_t already = 0) {
        TransferWatch* const watch = watch_;
        if (!watch) return nullptr;
        return [watch, already](std::int64_t transferred) {
            watch->done.store(already + transferred);
            return !watch->stop.load();
        };
    }

    sftp::SftpSession* session_ = sftp::createSession();
    ServerLogin login_;
    std::optional<sftp::HostKeyProblem> problem_;
    std::string localFailure_;
    std::string lockedKey_;
    TransferWatch* watch_ = nullptr;
    AnswerClock::time_point lastAnswer_;
};

}  // namespace

std::unique_ptr<ServerSession> newSftpSession() { return std::make_unique<SftpServerSession>(); }

}  // namespace session
