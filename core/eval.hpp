// The evaluator's entry points for native code.
#pragma once
#include <initializer_list>

#include "core/value.hpp"

namespace core {

// Evaluates a form in the current environment.
Value eval(Value form);
// Applies a function value to a list of values (argument mode 0).
Value apply_list(Value fn, Value args);
// Applies a function value to a vector of values ended by the
// end-of-arguments marker (argument mode 2); origin names it for errors.
Value apply_vector(Value fn, Value* args, Value origin = Value());
// Call by name: a symbol is replaced by its value as seen from the current
// object, then the function is applied to the values (mode 2).
Value call_by_name(Value fn_or_symbol, std::initializer_list<Value> args);

void register_eval_natives();

}  // namespace core
