#include "core/predicates.hpp"

#include <cstring>

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace core {

namespace {
inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }

uint16_t vector_count(Value v) {
  uint16_t n;
  std::memcpy(&n, indirect_bytes(v), 2);
  return n;
}
uint32_t vector_word(Value v, uint32_t i) {
  uint32_t w;
  std::memcpy(&w, indirect_bytes(v) + 2 + 4 * i, 4);
  return w;
}
// An array block: 16-bit element count, 16-bit dimension count, ...
uint16_t array_count(Value v) { return vector_count(v); }

// Two words that name texts for equal?: a string or a symbol.
const char* text_of(Value v) {
  if (v.is(Tag::String)) return string_text(v);
  if (v.is_symbol()) return symbol_text(v);
  return nullptr;
}
}  // namespace

bool eqv(Value a, Value b) {
  if (a == b) return true;
  if (a.is(Tag::Real) && b.is(Tag::Real)) return real_value(a) == real_value(b);
  if (a.is(Tag::Vector) && b.is(Tag::Vector)) return vector_count(a) == 0 && vector_count(b) == 0;
  if (a.is(Tag::Array) && b.is(Tag::Array)) return array_count(a) == 0 && array_count(b) == 0;
  return false;
}

bool equal(Value a, Value b) {
  check_native_stack();
  // Iterates along cdrs; recursion only along cars, bounded by the native
  // stack check above.
  for (;;) {
    if (a == b) return true;
    switch (a.tag()) {
      case Tag::Pair:
        if (a.is_nil() || !b.is_pair()) return false;
        if (!equal(car(a), car(b))) return false;
        a = cdr(a);
        b = cdr(b);
        continue;
      case Tag::Fixnum:
        return b.is(Tag::Real) && double(a.fixnum()) == real_value(b);
      case Tag::Real:
        if (b.is(Tag::Real)) return real_value(a) == real_value(b);
        return b.is_fixnum() && real_value(a) == double(b.fixnum());
      case Tag::Long:
        return b.is(Tag::Long) && long_value(a) == long_value(b);
      case Tag::Pointer:
        return b.is(Tag::Pointer) && box_addr(a) == box_addr(b);
      case Tag::Variable:
        return b.is(Tag::Variable) && node_of(a).cdr == node_of(b).cdr;
      case Tag::Vector: {
        if (!b.is(Tag::Vector)) return false;
        uint16_t n = vector_count(a);
        if (n != vector_count(b)) return false;
        for (uint32_t i = 0; i < n; ++i)
          if (vector_word(a, i) != vector_word(b, i)) return false;
        return true;
      }
      case Tag::Symbol:
      case Tag::String: {
        if (a.is_symbol() && b.is_symbol()) return false;
        const char* x = text_of(a);
        const char* y = text_of(b);
        return y != nullptr && std::strcmp(x, y) == 0;
      }
      default:
        return false;
    }
  }
}

Value type_of(Value x) {
  const WellKnown& s = rt().sym;
  unsigned t = x.tag_number();
  if (is_syntax_word_tag(t)) return s.keyword;
  switch (x.tag()) {
    case Tag::Address: return s.address;
    case Tag::Fixnum: return s.integer;
    case Tag::Real: return s.real;
    case Tag::Variable: return s.variable;
    case Tag::NoValue: return s.no_value;
    case Tag::Vector: return s.vector;
    case Tag::String: return s.string;
    case Tag::Symbol: return s.symbol;
    case Tag::Syntax: return s.syntax;
    case Tag::Lambda: return s.function;
    case Tag::Primitive: return s.primitive;
    case Tag::Special: return s.special;
    case Tag::Predicate: return s.predicate;
    case Tag::HashTable: return s.hash_table;
    case Tag::Lexical: return s.lexical;
    case Tag::Gamma: return s.gamma;
    case Tag::Long: return s.long_;
    case Tag::Pointer: return s.pointer;
    case Tag::Closed: return s.closed;
    case Tag::SyntaxGamma: return s.syntax_gamma;
    case Tag::ClosedSyntax: return s.closed_syntax;
    case Tag::Pair: return s.list;
    case Tag::Class:
      // The no-object word names itself; classes and instances answer
      // their class.
      if (x == kNoObject) return x;
      [[fallthrough]];
    case Tag::Instance:
      if (rt().hooks.class_of) return rt().hooks.class_of(x);
      break;
    default: break;
  }
  error(Err::WrongType, x);
}

bool type_p(Value x, Value type) {
  const WellKnown& s = rt().sym;
  bool object = (x.is(Tag::Class) && x != kNoObject) || x.is(Tag::Instance);
  if (type == s.t) return true;
  if (type == s.object) return object;
  if (type == s.class_) return x.is(Tag::Class) && x != kNoObject;
  if (type == s.instance) return x.is(Tag::Instance);
  if (object) return rt().hooks.inherits && rt().hooks.inherits(x, type);
  return type_of(x) == type;
}

// ---- Natives ----------------------------------------------------------------

static Value prim_eq_p(Value a, Value b) { return boolean(a == b); }
static Value prim_eqv_p(Value a, Value b) { return boolean(eqv(a, b)); }
static Value prim_equal_p(Value a, Value b) { return boolean(equal(a, b)); }
static Value prim_neq_p(Value a, Value b) { return boolean(a != b); }
static Value prim_true() { return rt().sym.t; }
static Value prim_false() { return kNil; }
static Value prim_boolean_p(Value x) { return boolean(x.is_nil() || x == rt().sym.t); }
static Value prim_not(Value x) { return boolean(x.is_nil()); }
static Value prim_function_p(Value x) { return boolean(x.is(Tag::Lambda)); }
static Value prim_procedure_p(Value x) {
  switch (x.tag()) {
    case Tag::Lambda: case Tag::Primitive: case Tag::Special: case Tag::Predicate:
    case Tag::Lexical: case Tag::Gamma: case Tag::Closed:
      return rt().sym.t;
    default:
      return kNil;
  }
}
static Value prim_special_p(Value x) { return boolean(x.is(Tag::Special)); }
static Value prim_symbol_p(Value x) { return boolean(x.is_symbol()); }
static Value prim_type_of(Value x) { return type_of(x); }
static Value prim_type_p(Value x, Value type) { return boolean(type_p(x, type)); }

static const NativeRow kPredicateNatives[] = {
    TV_PRIM("eq?", prim_eq_p),
    TV_PRIM("eqv?", prim_eqv_p),
    TV_PRIM("equal?", prim_equal_p),
    TV_PRIM("neq?", prim_neq_p),
    TV_PRIM("true", prim_true),
    TV_PRIM("false", prim_false),
    TV_PRIM("boolean?", prim_boolean_p),
    TV_PRIM("not", prim_not),
    TV_PRIM("null?", prim_not),
    TV_PRIM("function?", prim_function_p),
    TV_PRIM("procedure?", prim_procedure_p),
    TV_PRIM("special?", prim_special_p),
    TV_PRIM("symbol?", prim_symbol_p),
    TV_PRIM("type-of", prim_type_of),
    TV_PRIM("type?", prim_type_p),
};

extern const Module kPredicatesModule{"predicates", nullptr, [](Runtime&) { register_natives(kPredicateNatives); }};

}  // namespace core
