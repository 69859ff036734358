// libFuzzer target for the listing parser: any bytes as one line. Sanitizers catch a
// read past the line; the checks below catch an entry that points outside it.
#include "ftp/listing_parser.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) return 0;
    const char* line = reinterpret_cast<const char*>(data);
    ftp::RemoteEntry entry;
    if (!ftp::parseListingLine(&entry, line, int(size))) return 0;
    const char* end = line + size;
    if (entry.name < line || entry.nameLength < 0 || entry.name + entry.nameLength > end) __builtin_trap();
    if (entry.idKind && (entry.id < line || entry.idLength < 0 || entry.id + entry.idLength > end)) __builtin_trap();
    return 0;
}
