#include "remote/server_session.h"

#include <algorithm>

namespace remote {

bool isSftpHost(std::u16string_view host) {
    return host.size() >= sftpPrefix.size() &&
           std::equal(sftpPrefix.begin(), sftpPrefix.end(), host.begin(), [](char16_t wanted, char16_t given) {
               return wanted == (given >= u'A' && given <= u'Z' ? char16_t(given - u'A' + u'a') : given);
           });
}

std::unique_ptr<ServerSession> newServerSession(std::u16string_view host) {
    return isSftpHost(host) ? newSftpSession() : newFtpSession();
}

}  // namespace remote
