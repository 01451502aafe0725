// The resource manager: the chain of open resource files, the current file,
// the search order, loading into handles, edits of the maps and their
// crash-safe writing, and the Lisp primitives over them.
//
// A resource in Lisp is a pointer box of sub-kind 3 whose address is the
// handle of its data; a lookup that finds nothing answers a box without a
// handle. A resource is found again by its handle.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/memory.hpp"
#include "core/module.hpp"
#include "core/value.hpp"

namespace storage {

constexpr uint32_t kResourceBox = core::kBoxResource;

extern const core::Module kResourcesModule;

// Native services for other modules.
// Opens by OS path: the reference number, or -1 with reserror set.
int open_resource_file(const std::string& path);
// Updates and closes: the reserror code.
int close_resource_file(int refnum);
// The reference number of the open resource file at that path (same file,
// any spelling), or 0.
int find_resource_file(const std::string& path);
// Raises the Lisp error of a non-zero resource code: the value reported is
// `value` when it is not no-value (file creation reports the pathname),
// else the table's own (the code itself for the catch-all error 36).
void raise_resource_error(int code, core::Value value);
// The last error code.
int resource_error();
// The data of the resource of that type and ID, searched from the current
// file down; false when there is none (or it cannot be read).
bool resource_bytes(uint32_t type, int32_t id, std::vector<uint8_t>& out);
// The resource of that type and ID, searched from the current file down,
// as `get-resource` answers it: a resource box, without a handle when there
// is none (reserror says why).
core::Value find_resource(uint32_t type, int32_t id);
// Releases a resource found so, as `release-resource` does.
void release_resource(core::Value res);
// The n-th string (from 1) of the "STR#" resource with that ID.
bool indexed_string(int32_t id, int32_t n, std::string& out);
// The "STR " resource with that ID.
bool string_resource(int32_t id, std::string& out);
// The n-th 8-byte pattern of the "PAT#" resource with that ID (ID 0: the
// built-in patterns 1, 4 and 20). Leaves out unchanged and answers false
// for an index it does not have.
bool pattern(int32_t id, int32_t n, uint8_t out[8]);

}  // namespace storage
