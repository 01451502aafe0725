// Module descriptors: how a library module plugs into the Lisp machine.
//
// Each module exports one descriptor. A runtime is built from an ordered
// list of them: it makes every module's state first, then runs each
// module's installation in list order (the first registration of a name
// wins), marks each module's roots at every collection, and at an orderly
// shutdown runs the modules' shutdowns in reverse list order. A module keeps
// its mutable state and the Values it holds outside the Lisp zones in its
// own state object, reached through state_of; the core never names it.
#pragma once
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace core {

class Runtime;

// The mutable state of one module in one runtime.
class ModuleState {
 public:
  virtual ~ModuleState() = default;
};

struct Module {
  const char* name;
  // Builds the module's state; run for every module of the list before any
  // module installs. May be null.
  std::unique_ptr<ModuleState> (*make_state)(Runtime&) = nullptr;
  // Interns the module's Lisp names and installs its hooks. May be null.
  void (*install)(Runtime&) = nullptr;
  // Marks the Values the module holds outside the Lisp zones, with
  // core::mark_value. May be null.
  void (*mark_roots)(Runtime&) = nullptr;
  // Releases what the module holds open (files, databases, processes) at an
  // orderly shutdown. Runs once, with the runtime still whole. May be null.
  void (*shutdown)(Runtime&) = nullptr;
  // Where the module was found in the runtime's list last time: a hint
  // that makes state_of one comparison in the usual case.
  mutable size_t place = 0;
};

// A module as installed in a runtime.
struct InstalledModule {
  const Module* module;
  std::unique_ptr<ModuleState> state;
};

// The state `m` made in the current runtime, or null when the module is not
// installed there or has no state.
ModuleState* module_state(const Module& m);

template <class T>
T& state_of(const Module& m) {
  return static_cast<T&>(*module_state(m));
}

// True when `m` is installed in the current runtime.
bool module_installed(const Module& m);

// Makes the states of the modules, then installs them in order, into the
// current runtime.
void install_modules(Runtime& r, std::span<const Module* const> modules);

// Runs every installed module's shutdown once, in reverse list order. A
// second call does nothing.
void shutdown_modules(Runtime& r);

// The modules of the whole system in start-up order. The core does not
// know the modules above it: the program defines this list (app/modules.cpp;
// the core's own units define one of the core's modules alone).
std::span<const Module* const> default_modules();

}  // namespace core
