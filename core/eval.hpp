// The evaluator's entry points for native code.
//
// eval turns a form into a value; apply hands a function value and its
// arguments, in one of three modes, to the handler chosen by the function's
// tag. Lexical variables are read from their slots by (levels up, index);
// symbols are read from their record, or from the current object when there
// is one.
#pragma once
#include <initializer_list>

#include "core/frames.hpp"
#include "core/symbols.hpp"

namespace core {

// How a handler receives its arguments.
enum class Mode : int {
  Values = 0,  // a list of values, not to be evaluated (apply)
  Forms = 1,   // the list of argument forms of a call
  Vector = 2,  // a native vector of values ended by the end-of-arguments marker
};

// Evaluates a form in the current environment.
Value eval(Value form);
// Evaluates the forms of a list in order: the value of the last, no-value
// when the list is empty.
Value eval_body(Value forms);
// The handler table: applies a function value. `list` carries the arguments
// in modes 0 and 1, `vec` in mode 2; origin is the call form in mode 1, the
// name the function was called by (or nil) otherwise.
Value apply(Value fn, Value list, const Value* vec, Mode mode, Value origin);
// Applies a function value to a list of values (mode 0).
Value apply_list(Value fn, Value args);
// Applies a function value to a vector of values ended by the
// end-of-arguments marker (mode 2); origin names it for errors.
Value apply_vector(Value fn, const Value* args, Value origin = kNil);
// Call by name: a symbol is replaced by its value as seen from the current
// object, then the function is applied to the values (mode 2).
Value call_by_name(Value fn_or_symbol, std::initializer_list<Value> args);

// A symbol's value as seen from the current object (no-value when unbound),
// and assignment the same way.
// Outside objects a name defined by a single class (its owner) is unbound:
// only that class's descendants see it. Inside objects, a name that the
// object system has never indexed or owned (most global functions and
// variables) is global too, unless overrides are in use (EvalHooks).
inline bool plain_name(const SymbolRecord& rec) { return rec.slot == 0xFFFF && rec.owner == 0; }
inline Value lookup(Value sym) {
  Runtime& r = rt();
  const SymbolRecord& rec = record(sym);
  if (r.current_object == kNoObject || !r.hooks.lookup || (plain_name(rec) && !r.hooks.overrides_used))
      [[likely]] {
    if (word_tag(rec.owner) == unsigned(Tag::Class)) [[unlikely]]
      return kNoValue;
    return Value(rec.value);
  }
  return r.hooks.lookup(r.current_object, sym);
}
inline void assign(Value sym, Value v) {
  Runtime& r = rt();
  if (r.current_object == kNoObject || !r.hooks.assign || record(sym).slot == 0xFFFF) [[likely]]
    return set_symbol_value(sym, v);
  r.hooks.assign(r.current_object, sym, v);
}

// The slot of a variable in the current environment, or null when the
// variable has none there (top level, or a code past the frame's slots).
Value* variable_slot(Value var);
// Reads a variable: error 6 when it has no slot or its slot is unbound.
Value read_variable(Value var);

// Turns a `lambda`, `syntax`, `gamma` or `syntax-gamma` form into a
// function value, resolving its variables to slots.
Value make_function(Value form);

// Evaluates a form read at top level (the prompt, a loaded text): one that
// uses lexical variables runs as the body of a function made for it and
// called at once, so that its `let`, `with` and `bind` variables are that
// function's locals; any other form is evaluated as eval does.
Value eval_top_form(Value form);

// Evaluates a form as the toplevel loop does, inside a catch of `toplevel`:
// true with the value, or false when the form was left by a throw to
// `toplevel` (an error's, after its report). Other exits pass.
bool eval_toplevel(Value form, Value* result);

// The implicit poll: at most every 100 ms, and only while no event is being
// dispatched, lets the event loop process what is pending.
void poll_slow();
inline void implicit_poll() {
  Runtime& r = rt();
  if (r.poll_countdown-- == 0) [[unlikely]]
    poll_slow();
}
extern const Module kEvalModule;

}  // namespace core
