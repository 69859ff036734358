// The servers of bench/wan/run, on 127.0.0.1 for a delay proxy on 127.0.0.2 to stand in
// front of: sshd with a HOME for its clients (their key, and known_hosts holding the
// server's key for both addresses), and vsftpd logging its commands, its passive replies
// naming 127.0.0.2 and a port of a range that is free on both addresses. Serves a file of
// the size given in MiB and a tree of FILES files of BYTES bytes in FOLDERS folders (the
// same tree for both servers); prints
//   SSHPORT USER HOME FOLDER FINGERPRINT FTPPORT FTPUSER FTPPASSWORD FTPTREE TREE PASSIVE COMMANDLOG
// (FOLDER holding "big"; FTPTREE the tree's path for an FTP client, TREE on this host;
// PASSIVE the range as FIRST-LAST) and serves until its standard input closes, then stops
// the servers and removes the folders.
//   wan_bench_server MIB FILES FOLDERS BYTES
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>

#include "tests/support/real_ftp_server.h"
#include "tests/support/real_sftp_server.h"
#include "tests/support/temporary_folder.h"

namespace {

constexpr int passivePorts = 32;

bool bindable(const char* address, int port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(std::uint16_t(port));
    inet_pton(AF_INET, address, &bound.sin_addr);
    const bool free = bind(socket, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0;
    close(socket);
    return free;
}

// The first port of a range of passive ports free on both loopback addresses; 0 when none.
int freePassiveRange() {
    for (int attempt = 0; attempt < 50; ++attempt) {
        const int first = test_support::freePort();
        if (first == 0 || first + passivePorts > 65535) continue;
        bool free = true;
        for (int port = first; port < first + passivePorts && free; ++port)
            free = bindable("127.0.0.1", port) && bindable("127.0.0.2", port);
        if (free) return first;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: wan_bench_server MIB FILES FOLDERS BYTES\n";
        return 1;
    }
    const long sizeMiB = std::atol(argv[1]);
    const long files = std::atol(argv[2]);
    const long folders = std::atol(argv[3]);
    const std::size_t bytes = std::size_t(std::atol(argv[4]));

    test_support::RealSftpServer sshd;
    if (!sshd.error().empty()) {
        std::cerr << sshd.error() << '\n';
        return 1;
    }
    sshd.writeKnownHosts(test_support::KnownKey::serverKey);
    // The server's line again for the proxy's address.
    std::string knownHosts = test_support::readFile(sshd.knownHostsPath());
    const std::size_t lastLine = knownHosts.rfind("[127.0.0.1]");
    knownHosts += "[127.0.0.2]" + knownHosts.substr(lastLine + 11);
    test_support::writeFile(sshd.knownHostsPath(), knownHosts);

    const int passive = freePassiveRange();
    if (passive == 0) {
        std::cerr << "no free range of passive ports\n";
        return 1;
    }
    test_support::TemporaryFolder ftpRoot;
    test_support::TemporaryFolder work;
    const std::string log = work / "commands.log";
    const std::string passiveRange = std::to_string(passive) + "-" + std::to_string(passive + passivePorts - 1);
    test_support::RealFtpServer ftp(test_support::FtpServerKind::Vsftpd, ftpRoot.path(),
                                    {.commandLog = log.c_str(),
                                     .passiveAddress = "127.0.0.2",
                                     .passivePortFirst = passive,
                                     .passivePortLast = passive + passivePorts - 1});
    if (!ftp.error().empty()) {
        std::cerr << ftp.error() << '\n';
        return 1;
    }

    test_support::TemporaryFolder folder;
    const int file = open((folder / "big").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char(i * 131 % 251);
    for (long i = 0; i < sizeMiB; ++i) {
        if (write(file, block.data(), block.size()) != long(block.size())) return 1;
    }
    close(file);
    const std::string tree = ftp.hostPath("tree");
    mkdir(tree.c_str(), 0755);
    const std::string content = test_support::patternBytes(bytes);
    for (long index = 0; index < folders; ++index) {
        const std::string path = tree + "/folder-" + std::to_string(index);
        mkdir(path.c_str(), 0755);
        for (long number = index; number < files; number += folders)
            test_support::writeFile(path + "/file-" + std::to_string(number), content);
    }
    const std::string ftpAddress = ftp.address();
    std::cout << sshd.port() << ' ' << sshd.user() << ' ' << sshd.home() << ' ' << folder.path() << ' '
              << sshd.hostKeyFingerprint() << ' ' << ftpAddress.substr(ftpAddress.rfind(':') + 1) << ' ' << ftp.user()
              << ' ' << ftp.password() << ' ' << ftp.remotePath("tree") << ' ' << tree << ' ' << passiveRange << ' '
              << log << std::endl;
    char ignored[64];
    while (read(0, ignored, sizeof ignored) > 0) {}
    return 0;
}
