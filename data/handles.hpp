// Handles and pointers: relocatable native blocks named by an index into the
// handle table, which are locked to get an address and may be purged, and
// fixed pointer blocks. All of them live in the address region, so that
// addresses fit a 32-bit word and raw access from Lisp can be checked.
//
// A handle is an id of the handle table (core/native_table.hpp): a box
// kept after its handle is disposed is refused, even once the table has
// handed the slot to a new handle; id 0 is no handle. A pointer block is a
// handle of size + 4 locked for good, whose first four bytes hold the
// handle id.
#pragma once
#include <cstdint>

#include "core/memory.hpp"

namespace data {

// The data modules' names of the pointer-box kinds they make (core/memory.hpp
// lists every kind).
constexpr uint32_t kPlainPointer = core::kBoxPlain;
constexpr uint32_t kMemoryPointer = core::kBoxMemory;
constexpr uint32_t kHandleBox = core::kBoxHandle;

// A new handle of n bytes (zeroed), or 0 when memory is short.
uint32_t new_handle(uint32_t n);
// Whether h names a live entry.
bool handle_live(uint32_t h);
void dispose_handle(uint32_t h);
// Resizes; false when memory ran out (the handle keeps its old block).
bool set_handle_size(uint32_t h, uint32_t n);
uint32_t handle_size(uint32_t h);
// The block of a handle, 0 when it is empty.
core::Addr handle_memory(uint32_t h);
// Locks a handle and answers its address; error 60 when it has no data.
core::Addr lock_handle(uint32_t h);
void unlock_handle(uint32_t h);
// Bytes that may still be given to new blocks.
uint64_t space_available();

// A new pointer block of n bytes; error 9 when memory is short.
core::Addr new_pointer(uint32_t n);
// The handle behind a pointer block, 0 when p is not one.
uint32_t pointer_handle(core::Addr p);
void dispose_pointer(core::Addr p);

// The bytes [a, a + n) when they lie inside one live native block of the
// region, whoever owns it; error 2 with the culprit otherwise. For the
// runtime's own reading (a loaded text); raw access from Lisp goes through
// the two below.
uint8_t* checked_bytes(core::Value culprit, core::Addr a, uint32_t n);
// Raw access from Lisp. Reading: inside the block of a handle or pointer,
// or inside the Lisp block (its zones). Writing: only inside the block of a
// handle or pointer; the Lisp block, symbol names, loaded text and every
// other block the runtime owns are error 2 with the culprit.
const uint8_t* readable_bytes(core::Value culprit, core::Addr a, uint32_t n);
uint8_t* writable_bytes(core::Value culprit, core::Addr a, uint32_t n);

// Boxes and their contents.
core::Value box_handle(uint32_t h);
core::Value box_pointer(core::Addr p);
// The handle of a handle box (error 2 for anything else, or a disposed one).
uint32_t handle_arg(core::Value box);
// The address held by any pointer box (error 2 for anything else).
core::Addr address_arg(core::Value box);
// The block of a memory pointer box (error 2 otherwise).
core::Addr pointer_arg(core::Value box);

// Frees every block at the end of a runtime.
void release_all_handles();

extern const core::Module kHandlesModule;

}  // namespace data
