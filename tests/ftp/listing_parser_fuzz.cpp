// libFuzzer target for the listing parser and the MLSD line reader: any bytes as one
// line. Sanitizers catch a read past the line; the checks below catch an entry that
// points outside it, and an MLSD line that became more than one fact line.
#include <cstddef>
#include <cstdint>
#include <string>

#include "ftp/listing_parser.h"
#include "ftp/machine_listing.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65536) return 0;
    const char* line = reinterpret_cast<const char*>(data);
    const std::string facts = ftp::factLineFromMachineLine(std::string_view(line, size));
    if (!facts.empty() && (facts.front() != '+' || facts.find('\n') != facts.size() - 1)) __builtin_trap();
    ftp::RemoteEntry entry;
    if (!ftp::parseListingLine(&entry, line, int(size))) return 0;
    const char* end = line + size;
    if (entry.name < line || entry.nameLength < 0 || entry.name + entry.nameLength > end) __builtin_trap();
    if (entry.idKind && (entry.id < line || entry.idLength < 0 || entry.id + entry.idLength > end)) __builtin_trap();
    return 0;
}
