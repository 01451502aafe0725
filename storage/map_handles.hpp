// The Lisp side that the resource manager and the databases share: the
// entries of an open map (resources, records) held in handles, and the
// boxes that stand for them.
//
// An entry's handle holds its data when the entry is `loaded` and the
// handle is live and not purged; a changed entry's handle is never
// purgeable, since it holds the only copy. An entry is found again by its
// handle: a handle belongs to one entry of one open map at the most.
#pragma once
#include <cstdint>
#include <span>
#include <string>

#include "core/value.hpp"
#include "storage/fork.hpp"

namespace storage {

// Whether a purgeable handle has been emptied.
bool handle_purged(uint32_t h);
void mark_purgeable(uint32_t h, bool on);
// The bytes of a handle (empty for none).
std::span<const uint8_t> handle_bytes(uint32_t h);
// Whether the entry's handle holds its data.
bool has_data(const ForkRef& r);
// The data the entry's handle holds, for a write; false when it holds none.
bool data_in_handle(const ForkRef& r, std::span<const uint8_t>& out);

// The entry of a map whose handle is h: false when there is none.
bool find_handle_in(ForkMap& m, uint32_t h, ForkType*& type, size_t& index);
// Disposes of the handles of every entry, as its map is closed.
void dispose_handles(ForkMap& m);
// The entry lets go of its handle and data: the handle is disposed of and
// the box left empty.
void release_entry(ForkRef& r, core::Value box);
// The entry lets go of its handle, which lives on as a plain handle.
void detach_entry(ForkRef& r, core::Value box);

bool is_box(core::Value v, uint32_t kind);
void set_box_kind(core::Value box, uint32_t kind);
// A type code from the first four bytes of a text, padded with zero bytes,
// and back.
uint32_t type_arg(core::Value v);
core::Value type_value(uint32_t code);

}  // namespace storage
