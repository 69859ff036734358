// MLSD lines into fact lines.
#include "ftp/machine_listing.h"

#include "ftp/ftp_commands.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>

namespace ftp {

namespace {

bool sameWord(std::string_view text, std::string_view word) {
    return text.size() == word.size() && std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
           });
}

// A size fact: decimal digits only, within 63 bits.
std::optional<std::int64_t> parseSize(std::string_view text) {
    if (text.empty() || text.size() > 18) return std::nullopt;
    std::int64_t size = 0;
    for (const char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        size = size * 10 + (c - '0');
    }
    return size;
}

struct Facts {
    std::optional<std::string_view> type, size, modify, mode;
};

// "name=value;" repeated to the end; false for anything else or a fact given twice.
bool readFacts(std::string_view text, Facts& facts) {
    while (!text.empty()) {
        const auto end = text.find(';');
        if (end == std::string_view::npos) return false;
        const std::string_view fact = text.substr(0, end);
        text.remove_prefix(end + 1);
        const auto equals = fact.find('=');
        if (equals == 0 || equals == std::string_view::npos) return false;
        const std::string_view name = fact.substr(0, equals);
        std::optional<std::string_view>* slot = sameWord(name, "type")        ? &facts.type
                                                : sameWord(name, "size")      ? &facts.size
                                                : sameWord(name, "modify")    ? &facts.modify
                                                : sameWord(name, "unix.mode") ? &facts.mode
                                                                              : nullptr;
        if (!slot) continue;
        if (*slot) return false;
        *slot = fact.substr(equals + 1);
    }
    return true;
}

// The facts of an entry of type file or dir after the kind's own facts ("r," or "/,"),
// with its permission bits where unix.mode gives them; false when a size given is not
// exactly one.
bool addSizeAndTime(const Facts& facts, bool file, std::string& line) {
    if (file && facts.size) {
        const auto size = parseSize(*facts.size);
        if (!size) return false;
        line += "s" + std::to_string(*size) + ",";
    }
    // A time before 1970, or none that can be read, leaves the file to compare by size.
    if (const std::int64_t time = facts.modify ? parseTimeValue(*facts.modify) : -1; time >= 0) {
        line += "m" + std::to_string(time) + ",";
    }
    // Permission bits help no decision: one that cannot be read is left out.
    const bool octal = facts.mode && !facts.mode->empty() && facts.mode->size() <= 6 &&
                       std::all_of(facts.mode->begin(), facts.mode->end(), [](char c) { return c >= '0' && c <= '7'; });
    if (octal) line += "up" + std::string(facts.mode->substr(std::max<std::size_t>(facts.mode->size(), 3) - 3)) + ",";
    return true;
}

}  // namespace

std::string factLineFromMachineLine(std::string_view line) {
    if (line.ends_with("\r\n")) {
        line.remove_suffix(2);
    } else if (line.ends_with('\n')) {
        line.remove_suffix(1);
    }
    const auto space = line.find(' ');
    if (space == std::string_view::npos || space + 1 == line.size()) return {};
    const std::string_view name = line.substr(space + 1);
    // Written as it is, a line end would cut the name short, or make a second line.
    if (name.find_first_of("\r\n") != std::string_view::npos) return skippedFactLine(name);
    Facts facts;
    std::string kind = "+r,/,";  // a link, until the facts say otherwise
    if (readFacts(line.substr(0, space), facts) && facts.type) {
        if (sameWord(*facts.type, "cdir") || sameWord(*facts.type, "pdir")) return {};
        const bool file = sameWord(*facts.type, "file");
        if (file || sameWord(*facts.type, "dir")) {
            std::string exact = file ? "+r," : "+/,";
            if (addSizeAndTime(facts, file, exact)) kind = exact;
        }
    }
    return kind + "\t" + std::string(name) + "\n";
}

std::string skippedFactLine(std::string_view name) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string line = "+!,\t";
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || byte == '%') {
            line += {'%', digits[byte >> 4], digits[byte & 15]};
        } else {
            line += c;
        }
    }
    return line + "\n";
}

std::optional<std::string> nameOfSkippedLine(std::string_view line) {
    if (!line.starts_with("+!,\t")) return std::nullopt;
    line.remove_prefix(4);
    const auto value = [](char digit) {
        return std::isdigit(static_cast<unsigned char>(digit)) ? digit - '0' : digit - 'A' + 10;
    };
    std::string name;
    for (std::size_t at = 0; at < line.size(); ++at) {
        if (line[at] == '%' && at + 2 < line.size()) {
            name += static_cast<char>(value(line[at + 1]) * 16 + value(line[at + 2]));
            at += 2;
        } else {
            name += line[at];
        }
    }
    return name;
}

}  // namespace ftp
