// The single-instance rule: the first Farlink of a user holds an exclusive lock on a
// file in the folder of its settings; a second start finds the lock taken. The lock goes
// with the process, however it ends.
#pragma once

#include <string>

namespace app {

enum class InstanceLockResult {
    acquired,
    heldByAnother,  // another Farlink with these settings runs
    unavailable,    // the lock file cannot be made; run without the rule
};

// Takes the lock on `lockFile` (its folder is created if missing) and keeps it for the rest
// of the process. `descriptor` receives the open file on success.
InstanceLockResult acquireInstanceLock(const std::string& lockFile, int& descriptor);
// Gives the lock back (for tests; the program keeps it until it exits).
void releaseInstanceLock(int descriptor);

// The lock file beside the registry file.
std::string instanceLockFile(const std::string& registryFile);

}  // namespace app
