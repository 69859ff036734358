#include "remote/server_session.h"

namespace remote {

std::unique_ptr<ServerSession> newServerSession([[maybe_unused]] std::u16string_view host) { return newFtpSession(); }

}  // namespace remote
