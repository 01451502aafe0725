// Handles with given bytes and the bytes of a handle, for the tests of the
// resource manager and the databases.
#pragma once
#include <cstring>
#include <string>

#include "core/runtime.hpp"
#include "data/handles.hpp"

namespace core::testing {

// A new handle box holding the bytes.
inline Value handle_with(const std::string& bytes) {
  uint32_t h = data::new_handle(uint32_t(bytes.size()));
  if (!bytes.empty()) std::memcpy(rt().region.ptr(data::handle_memory(h)), bytes.data(), bytes.size());
  return data::box_handle(h);
}

// The bytes of the handle a box holds ("" for none).
inline std::string bytes_of(Value box) {
  uint32_t h = box_addr(box);
  if (!data::handle_live(h) || data::handle_size(h) == 0) return "";
  return std::string(reinterpret_cast<const char*>(rt().region.ptr(data::handle_memory(h))), data::handle_size(h));
}

}  // namespace core::testing
