// Starts vsftpd or pyftpdlib on loopback, logging every command it receives, over a
// temporary folder holding a tree of FILES files of BYTES bytes spread over FOLDERS
// folders; prints "ADDRESS USER PASSWORD FOLDER HOSTFOLDER COMMANDLOG" (the tree's folder
// for a client and on this host) and serves until its standard input closes; then stops
// the server and removes the folder.
//   mirror_bench_server vsftpd|pyftpdlib FILES FOLDERS BYTES
#include "tests/support/real_ftp_server.h"
#include "tests/support/temporary_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <string>
#include <string_view>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::cerr << "usage: mirror_bench_server vsftpd|pyftpdlib FILES FOLDERS BYTES\n";
        return 1;
    }
    const bool vsftpd = std::string_view(argv[1]) == "vsftpd";
    const long files = std::atol(argv[2]);
    const long folders = std::atol(argv[3]);
    const std::size_t bytes = std::size_t(std::atol(argv[4]));
    test_support::TemporaryFolder root;
    test_support::TemporaryFolder work;
    const std::string log = work / "commands.log";
    test_support::RealFtpServer server(
        vsftpd ? test_support::FtpServerKind::Vsftpd : test_support::FtpServerKind::Pyftpdlib, root.path(),
        {.commandLog = log.c_str()});
    if (!server.error().empty()) {
        std::cerr << server.error() << '\n';
        return 1;
    }
    const std::string tree = server.hostPath("tree");
    mkdir(tree.c_str(), 0755);
    const std::string content = test_support::patternBytes(bytes);
    for (long folder = 0; folder < folders; ++folder) {
        const std::string path = tree + "/folder-" + std::to_string(folder);
        mkdir(path.c_str(), 0755);
        for (long file = folder; file < files; file += folders)
            test_support::writeFile(path + "/file-" + std::to_string(file), content);
    }
    std::cout << server.address() << ' ' << server.user() << ' ' << server.password() << ' '
              << server.remotePath("tree") << ' ' << tree << ' ' << log << std::endl;
    char ignored[64];
    while (read(0, ignored, sizeof ignored) > 0) {}
    return 0;
}
