// The platform's last error: one code per thread, set by every failing call of the
// host layer and read by the views to describe the failure.
#pragma once

#include <cstdint>

namespace platform {

enum ErrorCode : std::uint32_t {
    errorSuccess = 0,
    errorFileNotFound = 2,
    errorPathNotFound = 3,
    errorTooManyOpenFiles = 4,
    errorAccessDenied = 5,
    errorInvalidHandle = 6,
    errorNotEnoughMemory = 8,
    errorOutOfMemory = 14,
    errorNotSameDevice = 17,
    errorNoMoreFiles = 18,
    errorSharingViolation = 32,
    errorFileExists = 80,
    errorInvalidParameter = 87,
    errorDiskFull = 112,
    errorInvalidName = 123,
    errorDirectoryNotEmpty = 145,
    errorAlreadyExists = 183,
    errorFilenameTooLong = 206,
    errorCancelled = 1223,  // the thread was asked to stop
    errorMoreData = 234,
    errorNotOwner = 288,  // a mutex released by a thread that does not own it
    errorGeneric = 1359,  // an internal error with no closer code
};

std::uint32_t lastError();              // of the calling thread
void setLastError(std::uint32_t code);  // of the calling thread

// The code that stands for a host errno value. ENOENT gives errorFileNotFound and
// EEXIST errorAlreadyExists; callers that know better (a missing folder, a copy's
// existing target) refine them.
std::uint32_t errorFromErrno(int errnoValue);

}  // namespace platform
