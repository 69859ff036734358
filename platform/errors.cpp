#include "platform/errors.h"

#include <cerrno>

namespace platform {
namespace {

thread_local std::uint32_t currentError = errorSuccess;

}  // namespace

std::uint32_t lastError() { return currentError; }

void setLastError(std::uint32_t code) { currentError = code; }

std::uint32_t errorFromErrno(int errnoValue) {
    switch (errnoValue) {
    case 0: return errorSuccess;
    case ENOENT: return errorFileNotFound;
    case ENOTDIR:
    case ELOOP: return errorPathNotFound;
    case EMFILE:
    case ENFILE: return errorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return errorAccessDenied;
    case EBADF: return errorInvalidHandle;
    case ENOMEM: return errorNotEnoughMemory;
    case EXDEV: return errorNotSameDevice;
    case EBUSY:
    case ETXTBSY: return errorSharingViolation;
    case EEXIST: return errorAlreadyExists;
    case EINVAL: return errorInvalidParameter;
    case ENOSPC:
    case EDQUOT: return errorDiskFull;
    case ENOTEMPTY: return errorDirectoryNotEmpty;
    case ENAMETOOLONG: return errorFilenameTooLong;
    default: return errorGeneric;
    }
}

}  // namespace platform
