#include "session/server_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>

#include "ftp/ftp_transfer.h"
#include "platform/own_files.h"
#include "platform/secret.h"
#include "session/batch_watch.h"

namespace session {
namespace {
thread_local TransferWatch* watchOfThread = nullptr;
}  // namespace

ServerLogin::~ServerLogin() {
    platform::wipe(password);
    platform::wipe(passphrase);
}

void setThreadTransferWatch(TransferWatch* watch) { watchOfThread = watch; }
TransferWatch* threadTransferWatch() { return watchOfThread; }

bool isSftpHost(std::u16string_view host) {
    return host.size() >= sftpPrefix.size() &&
           std::equal(sftpPrefix.begin(), sftpPrefix.end(), host.begin(), [](char16_t wanted, char16_t given) {
               return wanted == (given >= u'A' && given <= u'Z' ? char16_t(given - u'A' + u'a') : given);
           });
}

std::uint32_t millisecondsSince(AnswerClock::time_point then) {
    if (then == AnswerClock::time_point()) return UINT32_MAX;
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(AnswerClock::now() - then).count();
    return std::uint32_t(std::clamp<std::int64_t>(elapsed, 0, UINT32_MAX));
}

std::string temporaryNameBeside(std::string_view serverPath) {
    const auto slash = serverPath.rfind('/');
    return std::string(slash == std::string_view::npos ? std::string_view() : serverPath.substr(0, slash + 1)) +
           platform::newOwnTemporaryName();
}

BatchWatch::BatchWatch(TransferWatch* watch) : watch_(watch) {
    if (!watch_) return;
    watch_->done.store(0);
    watch_->total.store(0);
}

bool BatchWatch::moved(std::size_t file, std::int64_t moved, std::int64_t size) {
    if (!watch_) return true;
    if (file >= moved_.size()) {
        moved_.resize(file + 1, 0);
        sizes_.resize(file + 1, -1);
    }
    done_ += moved - std::exchange(moved_[file], moved);
    total_ += std::max<std::int64_t>(size, 0) - std::max<std::int64_t>(std::exchange(sizes_[file], size), 0);
    watch_->done.store(done_);
    watch_->total.store(total_);
    return !watch_->stop.load();
}

std::int64_t uploadTime(const FileTransfer& file) {
    if (!file.keepTime || file.time >= 0) return file.keepTime ? file.time : -1;
    struct stat info {};
    return lstat(platform::hostPathOf(file.local).c_str(), &info) == 0 ? std::int64_t(info.st_mtim.tv_sec) : -1;
}

void keepDownloadTime(const FileTransfer& file, std::int64_t serverTime) {
    if (!file.keepTime) return;
    const std::int64_t time = file.timeExact || serverTime < 0 ? file.time : serverTime;
    std::string unused;
    if (time >= 0) platform::setModificationTimeAt(file.target.file, time, unused);
}

std::unique_ptr<ServerSession> newServerSession(std::u16string_view host) {
    return isSftpHost(host) ? newSftpSession() : newFtpSession();
}

}  // namespace session
