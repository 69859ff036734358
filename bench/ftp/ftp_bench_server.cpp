// Starts vsftpd on loopback over a temporary folder holding a file of the size given
// in MiB, prints "URL HOSTFOLDER" (the writable folder, as a URL and on this host) and
// serves until its standard input closes; then stops the server and removes the folder.
// With --tls after the size the server requires explicit TLS, and the line ends with its
// certificate's SHA-256 fingerprint.
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    const long sizeMiB = argc > 1 ? std::atol(argv[1]) : 256;
    test_support::TemporaryFolder root;
    const bool tls = argc > 2 && std::string_view(argv[2]) == "--tls";
    test_support::RealFtpServer server(test_support::FtpServerKind::Vsftpd, root.path(), {.tls = tls});
    if (!server.error().empty()) {
        std::cerr << server.error() << '\n';
        return 1;
    }
    const int file = open(server.hostPath("big").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char(i * 131 % 251);
    for (long i = 0; i < sizeMiB; ++i) {
        if (write(file, block.data(), block.size()) != long(block.size())) return 1;
    }
    close(file);
    std::cout << server.url(server.remotePath("")) << ' ' << server.hostPath("");
    if (tls) std::cout << ' ' << server.certificateFingerprint();
    std::cout << std::endl;
    char ignored[64];
    while (read(0, ignored, sizeof ignored) > 0) {}
    return 0;
}
