#include "session/server_session.h"

#include <algorithm>

#include "ftp/ftp_transfer.h"
#include "platform/own_files.h"
#include "platform/secret.h"

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

std::unique_ptr<ServerSession> newServerSession(std::u16string_view host) {
    return isSftpHost(host) ? newSftpSession() : newFtpSession();
}

}  // namespace session
