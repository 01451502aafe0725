// The list library: pairs and their accessors, construction, search with an
// optional key and test, association and property lists, sorting, grouping
// and destructive editing.
//
// Every primitive that walks a list to its end wants a proper one: a dotted
// end is error 2 with the list, and so is a circular list (the walk notices
// the cycle instead of looping). Primitives that only follow a known number of pairs, or
// that keep the final cdr (`last`, `last-pair`, `copy-list`, `append`'s last
// argument), accept a dotted end. Functions given as key, test or predicate
// may allocate, collect, throw or edit the list; the walks hold only Values,
// never node addresses, across those calls.
#pragma once
#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

// The number of pairs of a proper list; error 2 for a dotted or circular one.
uint32_t list_length(core::Value list);

// Whether a result counts as true for the library's predicates and tests:
// anything but nil and the no-value word.
constexpr bool true_value(core::Value v) { return !v.is_nil() && !v.is_no_value(); }

extern const core::Module kListsModule;

}  // namespace data
