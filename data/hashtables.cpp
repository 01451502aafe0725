// The hash table primitives.
#include "data/hashtables.hpp"

#include "core/args.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace data {
using namespace core;

Value* hash_table_words(Value table) {
  return reinterpret_cast<Value*>(at_addr(node_of(arg_hash_table(table)).cdr));
}

namespace {

Value prim_new_hash() {
  uint32_t slots = rt().zones.symbol_slots;
  Addr block = rt().region.allocate(4 * slots);
  if (block == 0) error(Err::NativeMemory, kNil);
  Value* words = reinterpret_cast<Value*>(at_addr(block));
  for (uint32_t k = 0; k < slots; ++k) words[k] = kEndArgs;
  return alloc_node(Tag::HashTable, make_header(Header::HashTable, 0), block);
}

Value prim_hash_ref(Value table, Value key, Value fallback) {
  Value* words = hash_table_words(table);
  Value v = words[symbol_index(arg_symbol(key))];
  return v.is_end() ? fallback : v;
}

Value prim_hash_set_x(Value table, Value key, Value value) {
  Value* words = hash_table_words(table);
  words[symbol_index(arg_symbol(key))] = value;
  return kNoValue;
}

Value prim_for_each_hash(Value fn, Value table) {
  hash_table_words(table);
  uint32_t slots = rt().zones.symbol_slots;
  for (uint32_t k = 0; k < slots; ++k) {
    // The block never moves, but the function may change the table.
    Value v = hash_table_words(table)[k];
    if (!v.is_end()) call_by_name(fn, {symbol_at(k), v});
  }
  return kNoValue;
}

const NativeRow kHashTableNatives[] = {
    TV_PRIM("new-hash", prim_new_hash, "(new-hash) a new empty hash table keyed by symbols"),
    TV_PRIM("hash-ref", prim_hash_ref, "(hash-ref TABLE SYMBOL [DEFAULT]) the value of SYMBOL in TABLE; DEFAULT when it has none"),
    TV_PRIM("hash-set!", prim_hash_set_x, "(hash-set! TABLE SYMBOL VALUE) sets the value of SYMBOL in TABLE; no value"),
    TV_PRIM("for-each-hash", prim_for_each_hash, "(for-each-hash F TABLE) applies F to each symbol and value of TABLE, in symbol-table order; no value"),
};

}  // namespace

extern const core::Module kHashTablesModule{"hash-tables", nullptr, [](core::Runtime&) { register_natives(kHashTableNatives); }};

}  // namespace data
