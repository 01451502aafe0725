// Natives: primitives and specials implemented in C++, and their
// registration under Lisp names.
//
// A native value is a permanent node whose first word is 0x58000000 | arity
// code and whose second word indexes the runtime's native table. Library
// modules describe their natives in one table of NativeRow and register it
// with register_natives; the first registration of a name wins.
//
// Natives are written as plain C++ functions of Values:
//   Value prim_cons(Value a, Value b);          fixed count 2
//   Value prim_list(Value* rest);               rest, no fixed argument
//   Value prim_apply(Value f, Value* rest);     one fixed plus rest
// TV_PRIM derives the arity code from the signature and wraps the function
// into the uniform NativeFn form.
#pragma once
#include <cstdint>
#include <span>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/memory.hpp"
#include "core/runtime.hpp"

namespace core {

// Arity code bits.
constexpr uint32_t kArityCount = 0x1FFFFF;
constexpr uint32_t kAritySecond = 0x200000;
constexpr uint32_t kArityReversed = 0x400000;
constexpr uint32_t kArityRest = 0x800000;

template <typename F>
struct NativeSignature;
template <typename... A>
struct NativeSignature<Value (*)(A...)> {
  static constexpr size_t n = sizeof...(A);
  static constexpr bool rest = [] {
    if constexpr (n == 0) {
      return false;
    } else {
      using Last = std::tuple_element_t<n - 1, std::tuple<A...>>;
      return std::is_same_v<Last, Value*>;
    }
  }();
  static constexpr uint32_t fixed = rest ? n - 1 : n;
  static_assert(fixed <= 8, "a native takes at most 8 fixed arguments");
  static constexpr uint32_t code = fixed | (rest ? kArityRest : 0);
};

template <auto F>
Value native_entry(Value* a) {
  using S = NativeSignature<decltype(F)>;
  return [a]<size_t... I>(std::index_sequence<I...>) {
    if constexpr (S::rest)
      return F(a[I]..., a + S::fixed);
    else
      return F(a[I]...);
  }(std::make_index_sequence<S::fixed>{});
}

// A row of a module's table. `doc` is the reference entry: the argument
// list in parentheses, then one line saying what the native does, as in
// "(car PAIR) the first element of PAIR"; null while none is written.
struct NativeRow {
  const char* name;
  NativeFn fn;
  uint32_t code;
  Tag kind;  // Tag::Primitive or Tag::Special
  const char* doc = nullptr;
};

// A primitive of the first and of the second arity family.
// Each macro takes the reference entry as an optional last argument.
#define TV_PRIM(name, f, ...)                                                                                 \
  ::core::NativeRow {                                                                                         \
    name, &::core::native_entry<f>, ::core::NativeSignature<decltype(&f)>::code, ::core::Tag::Primitive __VA_OPT__(, ) \
        __VA_ARGS__                                                                                           \
  }
#define TV_PRIM2(name, f, ...)                                                                  \
  ::core::NativeRow {                                                                           \
    name, &::core::native_entry<f>, ::core::NativeSignature<decltype(&f)>::code | ::core::kAritySecond, \
        ::core::Tag::Primitive __VA_OPT__(, ) __VA_ARGS__                                       \
  }
// A primitive with an explicit extra code (reversed rest).
#define TV_PRIM_CODE(name, f, extra, ...)                                                           \
  ::core::NativeRow {                                                                               \
    name, &::core::native_entry<f>, ::core::NativeSignature<decltype(&f)>::code | (extra), ::core::Tag::Primitive \
        __VA_OPT__(, ) __VA_ARGS__                                                                  \
  }
// A special form: receives its argument forms as one list.
#define TV_SPECIAL(name, f, ...) \
  ::core::NativeRow { name, &::core::native_entry<f>, 0, ::core::Tag::Special __VA_OPT__(, ) __VA_ARGS__ }
#define TV_SPECIAL2(name, f, ...) \
  ::core::NativeRow { name, &::core::native_entry<f>, ::core::kAritySecond, ::core::Tag::Special __VA_OPT__(, ) __VA_ARGS__ }

// Makes a native value (primitive or special) for a function.
Value make_native(NativeFn fn, uint32_t code, Tag kind);
// The arity code and function of a native value.
uint32_t native_code(Value v);
NativeFn native_function(Value v);

// Registers each row: interns the name with a new native as initial value,
// so that a name already bound keeps its value.
void register_natives(std::span<const NativeRow> rows);
void register_native(const char* name, NativeFn fn, uint32_t code, Tag kind, const char* doc = nullptr);

// The reference entry of a registered native: the module that registered
// it, its kind and arity code, and the entry of its row (or null).
struct NativeDoc {
  const char* name;
  const char* module;
  uint32_t code;
  Tag kind;
  const char* doc;
};

// The evaluator's fast paths for arithmetic: a native marked with an
// operation is, when called with exactly two fixnums, computed by the
// evaluator itself without entering the native. The native must answer
// exactly what the operation does for every such pair; any other call
// (another count, another type) goes to the native as usual.
enum class FixnumOp : uint8_t {
  None, Add, Subtract, Multiply, Less, Greater, LessEqual, GreaterEqual, Equal, NotEqual,
};
// Marks every registered native whose function is `fn`.
void set_fixnum_op(NativeFn fn, FixnumOp op);
// What a marked native answers for two fixnums (op is not None).
[[gnu::always_inline]] inline Value fixnum_result(FixnumOp op, int32_t x, int32_t y) {
  const Value t = rt().sym.t;
  switch (op) {
    case FixnumOp::Add:
      return make_integer(x + y);
    case FixnumOp::Subtract:
      return make_integer(x - y);
    case FixnumOp::Multiply:
      return make_integer(int32_t(uint32_t(x) * uint32_t(y)));
    case FixnumOp::Less:
      return x < y ? t : kNil;
    case FixnumOp::Greater:
      return x > y ? t : kNil;
    case FixnumOp::LessEqual:
      return x <= y ? t : kNil;
    case FixnumOp::GreaterEqual:
      return x >= y ? t : kNil;
    case FixnumOp::Equal:
      return x == y ? t : kNil;
    case FixnumOp::NotEqual:
      return x != y ? t : kNil;
    case FixnumOp::None:
      break;
  }
  return kNil;
}

// Natives that analysed bodies (core/analysis.hpp) compute themselves while
// the call's head names them: car and cdr of a pair, not (null?), pair?,
// eq?, cons, and vector-ref and vector-set! of a vector at a fixnum index
// within it (vector-set! answering the value stored). The native must
// answer exactly what the operation does for those arguments (car, cdr,
// the vectors) or for any arguments (the others); other arguments go to
// the native.
enum class InlineOp : uint8_t { None, Car, Cdr, Not, PairP, EqP, Cons, VectorRef, VectorSet };
// Marks every registered native whose function is `fn`.
void set_inline_op(NativeFn fn, InlineOp op);

// Specials whose forms are a scope of their own, such as a clause's: the
// lexical variables in them are the special's, never its caller's, so a
// top-level form does not make a function for them (core/eval.hpp).
// Marks every registered native whose function is `fn`.
void set_own_scope(NativeFn fn);
inline bool own_scope(Value v) { return v.is(Tag::Special) && rt().native_scoped[node_of(v).cdr] != 0; }

}  // namespace core
