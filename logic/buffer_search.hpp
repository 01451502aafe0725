// Search of text held in native memory buffers: several patterns at once,
// forward or backward, optionally ignoring case and optionally as whole
// words, and the search for the first byte outside ASCII.
//
// A buffer is a pointer value and byte offsets. Every offset is checked
// against the native block the pointer lies in. Buffer bytes never move,
// but Lisp code (the boundary predicate) may resize or dispose the block,
// so the search derives and checks the buffer's address again after every
// call into Lisp. Each search keeps its own state: a boundary predicate may
// start another search.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/value.hpp"

namespace logic {

// The bytes [p, p + n) of a buffer argument (any pointer box but a handle),
// checked to lie in one live native block; error 2 with the value
// otherwise. With n = 0 only the argument's type is checked.
const uint8_t* buffer_bytes(core::Value buffer, uint32_t n);

// A search request in native terms, for the primitive and for tests.
struct BufferSearch {
  std::vector<std::string> patterns;  // in list order, none empty
  bool backward = false;
  bool ignore_case = false;
};

// Horspool's shift table and the buckets of the patterns by their key
// character, built from the patterns' shortest length m. Bucket c holds
// the pattern indexes members[start[c]] .. members[start[c + 1] - 1], the
// last of the list first.
struct SearchTables {
  uint32_t m = 0;
  uint32_t shift[256] = {};
  uint32_t start[257] = {};
  std::vector<uint32_t> members;
};
void prepare_search(const BufferSearch& search, SearchTables* tables);

void register_buffer_search_natives();

}  // namespace logic
