// Host libraries loaded when they are first needed.
//
// Start-up pays for every library the executable names: the loader maps it,
// resolves its symbols and runs its constructors. The libraries only some
// runs need (the desktop's, the rasterizer's regions, PNG files, the line
// editor) are therefore not named by the executable: the code that needs one
// loads it here on first use and calls it through pointers it finds by name.
#pragma once
#include <span>
#include <string>

namespace platform {

// One function to find: its name in the library and where its address goes.
struct HostSymbol {
  const char* name;
  void** address;
};

// Loads `soname` and fills the address of every symbol: true when the
// library and all of them were found; otherwise false with the reason in
// *reason, and no address is filled. A loaded library stays loaded to the
// end of the process (its threads and handlers may outlive their user).
bool load_host_library(const char* soname, std::span<const HostSymbol> symbols, std::string* reason);

// A symbol entry for the function pointer `field`, found under `name`.
template <typename F>
HostSymbol host_symbol(const char* name, F*& field) {
  return HostSymbol{name, reinterpret_cast<void**>(&field)};
}

}  // namespace platform
