// Pathnames: the Lisp notation and the one boundary between it and POSIX.
//
// Lisp code names files in the backslash notation: a pathname is a string,
// a symbol standing for its value, nil, or a list of pathnames, joined with
// backslashes into a text such as "C:\dir\f.txt" (code page 1252). Only this
// module turns such a text into a POSIX path and back:
//
//  - a drive letter maps through the drive table ("Z:" the POSIX root and
//    "C:" the user's home by default; the settings file's section "Drives"
//    changes it, as in "D=/media/cdrom");
//  - a text that starts with a separator is rooted at the POSIX root, any
//    other without a drive is relative to the working directory; both
//    backslash and slash separate components;
//  - names are code page 1252 in Lisp and UTF-8 on disk; an on-disk name
//    that is not valid UTF-8, or has a character outside code page 1252,
//    keeps its bytes;
//  - a path that does not exist as written is resolved component by
//    component without regard to case; the part that misses keeps the case
//    it was given, so a created file is named as the application wrote it.
//
// In the other direction a POSIX path is named from the drive whose root is
// its longest prefix ("/opt/app/x" is "Z:\opt\app\x").
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "core/value.hpp"

namespace storage {

// The longest text a pathname converts to.
constexpr size_t kMaxPathText = 255;

// The backslash text of a pathname (talven->os). Error 6 for an unbound
// symbol, error 2 for any other value that is not a pathname, for nesting
// too deep or a cycle, and for a result longer than 255 characters.
std::string pathname_text(core::Value pathname);

// Splits a text into its components (os->talven): a backslash text by the
// notation's rules, keeping a leading separator as an empty first component;
// a POSIX absolute path (starting with "/") through the drive table.
std::vector<std::string> split_path_text(std::string_view text);
// The same as a Lisp list of strings.
core::Value path_text_list(std::string_view text);

// The POSIX path (UTF-8) of a backslash text, resolved without regard to
// case when it does not exist as written.
std::string posix_path(std::string_view text);
// The same without the case-insensitive resolution.
std::string posix_path_as_written(std::string_view text);
// The POSIX path of a Lisp pathname.
std::string posix_of(core::Value pathname);
// The backslash text (code page 1252) that names a POSIX path.
std::string text_of_posix(std::string_view posix);

// Code page 1252 and UTF-8 for file names: a name converts to UTF-8 byte by
// byte; a UTF-8 name converts back only when it is valid UTF-8 and every
// character has a code page 1252 code, else its bytes are kept.
std::string name_to_utf8(std::string_view cp1252);
std::string name_from_utf8(std::string_view utf8);

// The drive table: the POSIX root of a drive letter ('A' to 'Z'), empty
// when the letter is not mapped.
std::string drive_root(char letter);
void set_drive_root(char letter, std::string root);
// Reads the drive table from the settings file (after the defaults).
void load_drive_table();

// The directory of the running executable, as a backslash text.
std::string executable_dir_text();

}  // namespace storage
