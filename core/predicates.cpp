#include "core/predicates.hpp"

#include <cstring>

#include "core/blocks.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace core {

namespace {
inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }

uint32_t vector_count(Value v) { return block_count(indirect_bytes(v)); }
Value vector_word(Value v, uint32_t i) { return block_word(indirect_bytes(v) + kVectorWordsAt, i); }
uint32_t array_count(Value v) { return block_count(indirect_bytes(v)); }

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
  // Integers too large for a fixnum are boxed: two boxes of one value are
  // the same integer (so `case`, `memv` and `assv` find it).
  if (a.is(Tag::Long) && b.is(Tag::Long)) return long_value(a) == long_value(b);
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
        uint32_t n = vector_count(a);
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

namespace {

// The type names by tag, interned when the module installs: the names of
// the tag list, nil where type-of refuses the tag.
struct PredicateState : ModuleState {
  Value type_names[64];
};

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<PredicateState>(); }

void install(Runtime&) {
  PredicateState& p = state_of<PredicateState>(kPredicatesModule);
#define TALVEN_X(name, num, text) \
  if (*text) p.type_names[num] = intern_static(text);
  TALVEN_VALUE_TAGS(TALVEN_X)
#undef TALVEN_X
}

}  // namespace

Value type_of(Value x) {
  unsigned t = x.tag_number();
  if (is_syntax_word_tag(t)) return rt().sym.keyword;
  if (x.is(Tag::Class) || x.is(Tag::Instance)) {
    // The no-object word names itself; classes and instances answer
    // their class.
    if (x == kNoObject) return x;
    if (rt().hooks.class_of) return rt().hooks.class_of(x);
    error(Err::WrongType, x);
  }
  Value name = state_of<PredicateState>(kPredicatesModule).type_names[t];
  if (name.is_nil()) error(Err::WrongType, x);
  return name;
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
    TV_PRIM("eq?", prim_eq_p, "(eq? A B) t when A and B are the same word"),
    TV_PRIM("eqv?", prim_eqv_p, "(eqv? A B) t when eq?, or both reals or both large integers of equal value, or both vectors (or arrays) with no elements"),
    TV_PRIM("equal?", prim_equal_p, "(equal? A B) t when A and B have the same structure: pairs compared deeply, numbers by value, strings and symbols by text, vectors by identical elements"),
    TV_PRIM("neq?", prim_neq_p, "(neq? A B) t when A and B are not the same word"),
    TV_PRIM("true", prim_true, "(true) t"),
    TV_PRIM("false", prim_false, "(false) nil"),
    TV_PRIM("boolean?", prim_boolean_p, "(boolean? X) t when X is nil or t"),
    TV_PRIM("not", prim_not, "(not X) t when X is nil, else nil"),
    TV_PRIM("null?", prim_not, "(null? X) the same as not"),
    TV_PRIM("function?", prim_function_p, "(function? X) t for a Lisp function (lambda)"),
    TV_PRIM("procedure?", prim_procedure_p, "(procedure? X) t for anything that can be called: function, primitive, special form, predicate, closure"),
    TV_PRIM("special?", prim_special_p, "(special? X) t for a special form"),
    TV_PRIM("symbol?", prim_symbol_p, "(symbol? X) t for a symbol (keywords included)"),
    TV_PRIM("type-of", prim_type_of, "(type-of X) the type name of X (integer, list, string, symbol, ...); the class of an instance or class"),
    TV_PRIM("type?", prim_type_p, "(type? X TYPE) t when X is of type TYPE (t, object, class, instance, a class X inherits from, or a type name)"),
};

extern const Module kPredicatesModule{"predicates", make_state, [](Runtime& r) {
                                        install(r);
                                        register_natives(kPredicateNatives);
                                        set_inline_op(&native_entry<prim_eq_p>, InlineOp::EqP);
                                        set_inline_op(&native_entry<prim_not>, InlineOp::Not);
                                      }};

}  // namespace core
