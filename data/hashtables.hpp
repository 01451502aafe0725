// Hash tables and sets.
//
// A hash table maps symbols to values with no hashing at all: it is a node
// (header 0x1A) whose second word is the address of a native block of one
// word per symbol slot, and a symbol's entry is the word at its slot number.
// The end-of-arguments marker in a word means "no entry". The block lives in
// the address region and never moves; the collector marks every word of it
// and releases it with the node.
//
// Sets are plain lists. In deep mode two elements are the same when both
// are non-lists that are equal?, or both lists that include each other as
// sets, recursively; in flat mode when they are equal?.
#pragma once
#include <cstdint>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

// The words of a hash table (one per symbol slot); error 2 for anything
// that is not a table.
core::Value* hash_table_words(core::Value table);

// Whether x is the same as some element of the set, by the deep or flat rule.
bool set_member(core::Value x, core::Value set, bool flat);

extern const core::Module kHashTablesModule;
extern const core::Module kSetsModule;

}  // namespace data
