// MLSD (RFC 3659) lines turned into the fact lines the listing parser reads exactly,
// as the SFTP engine writes its listings:
//   type=file;size=4096;modify=20240102030405.123;perm=r; notes.txt
//     -> "+r,s4096,m1704164645,\tnotes.txt\n"
//   type=dir;modify=20240102030405; photos  -> "+/,m1704164645,\tphotos\n"
//   type=OS.unix=symlink;modify=...; latest -> "+r,/,\tlatest\n" (a link: nothing walks
//     into it or copies it)
//   type=cdir; /home/user                   -> left out
#pragma once

#include <string>
#include <string_view>

namespace ftp {

// One MLSD line (its CR LF or LF may be there) as a fact line ending in LF, or empty for
// a line left out: "." and ".." (cdir, pdir), a line without a name, and one with a line
// end inside (what follows it would read as another entry). A type other
// than file or dir, and facts that cannot be read exactly (no type, a fact without '='
// or ';', a fact given twice, a size or time that is not exactly one), make a link, so
// that the name is listed and nothing acts on it. The name is the bytes after the
// first space, as they are: the reader of the listing judges whether it is usable.
std::string factLineFromMachineLine(std::string_view line);

}  // namespace ftp
