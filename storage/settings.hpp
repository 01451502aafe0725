// The settings file "TALVEN.INI" and atomic file replacement.
//
// The settings file lives in the configuration folder,
// $XDG_CONFIG_HOME/talven (by default ~/.config/talven), which is also the
// runtime's system directory and preference folder. It is an INI file of
// sections ("[QZ]") and "key=value" lines; sections and keys are matched
// without regard to case, values are kept as written (UTF-8). It is read
// afresh at every query, so that two running instances see each other's
// writes, and replaced atomically at every write: the new contents go to a
// temporary file in the same folder, which is synced and renamed over the
// old one, so a crash leaves either the old file or the new one.
#pragma once
#include <string>
#include <string_view>

namespace storage {

// The configuration folder (POSIX path), created with mode 0700 when
// `create` is true and it is missing; empty when no home can be found.
std::string config_dir(bool create = false);
// The POSIX path of the settings file (whether or not it exists).
std::string settings_path();

// The value of a key; false when the file, the section or the key is
// missing.
bool settings_read(std::string_view section, std::string_view key, std::string& value);
// The whole settings file (empty when it is missing), for callers that
// look up many keys: each settings_read reads the file again.
std::string settings_text();
// Sets a key, adding the section and the key as needed; false (nothing
// changed) when the file cannot be written, or when the section, key or
// value would not stay one line (a line break, a key with "=", a section
// with "]").
bool settings_write(std::string_view section, std::string_view key, std::string_view value);

// The same on the text of a settings file: the lookup, and the text with
// the key set (which must pass the checks above).
bool settings_lookup(std::string_view contents, std::string_view section, std::string_view key, std::string& value);
std::string settings_update(std::string_view contents, std::string_view section, std::string_view key,
                            std::string_view value);
// Whether a section, key and value can be written.
bool settings_writable(std::string_view section, std::string_view key, std::string_view value);

// Replaces the file at `path` with `bytes` through a temporary file in the
// same folder and a rename; the file gets `mode` when new, else keeps the
// old file's permissions. False, with errno, when anything failed, in which
// case the old file is untouched and no temporary file is left.
bool replace_file_atomically(const std::string& path, std::string_view bytes, unsigned mode = 0644);
// Reads the whole file at `path` into `bytes`: false, with errno, when it
// cannot be opened or read. Plain system calls: no C++ stream, whose first
// use sets up the library's locales (a cost every start-up would pay).
bool read_whole_file(const std::string& path, std::string& bytes);

}  // namespace storage
