// The SFTP engine behind the server session: the host without its "sftp://", the
// thread's stop for each operation and the login's waits, the host-key question and the
// key trusted beyond known_hosts, the device's side of transfers (local_files.h), uploads
// through a temporary name, and the transfer watch.
#include <atomic>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "platform/secret.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "session/batch_watch.h"
#include "session/server_session.h"
#include "sftp/sftp_session.h"

namespace session {
namespace {

class SftpServerSession final : public ServerSession {
public:
    ~SftpServerSession() override { sftp::release(session_); }

    int open(const ServerLogin& login, OpenFailure& failure, std::string& reason) override {
        login_ = login;
        platform::wipe(login_.password);  // never kept
        platform::wipe(login_.passphrase);
        std::string host = login.host;
        if (isSftpHost(platform::toUtf16(host))) host.erase(0, sftpPrefix.size());
        sftp::OpenOptions options;
        options.host = host;
        options.port = int(login.port);
        options.user = login.user;
        options.password = login.password;
        options.passwordForNamedUserOnly = login.passwordForNamedUserOnly;
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
        problem_.reset();
        const int opened = sftp::open(*session_, options);
        platform::wipe(options.password);
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
        if (platform::threadStopped()) {
            sftp::close(*session_);
            return "Stopped.\n";
        }
        std::string text = sftp::lastError(*session_);
        if (text.empty()) text = "Failure";  // the status's name, where nothing more was said
        if (text.back() != '\n') text += '\n';
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

    bool identityRefused() const override {
        return problem_ &&
               (problem_->check == sftp::HostKeyCheck::changed || problem_->check == sftp::HostKeyCheck::revoked);
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

    int download(const std::string& remotePath, const DownloadTarget& target) override {
        localFailure_.clear();
        const HeardStop heard(*session_);
        DownloadFile local(target);
        return answered(sftp::download(*session_, remotePath, local, progress(&local)));
    }

    int upload(const platform::AnchoredPath& local, const std::string& remotePath) override {
        localFailure_.clear();
        const HeardStop heard(*session_);
        UploadFile file(local);
        if (!login_.uploadThroughTemporary) return answered(sftp::upload(*session_, file, remotePath, progress()));
        const std::string temporary = temporaryNameBeside(remotePath);
        if (sftp::upload(*session_, file, temporary, progress()) &&
            sftp::renameOver(*session_, temporary, remotePath)) {
            return answered(1);
        }
        // The server's file stays as it was; the temporary one goes while the connection
        // still answers.
        const std::string reason = failureText();
        if (isOpen()) sftp::removeFile(*session_, temporary);
        return fail(reason);
    }

    // The engine's batch, each file's device side a DownloadFile or UploadFile of its own
    // as download()'s and upload()'s, alive until the file ends.
    void downloadFiles(const NextTransfer& next, const TransferEnded& ended) override {
        localFailure_.clear();
        const HeardStop heard(*session_);
        std::deque<FileTransfer> given;
        std::deque<DownloadFile> locals;
        BatchWatch watch(watch_);
        const sftp::NextCopy nextCopy = [&]() -> std::optional<sftp::FileCopy> {
            std::optional<FileTransfer> file = next();
            if (!file) return std::nullopt;
            given.push_back(std::move(*file));
            locals.emplace_back(given.back().target);
            return sftp::FileCopy{given.back().remotePath, &locals.back()};
        };
        const sftp::BatchProgress onProgress = [&](std::size_t index, std::int64_t moved, std::int64_t size) {
            return watch.moved(index, locals[index].offset() + moved, size);
        };
        sftp::downloadStream(*session_, nextCopy, onProgress, [&](std::size_t index, const sftp::CopyResult& result) {
            if (result.done) {
                lastAnswer_ = AnswerClock::now();
                keepDownloadTime(given[index], result.time);
            }
            ended(index, outcome(result.done, result.error));
        });
    }

    // Through temporary names as upload(): each whole file is renamed onto its target once
    // the batch's requests are answered, since a rename's reply must not meet theirs.
    void uploadFiles(const NextTransfer& next, const TransferEnded& ended) override {
        localFailure_.clear();
        const HeardStop heard(*session_);
        BatchWatch watch(watch_);
        std::deque<UploadFile> locals;
        std::vector<std::pair<std::string, std::string>> names;  // temporary, target
        std::vector<sftp::CopyResult> results;
        const sftp::NextCopy nextCopy = [&]() -> std::optional<sftp::FileCopy> {
            const std::optional<FileTransfer> file = next();
            if (!file) return std::nullopt;
            locals.emplace_back(file->local);
            const std::string to = login_.uploadThroughTemporary ? temporaryNameBeside(file->remotePath)
                                                                 : file->remotePath;
            names.emplace_back(to, file->remotePath);
            return sftp::FileCopy{to, &locals.back(), uploadTime(*file)};
        };
        sftp::uploadStream(
            *session_, nextCopy,
            [&](std::size_t index, std::int64_t moved, std::int64_t size) { return watch.moved(index, moved, size); },
            [&](std::size_t index, const sftp::CopyResult& result) {
                if (!login_.uploadThroughTemporary) return ended(index, outcome(result.done, result.error));
                if (results.size() <= index) results.resize(index + 1);
                results[index] = result;
            });
        if (!login_.uploadThroughTemporary) return;
        for (std::size_t index = 0; index < results.size(); ++index) {
            const auto& [temporary, target] = names[index];
            if (results[index].done && sftp::renameOver(*session_, temporary, target)) {
                lastAnswer_ = AnswerClock::now();
                ended(index, outcome(true, {}));
                continue;
            }
            const std::string reason = results[index].done ? failureText() : results[index].error;
            // The server's file stays as it was; the temporary one goes while the
            // connection still answers.
            if (isOpen()) sftp::removeFile(*session_, temporary);
            ended(index, outcome(false, reason));
        }
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
    int makeFolder(const std::string& path, int sourceMode) override {
        const HeardStop heard(*session_);
        return sftp::makeFolder(*session_, path, sourceMode);
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
    sftp::Progress progress(const DownloadFile* continued = nullptr) {
        TransferWatch* const watch = watch_;
        if (!watch) return nullptr;
        return [watch, continued](std::int64_t transferred) {
            watch->done.store((continued ? continued->offset() : 0) + transferred);
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
