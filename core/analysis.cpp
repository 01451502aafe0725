// Analysed function bodies: the codes, the analysis that builds them, and
// the table that keeps them beside their functions (core/analysis.hpp).
//
// Every code answers exactly what the general evaluator answers for its
// form, in the same order of evaluation and with the same errors: where a
// form's shape would be an error, or its meaning depends on what its head
// names at run time, the code is the general evaluation of the form.
#include "core/analysis.hpp"

#include <algorithm>
#include <cstring>

#include "core/blocks.hpp"
#include "core/collector.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"
#include "core/specials.hpp"

namespace core {

// One function's analysis: its codes, carved from blocks it owns, and every
// Value they hold, for the collector.
struct Analysis {
  std::vector<std::unique_ptr<uint64_t[]>> blocks;
  size_t left = 0;
  uint64_t* next = nullptr;
  std::vector<Value> values;
  uint64_t marked_in = 0;  // the collection that last marked the values
  uint32_t codes = 0;

  void* allocate(size_t bytes) {
    size_t words = (bytes + 7) / 8;
    if (words > left) {
      // Blocks grow from 256 bytes: most bodies are small.
      size_t n = blocks.empty() ? 32 : std::min<size_t>(blocks.size() * 128, 2048);
      if (n < words) n = words;
      blocks.push_back(std::make_unique<uint64_t[]>(n));
      next = blocks.back().get();
      left = n;
    }
    void* p = next;
    next += words;
    left -= words;
    return p;
  }
};

namespace {

// ---- Codes -----------------------------------------------------------------

using Constant = ConstantCode;
using Slot = SlotCode;
using Call = CallCode;
// A control word: the code applies while its head symbol still names the
// word it named when the body was analysed.
struct Word : Code {
  Value sym;
  Value word;
};
struct Sequence : Code {
  uint32_t n;
  const Code** forms;
};
struct If : Word {
  const Code* test;
  const Code* then;       // null for (if test): the value is nil or no-value
  const Code* otherwise;  // a sequence
};
struct When : Word {
  const Code* test;
  const Code* body;
};
struct Loop : Word {  // while and until
  const Code* test;
  const Code* body;
};
struct Logic : Word {  // and, or: their forms
  const Sequence* forms;
};
struct Begin : Word {
  const Code* body;
};
struct Assign : Word {
  Value target;
  const Code* value;
};
struct Binding {
  Value target;
  const Code* value;  // null: the target receives no-value
};
struct Let : Word {
  const Code* body;
  uint32_t n;
  Binding* bindings;
};
struct Clause {
  const Code* test;  // null for `else`
  Value arrow;       // the function form after `=>`, or no-value
  const Code* body;  // a sequence; null when the clause has no forms
};
struct Cond : Word {
  uint32_t n;
  Clause* clauses;
};
struct CaseClause {
  Value selector;
  const Code* body;
};
struct Case : Word {
  const Code* key;
  uint32_t n;
  CaseClause* clauses;
};

[[gnu::noinline, noreturn]] void unbound_head(Value sym) { error(Err::Unbound, sym); }

// The head symbol's value now, as the general evaluator reads it. The
// symbol is taken from the code again for the error: nothing of the look-up
// then stays on the stack across a call, which keeps the frames of codes
// that recurse (arithmetic around a call) small.
[[gnu::always_inline]] inline Value head_value(const Value& sym) {
  Value fn = lookup(sym);
  if (fn.is_no_value()) [[unlikely]]
    unbound_head(sym);
  return fn;
}

// Whether the head symbol's value now is the one the code was made for.
// The common case is settled by two words of the symbol's record: no object
// is current, or the name is one the object system never indexed, and the
// name has no owner and holds that value. Anything else asks the lookup.
[[gnu::always_inline]] inline bool head_names(Value sym, Value expected) {
  Runtime& r = rt();
  const SymbolRecord& rec = record(sym);
  if (((rec.value ^ expected.bits) | rec.owner) != 0) [[unlikely]]
    return head_value(sym) == expected;
  if (r.current_object == kNoObject || !r.hooks.lookup) [[likely]]
    return true;
  if (rec.slot == 0xFFFF && !r.hooks.overrides_used) return true;
  return head_value(sym) == expected;
}

// A control word code whose head no longer names its word: the general
// evaluation, with the head's value read again.
#define TALVEN_WORD_GUARD(c)                      \
  if (!head_names((c)->sym, (c)->word)) [[unlikely]] \
    return eval_call_with(head_value((c)->sym), (c)->form);

Value run_constant(const Code* c) { return static_cast<const Constant*>(c)->value; }

Value run_slot(const Code* c) { return operand(c); }

// A variable of an enclosing frame: levels up the parent links, then the
// slot.
struct Outer : Code {
  uint32_t levels;
  uint32_t index;
};

Value run_outer(const Code* code) {
  const Outer* c = static_cast<const Outer*>(code);
  EnvFrame* e = rt().env;
  for (uint32_t up = c->levels; up > 0 && e; --up) e = e->parent;
  if (e && c->index < e->slot_count) [[likely]] {
    Value v = e->slots[c->index];
    if (!v.is(Tag::VarCell) && !v.is_no_value()) [[likely]]
      return v;
  }
  return read_variable(c->form);
}

Value run_symbol(const Code* c) {
  Value v = lookup(c->form);
  if (v.is_no_value()) [[unlikely]]
    error(Err::Unbound, c->form);
  return v;
}

Value run_atom(const Code* c) { return eval_atom(c->form); }
Value run_general(const Code* c) { return eval(c->form); }
Value run_general_body(const Code* c) { return eval_body(c->form); }

Value run_sequence(const Code* c) {
  const Sequence* s = static_cast<const Sequence*>(c);
  Value result = kNoValue;
  for (uint32_t i = 0; i < s->n; ++i) result = run(s->forms[i]);
  return result;
}

// The short sequences of loop bodies, unrolled.
Value run_sequence2(const Code* c) {
  const Code* const* f = static_cast<const Sequence*>(c)->forms;
  run(f[0]);
  return run(f[1]);
}

Value run_sequence3(const Code* c) {
  const Code* const* f = static_cast<const Sequence*>(c)->forms;
  run(f[0]);
  run(f[1]);
  return run(f[2]);
}

// ---- Calls -------------------------------------------------------------------

}  // namespace

Value call_primitive(Value fn, const Call* c) {
  Runtime& r = rt();
  Node& node = node_of(fn);
  uint32_t code = word_payload(node.car);
  uint32_t arity = code & (kArityCount | kArityRest | kArityReversed);
  NativeFn f = r.natives[node.cdr];
  uint32_t n = c->n;
  // One to three fixed arguments, the most common natives: a missing
  // argument is nil, extra forms are not evaluated.
  if (arity - 1 < 3) {
    StackMark mark;
    Value* base = r.zones.sp;
    push(n > 0 ? operand(c->args[0]) : kNil);
    if (arity >= 2) {
      push(n > 1 ? operand(c->args[1]) : kNil);
      if (arity == 3) push(n > 2 ? operand(c->args[2]) : kNil);
    }
    push(kEndArgs);
    r.native_form = c->form;
    return f(base);
  }
  // Natives marked with an arithmetic operation take every argument in one
  // rest list; two fixnums are computed here. A fixnum needs no protection
  // from the collector while the second argument is evaluated.
  uint32_t op = r.native_ops[node.cdr];
  if (arity == kArityRest && n == 2 && op != 0) {
    Value a = run(c->args[0]);
    Value b;
    if (a.is_fixnum()) {
      b = run(c->args[1]);
      if (b.is_fixnum()) return fixnum_result(FixnumOp(op), a.fixnum(), b.fixnum());
    }
    StackMark mark;
    Value* base = r.zones.sp;
    push(a);
    if (!a.is_fixnum()) b = run(c->args[1]);
    push(b);
    push(kEndArgs);
    r.native_form = c->form;
    return f(base);
  }
  uint32_t fixed = code & kArityCount;
  if (fixed > 8) error(Err::WrongType, fn);
  StackMark mark;
  Value* base = r.zones.sp;
  uint32_t i = 0;
  for (; i < fixed; ++i) push(i < n ? run(c->args[i]) : kNil);
  if (code & kArityRest) {
    Value* first = r.zones.sp;
    for (; i < n; ++i) push(run(c->args[i]));
    if (code & kArityReversed)
      for (Value *lo = first, *hi = r.zones.sp - 1; lo < hi; ++lo, --hi) std::swap(*lo, *hi);
  }
  push(kEndArgs);
  r.native_form = c->form;
  return f(base);
}

namespace {

inline Value call_with(Value fn, const Call* c) { return call_with_codes(fn, c); }

// A call of a native marked with an arithmetic operation, with two
// arguments: while the head names the native it named when the body was
// analysed, two fixnums are computed here.
struct Arith : Call {
  Value fn;
  RunFn set_slot;  // the code of a set! of a local to this call's value
  // For a comparison, the codes of an `if` with a then form and of a
  // `while` whose test is this call; null for the other operations.
  RunFn if_test, while_test;
};


// The native itself, given its two values.
[[gnu::noinline]] Value native_of_two(Value fn, Value a, Value b, Value form) {
  Runtime& r = rt();
  r.native_form = form;
  StackMark mark;
  Value* base = r.zones.sp;
  push(a);
  push(b);
  push(kEndArgs);
  return r.natives[node_of(fn).cdr](base);
}

// The same when the first value is not a fixnum: it is kept on the Lisp
// stack, where the collector sees it, while the second is computed.
[[gnu::noinline]] Value native_of_first(Value fn, Value a, const Code* second, Value form) {
  Runtime& r = rt();
  StackMark mark;
  Value* base = r.zones.sp;
  push(a);
  push(operand(second));
  push(kEndArgs);
  r.native_form = form;
  return r.natives[node_of(fn).cdr](base);
}

// What an arithmetic code knows of an argument from the analysis: a
// variable of the current frame, a fixnum constant, or any other code.
enum class ArgKind : uint8_t { Local, Fixnum, Any };

template <ArgKind K>
[[gnu::always_inline]] inline Value arith_operand(const Code* c) {
  if constexpr (K == ArgKind::Local) {
    return local_operand(c);
  } else if constexpr (K == ArgKind::Fixnum) {
    return static_cast<const ConstantCode*>(c)->value;
  } else {
    return operand(c);
  }
}

template <FixnumOp Op, ArgKind A, ArgKind B>
[[gnu::always_inline]] inline Value run_arith(const Code* code) {
  const Arith* c = static_cast<const Arith*>(code);
  if (!head_names(c->sym, c->fn)) [[unlikely]]
    return call_with(head_value(c->sym), c);
  Value a = arith_operand<A>(c->args[0]);
  if (A != ArgKind::Fixnum && !a.is_fixnum()) [[unlikely]]
    return native_of_first(c->fn, a, c->args[1], c->form);
  Value b = arith_operand<B>(c->args[1]);
  if (B != ArgKind::Fixnum && !b.is_fixnum()) [[unlikely]]
    return native_of_two(c->fn, a, b, c->form);
  return fixnum_result(Op, a.fixnum(), b.fixnum());
}

ArgKind arg_kind(const Code* c) {
  if (c->kind == CodeKind::Slot) return ArgKind::Local;
  if (c->kind == CodeKind::Constant && static_cast<const ConstantCode*>(c)->value.is_fixnum()) return ArgKind::Fixnum;
  return ArgKind::Any;
}

// A call of a native of a fixed count (0 to 3), or of one that takes all
// its arguments as a rest, while its head names the native it named when
// the body was analysed. For a fixed count the codes are exactly that many:
// missing arguments are nil constants, extra forms are not evaluated.
struct Native : Call {
  Value fn;
  NativeFn f;
};

template <uint32_t N>
Value run_native(const Code* code) {
  const Native* c = static_cast<const Native*>(code);
  // The codes fit the native's count, not the form: another head takes
  // the form.
  if (!head_names(c->sym, c->fn)) [[unlikely]]
    return eval_call_with(head_value(c->sym), c->form);
  StackMark mark;
  Value* base = rt().zones.sp;
  if constexpr (N > 0) push(operand(c->args[0]));
  if constexpr (N > 1) push(operand(c->args[1]));
  if constexpr (N > 2) push(operand(c->args[2]));
  push(kEndArgs);
  rt().native_form = c->form;
  return c->f(base);
}

// The native called with its one or two values, when the code does not
// compute it itself.
[[gnu::noinline]] Value native_of_one(NativeFn f, Value a, Value form) {
  rt().native_form = form;
  StackMark mark;
  Value* base = rt().zones.sp;
  push(a);
  push(kEndArgs);
  return f(base);
}

[[gnu::noinline]] Value native_of_three(NativeFn f, Value a, Value b, Value x, Value form) {
  rt().native_form = form;
  StackMark mark;
  Value* base = rt().zones.sp;
  push(a);
  push(b);
  push(x);
  push(kEndArgs);
  return f(base);
}

// The words of vector v when i is an index within it, else null. Derived
// after every argument is computed: heap bytes move at collections.
inline uint8_t* vector_words_at(Value v, Value i) {
  if (!v.is(Tag::Vector) || !i.is_fixnum() || i.fixnum() < 0) return nullptr;
  uint8_t* p = indirect_bytes(v);
  if (uint32_t(i.fixnum()) >= block_count(p)) return nullptr;
  return p + kVectorWordsAt;
}

template <InlineOp Op>
Value run_inline(const Code* code) {
  const Native* c = static_cast<const Native*>(code);
  if (!head_names(c->sym, c->fn)) [[unlikely]]
    return eval_call_with(head_value(c->sym), c->form);
  Value a = operand(c->args[0]);
  if constexpr (Op == InlineOp::Car || Op == InlineOp::Cdr) {
    if (a.is_pair()) [[likely]]
      return Op == InlineOp::Car ? car(a) : cdr(a);
    return native_of_one(c->f, a, c->form);
  }
  if constexpr (Op == InlineOp::Not) return a.is_nil() ? rt().sym.t : kNil;
  if constexpr (Op == InlineOp::PairP) return a.is_pair() ? rt().sym.t : kNil;
  if constexpr (Op == InlineOp::VectorRef) {
    Value i = operand(c->args[1]);
    if (uint8_t* words = vector_words_at(a, i)) [[likely]]
      return block_word(words, uint32_t(i.fixnum()));
    return native_of_two(c->fn, a, i, c->form);
  }
  if constexpr (Op == InlineOp::VectorSet) {
    Value i = operand(c->args[1]);
    Value x = operand(c->args[2]);
    if (uint8_t* words = vector_words_at(a, i)) [[likely]] {
      set_block_word(words, uint32_t(i.fixnum()), x);
      return x;
    }
    return native_of_three(c->f, a, i, x, c->form);
  }
  if constexpr (Op == InlineOp::EqP || Op == InlineOp::Cons) {
    // A Value held in a native local is seen by the collector's scan of
    // the native stack while the second argument is computed.
    Value b = operand(c->args[1]);
    if constexpr (Op == InlineOp::EqP)
      return a == b ? rt().sym.t : kNil;
    else
      return cons(a, b);
  }
  return kNil;
}

// The code of a call of a native that the analysis computes itself, for
// that native's count, or null.
RunFn inline_run(InlineOp op, uint32_t arity) {
  switch (op) {
    case InlineOp::Car:
      return arity == 1 ? run_inline<InlineOp::Car> : nullptr;
    case InlineOp::Cdr:
      return arity == 1 ? run_inline<InlineOp::Cdr> : nullptr;
    case InlineOp::Not:
      return arity == 1 ? run_inline<InlineOp::Not> : nullptr;
    case InlineOp::PairP:
      return arity == 1 ? run_inline<InlineOp::PairP> : nullptr;
    case InlineOp::EqP:
      return arity == 2 ? run_inline<InlineOp::EqP> : nullptr;
    case InlineOp::Cons:
      return arity == 2 ? run_inline<InlineOp::Cons> : nullptr;
    case InlineOp::VectorRef:
      return arity == 2 ? run_inline<InlineOp::VectorRef> : nullptr;
    case InlineOp::VectorSet:
      return arity == 3 ? run_inline<InlineOp::VectorSet> : nullptr;
    case InlineOp::None:
      break;
  }
  return nullptr;
}

Value run_native_rest(const Code* code) {
  const Native* c = static_cast<const Native*>(code);
  if (!head_names(c->sym, c->fn)) [[unlikely]]
    return call_with(head_value(c->sym), c);
  StackMark mark;
  Value* base = rt().zones.sp;
  for (uint32_t i = 0; i < c->n; ++i) push(operand(c->args[i]));
  push(kEndArgs);
  rt().native_form = c->form;
  return c->f(base);
}

// A call whose head named something other than a function when the body was
// analysed (a special, a macro, `send`...): the head is read, then the
// general evaluation takes the form.
Value run_call_general(const Code* code) {
  const Call* c = static_cast<const Call*>(code);
  check_native_stack();
  return eval_call_with(head_value(c->sym), c->form);
}

// ---- Control words ------------------------------------------------------------

Value run_quote(const Code* code) {
  const Assign* c = static_cast<const Assign*>(code);
  TALVEN_WORD_GUARD(c);
  return c->target;
}

Value run_if(const Code* code) {
  const If* c = static_cast<const If*>(code);
  TALVEN_WORD_GUARD(c);
  if (!c->then) return run(c->test).truthy() ? kNil : kNoValue;
  if (run(c->test).truthy()) return run(c->then);
  return run(c->otherwise);
}

Value run_when(const Code* code) {
  const When* c = static_cast<const When*>(code);
  TALVEN_WORD_GUARD(c);
  if (!run(c->test).truthy()) return kNil;
  return run(c->body);
}

Value run_repeat(const Code* code) {
  const When* c = static_cast<const When*>(code);
  TALVEN_WORD_GUARD(c);
  int32_t n = read_integer(run(c->test));
  for (int32_t i = 0; i < n; ++i) run(c->body);
  return kNoValue;
}

// The specials `unless` and `prog1`, as the natives do them.
Value run_unless(const Code* code) {
  const When* c = static_cast<const When*>(code);
  TALVEN_WORD_GUARD(c);
  if (run(c->test).truthy()) return kNil;
  return run(c->body);
}

Value run_prog1(const Code* code) {
  const When* c = static_cast<const When*>(code);
  TALVEN_WORD_GUARD(c);
  Value v = run(c->test);
  run(c->body);
  return v;
}

Value run_try(const Code* code) {
  const When* c = static_cast<const When*>(code);
  TALVEN_WORD_GUARD(c);
  Value object = run(c->test);
  if (object.is_nil()) return kNil;
  SelfFrame frame(object);
  return run(c->body);
}

Value run_while(const Code* code) {
  const Loop* c = static_cast<const Loop*>(code);
  TALVEN_WORD_GUARD(c);
  while (run(c->test).truthy()) {
    implicit_poll();
    run(c->body);
  }
  return kNoValue;
}

Value run_until(const Code* code) {
  const Loop* c = static_cast<const Loop*>(code);
  TALVEN_WORD_GUARD(c);
  do {
    implicit_poll();
    run(c->body);
  } while (!run(c->test).truthy());
  return kNoValue;
}

Value run_begin(const Code* code) {
  const Begin* c = static_cast<const Begin*>(code);
  TALVEN_WORD_GUARD(c);
  return run(c->body);
}

Value run_and(const Code* code) {
  const Logic* c = static_cast<const Logic*>(code);
  TALVEN_WORD_GUARD(c);
  const Sequence* s = c->forms;
  Value v = rt().sym.t;
  for (uint32_t i = 0; i < s->n; ++i) {
    v = run(s->forms[i]);
    if (!v.truthy()) return kNil;
  }
  return v;
}

Value run_or(const Code* code) {
  const Logic* c = static_cast<const Logic*>(code);
  TALVEN_WORD_GUARD(c);
  const Sequence* s = c->forms;
  for (uint32_t i = 0; i < s->n; ++i) {
    Value v = run(s->forms[i]);
    if (v.truthy()) return v;
  }
  return kNil;
}

// Stores in a variable of the current frame, or as set_target does.
[[gnu::always_inline]] inline void store(Value target, Value v) {
  if (target.is(Tag::Variable)) {
    uint32_t code = word_payload(node_of(target).car);
    EnvFrame* e = rt().env;
    if (code < e->slot_count) [[likely]] {
      e->slots[code] = v;
      return;
    }
  }
  set_target(target, v);
}

// set! of a variable of the current frame.
struct AssignSlot : Word {
  uint32_t index;
  const Code* value;
};

// Stores v in the code's local; a frame without that slot takes the
// general assignment.
[[gnu::always_inline]] inline Value store_local(const AssignSlot* c, Value v) {
  EnvFrame* e = rt().env;
  if (c->index < e->slot_count) [[likely]]
    e->slots[c->index] = v;
  else
    set_target(car(cdr(c->form)), v);
  return v;
}

Value run_set_slot(const Code* code) {
  const AssignSlot* c = static_cast<const AssignSlot*>(code);
  TALVEN_WORD_GUARD(c);
  return store_local(c, operand(c->value));
}

// set! of a local to the value of an arithmetic call, in one code.
template <FixnumOp Op, ArgKind A, ArgKind B>
Value run_set_slot_arith(const Code* code) {
  const AssignSlot* c = static_cast<const AssignSlot*>(code);
  TALVEN_WORD_GUARD(c);
  return store_local(c, run_arith<Op, A, B>(c->value));
}

// A comparison as a test: whether its value is true, without making it.
template <FixnumOp Op, ArgKind A, ArgKind B>
[[gnu::always_inline]] inline bool arith_test(const Code* code) {
  const Arith* c = static_cast<const Arith*>(code);
  if (!head_names(c->sym, c->fn)) [[unlikely]]
    return call_with(head_value(c->sym), c).truthy();
  Value a = arith_operand<A>(c->args[0]);
  if (A != ArgKind::Fixnum && !a.is_fixnum()) [[unlikely]]
    return native_of_first(c->fn, a, c->args[1], c->form).truthy();
  Value b = arith_operand<B>(c->args[1]);
  if (B != ArgKind::Fixnum && !b.is_fixnum()) [[unlikely]]
    return native_of_two(c->fn, a, b, c->form).truthy();
  return fixnum_result(Op, a.fixnum(), b.fixnum()).truthy();
}

// `if` with a then form, and `while`, whose test is a comparison.
template <FixnumOp Op, ArgKind A, ArgKind B>
Value run_if_compare(const Code* code) {
  const If* c = static_cast<const If*>(code);
  TALVEN_WORD_GUARD(c);
  if (arith_test<Op, A, B>(c->test)) return run(c->then);
  return run(c->otherwise);
}

template <FixnumOp Op, ArgKind A, ArgKind B>
Value run_while_compare(const Code* code) {
  const Loop* c = static_cast<const Loop*>(code);
  TALVEN_WORD_GUARD(c);
  while (arith_test<Op, A, B>(c->test)) {
    implicit_poll();
    run(c->body);
  }
  return kNoValue;
}

// The codes of an arithmetic call, of a set! of a local to its value, and
// for comparisons of the `if` and `while` it is the test of.
struct ArithRuns {
  RunFn arith, set_slot, if_test, while_test;
};

constexpr bool is_comparison(FixnumOp op) {
  return op != FixnumOp::Add && op != FixnumOp::Subtract && op != FixnumOp::Multiply;
}

template <FixnumOp Op, ArgKind A, ArgKind B>
constexpr ArithRuns arith_runs_of() {
  if constexpr (is_comparison(Op))
    return {run_arith<Op, A, B>, run_set_slot_arith<Op, A, B>, run_if_compare<Op, A, B>,
            run_while_compare<Op, A, B>};
  else
    return {run_arith<Op, A, B>, run_set_slot_arith<Op, A, B>, nullptr, nullptr};
}

template <FixnumOp Op>
ArithRuns arith_run_for(ArgKind a, ArgKind b) {
  using K = ArgKind;
  static const ArithRuns table[3][3] = {
      {arith_runs_of<Op, K::Local, K::Local>(), arith_runs_of<Op, K::Local, K::Fixnum>(),
       arith_runs_of<Op, K::Local, K::Any>()},
      {arith_runs_of<Op, K::Fixnum, K::Local>(), arith_runs_of<Op, K::Fixnum, K::Fixnum>(),
       arith_runs_of<Op, K::Fixnum, K::Any>()},
      {arith_runs_of<Op, K::Any, K::Local>(), arith_runs_of<Op, K::Any, K::Fixnum>(),
       arith_runs_of<Op, K::Any, K::Any>()},
  };
  return table[int(a)][int(b)];
}

// The code of a two-argument call of a native marked with operation op,
// chosen for what the analysis knows of its two argument codes, or null.
ArithRuns arith_run(FixnumOp op, const Code* x, const Code* y) {
  ArgKind a = arg_kind(x), b = arg_kind(y);
  switch (op) {
    case FixnumOp::Add:
      return arith_run_for<FixnumOp::Add>(a, b);
    case FixnumOp::Subtract:
      return arith_run_for<FixnumOp::Subtract>(a, b);
    case FixnumOp::Multiply:
      return arith_run_for<FixnumOp::Multiply>(a, b);
    case FixnumOp::Less:
      return arith_run_for<FixnumOp::Less>(a, b);
    case FixnumOp::Greater:
      return arith_run_for<FixnumOp::Greater>(a, b);
    case FixnumOp::LessEqual:
      return arith_run_for<FixnumOp::LessEqual>(a, b);
    case FixnumOp::GreaterEqual:
      return arith_run_for<FixnumOp::GreaterEqual>(a, b);
    case FixnumOp::Equal:
      return arith_run_for<FixnumOp::Equal>(a, b);
    case FixnumOp::NotEqual:
      return arith_run_for<FixnumOp::NotEqual>(a, b);
    case FixnumOp::None:
      break;
  }
  return {nullptr, nullptr, nullptr, nullptr};
}

Value run_set(const Code* code) {
  const Assign* c = static_cast<const Assign*>(code);
  TALVEN_WORD_GUARD(c);
  Value v = run(c->value);
  store(c->target, v);
  return v;
}

Value run_let(const Code* code) {
  const Let* c = static_cast<const Let*>(code);
  TALVEN_WORD_GUARD(c);
  for (uint32_t i = 0; i < c->n; ++i) {
    const Binding& b = c->bindings[i];
    store(b.target, b.value ? run(b.value) : kNoValue);
  }
  return run(c->body);
}

Value run_cond(const Code* code) {
  const Cond* c = static_cast<const Cond*>(code);
  TALVEN_WORD_GUARD(c);
  for (uint32_t i = 0; i < c->n; ++i) {
    const Clause& k = c->clauses[i];
    Value v = k.test ? run(k.test) : rt().sym.t;
    if (!v.truthy()) continue;
    if (!k.body) {
      if (!k.arrow.is_no_value()) return call_by_name(k.arrow, {v});
      return v;
    }
    return run(k.body);
  }
  return kNoValue;
}

bool case_selects(Value selector, Value key) {
  if (selector.is_pair()) {
    for (; selector.is_pair(); selector = cdr(selector))
      if (eqv(car(selector), key)) return true;
    return false;
  }
  return selector == rt().sym.t || selector == rt().sym.else_ || eqv(selector, key);
}

Value run_case(const Code* code) {
  const Case* c = static_cast<const Case*>(code);
  TALVEN_WORD_GUARD(c);
  Value key = run(c->key);
  for (uint32_t i = 0; i < c->n; ++i)
    if (case_selects(c->clauses[i].selector, key)) return run(c->clauses[i].body);
  return kNoValue;
}

// `send` from a form: the object, then the arguments, in the caller's
// context; then the message with the receiver current. The values wait on
// the Lisp stack; a Lisp function or primitive takes them from there, and
// anything else receives them as a fresh list, as the object system's own
// `send` passes them.
struct Send : Word {
  const Code* object;
  const Code* message;
  uint32_t n;
  const Code** args;
};

Value run_send(const Code* code) {
  const Send* c = static_cast<const Send*>(code);
  TALVEN_WORD_GUARD(c);
  Runtime& r = rt();
  if (!r.hooks.send_syntax) [[unlikely]]
    return eval_call_with(c->word, c->form);
  Value object = run(c->object);
  StackMark mark;
  Value* values = r.zones.sp;
  for (uint32_t i = 0; i < c->n; ++i) push(operand(c->args[i]));
  push(kEndArgs);
  bool is_object = (object.is(Tag::Instance) || object.is(Tag::Class)) && object != kNoObject;
  SelfFrame frame(is_object ? object : kNoObject);
  Value fn = run(c->message);
  switch (fn.tag()) {
    case Tag::Primitive:
    case Tag::Lambda:
    case Tag::Lexical:
    case Tag::Closed:
      return apply(fn, kNil, values, Mode::Vector, c->message->form);
    default: {
      Value args = kNil;
      for (uint32_t i = c->n; i > 0; --i) args = cons(values[i - 1], args);
      return apply(fn, args, nullptr, Mode::Values, c->message->form);
    }
  }
}

#undef TALVEN_WORD_GUARD

// ---- Analysis -------------------------------------------------------------------

// Past these bounds the rest of a body is left to the general evaluator:
// nesting deeper than kMostDepth (codes do not check the native stack:
// every call of a function does, and the nesting of codes between two
// calls is bounded by this), more than kMostCodes codes in one
// function (a body built with shared parts could otherwise unfold to far
// more codes than it has nodes), and lists longer than kMostLength.
constexpr uint32_t kMostDepth = 100;
constexpr uint32_t kMostCodes = 100000;
constexpr uint32_t kMostLength = 100000;

// The number of elements of a proper list, or -1 for a dotted or overlong
// one.
int64_t proper_length(Value l) {
  int64_t n = 0;
  for (; l.is_pair(); l = cdr(l))
    if (++n > kMostLength) return -1;
  return l.is_nil() ? n : -1;
}

class Analyser {
 public:
  explicit Analyser(Analysis& a) : a_(a) {}
  const Code* body(Value forms);

