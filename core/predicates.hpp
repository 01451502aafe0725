// Identity, equality and type predicates.
#pragma once
#include "core/module.hpp"
#include "core/value.hpp"

namespace core {

bool eqv(Value a, Value b);
bool equal(Value a, Value b);
// The type name symbol of a value; error 2 for tags without a name.
Value type_of(Value x);
// Whether x is of the type named by the symbol.
bool type_p(Value x, Value type);

extern const Module kPredicatesModule;

}  // namespace core
