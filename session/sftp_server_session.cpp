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
#include "platform/secret.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "session/server_session.h"
#include "sftp/sftp_session.h"

namespace session {
namespace {

// A partial left by someone else, or with another name as well, is never continued.
bool isOwnPartial(const struct stat& info) {
    return S_ISREG(info.st_mode) && info.st_uid == geteuid() && info.st_nlink == 1;
}

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

    int download(const std::string& remotePath, const std::string& localPath, const std::string& partialPath,
                 bool resume, std::int64_t expectedSize) override {
        localFailure_.clear();
        const std::string target = ftp::followLinks(localPath);
        struct stat existing {};
        if (stat(target.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
            return fail("The target is no regular file.\n");
        }
        std::int64_t offset = 0;
        struct stat partial {};
        if (lstat(partialPath.c_str(), &partial) == 0) {
            if (resume && isOwnPartial(partial) && (expectedSize < 0 || partial.st_size < expectedSize)) {
                offset = partial.st_size;
            } else if (unlink(partialPath.c_str()) != 0) {
                return fail("The partial file's name is taken by something that is no file\n");
            }
        }
        const HeardStop heard(*session_);
        if (!sftp::download(*session_, remotePath, partialPath, offset, progress(offset))) {
            if (stat(partialPath.c_str(), &partial) == 0 && partial.st_size == 0) unlink(partialPath.c_str());
            return 0;
        }
        const bool present = stat(partialPath.c_str(), &partial) == 0;
        if (expectedSize >= 0 && (!present || partial.st_size != expectedSize)) {
            unlink(partialPath.c_str());
            return fail("The file arrived with " + std::to_string(present ? partial.st_size : 0) +
                        " bytes where the server announced " + std::to_string(expectedSize) + "\n");
        }
        lastAnswer_ = AnswerClock::now();
        if (::rename(partialPath.c_str(), target.c_str()) != 0) return fail("Local file error\n");
        return 1;
    }

    int upload(const std::string& localPath, const std::string& remotePath) override {
        const HeardStop heard(*session_);
        return answered(sftp::upload(*session_, localPath, remotePath, 0, progress()));
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
