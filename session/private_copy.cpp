#include "session/private_copy.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/host_files.h"

namespace session {
namespace {

std::string systemText(const std::string& what, int error) { return what + ": " + std::strerror(error) + "\n"; }

// The last name of a server path; empty when it names no file ("/", "dir/.", "..").
std::string lastName(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    return name == "." || name == ".." ? std::string() : name;
}

// Reads until `buffer` is full or the file ends; the count, -1 on failure.
ssize_t readBlock(int fd, std::string& buffer) {
    std::size_t length = 0;
    while (length < buffer.size()) {
        const ssize_t got = read(fd, buffer.data() + length, buffer.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        length += std::size_t(got);
    }
    return ssize_t(length);
}

bool sameBytes(const std::string& one, const std::string& other) {
    const platform::Descriptor first(open(one.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    const platform::Descriptor second(open(other.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (first.fd < 0 || second.fd < 0) return false;
    std::string a(65536, '\0');
    std::string b(65536, '\0');
    for (;;) {
        const ssize_t gotA = readBlock(first.fd, a);
        const ssize_t gotB = readBlock(second.fd, b);
        if (gotA < 0 || gotA != gotB) return false;
        if (gotA == 0) return true;
        if (std::memcmp(a.data(), b.data(), std::size_t(gotA)) != 0) return false;
    }
}

}  // namespace

ServerFileFacts serverFileFacts(ServerSession& session, const std::string& path) {
    ServerFileFacts facts;
    facts.size = session.fileSize(path);
    facts.time = session.modificationTime(path);
    return facts;
}

int fetchPrivateCopy(ServerSession& session, const std::string& remotePath, const std::string& parent,
                     bool keepOriginal, PrivateCopy& copy, std::string& reason) {
    const std::string name = lastName(remotePath);
    if (name.empty()) {
        reason = "'" + remotePath + "' names no file.\n";
        return 0;
    }
    std::string folder = parent + "/farlink-edit-XXXXXX";
    if (!mkdtemp(folder.data())) {
        reason = systemText("No private folder could be made in " + parent, errno);
        return 0;
    }
    copy = PrivateCopy{};
    copy.remotePath = remotePath;
    copy.folder = folder;
    copy.path = folder + "/" + name;
    // The facts come first: a change after them makes the edit's check ask, never miss it.
    copy.facts = serverFileFacts(session, remotePath);
    if (!session.download(remotePath, {.file = {folder, name}, .expectedSize = copy.facts.size})) {
        reason = session.failureText();
        removePrivateCopy(copy);
        return 0;
    }
    if (keepOriginal) {
        // Longer than the name, so never the copy itself, and no editor's backup name.
        copy.original = folder + "/." + name + ".farlink-original";
        std::error_code error;
        std::filesystem::copy_file(copy.path, copy.original, error);
        if (error) {
            reason = "The downloaded file could not be kept aside: " + error.message() + "\n";
            removePrivateCopy(copy);
            return 0;
        }
    }
    return 1;
}

bool copyChanged(const PrivateCopy& copy) { return !sameBytes(copy.path, copy.original); }

SendBack sendBack(ServerSession& session, const PrivateCopy& copy, bool evenIfChanged, std::string& reason) {
    if (!evenIfChanged) {
        const ServerFileFacts now = serverFileFacts(session, copy.remotePath);
        // A connection lost on the way has said nothing of the file.
        if (!session.isOpen()) {
            reason = session.failureText();
            return SendBack::failed;
        }
        if (now != copy.facts) return SendBack::changedOnServer;
    }
    if (session.upload(platform::anchoredInFolder(copy.path), copy.remotePath)) return SendBack::sent;
    reason = session.failureText();
    return SendBack::failed;
}

std::string keepUserVersion(const PrivateCopy& copy, const std::string& folder, std::string& reason) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char stamp[32] = "";
    if (localtime_r(&now, &local)) std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H-%M", &local);
    const std::string kept = folder + "/" + lastName(copy.remotePath) + " (edited " + stamp + ")";
    for (int number = 1; number < 100; ++number) {
        const std::string target = number == 1 ? kept : kept + " (" + std::to_string(number) + ")";
        if (platform::renameWithoutReplacing(copy.path, target)) return target;
        if (errno == EEXIST) continue;
        if (errno != EXDEV) break;
        // Another file system: a copy, made only where no file is.
        std::error_code error;
        if (std::filesystem::copy_file(copy.path, target, error)) return target;
        if (error == std::errc::file_exists) continue;
        reason = "Your version could not be kept in " + folder + ": " + error.message() + "\n";
        return {};
    }
    reason = systemText("Your version could not be kept in " + folder, errno);
    return {};
}

void removePrivateCopy(PrivateCopy& copy) {
    if (copy.folder.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(copy.folder, ignored);
    copy.folder.clear();
}

}  // namespace session