 private:
  const Sequence* sequence(Value forms);
  Analysis& a_;
  uint32_t depth_ = 0;

  template <class T>
  T* make(RunFn run, Value form) {
    ++a_.codes;
    T* c = static_cast<T*>(a_.allocate(sizeof(T)));
    std::memset(static_cast<void*>(c), 0, sizeof(T));
    c->run = run;
    c->form = hold(form);
    return c;
  }
  template <class T>
  T* array(size_t n) {
    T* p = static_cast<T*>(a_.allocate(sizeof(T) * n));
    std::memset(static_cast<void*>(p), 0, sizeof(T) * n);
    return p;
  }
  Value hold(Value v) {
    a_.values.push_back(v);
    return v;
  }
  const Code* general(Value x) { return make<Code>(run_general, x); }
  const Code* form(Value x);
  const Code* call(Value x);
  const Code* word(Value x, Value sym, Value word, Value forms);
  template <class T>
  T* word_code(RunFn run, Value x, Value sym, Value w) {
    T* c = make<T>(run, x);
    c->sym = sym;
    c->word = w;
    return c;
  }
};

// The forms of a body, up to its first non-pair as the general evaluator
// takes them: one code for one form, else a sequence.
const Code* Analyser::body(Value forms) {
  if (forms.is_pair() && !cdr(forms).is_pair()) return form(car(forms));
  const Sequence* s = sequence(forms);
  return s ? s : make<Code>(run_general_body, forms);
}

// The forms as a sequence; null when there are too many.
const Sequence* Analyser::sequence(Value forms) {
  uint32_t n = 0;
  for (Value l = forms; l.is_pair(); l = cdr(l))
    if (++n > kMostLength) return nullptr;
  Sequence* s = make<Sequence>(run_sequence, forms);
  s->n = n;
  s->forms = array<const Code*>(n);
  for (uint32_t i = 0; i < n; ++i, forms = cdr(forms)) s->forms[i] = form(car(forms));
  if (n == 2) s->run = run_sequence2;
  if (n == 3) s->run = run_sequence3;
  return s;
}

const Code* Analyser::form(Value x) {
  if (a_.codes > kMostCodes || depth_ > kMostDepth) return general(x);
  switch (x.tag()) {
    case Tag::Variable: {
      uint32_t code = word_payload(node_of(x).car);
      if (code >> 16 != 0) {
        Outer* o = make<Outer>(run_outer, x);
        o->levels = code >> 16;
        o->index = code & 0xFFFF;
        return o;
      }
      Slot* s = make<Slot>(run_slot, x);
      s->kind = CodeKind::Slot;
      s->index = code;
      return s;
    }
    case Tag::Pair:
      if (x.payload() == 0) break;
      ++depth_;
      {
        const Code* c = call(x);
        --depth_;
        return c;
      }
    case Tag::Symbol:
      return make<Code>(run_symbol, x);
    case Tag::Lambda:
    case Tag::Gamma:
    case Tag::SyntaxGamma:
      return make<Code>(run_atom, x);
    default:
      break;
  }
  Constant* c = make<Constant>(run_constant, x);
  c->kind = CodeKind::Constant;
  c->value = x;
  return c;
}

const Code* Analyser::call(Value x) {
  Value head = car(x);
  Value forms = cdr(x);
  int64_t n = proper_length(forms);
  if (head.is_symbol()) {
    Value w = symbol_value(head);
    if (is_syntax_word_tag(w.tag_number())) return word(x, head, w, forms);
    if (w.is(Tag::Special) && n >= 1) {
      SpecialCode k = special_code(w);
      if (k != SpecialCode::None) {
        static const RunFn runs[] = {nullptr, run_unless, run_prog1, run_try};
        When* c = word_code<When>(runs[int(k)], x, head, w);
        c->test = form(car(forms));
        c->body = body(cdr(forms));
        return c;
      }
    }
    if (n < 0 || w.is(Tag::Special) || w.is(Tag::Syntax) || w.is(Tag::ClosedSyntax)) {
      Call* c = make<Call>(run_call_general, x);
      c->sym = head;
      return c;
    }
  }
  // A dotted argument list is left to the general evaluator, which takes
  // the proper part.
  if (n < 0) return general(x);
  if (head.is_symbol() && symbol_value(head).is(Tag::Primitive)) {
    Value w = symbol_value(head);
    Node& node = node_of(w);
    uint32_t arity = word_payload(node.car) & (kArityCount | kArityRest | kArityReversed);
    FixnumOp op = FixnumOp(rt().native_ops[node.cdr]);
    if (arity == kArityRest && n == 2 && op != FixnumOp::None) {
      Arith* c = make<Arith>(nullptr, x);
      c->kind = CodeKind::Arith;
      c->sym = head;
      c->fn = hold(w);
      c->n = 2;
      c->args = array<const Code*>(2);
      c->args[0] = form(car(forms));
      c->args[1] = form(car(cdr(forms)));
      ArithRuns runs = arith_run(op, c->args[0], c->args[1]);
      c->run = runs.arith;
      c->set_slot = runs.set_slot;
      c->if_test = runs.if_test;
      c->while_test = runs.while_test;
      return c;
    }
    if (arity <= 3 || arity == kArityRest) {
      static const RunFn fixed[] = {run_native<0>, run_native<1>, run_native<2>, run_native<3>};
      RunFn inline_code = inline_run(InlineOp(rt().native_inline[node.cdr]), arity);
      Native* c = make<Native>(inline_code ? inline_code : arity == kArityRest ? run_native_rest : fixed[arity], x);
      c->sym = head;
      c->fn = hold(w);
      c->f = rt().natives[node.cdr];
      c->n = arity == kArityRest ? uint32_t(n) : arity;
      c->args = array<const Code*>(c->n);
      for (uint32_t i = 0; i < c->n; ++i) {
        c->args[i] = forms.is_pair() ? form(car(forms)) : form(kNil);
        if (forms.is_pair()) forms = cdr(forms);
      }
      return c;
    }
  }
  Call* c = make<Call>(head.is_symbol() ? run_call_symbol : run_call, x);
  c->args = array<const Code*>(size_t(n));
  if (head.is_symbol())
    c->sym = head;
  else
    c->head = form(head);
  c->n = uint32_t(n);
  for (uint32_t i = 0; i < c->n; ++i, forms = cdr(forms)) c->args[i] = form(car(forms));
  return c;
}

// A form headed by a symbol that names a control word. The shapes that
// would be an error, and the words without a code of their own, are left
// to the general evaluation (after the head is read).
const Code* Analyser::word(Value x, Value sym, Value w, Value forms) {
  int64_t n = proper_length(forms);
  auto general_call = [&]() -> const Code* {
    Call* c = make<Call>(run_call_general, x);
    c->sym = sym;
    return c;
  };
  switch (w.tag_number()) {
    case kSyntaxQuote: {
      if (n < 1) break;
      Assign* c = word_code<Assign>(run_quote, x, sym, w);
      c->target = hold(car(forms));
      return c;
    }
    case kSyntaxIf: {
      // The general evaluation checks the test and then form, and the else
      // forms as a proper list.
      if (!forms.is_pair()) break;
      Value rest = cdr(forms);
      If* c;
      if (rest.is_pair()) {
        if (proper_length(cdr(rest)) < 0) break;
        c = word_code<If>(run_if, x, sym, w);
        c->test = form(car(forms));
        c->then = form(car(rest));
        c->otherwise = body(cdr(rest));
        if (c->test->kind == CodeKind::Arith && static_cast<const Arith*>(c->test)->if_test)
          c->run = static_cast<const Arith*>(c->test)->if_test;
      } else {
        if (!rest.is_nil()) break;
        c = word_code<If>(run_if, x, sym, w);
        c->test = form(car(forms));
      }
      return c;
    }
    case kSyntaxWhen: {
      if (n < 1) break;
      When* c = word_code<When>(run_when, x, sym, w);
      c->test = form(car(forms));
      c->body = body(cdr(forms));
      return c;
    }
    case kSyntaxRepeat: {
      if (n < 1) break;
      When* c = word_code<When>(run_repeat, x, sym, w);  // the count in `test`
      c->test = form(car(forms));
      c->body = body(cdr(forms));
      return c;
    }
    case kSyntaxWhile:
    case kSyntaxUntil: {
      if (n < 1) break;
      Loop* c = word_code<Loop>(w.tag_number() == kSyntaxWhile ? run_while : run_until, x, sym, w);
      c->test = form(car(forms));
      c->body = body(cdr(forms));
      if (w.tag_number() == kSyntaxWhile && c->test->kind == CodeKind::Arith &&
          static_cast<const Arith*>(c->test)->while_test)
        c->run = static_cast<const Arith*>(c->test)->while_test;
      return c;
    }
    case kSyntaxBegin: {
      if (n < 0) break;
      Begin* c = word_code<Begin>(run_begin, x, sym, w);
      c->body = body(forms);
      return c;
    }
    case kSyntaxAnd:
    case kSyntaxOr: {
      if (n < 0) break;
      const Sequence* forms_code = sequence(forms);
      if (!forms_code) break;
      Logic* c = word_code<Logic>(w.tag_number() == kSyntaxAnd ? run_and : run_or, x, sym, w);
      c->forms = forms_code;
      return c;
    }
    case kSyntaxSet: {
      if (n < 2) break;
      Value target = car(forms);
      if (target.is(Tag::Variable) && word_payload(node_of(target).car) >> 16 == 0) {
        AssignSlot* c = word_code<AssignSlot>(run_set_slot, x, sym, w);
        c->index = word_payload(node_of(target).car);
        c->value = form(car(cdr(forms)));
        if (c->value->kind == CodeKind::Arith) c->run = static_cast<const Arith*>(c->value)->set_slot;
        return c;
      }
      Assign* c = word_code<Assign>(run_set, x, sym, w);
      c->target = hold(car(forms));
      c->value = form(car(cdr(forms)));
      return c;
    }
    case kSyntaxLet: {
      if (n < 1) break;
      Value bindings = car(forms);
      int64_t count = 0;
      for (Value b = bindings; b.is_pair(); b = cdr(b))
        if (++count > kMostLength) return general_call();
      Let* c = word_code<Let>(run_let, x, sym, w);
      c->n = uint32_t(count);
      c->bindings = array<Binding>(size_t(count));
      Value b = bindings;
      for (uint32_t i = 0; i < c->n; ++i, b = cdr(b)) {
        Value binding = car(b);
        Binding& d = c->bindings[i];
        d.target = hold(binding.is_pair() ? car(binding) : binding);
        if (binding.is_pair() && cdr(binding).is_pair()) d.value = form(car(cdr(binding)));
      }
      c->body = body(cdr(forms));
      return c;
    }
    case kSyntaxCond: {
      if (n < 0) break;
      // A clause that is not a list is an error when the clauses before it
      // have all failed: left to the general evaluation.
      for (Value l = forms; l.is_pair(); l = cdr(l))
        if (!car(l).is_pair()) return general_call();
      Cond* c = word_code<Cond>(run_cond, x, sym, w);
      c->n = uint32_t(n);
      c->clauses = array<Clause>(size_t(n));
      Value l = forms;
      for (uint32_t i = 0; i < c->n; ++i, l = cdr(l)) {
        Value clause = car(l);
        Clause& k = c->clauses[i];
        Value test = car(clause);
        k.test = test == rt().sym.else_ ? nullptr : form(test);
        k.arrow = kNoValue;
        Value rest = cdr(clause);
        if (!rest.is_pair()) continue;
        if (car(rest) == rt().sym.arrow) {
          Value next = cdr(rest);
          k.arrow = hold(next.is_pair() ? car(next) : kNil);
          continue;
        }
        k.body = body(rest);
      }
      return c;
    }
    case kSyntaxSend: {
      if (n < 1) break;
      Send* c = word_code<Send>(run_send, x, sym, w);
      c->object = form(car(forms));
      Value rest = cdr(forms);
      c->message = form(rest.is_pair() ? car(rest) : kNil);
      Value args = rest.is_pair() ? cdr(rest) : kNil;
      c->n = uint32_t(n >= 2 ? n - 2 : 0);
      c->args = array<const Code*>(c->n);
      for (uint32_t i = 0; i < c->n; ++i, args = cdr(args)) c->args[i] = form(car(args));
      return c;
    }
    case kSyntaxCase: {
      if (n < 1) break;
      for (Value l = cdr(forms); l.is_pair(); l = cdr(l))
        if (!car(l).is_pair()) return general_call();
      Case* c = word_code<Case>(run_case, x, sym, w);
      c->key = form(car(forms));
      c->n = uint32_t(n - 1);
      c->clauses = array<CaseClause>(size_t(n - 1));
      Value l = cdr(forms);
      for (uint32_t i = 0; i < c->n; ++i, l = cdr(l)) {
        Value clause = car(l);
        c->clauses[i].selector = hold(car(clause));
        c->clauses[i].body = body(cdr(clause));
      }
      return c;
    }
    default:
      break;
  }
  return general_call();
}

}  // namespace

// ---- The table --------------------------------------------------------------------

AnalysisTable::AnalysisTable() { rebuild(64); }

AnalysisTable::~AnalysisTable() {
  for (Slot& s : slots_)
    if (s.key != 0) delete s.analysis;
}

void AnalysisTable::insert(const Slot& s) {
  uint32_t i = hash(s.key);
  while (slots_[i].key != 0) i = (i + 1) & mask_;
  slots_[i] = s;
}

void AnalysisTable::rebuild(uint32_t capacity) {
  std::vector<Slot> old = std::move(slots_);
  slots_.assign(capacity, Slot{0, nullptr, nullptr});
  mask_ = capacity - 1;
  for (const Slot& s : old)
    if (s.key != 0) insert(s);
}

const Code* AnalysisTable::analyse(Value fn) {
  Value source = cdr(fn);
  Value body = cdr(source);
  if (fn.is(Tag::Gamma) || fn.is(Tag::SyntaxGamma)) body = cdr(body);
  auto a = std::make_unique<Analysis>();
  const Code* code;
  {
    Analyser analyser(*a);
    code = analyser.body(body);
  }
  if (2 * (count_ + 1) > slots_.size()) rebuild(uint32_t(slots_.size() * 2));
  insert(Slot{fn.payload(), code, a.release()});
  ++count_;
  return code;
}

bool AnalysisTable::mark_live() {
  bool marked = false;
  for (Slot& s : slots_) {
    if (s.key == 0 || s.analysis->marked_in == pass_) continue;
    if (!node_marked(Value::make(Tag::Pair, s.key))) continue;
    s.analysis->marked_in = pass_;
    for (Value v : s.analysis->values) mark_value(v);
    marked = true;
  }
  return marked;
}

void AnalysisTable::forget_dead() {
  size_t dead = 0;
  for (Slot& s : slots_) {
    if (s.key == 0 || node_marked(Value::make(Tag::Pair, s.key))) continue;
    delete s.analysis;
    s = Slot{0, nullptr, nullptr};
    ++dead;
  }
  if (dead == 0) return;
  last_key_ = 0;
  last_body_ = nullptr;
  count_ -= dead;
  // Open addressing: the survivors are placed again.
  uint32_t capacity = uint32_t(slots_.size());
  while (capacity > 64 && 8 * count_ < capacity) capacity /= 2;
  rebuild(capacity);
}

}  // namespace core
