// The object system: classes with copy-down inheritance over dense member
// tables, typed slots, instances, methods and message sending.
//
// Every class owns one member table indexed by a small number that each
// slot or method name receives once, system-wide; the table holds what the
// class understands, its ancestors' entries included, so that a message
// send is one override-list scan, one indexed read and one application.
// Definitions pay instead: each walks the subclass tree once.
//
// The current object (core::rt().current_object) changes only inside
// self frames, so after any send or object application it is what it was
// before, however control left.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/runtime.hpp"

namespace objects {

// ---- Classes and instances ---------------------------------------------------------

// A new class made as `new-class` does (or `new-mixin`, without the implicit
// root); supers is ended by the end-of-arguments marker.
core::Value make_class(core::Value name, const core::Value* supers, bool implicit_root);
// A new instance of a class, laying the class out first if needed.
core::Value make_instance(core::Value cls);
// A class's name, and whether it is a mixin (does not descend from the root).
core::Value class_name(core::Value cls);
bool is_mixin(core::Value cls);

// Defines a native class at start-up: name interned from the text, the
// given native constructor, superclasses a class, a list of classes or nil
// (the root class, except for the very first call). The name is assigned
// the class.
core::Value define_native_class(const char* name, core::NativeFn constructor, core::Value supers);
// Registers a native method of a fixed count (0 to 8) in a class; `doc` is
// its reference entry, "(NAME ARGS...) description" as for a native's row.
void register_native_method(core::Value cls, const char* name, core::NativeFn fn, uint32_t count,
                            const char* doc = nullptr);
// The reference entry of a native method: its class's name, the module that
// registered it, its name, argument count and entry (or null).
struct MethodDoc {
  std::string cls;
  std::string module;
  const char* name;
  uint32_t count;
  const char* doc;
};
// The entries of the native methods registered so far, in registration
// order; a method registered again (by a later runtime) keeps one entry.
const std::vector<MethodDoc>& native_method_docs();

// ---- Message sending ----------------------------------------------------------------

// The value of a symbol as seen from an object (no-value when it has none
// there, including a single-owner name seen from outside the owner's tree).
core::Value lookup_in(core::Value object, core::Value sym);
// Sends a message from native code: the function (or a message symbol
// looked up in the receiver) applied to the marker-ended arguments with the
// receiver current. A message the receiver does not understand answers
// no-value.
core::Value native_send(core::Value receiver, core::Value message, const core::Value* args);
// The same, but a non-local exit that reaches it is recorded as the pending
// exit (the first one stays) and the send answers no-value.
core::Value protected_send(core::Value receiver, core::Value message, const core::Value* args);
// The value of a symbol in another object.
core::Value with_object(core::Value object, core::Value sym);

// ---- The collector -----------------------------------------------------------------

// The collector's view of the object system. Marking takes the
// collector's marking of one Value; the module's root marking and the
// collector's record hook call these:
//   objects::mark_roots(r, core::mark_value);
//   r.mark_object_record = [](Value n) { objects::mark_record(n, core::mark_value); };
// The module's roots (the root class).
void mark_roots(core::Runtime& r, void (*mark)(core::Value));
// The Values held by the class, instance or slot descriptor record whose
// node is `node` (any tag; its payload is the node's offset): for an
// instance, its header words and the Value slots inside its own size.
void mark_record(core::Value node, void (*mark)(core::Value));
// The byte size of an instance record, read from the instance itself.
uint32_t instance_size(core::Value instance);

extern const core::Module kObjectsModule;

}  // namespace objects
