#include "app/instance_lock.h"

#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace app {

InstanceLockResult acquireInstanceLock(const std::string& lockFile, int& descriptor) {
    platform::createPrivateFolders(std::filesystem::path(lockFile).parent_path());
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
