// Entries of open maps in handles, and their boxes.
#include "storage/map_handles.hpp"

#include <cstring>

#include "core/bytes.hpp"
#include "core/memory.hpp"
#include "core/runtime.hpp"
#include "data/handles.hpp"
#include "data/state.hpp"
#include "data/strings.hpp"

namespace storage {
using namespace core;

bool handle_purged(uint32_t h) {
  const data::HandleEntry* e = data::data_state().handles.find(h);
  return e && e->size == 0 && e->purgeable;
}

void mark_purgeable(uint32_t h, bool on) {
  if (data::HandleEntry* e = data::data_state().handles.find(h)) e->purgeable = on ? 1 : 0;
}

std::span<const uint8_t> handle_bytes(uint32_t h) {
  uint32_t n = data::handle_size(h);
  if (n == 0) return {};
  return {rt().region.ptr(data::handle_memory(h)), n};
}

bool has_data(const ForkRef& r) { return r.loaded && data::handle_live(r.handle) && !handle_purged(r.handle); }

bool data_in_handle(const ForkRef& r, std::span<const uint8_t>& out) {
  if (!has_data(r)) return false;
  out = handle_bytes(r.handle);
  return true;
}

bool find_handle_in(ForkMap& m, uint32_t h, ForkType*& type, size_t& index) {
  if (h == 0) return false;
  for (ForkType& t : m.types)
    for (size_t i = 0; i < t.refs.size(); ++i)
      if (t.refs[i].handle == h) {
        type = &t;
        index = i;
        return true;
      }
  return false;
}

void dispose_handles(ForkMap& m) {
  for (ForkType& t : m.types)
    for (ForkRef& r : t.refs)
      if (data::handle_live(r.handle)) data::dispose_handle(r.handle);
}

void release_entry(ForkRef& r, Value box) {
  data::dispose_handle(r.handle);
  r.handle = 0;
  r.loaded = false;
  node_of(box).cdr = 0;
}

void detach_entry(ForkRef& r, Value box) {
  r.handle = 0;
  r.loaded = false;
  set_box_kind(box, kBoxHandle);
}

bool is_box(Value v, uint32_t kind) { return v.is(Tag::Pointer) && box_kind(v) == kind; }

void set_box_kind(Value box, uint32_t kind) {
  Node& n = node_of(box);
  n.car = (n.car & 0xC0000000u) | make_header(Header::Pointer, kind);
}

uint32_t type_arg(Value v) {
  std::string s = data::text_of(v);
  s.resize(4, '\0');
  return load_be32(reinterpret_cast<const uint8_t*>(s.data()));
}

Value type_value(uint32_t code) {
  std::string s = fourcc_text(code);
  return make_string(s.data(), 4);
}

}  // namespace storage
