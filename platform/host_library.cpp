#include "platform/host_library.hpp"

#include <dlfcn.h>

#include <vector>

namespace platform {

bool load_host_library(const char* soname, std::span<const HostSymbol> symbols, std::string* reason) {
  void* lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (lib == nullptr) {
    const char* why = dlerror();
    if (reason) *reason = why ? why : std::string("cannot load ") + soname;
    return false;
  }
  // Found first, filled after: a library missing one name fills nothing.
  std::vector<void*> found;
  found.reserve(symbols.size());
  for (const HostSymbol& s : symbols) {
    void* p = dlsym(lib, s.name);
    if (p == nullptr) {
      if (reason) *reason = std::string(soname) + " has no " + s.name;
      dlclose(lib);
      return false;
    }
    found.push_back(p);
  }
  for (size_t i = 0; i < symbols.size(); ++i) *symbols[i].address = found[i];
  return true;
}

}  // namespace platform
