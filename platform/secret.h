// Passwords and passphrases, wiped once used: memory given back to the allocator keeps
// what was written in it, and a later core, swap page or heap read would show it.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// Overwrites `size` bytes at `bytes` with zeros, in a way the compiler may not leave out.
void wipe(void* bytes, std::size_t size);
// Overwrites the whole buffer of `secret` (what lay beyond its end too) and empties it.
void wipe(std::string& secret);
void wipe(std::u16string& secret);

}  // namespace platform
