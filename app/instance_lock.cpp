#include "app/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace app {

InstanceLockResult acquireInstanceLock(const std::string& lockFile, int& descriptor) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(lockFile).parent_path(), ignored);
    const int file = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) return InstanceLockResult::unavailable;
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(file);
        return held ? InstanceLockResult::heldByAnother : InstanceLockResult::unavailable;
    }
    descriptor = file;
    return InstanceLockResult::acquired;
}

void releaseInstanceLock(int descriptor) {
    if (descriptor >= 0) close(descriptor);
}

std::string instanceLockFile(const std::string& registryFile) {
    return (std::filesystem::path(registryFile).parent_path() / "farlink.lock").string();
}

}  // namespace app
