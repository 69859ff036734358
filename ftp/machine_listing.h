// MLSD (RFC 3659) lines turned into the fact lines the listing parser reads exactly,
// as the SFTP engine writes its listings:
//   type=file;size=4096;modify=20240102030405.123;perm=r; notes.txt
//     -> "+r,s4096,m1704164645,\tnotes.txt\n"
//   type=dir;modify=20240102030405; photos  -> "+/,m1704164645,\tphotos\n"
//   type=OS.unix=symlink;modify=...; latest -> "+r,/,\tlatest\n" (a link: nothing walks
//     into it or copies it)
//   type=cdir; /home/user                   -> left out
//   type=file;size=2; cr\r                   -> "+!,\tcr%0D\n" (a name left alone, see below)
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ftp {

// One MLSD line (its CR LF or LF may be there) as a fact line ending in LF, or empty for
// a line left out: "." and ".." (cdir, pdir), and a line without a name. A name with a
// line end in it becomes a skipped line, never a name cut short. A type other than file
// or dir, and facts that cannot be read exactly (no type, a fact without '=' or ';', a
// fact given twice, a size that is not exactly one), make a link, so that the name is
// listed and nothing acts on it; a time that cannot be read, or one before 1970, is
// left out (the time is unknown). The name is the bytes after the first space, as they
// are: the reader of the listing judges whether it is usable.
std::string factLineFromMachineLine(std::string_view line);

// A skipped line, "+!,\tNAME\n": an entry a listing names but that nothing may act on
// (its name cannot stand for one entry, see platform::unusableName), written so that
// the name stays whole in one line: '%' and the control bytes as "%XX". The listing
// parser reads it as no entry, so browsing never shows it; a synchronisation reads it
// with nameOfSkippedLine and leaves the name alone on both sides.
std::string skippedFactLine(std::string_view name);
// The name of a skipped line (without its LF), or none for any other line.
std::optional<std::string> nameOfSkippedLine(std::string_view line);

}  // namespace ftp
