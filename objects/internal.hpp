// Operations the object system's modules share (classes, slots, methods).
#pragma once
#include "objects/records.hpp"

namespace objects {

// ---- Tables (classes.cpp) ----------------------------------------------------------

// The table index of a symbol, given out from the system-wide counter the
// first time (error 2 with the symbol when the tables cannot grow further).
uint32_t ensure_index(Value sym);
// Stores an entry in a class's table, growing the table to index + 25
// entries when the index lies beyond it.
void table_store(Value cls, uint32_t index, Value v);
// Whether a class is the class k or has it among its ancestors.
bool descends(Value cls, Value k);
// The class of an object; error 2 with x when it is not one.
Value checked_class(Value x);
Value checked_object(Value x);
// Whether a class or instance inherits from the class named by `type` (a
// class name, or a class).
bool object_inherits(Value x, Value type);

// ---- Slots (slots.cpp) ----------------------------------------------------------------

// The slot handle for a name in a class's table, or nil.
Value find_handle(Value cls, Value name);
// The handle for a name in the current object's class; error 2 with the
// name when there is none (or no current object).
Value current_handle(Value name);
// Reading and assigning a slot by name in an object, as symbol lookup and
// assignment do (links resolved, typed stores).
Value read_slot_value(Value object, Value handle);
void assign_slot(Value object, Value handle, Value v);
// The initialisation value of a slot: its keyword twin's value in the
// first of the object's initialisation property lists that has it, or its
// initial value (the initform evaluated, or the default).
Value initialisation_value(Value object, Value handle);
// Declares the slots of `defslot` forms in the current object.
Value defslot(Value forms);
void register_slot_natives();

// ---- Methods (methods.cpp) -------------------------------------------------------------

// Prepares a name for a definition in an object (flag 1 for definitions and
// native methods, 0 for slots): gives it a table index and moves a
// single-owner definition into tables.
void prepare_name(Value object, Value sym, int flag);
// Defines a name in a class and pushes the definition down to the
// subclasses that did not define their own.
void define_in_class(Value cls, Value sym, Value v);
// Moves a single-owner name into the tables of its owner's tree.
void move_into_tables(Value sym);
void register_method_natives();

}  // namespace objects
