// The FTP engine behind the server session: its waits, its give-up rule and transfer
// watch, the certificates trusted beyond the trust store, and server-to-server copies.
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>

#include "ftp/ftp_commands.h"
#include "ftp/ftp_tls.h"
#include "ftp/ftp_transfer.h"
#include "ftp/ftp_url.h"
#include "ftp/server_to_server.h"
#include "platform/secret.h"
#include "platform/stop_flag.h"
#include "platform/text.h"
#include "session/batch_watch.h"
#include "session/server_session.h"

namespace session {
namespace {

constexpr std::uint32_t watchPeriodMs = 250;
// Any data that moves is progress: a slow transfer is not silent.
constexpr std::int32_t watchProgressBytes = 1;

// The server's name in trust decisions (see TrustDecisions).
std::string certificateServer(std::string_view hostWithPort) {
    std::string server(hostWithPort);
    if (ftp::wantsExplicitTls(server)) server.erase(0, ftp::explicitTlsPrefix.size());
    std::transform(server.begin(), server.end(), server.begin(),
                   [](unsigned char c) { return char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
    return server;
}

std::string formatPeriod(std::uint32_t milliseconds) {
    if (milliseconds % 1000 == 0) return std::to_string(milliseconds / 1000) + " s";
    return std::to_string(milliseconds) + " ms";
}

class FtpServerSession final : public ServerSession {
public:
    ~FtpServerSession() override {
        if (isOpen()) ftp::quit(session_, 1);
        ftp::release(session_);
    }

    int open(const ServerLogin& login, OpenFailure& failure, std::string& reason) override {
        login_ = login;
        platform::wipe(login_.password);  // never kept
        platform::wipe(login_.passphrase);
        host_ = ftp::hostWithPort(login.host, int(login.port));
        presented_.clear();
        const HeardStop heard(*this);
        limitWaits(login.connectWaitMs);
        ftp::trustCertificate(session_, trustedCertificate());
        if (!ftp::openControl(session_, host_)) {
            presented_ = ftp::unverifiedCertificate(session_);
            failure = OpenFailure::connection;
            reason = failureText();
            return 0;
        }
        limitWaits(login.silenceLimitMs);
        if (!ftp::logIn(session_, login.user, login.password)) {
            failure = OpenFailure::login;
            reason = failureText();
            // A server that stopped answering was closed without waiting already.
            if (isOpen()) ftp::quit(session_, 0);
            return 0;
        }
        session_.control->traceCallback = onTraffic;
        ftp::setConnectionMode(session_, login.passive ? ftp::ConnectionMode::Passive : ftp::ConnectionMode::Active);
        session_.control->usePeerAddress = login.passive ? 1 : 0;  // data goes where the control connection went
        failure = OpenFailure::none;
        return 1;
    }

    std::u16string_view openFailureTag(OpenFailure failure) const override {
        return failure == OpenFailure::login ? u"(KVT-FC-2)" : u"(KVT-FC-1)";
    }

    bool isOpen() const override { return session_.control && session_.control->socket > 0; }

    void quit(bool abrupt) override {
        const HeardStop heard(*this);
        if (isOpen()) ftp::quit(session_, abrupt ? 1 : 0);
    }

    int probe(bool& lost) override {
        const HeardStop heard(*this);
        if (ftp::sendSimple(session_, "NOOP")) return 1;
        // A probe that met silence leaves a reply that may still come: that connection
        // goes at once, so that the reply never answers a later command.
        const bool silent = std::exchange(gaveUp_, false);
        lost = silent || isOpen();
        if (silent) ftp::quit(session_, 1);
        return 0;
    }

    std::uint32_t quietMs() const override { return isOpen() ? millisecondsSince(lastAnswer_) : UINT32_MAX; }

    std::string failureText() override {
        if (!keptFailure_.empty()) return std::exchange(keptFailure_, {});
        const bool stopped = platform::threadStopped();
        const bool gaveUp = gaveUp_;
        const std::uint32_t watchedSilence = std::exchange(watchedSilenceMs_, 0);
        std::string text;
        if (stopped) {
            text = "Stopped.\n";
        } else if (gaveUp && session_.control) {
            text = "The server did not answer within " + formatPeriod(watchedSilence ? watchedSilence : waitMs_) +
                   "; gave up waiting.\n";
        } else {
            const char* reply = ftp::lastReply(session_);
            text = reply ? reply : "";
        }
        // A reply still on its way must never be read as the answer to the next command.
        if ((stopped || gaveUp) && isOpen()) ftp::quit(session_, 1);
        return text;
    }

    bool gaveUpWaiting() const override { return gaveUp_; }

    std::string lastMessage() const override {
        const char* reply = ftp::lastReply(session_);
        return reply ? reply : "";
    }

    std::string untrustedIdentity() const override { return presented_.empty() ? "" : "certificate"; }
    std::string presentedFingerprint() const override { return presented_; }
    std::string lockedKey() const override { return {}; }
    // A certificate that changed is asked about again, never refused outright.
    bool identityRefused() const override { return false; }

    // The fingerprint comes in two lines of 16 bytes, so that it wraps nowhere else on a
    // small screen. A certificate trusted before that is not this one has changed.
    std::u16string trustQuestion(std::u16string_view) const override {
        if (presented_.empty()) return {};
        const std::string server = certificateServer(host_);
        std::string text = lastMessage();
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
        text += trustedCertificate().empty() ? "." : ", and it has changed since you trusted it.";
        text += "\r\rSHA-256 fingerprint:\r" + presented_.substr(0, 48) + "\r" +
                presented_.substr(std::min<std::size_t>(48, presented_.size())) + "\r\rTrust this certificate for " +
                server + "?";
        return platform::toUtf16(text);
    }

    int trustPresented(std::string& reason) override {
        if (login_.trust && login_.trust->rememberCertificate(certificateServer(host_), presented_)) return 1;
        reason = "The certificate could not be remembered: the settings file could not be written.\n";
        return 0;
    }

    // The Remote view's folders may be named relative to "/", so the session goes back
    // there after listing.
    int listToFile(const std::string& folder, const std::string& listingPath) override {
        const HeardStop heard(*this);
        if (!ftp::changeFolder(session_, folder)) return 0;
        const bool listed = ftp::listToFile(session_, listingPath, std::nullopt);
        // The way back has a reply of its own, which must not hide why the listing failed.
        if (!listed) keptFailure_ = failureText();
        if (isOpen()) ftp::changeFolder(session_, "/");  // every other operation uses absolute paths
        return listed;
    }

    int listExactToFile(const std::string& folder, const std::string& listingPath) override {
        const HeardStop heard(*this);
        return ftp::listExactToFile(session_, listingPath, folder);
    }

    int download(const std::string& remotePath, const DownloadTarget& target) override {
        const HeardStop heard(*this);
        DownloadFile local(target);
        std::string reason;
        std::int64_t offset = 0;
        const int descriptor = local.open(offset, reason);
        if (descriptor < 0) return keepFailure(reason);
        const int moved = ftp::download(session_, descriptor, remotePath, 'I', offset, target.expectedSize);
        if (!moved) keptFailure_ = failureText();
        if (local.close(moved == 1, -1, reason)) return 1;
        return moved ? keepFailure(reason) : 0;
    }

    int upload(const platform::AnchoredPath& local, const std::string& remotePath) override {
        const HeardStop heard(*this);
        UploadFile file(local);
        std::string reason;
        std::int64_t offset = 0;
        const int descriptor = file.open(offset, reason);
        if (descriptor < 0) return keepFailure(reason);
        if (!login_.uploadThroughTemporary) return ftp::upload(session_, descriptor, remotePath, 'I');
        const std::string temporary = temporaryNameBeside(remotePath);
        if (ftp::upload(session_, descriptor, temporary, 'I') && ftp::renamePath(session_, temporary, remotePath))
            return 1;
        // The server's file stays as it was; the temporary one goes while the connection
        // still answers.
        keptFailure_ = failureText();
        if (isOpen()) ftp::deleteFile(session_, temporary);
        return 0;
    }

    // One file after the other on the connection; a download asks the size it checks
    // (SIZE) where none is given, and the time it takes (MDTM) where none is exact.
    void downloadFiles(const NextTransfer& next, const TransferEnded& ended) override {
        eachFile(next, ended, [&](const FileTransfer& file) {
            DownloadTarget target = file.target;
            if (target.expectedSize < 0) target.expectedSize = fileSize(file.remotePath);
            batchSize_ = target.expectedSize;
            if (!download(file.remotePath, target)) return false;
            if (!file.keepTime) return true;
            const std::int64_t time = file.timeExact ? -1 : modificationTime(file.remotePath);
            if (time < 0 && gaveUp_) failureText();  // drops the connection, whose late reply must answer nothing
            keepDownloadTime(file, time);
            return true;
        });
    }

    void uploadFiles(const NextTransfer& next, const TransferEnded& ended) override {
        eachFile(next, ended, [&](const FileTransfer& file) {
            struct stat source {};
            batchSize_ = lstat(platform::hostPathOf(file.local).c_str(), &source) == 0 ? std::int64_t(source.st_size)
                                                                                       : -1;
            if (!upload(file.local, file.remotePath)) return false;
            const std::int64_t time = uploadTime(file);
            if (time >= 0 && setModificationTime(file.remotePath, time) == 0 && gaveUp_) failureText();
            return true;
        });
    }

    std::int64_t fileSize(const std::string& path) override {
        const HeardStop heard(*this);
        return ftp::fileSize(session_, path);
    }

    std::int64_t modificationTime(const std::string& path) override {
        const HeardStop heard(*this);
        return ftp::modificationTime(session_, path);
    }

    int setModificationTime(const std::string& path, std::int64_t time) override {
        const HeardStop heard(*this);
        return ftp::setModificationTime(session_, path, time);
    }

    int makeFolder(const std::string& path, int) override {
        const HeardStop heard(*this);
        return ftp::makeFolder(session_, path);
    }
    bool nameTaken(const std::string&) override { return lastMessage().starts_with("550"); }
    int removeFolder(const std::string& path) override {
        const HeardStop heard(*this);
        return ftp::removeFolder(session_, path);
    }
    int deleteFile(const std::string& path) override {
        const HeardStop heard(*this);
        return ftp::deleteFile(session_, path);
    }
    int rename(const std::string& from, const std::string& to) override {
        const HeardStop heard(*this);
        return ftp::renamePath(session_, from, to);
    }

    // The source takes the passive side, so the target's STOR goes out first and the
    // target, connecting out, waits for the data. With the target passive the source
    // would send at its RETR, before the target has its STOR, and a server that closes a
    // data connection that nothing waits for yet (pyftpdlib) loses the copy.
    int copyToServer(ServerSession& target, const std::string& from, const std::string& to,
                     std::string& refusal) override {
        auto* ftpTarget = dynamic_cast<FtpServerSession*>(&target);
        if (!ftpTarget) {
            refusal = sftpServerToServerRefusal;
            return 0;
        }
        const HeardStop heard(*this);
        const HeardStop targetHeard(*ftpTarget);
        if (ftp::serverToServer(session_, ftpTarget->session_, from, to, 'I', 1)) return 1;
        const std::string reply = ftpTarget->lastMessage();
        if (reply == ftp::mixedFamiliesRefusal || reply == ftp::encryptedRefusal) refusal = reply;
        return 0;
    }

    void watchTransfers(TransferWatch* watch) override {
        watch_ = watch;
        watchedSilenceMs_ = 0;
        silentMs_ = 0;
        if (!session_.control) return;
        if (!watch) {
            limitWaits(login_.silenceLimitMs);
            session_.control->progressCallback = nullptr;
            session_.control->progressInterval = 0;
            return;
        }
        ftp::FtpConnection& control = *session_.control;
        control.idleSeconds = 0;
        control.idleMicroseconds = std::int32_t(watchPeriodMs * 1000);
        control.idleCallback = onWatchedIdle;
        control.progressCallback = onWatchedProgress;
        control.progressInterval = watchProgressBytes;
        control.callbackContext = this;
    }

private:
    // One operation: its waits hear the stop of the thread that runs it, and the engine
    // lets go of that flag when it ends, since the next operation may run on another
    // thread, and this one's flag may be gone by then.
    class HeardStop {
    public:
        explicit HeardStop(FtpServerSession& session) : control_(session.session_.control) {
            session.gaveUp_ = false;
            session.keptFailure_.clear();
            if (control_) control_->stop = platform::threadStopFlag();
        }
        ~HeardStop() {
            if (control_) control_->stop = nullptr;
        }
        HeardStop(const HeardStop&) = delete;
        HeardStop& operator=(const HeardStop&) = delete;

    private:
        ftp::FtpConnection* const control_;
    };

    // A batch: each file `next` gives, copied by `copy`, until none is given or the
    // connection is gone; the watch counts the batch's bytes.
    void eachFile(const NextTransfer& next, const TransferEnded& ended,
                  const std::function<bool(const FileTransfer&)>& copy) {
        BatchWatch watch(watch_);
        batch_ = watch_ ? &watch : nullptr;
        for (std::size_t number = 0;; ++number) {
            const std::optional<FileTransfer> file = next();
            if (!file) break;
            batchFile_ = number;
            batchSize_ = -1;
            if (copy(*file)) {
                ended(number, {true, {}, false});
            } else {
                const bool silent = gaveUpWaiting();
                ended(number, {false, failureText(), silent});
            }
            if (!isOpen()) break;
        }
        batch_ = nullptr;
    }

    // A failure of our own, kept as a reply line is.
    int keepFailure(const std::string& reason) {
        keptFailure_ = reason + "\n";
        return 0;
    }

    std::string trustedCertificate() const {
        return login_.trust ? login_.trust->trustedCertificate(certificateServer(host_)) : std::string();
    }

    // The engine gives up after `milliseconds` without progress on a socket.
    void limitWaits(std::uint32_t milliseconds) {
        waitMs_ = milliseconds;
        if (!session_.control) return;
        session_.control->idleSeconds = std::int32_t(milliseconds / 1000);
        session_.control->idleMicroseconds = std::int32_t(milliseconds % 1000 * 1000);
        session_.control->idleCallback = giveUp;
        session_.control->callbackContext = this;
    }

    static int giveUp(void* context) {
        static_cast<FtpServerSession*>(context)->gaveUp_ = true;
        return 0;
    }

    // What the server sends on the control connection is its answer.
    static void onTraffic(const char*, void* context, int received) {
        if (received) static_cast<FtpServerSession*>(context)->lastAnswer_ = AnswerClock::now();
    }

    static int onWatchedProgress(std::int64_t transferred, void* context, std::int32_t, std::int32_t) {
        auto& self = *static_cast<FtpServerSession*>(context);
        self.silentMs_ = 0;
        if (self.batch_) return self.batch_->moved(self.batchFile_, transferred, self.batchSize_) ? 1 : 0;
        self.watch_->done.store(transferred);
        return self.watch_->stop.load() ? 0 : 1;
    }

    // The data connection and the control connection share the count: the final reply
    // read after the data gave up is given up at its first period, not after a silence
    // of its own. The failure text tells the whole silence, not one short period.
    static int onWatchedIdle(void* context) {
        auto& self = *static_cast<FtpServerSession*>(context);
        if (self.watch_->stop.load()) return 0;
        self.silentMs_ += watchPeriodMs;
        if (self.silentMs_ < self.login_.silenceLimitMs) return 1;
        self.gaveUp_ = true;
        self.watchedSilenceMs_ = self.login_.silenceLimitMs;
        return 0;
    }

    ftp::FtpSession session_ = ftp::createSession();
    ServerLogin login_;
    std::string host_;       // as the engine is given it
    std::string presented_;  // the certificate that made the last open fail
    bool gaveUp_ = false;
    std::string keptFailure_;  // the reason of a failure that a later command would hide
    std::uint32_t waitMs_ = 0;
    TransferWatch* watch_ = nullptr;
    BatchWatch* batch_ = nullptr;  // while a watched batch runs, its count of the watch
    std::size_t batchFile_ = 0;    // the file of the batch under way,
    std::int64_t batchSize_ = -1;  // and its size (-1: unknown)
    std::uint32_t silentMs_ = 0;
    std::uint32_t watchedSilenceMs_ = 0;
    AnswerClock::time_point lastAnswer_;
};

}  // namespace

std::unique_ptr<ServerSession> newFtpSession() { return std::make_unique<FtpServerSession>(); }

}  // namespace session
