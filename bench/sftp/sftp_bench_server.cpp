// Starts sshd on loopback with a HOME for its clients (their key, and known_hosts
// holding the server's key), a file of the size given in MiB and a folder of the number
// of empty files given; prints "PORT USER HOME FOLDER FINGERPRINT" (FOLDER holding "big"
// and "many/") and serves until its standard input closes, then stops the server and
// removes the folders.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "tests/support/real_sftp_server.h"
#include "tests/support/temporary_folder.h"

int main(int argc, char** argv) {
    const long sizeMiB = argc > 1 ? std::atol(argv[1]) : 256;
    const long entries = argc > 2 ? std::atol(argv[2]) : 10000;
    test_support::RealSftpServer server;
    if (!server.error().empty()) {
        std::cerr << server.error() << '\n';
        return 1;
    }
    server.writeKnownHosts(test_support::KnownKey::serverKey);
    test_support::TemporaryFolder folder;
    const int file = open((folder / "big").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string block(1 << 20, '\0');
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = char(i * 131 % 251);
    for (long i = 0; i < sizeMiB; ++i) {
        if (write(file, block.data(), block.size()) != long(block.size())) return 1;
    }
    close(file);
    std::filesystem::create_directory(folder / "many");
    for (long i = 0; i < entries; ++i) test_support::writeFile(folder / ("many/entry-" + std::to_string(i)), "");
    std::cout << server.port() << ' ' << server.user() << ' ' << server.home() << ' ' << folder.path() << ' '
              << server.hostKeyFingerprint() << std::endl;
    char ignored[64];
    while (read(0, ignored, sizeof ignored) > 0) {}
    return 0;
}
