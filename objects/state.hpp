// The object system's state, one per runtime: the state of kObjectsModule.
//
// Symbols never move and are never freed, so they are kept here as plain
// words; the only Value that needs the collector's attention is the root
// class, marked through the module's roots.
#pragma once
#include <cstdint>

#include "core/module.hpp"
#include "core/value.hpp"

namespace objects {

// Symbols this module names: field, text, initial value (U unbound, T the
// symbol t, N nil, K the keyword itself).
#define TALVEN_OBJECT_SYMBOLS(X)                                                      \
  X(superclass, "superclass", U) X(find_link, "find-link", U)                        \
  X(auto_initialize_p, "auto-initialize?", U) X(configuration, "configuration", U)    \
  X(config_pathname, "config-pathname", U) X(close, "close", U)                      \
  X(initialize, "initialize", U) X(invalidate, "invalidate", U)                      \
  X(boolean, "boolean", U) X(byte, "byte", U) X(word, "word", U)                     \
  X(obj_root, "obj-root", U) X(System_p, "System?", T)                               \
  X(System_Classes, "System-Classes", N) X(Load_File, "Load-File", U)                \
  X(obj_persistence, "obj-persistence", U)                                           \
  X(k_default, ":default", K) X(k_initform, ":initform", K)                          \
  X(k_initialize_p, ":initialize?", K) X(k_linker, ":linker", K)                     \
  X(k_type, ":type", K) X(k_reader, ":reader", K) X(k_writer, ":writer", K)          \
  X(k_chooser, ":chooser", K) X(k_info, ":info", K) X(k_allocate_p, ":allocate?", K) \
  X(k_link_p, ":link?", K) X(k_list_p, ":list?", K) X(k_editable_p, ":editable?", K) \
  X(k_invalidate_p, ":invalidate?", K) X(k_write, ":write", K)

struct ObjectSymbols {
#define TALVEN_X(field, text, init) core::Value field;
  TALVEN_OBJECT_SYMBOLS(TALVEN_X)
#undef TALVEN_X
};

// The constructor list of an opened object (configurations, whose second
// elements are property lists), for the slot initialisers: installed by the
// configurations module; null until then.
using InitListsFn = core::Value (*)(core::Value object);

struct ObjectState : core::ModuleState {
  uint32_t table_size = 0;        // the next table index to give out
  bool no_implicit_root = true;   // one-shot: the first native class gets no root
  bool unite_skip_check = true;   // one-shot: the first unite-class checks nothing
  core::Value root = core::kNoObject;  // the obj-root class
  InitListsFn init_lists = nullptr;
  ObjectSymbols sym;
};

// The object system module; its state is the ObjectState.
extern const core::Module kObjectsModule;

}  // namespace objects
