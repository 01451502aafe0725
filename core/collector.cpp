// The collector. Until marking exists a collection reclaims nothing: the
// allocators then fall back to growth and to the out-of-memory alert.
#include "core/memory.hpp"

namespace core {

void collect() { ++rt().zones.collections; }

}  // namespace core
