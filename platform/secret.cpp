#include "platform/secret.h"

#include <string.h>

namespace platform {

void wipe(void* bytes, std::size_t size) { explicit_bzero(bytes, size); }

void wipe(std::string& secret) {
    // Up to the capacity, so that bytes left behind by an earlier, longer text go too.
    secret.resize(secret.capacity());
    wipe(secret.data(), secret.size());
    secret.clear();
}

void wipe(std::u16string& secret) {
    secret.resize(secret.capacity());
    wipe(secret.data(), secret.size() * sizeof(char16_t));
    secret.clear();
}

}  // namespace platform
