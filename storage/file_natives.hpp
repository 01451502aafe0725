// What the file modules share among themselves: the primitives that live in
// the dialog and desktop modules, and helpers of the file primitives.
#pragma once
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "core/value.hpp"
#include "storage/files.hpp"

namespace storage {

core::Value boolean(bool b);
// stat of the file a pathname names.
bool stat_pathname(core::Value pathname, struct stat& st);
// Whether the runtime has that file open (any use).
bool open_by_runtime(const struct stat& st);
// The type a plain file gets from its extension.
std::string type_from_extension(std::string_view name);

// The per-user temporary folder ($TMPDIR or /tmp, "talven-UID", mode 0700),
// created when missing; empty when it cannot be made safe.
std::string temp_dir();
// Takes this instance's shared lock on the temporary folder; the first
// instance to find no other one removes the leftovers.
void hold_instance_lock();
// Removes the "talven*.tmp" files of a folder that no one holds locked.
void remove_temp_leftovers(const std::string& dir);
// An empty resource file with its type and creator, opened with `mode`
// (CreateNew refuses a file that exists); false with errno.
bool write_empty_resource_file(const std::string& path, std::string_view creator, std::string_view type,
                               OpenMode mode);

// Dialogs (storage/dialogs.cpp).
core::Value prim_talven_choose_file(core::Value callback, core::Value types, core::Value, core::Value,
                                    core::Value title, core::Value descriptions, core::Value patterns, core::Value);
core::Value prim_talven_choose_new_file(core::Value callback, core::Value title, core::Value default_name,
                                        core::Value descriptions, core::Value patterns);
core::Value prim_talven_choose_directory(core::Value callback);
core::Value prim_set_open_directory(core::Value pathname);

// Program groups and shortcuts (storage/desktop.cpp).
core::Value prim_add_program_group(core::Value name);
core::Value prim_add_program_item(core::Value target, core::Value group, core::Value name);

}  // namespace storage
