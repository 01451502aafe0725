// The evaluator: eval, the handler table, function application and the
// making of functions.
//
// Evaluation is a recursive native interpreter. A call evaluates its head
// and hands the head's value to the handler for its tag. Arguments live on
// the Lisp stack: a primitive receives a pointer to them, a Lisp function
// finds them as the slots of its environment frame. A function's body runs
// from its analysis (core/analysis.hpp), made at its first call. There is
// no tail-call elimination; recursion is bounded by the native stack
// (checked at every call form evaluated here and at every function's
// entry) and by the Lisp stack (checked on every push).
#include "core/eval.hpp"

#include <time.h>

#include <algorithm>
#include <vector>

#include "core/analysis.hpp"
#include "core/clock.hpp"
#include "core/natives.hpp"
#include "core/specials.hpp"

namespace core {

static inline Value eval_fast(Value x);

// ---- Function descriptors ----------------------------------------------------

namespace {

struct Descriptor {
  uint32_t required, rest, captured, locals;
};

inline Descriptor descriptor(Value fn) {
  uint32_t d = word_payload(node_of(fn).car);
  return {(d >> 17) & 0x7F, (d >> 16) & 1, (d >> 9) & 0x7F, d & 0x1FF};
}

// The arguments of a handler in a mode known at compile time: the hot
// handlers are instantiated once per mode so that fetching an argument does
// not test the mode.
template <Mode M>
struct ArgsIn {
  Value list;
  const Value* vec;

  bool more() const {
    if constexpr (M == Mode::Vector)
      return !vec->is_end();
    else
      return list.is_pair();
  }
  // The next argument, evaluated in mode 1.
  Value next() {
    if constexpr (M == Mode::Vector) {
      return *vec++;
    } else {
      Value f = car(list);
      list = cdr(list);
      if constexpr (M == Mode::Forms)
        return eval_fast(f);
      else
        return f;
    }
  }
  // The remaining arguments as a fresh list of values (in mode 1
  // evaluated in order).
  Value rest_list() {
    ListBuilder b;
    while (more()) b.add(next());
    return b.head;
  }
};

// The arguments of a handler in any mode.
struct Args {
  Value list;
  const Value* vec;
  Mode mode;

  // The remaining arguments as a list, not evaluated (the forms in mode 1).
  Value as_list() const {
    if (mode != Mode::Vector) return list;
    size_t n = 0;
    while (!vec[n].is_end()) ++n;
    Value result = kNil;
    for (size_t i = n; i > 0; --i) result = cons(vec[i - 1], result);
    return result;
  }
};

}  // namespace

// ---- Variables ----------------------------------------------------------------

Value* variable_slot(Value var) {
  uint32_t code = word_payload(node_of(var).car);
  EnvFrame* e = rt().env;
  for (uint32_t up = code >> 16; up > 0 && e; --up) e = e->parent;
  uint32_t index = code & 0xFFFF;
  if (!e || index >= e->slot_count) return nullptr;
  return e->slots + index;
}

Value read_variable(Value var) {
  Value* slot = variable_slot(var);
  if (!slot) error(Err::Unbound, var);
  Value v = *slot;
  if (v.is(Tag::VarCell) && rt().hooks.deref_cell) v = rt().hooks.deref_cell(v);
  if (v.is_no_value()) error(Err::Unbound, var);
  return v;
}

// ---- Closures ------------------------------------------------------------------

// A `lexical` closure: (cell . function), the cell naming the live frame by
// depth (header payload) and serial (second word).
static Value make_lexical(Value fn) {
  EnvFrame* e = rt().env;
  e->enlist();
  Value cell = alloc_node(Tag::Long, make_header(Header::Long, e->depth), e->serial);
  return cons(cell, fn).retag(Tag::Lexical);
}

static EnvFrame* lexical_env(Value closure) {
  Node& cell = node_of(car(closure));
  EnvFrame* e = live_env(word_payload(cell.car), cell.cdr);
  // The frame that made the closure has returned: its slots are gone.
  if (!e) error(Err::NotFunction, closure);
  return e;
}

// Closes a gamma or syntax-gamma function over the values of its captures.
static Value make_closed(Value fn, Tag tag) {
  Value captures = car(cdr(cdr(fn)));
  ListBuilder values;
  for (; captures.is_pair(); captures = cdr(captures)) {
    Value c = car(captures);
    values.add(c.is(Tag::Variable) ? read_variable(c) : c.is_pair() ? eval(car(cdr(c))) : eval(c));
  }
  return cons(fn, values.head).retag(tag);
}

// ---- eval ------------------------------------------------------------------------

template <class A>
[[gnu::always_inline]] static inline Value apply_lambda(Value fn, A a);
static Value apply_primitive_forms(Value fn, Value x);
[[gnu::always_inline]] static inline Value call_with(Value fn, Value x);

// True when l is a proper list of at least `least` elements.
static inline bool proper_list_of(Value l, uint32_t least) {
  uint32_t n = 0;
  for (; l.is_pair(); l = cdr(l)) ++n;
  return n >= least && l.is_nil();
}

// Forms other than variables and calls.
[[gnu::noinline]] Value eval_atom(Value x) {
  switch (x.tag()) {
    case Tag::Symbol: {
      Value v = lookup(x);
      if (v.is_no_value()) [[unlikely]]
        error(Err::Unbound, x);
      return v;
    }
    case Tag::Lambda:
      return rt().env != rt().sentinel ? make_lexical(x) : x;
    case Tag::Gamma:
      return make_closed(x, Tag::Closed);
    case Tag::SyntaxGamma:
      return make_closed(x, Tag::ClosedSyntax);
    default:
      return x;
  }
}

// A call: the head's value chooses the handler. The common heads go
// straight to theirs; the rest through the handler table.
[[gnu::noinline]] static Value eval_pair(Value x) {
  check_native_stack();
  Value head = car(x);
  Value fn;
  if (head.is_symbol()) {
    fn = lookup(head);
    if (fn.is_no_value()) [[unlikely]]
      error(Err::Unbound, head);
  } else {
    fn = eval_fast(head);
  }
  return call_with(fn, x);
}

Value eval_call_with(Value fn, Value x) { return call_with(fn, x); }

// The call form x once its head has given fn.
[[gnu::always_inline]] static inline Value call_with(Value fn, Value x) {
  Value forms = cdr(x);
  switch (fn.tag()) {
    case Tag::Primitive:
      return apply_primitive_forms(fn, x);
    case Tag::Lambda:
    case Tag::Lexical:
    case Tag::Closed:
      return apply_lambda(fn, ArgsIn<Mode::Forms>{forms, nullptr});
    default:
      break;
  }
  // The control words used in nearly every body are interpreted here, as
  // apply_syntax_word does (same checks, same order of evaluation).
  switch (unsigned word = fn.tag_number()) {
    case kSyntaxIf: {
      // The shape is checked before the test is evaluated: a proper list
      // of at least the test.
      if (!forms.is_pair()) error(Err::WrongType, x);
      Value rest = cdr(forms);
      if (rest.is_pair()) {
        Value otherwise = cdr(rest);
        if (!otherwise.is_nil() && !proper_list_of(otherwise, 0)) error(Err::WrongType, x);
        if (eval_fast(car(forms)).truthy()) return eval_fast(car(rest));
        return eval_body(otherwise);
      }
      if (!rest.is_nil()) error(Err::WrongType, x);
      return eval_fast(car(forms)).truthy() ? kNil : kNoValue;
    }
    case kSyntaxSet: {
      if (!proper_list_of(forms, 2)) error(Err::WrongType, x);
      Value target = car(forms);
      Value v = eval_fast(car(cdr(forms)));
      if (target.is(Tag::Variable)) {
        uint32_t code = word_payload(node_of(target).car);
        EnvFrame* e = rt().env;
        if (code < e->slot_count) [[likely]] {
          e->slots[code] = v;
          return v;
        }
      }
      set_target(target, v);
      return v;
    }
    case kSyntaxWhile: {
      if (!proper_list_of(forms, 1)) error(Err::WrongType, x);
      Value test = car(forms), body = cdr(forms);
      while (eval_fast(test).truthy()) {
        implicit_poll();
        eval_body(body);
      }
      return kNoValue;
    }
    case kSyntaxBegin:
      if (!proper_list_of(forms, 0)) error(Err::WrongType, x);
      return eval_body(forms);
    case kSyntaxWhen:
      if (!proper_list_of(forms, 1)) error(Err::WrongType, x);
      if (!eval_fast(car(forms)).truthy()) return kNil;
      return eval_body(cdr(forms));
    case kSyntaxAnd: {
      if (!proper_list_of(forms, 0)) error(Err::WrongType, x);
      Value v = rt().sym.t;
      for (; forms.is_pair(); forms = cdr(forms)) {
        v = eval_fast(car(forms));
        if (!v.truthy()) return kNil;
      }
      return v;
    }
    case kSyntaxOr:
      if (!proper_list_of(forms, 0)) error(Err::WrongType, x);
      for (; forms.is_pair(); forms = cdr(forms)) {
        Value v = eval_fast(car(forms));
        if (v.truthy()) return v;
      }
      return kNil;
    case kSyntaxSend:
      break;
    default:
      if (is_syntax_word_tag(word)) return apply_syntax_word(fn, forms, x);
      break;
  }
  return apply(fn, forms, nullptr, Mode::Forms, x);
}

// The evaluator's entry, small enough to be inlined where the evaluator
// evaluates arguments and bodies: a variable of the current frame holding a
// plain value is read here, a call goes to eval_pair.
[[gnu::always_inline]] static inline Value eval_fast(Value x) {
  if (x.is(Tag::Variable)) {
    uint32_t code = word_payload(node_of(x).car);
    EnvFrame* e = rt().env;  // never null once the runtime is made
    if (code < e->slot_count) [[likely]] {
      Value v = e->slots[code];
      if (!v.is(Tag::VarCell) && !v.is_no_value()) [[likely]]
        return v;
    }
    return read_variable(x);
  }
  if (x.is(Tag::Pair)) return x.payload() != 0 ? eval_pair(x) : x;
  if (x.is_fixnum()) return x;
  return eval_atom(x);
}

Value eval(Value x) { return eval_fast(x); }

Value eval_body(Value forms) {
  Value result = kNoValue;
  for (; forms.is_pair(); forms = cdr(forms)) result = eval_fast(car(forms));
  return result;
}

// ---- Primitive application ------------------------------------------------------------

// `form` is the call form in mode 1, noted for error reports (core/positions.hpp).
template <Mode M>
static Value apply_primitive(Value fn, ArgsIn<M> a, Value form = kNil) {
  Runtime& r = rt();
  Node& node = node_of(fn);
  uint32_t code = word_payload(node.car);
  NativeFn f = r.natives[node.cdr];
  uint32_t n = code & kArityCount;
  if (n > 8) error(Err::WrongType, fn);
  StackMark mark;
  Value* base = r.zones.sp;
  for (uint32_t i = 0; i < n; ++i) push(a.more() ? a.next() : kNil);
  if (code & kArityRest) {
    Value* first = r.zones.sp;
    while (a.more()) push(a.next());
    if (code & kArityReversed)
      for (Value *lo = first, *hi = r.zones.sp - 1; lo < hi; ++lo, --hi) std::swap(*lo, *hi);
  }
  push(kEndArgs);
  if (form.is_pair()) r.native_form = form;
  return f(base);
}

// A primitive called from a form. With exactly two argument forms whose
// values are fixnums, a native marked with an arithmetic operation is
// computed here; otherwise the values go to the native as usual.
static Value apply_primitive_forms(Value fn, Value x) {
  Runtime& r = rt();
  Value forms = cdr(x);
  Node& node = node_of(fn);
  uint32_t op = r.native_ops[node.cdr];
  uint32_t arity = word_payload(node.car) & (kArityCount | kArityRest | kArityReversed);
  // One to three fixed arguments, the most common natives: a missing
  // argument is nil, extra forms are not evaluated.
  if (arity - 1 < 3) {
    StackMark mark;
    Value* base = r.zones.sp;
    push(forms.is_pair() ? eval_fast(car(forms)) : kNil);
    if (arity >= 2) {
      forms = forms.is_pair() ? cdr(forms) : kNil;
      push(forms.is_pair() ? eval_fast(car(forms)) : kNil);
      if (arity == 3) {
        forms = forms.is_pair() ? cdr(forms) : kNil;
        push(forms.is_pair() ? eval_fast(car(forms)) : kNil);
      }
    }
    push(kEndArgs);
    r.native_form = x;
    return r.natives[node.cdr](base);
  }
  // Only natives taking every argument in one rest list, in order.
  bool rest_only = arity == kArityRest;
  if (op == 0 || !rest_only || !forms.is_pair()) return apply_primitive(fn, ArgsIn<Mode::Forms>{forms, nullptr}, x);
  Value second_forms = cdr(forms);
  if (!second_forms.is_pair() || cdr(second_forms).is_pair())
    return apply_primitive(fn, ArgsIn<Mode::Forms>{forms, nullptr}, x);
  // Marked natives take their arguments as one rest list in order. A
  // fixnum needs no protection from the collector while the second form is
  // evaluated: the stack is used only when the native is called.
  Value a = eval_fast(car(forms));
  Value b;
  if (a.is_fixnum()) {
    b = eval_fast(car(second_forms));
    if (b.is_fixnum()) return fixnum_result(FixnumOp(op), a.fixnum(), b.fixnum());
  }
  StackMark mark;
  Value* base = r.zones.sp;
  push(a);
  if (!a.is_fixnum()) b = eval_fast(car(second_forms));
  push(b);
  push(kEndArgs);
  r.native_form = x;
  return r.natives[node.cdr](base);
}

static Value apply_special(Value fn, Args a, Value origin) {
  StackMark mark;
  Value forms = a.as_list();
  check_forms(forms, 0, a.mode == Mode::Forms ? origin : cons(fn, forms));
  Value* base = rt().zones.sp;
  push(forms);
  push(kEndArgs);
  return rt().natives[node_of(fn).cdr](base);
}

// ---- Lambda-family application ---------------------------------------------------------------

void poll_slow() {
  Runtime& r = rt();
  r.poll_countdown = 1023;
  if (!r.hooks.poll || r.dispatch_depth >= 1) return;
  uint32_t now = clock_ms();
  if (clock_diff(now, r.last_poll_ms) <= 100) return;
  r.last_poll_ms = now;
  r.hooks.poll();
}

// The common end of a call: pushes the captured values and the unbound
// locals, makes the frame current and evaluates the function's body.
[[gnu::always_inline]] static inline Value enter_body(EnvFrame& frame, Value fn, Value captured, Descriptor d) {
  for (uint32_t c = 0; c < d.captured; ++c) {
    push(captured.is_pair() ? car(captured) : kNoValue);
    if (captured.is_pair()) captured = cdr(captured);
  }
  for (uint32_t l = 0; l < d.locals; ++l) push(kNoValue);
  frame.make_current();
  // Analysed codes leave the native stack to be checked here, once for
  // each call.
  check_native_stack();
  return run(rt().analyses->body(fn));
}

// The arguments of a call whose argument forms were analysed: their codes.
struct CodeArgs {
  const Code* const* args;
  uint32_t n;
  bool more() const { return n > 0; }
  Value next() {
    --n;
    return operand(*args++);
  }
  Value rest_list() {
    ListBuilder b;
    while (more()) b.add(next());
    return b.head;
  }
};

// A function called with the codes of its arguments. Kept out of line and
// reached by a tail call: the frame that stays on the native stack while the
// body runs is this one alone, not the caller's look-up and dispatch too, so
// deep recursion needs less native stack.
[[gnu::noinline]] static Value apply_lambda_codes_general(Value fn, const CallCode* c) {
  return apply_lambda(fn, CodeArgs{c->args, c->n});
}

// The general case is a function of its own, reached by a tail call, so
// that the frame left on the native stack holds one environment frame.
[[gnu::noinline]] static Value apply_lambda_codes(Value fn, const CallCode* c) {
  // The common call: a function or `lexical` closure taking exactly as
  // many arguments as the call has, with no rest list and nothing
  // captured, enters its body without reading the rest of the descriptor.
  if (!fn.is(Tag::Closed)) {
    Value f = fn.is(Tag::Lexical) ? cdr(fn) : fn;
    uint32_t d = word_payload(node_of(f).car);
    if ((d >> 9) == (c->n << 8)) [[likely]] {
      EnvFrame frame;
      implicit_poll();
      if (fn.is(Tag::Lexical)) frame.parent = lexical_env(fn);
      frame.function = f;
      for (uint32_t i = 0; i < c->n; ++i) push(operand(c->args[i]));
      return enter_body(frame, f, kNil, Descriptor{c->n, 0, 0, d & 0x1FF});
    }
  }
  return apply_lambda_codes_general(fn, c);
}

// Any other head: the general evaluator's application of the form.
[[gnu::noinline]] static Value call_form(Value fn, const CallCode* c) { return call_with(fn, c->form); }

// Only tail calls: no local of the dispatch stays on the stack below the
// callee's frame.
[[gnu::always_inline]] static inline Value call_codes(Value fn, const CallCode* c) {
  switch (fn.tag()) {
    case Tag::Primitive:
      return call_primitive(fn, c);
    case Tag::Lambda:
    case Tag::Lexical:
    case Tag::Closed:
      return apply_lambda_codes(fn, c);
    default:
      return call_form(fn, c);
  }
}

Value call_with_codes(Value fn, const CallCode* c) { return call_codes(fn, c); }

Value run_call_symbol(const Code* code) {
  const CallCode* c = static_cast<const CallCode*>(code);
  Value fn = lookup(c->sym);
  if (fn.is_no_value()) [[unlikely]]
    error(Err::Unbound, c->sym);
  return call_codes(fn, c);
}

Value run_call(const Code* code) {
  const CallCode* c = static_cast<const CallCode*>(code);
  return call_codes(operand(c->head), c);
}

template <class A>
[[gnu::always_inline]] static inline Value apply_lambda(Value fn, A a) {
  EnvFrame frame;
  implicit_poll();
  Value captured = kNil;
  if (fn.is(Tag::Lexical)) {
    frame.parent = lexical_env(fn);
    fn = cdr(fn);
  } else if (fn.is(Tag::Closed)) {
    captured = cdr(fn);
    fn = car(fn);
  }
  frame.function = fn;
  Descriptor d = descriptor(fn);
  uint32_t i = 0;
  for (; i < d.required && a.more(); ++i) push(a.next());
  for (; i < d.required; ++i) push(kNoValue);
  if (d.rest) push(a.rest_list());
  return enter_body(frame, fn, captured, d);
}

// Macro application: slot 0 holds the argument list, slot 1 (when the
// macro declares a second parameter) a reference to the caller's
// environment; further parameters are unbound.
static Value apply_macro(Value fn, Args a) {
  Value args = a.as_list();
  uint32_t caller_depth = rt().env->depth;
  EnvFrame frame;
  implicit_poll();
  Value captured = kNil;
  if (fn.is(Tag::ClosedSyntax)) {
    captured = cdr(fn);
    fn = car(fn);
  }
  frame.function = fn;
  Descriptor d = descriptor(fn);
  uint32_t params = d.required + d.rest;
  // A macro without parameters numbers its locals from slot 0: it gets no
  // argument list rather than a local that starts out bound.
  if (params > 0) push(args);
  if (params > 1) push(alloc_node(Tag::Long, make_header(Header::Long, 0), caller_depth));
  for (uint32_t i = 2; i < params; ++i) push(kNoValue);
  return enter_body(frame, fn, captured, d);
}

// ---- The handler table ----------------------------------------------------------------------------

Value apply(Value fn, Value list, const Value* vec, Mode mode, Value origin) {
  Args a{list, vec, mode};
  switch (fn.tag()) {
    case Tag::Primitive:
      if (mode == Mode::Forms) return apply_primitive(fn, ArgsIn<Mode::Forms>{list, vec}, origin);
      if (mode == Mode::Vector) return apply_primitive(fn, ArgsIn<Mode::Vector>{list, vec});
      return apply_primitive(fn, ArgsIn<Mode::Values>{list, vec});
    case Tag::Special:
      return apply_special(fn, a, origin);
    case Tag::Lambda:
    case Tag::Lexical:
    case Tag::Closed:
      if (mode == Mode::Forms) return apply_lambda(fn, ArgsIn<Mode::Forms>{list, vec});
      if (mode == Mode::Vector) return apply_lambda(fn, ArgsIn<Mode::Vector>{list, vec});
      return apply_lambda(fn, ArgsIn<Mode::Values>{list, vec});
    case Tag::Syntax:
    case Tag::ClosedSyntax:
      return apply_macro(fn, a);
    case Tag::Predicate:
      if (rt().hooks.apply_predicate) {
        Value form = mode == Mode::Forms ? origin : cons(fn, a.as_list());
        return rt().hooks.apply_predicate(fn, form);
      }
      break;
    case Tag::Instance:
    case Tag::Class:
      if (rt().hooks.apply_object && fn != kNoObject)
        return rt().hooks.apply_object(fn, list, vec, int(mode), origin);
      break;
    default:
      // `send` takes its object and arguments differently in each mode.
      if (fn.tag_number() == kSyntaxSend && rt().hooks.send_syntax) {
        Value forms = a.as_list();
        check_forms(forms, 1, mode == Mode::Forms ? origin : cons(fn, forms));
        return rt().hooks.send_syntax(forms, int(mode));
      }
      if (is_syntax_word_tag(fn.tag_number())) return apply_syntax_word(fn, a.as_list(), mode == Mode::Forms ? origin : cons(fn, a.as_list()));
      break;
  }
  error(Err::NotFunction, mode == Mode::Forms ? car(origin) : origin);
}

Value apply_list(Value fn, Value args) { return apply(fn, args, nullptr, Mode::Values, kNil); }

Value apply_vector(Value fn, const Value* args, Value origin) {
  return apply(fn, kNil, args, Mode::Vector, origin);
}

Value call_by_name(Value fn, std::initializer_list<Value> args) {
  Value origin = kNil;
  if (fn.is_symbol()) {
    origin = fn;
    fn = lookup(fn);
  }
  StackMark mark;
  Value* base = rt().zones.sp;
  for (Value v : args) push(v);
  push(kEndArgs);
  return apply(fn, kNil, base, Mode::Vector, origin);
}

// ---- Making functions ---------------------------------------------------------------------------

namespace {

// Resolves the variables of a function form to (levels up, index) slot
// codes and replaces nested function forms by the functions they make.
class Compiler {
 public:
  Value function(Value form, Tag tag);
  // The function of no parameters whose body is the top-level form.
  Value top_level(Value form);

 private:
  struct Binding {
    Value symbol;
    uint32_t level;
    uint32_t index;
  };
  std::vector<Binding> bindings_;
  std::vector<uint32_t> next_slot_;  // per level: the next free slot
  uint32_t level_ = 0;
  bool no_new_ = false;  // compiling captures: no variable may be made
  Value captures_ = kNil;  // the capture list being compiled, for its error
  // Compiling the function made for a top-level form, and that form (named
  // by the errors of the function itself).
  bool top_ = false;
  Value top_form_ = kNil;
  // The outermost level that a variable has resolved to since the nested
  // function being compiled began: below that function's own level, the
  // function uses variables of an enclosing one.
  uint32_t reach_ = 0;

  void bind(Value var, Value culprit) {
    if (!var.is(Tag::Variable)) error(Err::WrongType, culprit);
    uint32_t index = next_slot_.back()++;
    if (index > 0xFFFF) error(Err::WrongType, culprit);
    bindings_.push_back({cdr(var), level_, index});
    node_of(var).car = make_fixnum(int32_t(index)).bits;
  }
  void resolve(Value var);
  void walk(Value x);
  Value nested(Value form);
};

Tag function_tag(Value head) {
  Value word = head.is_symbol() ? symbol_value(head) : head;
  switch (word.tag_number()) {
    case kSyntaxLambda:
      return Tag::Lambda;
    case kSyntaxSyntax:
      return Tag::Syntax;
    case kSyntaxGamma:
      return Tag::Gamma;
    case kSyntaxSyntaxGamma:
      return Tag::SyntaxGamma;
    default:
      return Tag::Pair;  // not a function form
  }
}

// A form whose lexical variables are not those of the code around it: a
// `define` of a function, `(define (name . parameters) . body)`, whose
// function the define makes; `new-clause`, and the specials marked as a
// scope of their own (a clause's).
bool own_scope_form(Value form) {
  if (!form.is_pair()) return false;
  Value head = car(form);
  if (!head.is_symbol()) return false;
  Value word = symbol_value(head);
  if (word.tag_number() == kSyntaxNewClause || own_scope(word)) return true;
  if (head != rt().sym.define_ || !word.is(Tag::Special)) return false;
  Value rest = cdr(form);
  return rest.is_pair() && car(rest).is_pair();
}

void Compiler::resolve(Value var) {
  Value sym = cdr(var);
  for (size_t i = bindings_.size(); i > 0; --i) {
    const Binding& b = bindings_[i - 1];
    if (b.symbol == sym) {
      reach_ = std::min(reach_, b.level);
      node_of(var).car = make_fixnum(int32_t(((level_ - b.level) << 16) | b.index)).bits;
      return;
    }
  }
  if (no_new_) error(Err::WrongType, captures_);
  bind(var, var);
}

void Compiler::walk(Value x) {
  check_native_stack();
  // Along the list: cars are walked (nested function forms replaced in
  // place), cdrs followed iteratively. A bound on the length stops a
  // circular body.
  uint32_t steps = 0;
  while (true) {
    if (x.is(Tag::Variable)) return resolve(x);
    if (!x.is_pair()) return;
    Value e = car(x);
    if (e.is_pair() && function_tag(car(e)) != Tag::Pair) {
      Value fn = nested(e);
      if (fn != e) set_car(x, fn);
    } else if (top_ && level_ == 0 && own_scope_form(e)) {
      // Left as at top level: a define makes its function when it runs.
    } else if (e.is_pair() || e.is(Tag::Variable)) {
      walk(e);
    }
    x = cdr(x);
    if (++steps > 10000000) error(Err::WrongType, x);
  }
}

Value Compiler::nested(Value form) {
  Tag tag = function_tag(car(form));
  if (tag == Tag::Gamma || tag == Tag::SyntaxGamma) {
    // Captures are compiled in the enclosing scope, then the gamma starts
    // afresh: only its captures reach the outside.
    Value rest = cdr(form);
    if (!rest.is_pair() || !cdr(rest).is_pair()) error(Err::WrongType, form);
    Value captures = car(cdr(rest));
    bool saved_no_new = no_new_;
    Value saved_captures = captures_;
    no_new_ = true;
    captures_ = captures;
    for (Value c = captures; c.is_pair(); c = cdr(c)) {
      Value e = car(c);
      if (e.is(Tag::Variable))
        resolve(e);
      else if (e.is_pair())
        walk(cdr(e));
      else
        error(Err::WrongType, captures);
    }
    no_new_ = saved_no_new;
    captures_ = saved_captures;
    Compiler inner;
    return inner.function(form, tag);
  }
  ++level_;
  uint32_t saved_reach = reach_;
  reach_ = level_;
  Value fn = function(form, tag);
  bool encloses = reach_ < level_;
  reach_ = std::min(saved_reach, reach_);
  --level_;
  // In a top-level form's own body, a function that uses none of the form's
  // variables stays a form: made when it is evaluated, as at top level, it
  // is a plain function, which outlives the form (a closure of the form's
  // frame would not).
  if (top_ && level_ == 0 && !encloses) return form;
  return fn;
}

Value Compiler::function(Value form, Tag tag) {
  Value rest = cdr(form);
  if (!rest.is_pair()) error(Err::WrongType, form);
  Value params = car(rest);
  Value body = cdr(rest);
  size_t mark = bindings_.size();
  next_slot_.push_back(0);
  uint32_t required = 0, has_rest = 0, captured = 0;
  for (Value p = params;; p = cdr(p)) {
    if (p.is_nil()) break;
    if (!p.is_pair()) {
      bind(p, params);
      has_rest = 1;
      break;
    }
    bind(car(p), params);
    ++required;
  }
  Value captures = kNil;
  bool gamma = tag == Tag::Gamma || tag == Tag::SyntaxGamma;
  if (gamma) {
    if (!body.is_pair()) error(Err::WrongType, form);
    captures = car(body);
    body = cdr(body);
    for (Value c = captures; c.is_pair(); c = cdr(c)) {
      Value e = car(c);
      Value var = e.is_pair() ? car(e) : e;
      if (!var.is(Tag::Variable)) error(Err::WrongType, captures);
      // The capture's own node keeps its code in the enclosing scope; the
      // gamma's slot is bound by name.
      uint32_t index = next_slot_.back()++;
      bindings_.push_back({cdr(var), level_, index});
      ++captured;
    }
  }
  walk(body);
  uint32_t locals = next_slot_.back() - required - has_rest - captured;
  next_slot_.pop_back();
  bindings_.resize(mark);
  if (required > 0x7F || captured > 0x7F || locals > 0x1FF)
    error(Err::WrongType, top_ && level_ == 0 ? top_form_ : form);
  uint32_t d = (required << 17) | (has_rest << 16) | (captured << 9) | locals;
  Value head = cons(car(form), params);
  Value source = gamma ? cons(head, cons(captures, body)) : cons(head, body);
  return alloc_node(tag, Value::make(Tag::Fixnum, d).bits, source.bits);
}

Value Compiler::top_level(Value form) {
  top_ = true;
  top_form_ = form;
  Value wrapper = cons(rt().sym.lambda, cons(kNil, cons(form, kNil)));
  return function(wrapper, Tag::Lambda);
}

}  // namespace

Value make_function(Value form) {
  Tag tag = function_tag(car(form));
  if (tag == Tag::Pair) error(Err::WrongType, form);
  Compiler c;
  return c.function(form, tag);
}

// ---- Toplevel --------------------------------------------------------------------------------

namespace {

// The most list cells the look for lexical variables in a top-level form
// visits: a circular form is evaluated as it is.
constexpr uint32_t kMostTopSteps = 10000000;

bool uses_lexicals(Value form, uint32_t& steps);

// Whether a form of a top-level form, evaluated there, would use a lexical
// variable: one outside quoted data, outside the forms that make functions
// (lambda, syntax, the gammas, whose captures are left to them) or are a
// scope of their own, and outside the forms a macro or a predicate receives:
// a macro that reads or binds a variable of its caller, or a goal's logic
// variable, meets a frame only in a function; at top level they stay as
// they were.
bool form_uses_lexicals(Value x, uint32_t& steps) {
  if (x.is(Tag::Variable)) return true;
  if (!x.is_pair()) return false;
  Value head = car(x);
  if (function_tag(head) != Tag::Pair || own_scope_form(x)) return false;
  if (head.is_symbol()) {
    Value word = symbol_value(head);
    if (word.tag_number() == kSyntaxQuote || word.is(Tag::Syntax) || word.is(Tag::ClosedSyntax) ||
        word.is(Tag::Predicate))
      return false;
  }
  return uses_lexicals(x, steps);
}

// The same for every element of a list, and its tail.
bool uses_lexicals(Value l, uint32_t& steps) {
  check_native_stack();
  for (; l.is_pair(); l = cdr(l)) {
    if (++steps > kMostTopSteps) return false;
    if (form_uses_lexicals(car(l), steps)) return true;
  }
  return l.is(Tag::Variable);
}

}  // namespace

// A top-level form has no function around it: one that uses lexical
// variables (its `let` and `with` variables, say) becomes the body of a
// function made for it and called at once, whose locals they are. The
// function keeps what the form means at top level: a `define` in it defines
// a global, and a function made in it that uses none of its variables is a
// plain one, as it would be at top level. Any other form is evaluated as it
// is.
Value eval_top_form(Value form) {
  // Noted for error reports; a nested load's forms put it back.
  struct TopForm {
    Value saved = rt().top_form;
    explicit TopForm(Value f) { rt().top_form = f; }
    ~TopForm() { rt().top_form = saved; }
  } top(form);
  uint32_t steps = 0;
  if (!form_uses_lexicals(form, steps)) return eval(form);
  Compiler c;
  Value fn = c.top_level(form);
  return apply(fn, kNil, nullptr, Mode::Values, kNil);
}

bool eval_toplevel(Value form, Value* result) {
  Runtime& r = rt();
  StackMark mark;
  CatchFrame frame(r.sym.toplevel);
  frame.make_current();
  try {
    *result = eval_top_form(form);
    return true;
  } catch (const Thrower& t) {
    if (t.tag != r.sym.toplevel) throw;
    r.dispatch_depth = frame.dispatch_depth;
    return false;
  }
}

// ---- Primitives ---------------------------------------------------------------------------------

static Value prim_eval(Value form) { return eval(form); }

static Value prim_apply(Value fn, Value* rest) {
  if (!fn.is(Tag::Primitive) && !fn.is(Tag::Special) && !fn.is(Tag::Lambda) && !fn.is(Tag::Lexical) &&
      !fn.is(Tag::Closed) && !fn.is(Tag::Syntax) && !fn.is(Tag::ClosedSyntax) && !fn.is(Tag::Predicate) &&
      !fn.is(Tag::Instance) && !fn.is(Tag::Class) && !is_syntax_word_tag(fn.tag_number()))
    error(Err::NotFunction, fn);
  size_t n = 0;
  while (!rest[n].is_end()) ++n;
  Value args = kNil;
  if (n > 0) {
    args = rest[n - 1];
    for (size_t i = n - 1; i > 0; --i) args = cons(rest[i - 1], args);
  }
  return apply(fn, args, nullptr, Mode::Values, kNil);
}

// One step of for-each and map: the next element of each list argument
// (other arguments as themselves) pushed as a vector; false when a list is
// exhausted or when no argument is a list at all.
static bool map_step(Value* lists, size_t n) {
  bool any_list = false;
  for (size_t i = 0; i < n; ++i) {
    Value l = lists[i];
    if (l.is_nil()) return false;
    if (l.is_pair()) {
      any_list = true;
      push(car(l));
      lists[i] = cdr(l);
    } else {
      push(l);
    }
  }
  push(kEndArgs);
  return any_list;
}

static size_t copy_lists(Value* rest) {
  size_t n = 0;
  while (!rest[n].is_end()) ++n;
  for (size_t i = 0; i < n; ++i) push(rest[i]);
  return n;
}

static Value prim_for_each(Value fn, Value* rest) {
  StackMark mark;
  Value* lists = rt().zones.sp;
  size_t n = copy_lists(rest);
  while (true) {
    StackMark step;
    Value* args = rt().zones.sp;
    if (!map_step(lists, n)) break;
    apply(fn, kNil, args, Mode::Vector, kNil);
  }
  return kNoValue;
}

static Value prim_map(Value fn, Value* rest) {
  StackMark mark;
  Value* lists = rt().zones.sp;
  size_t n = copy_lists(rest);
  push(kNil);  // the result's head and tail, kept where the collector sees them
  push(kNil);
  Value* result = rt().zones.sp - 2;
  while (true) {
    StackMark step;
    Value* args = rt().zones.sp;
    if (!map_step(lists, n)) break;
    Value v = apply(fn, kNil, args, Mode::Vector, kNil);
    Value cell = cons(v, kNil);
    if (result[0].is_nil())
      result[0] = cell;
    else
      set_cdr(result[1], cell);
    result[1] = cell;
  }
  return result[0];
}

static Value prim_void() { return kNoValue; }

static Value sp_profile(Value forms) {
  if (!forms.is_pair()) return kNoValue;
  if (!cdr(forms).is_pair()) return eval(car(forms));
  return eval_body(cdr(forms));
}

static Value prim_get_profiler() { return rt().profiler ? rt().sym.t : kNil; }
static Value prim_set_profiler(Value on) {
  rt().profiler = on.truthy() && !on.is_no_value();
  return kNoValue;
}
static Value prim_reset_stack_flag() { return kNoValue; }

// Without a window system no key can arrive: waits the given time.
static Value prim_wait_key(Value ms) {
  int32_t n = ms.is_nil() ? 0 : read_integer(ms);
  if (n > 0) {
    timespec ts{n / 1000, long(n % 1000) * 1000000};
    nanosleep(&ts, nullptr);
  }
  return cons(make_integer(n), kNil);
}

static void install_module(Runtime&) {
  static const NativeRow rows[] = {
      TV_PRIM("eval", prim_eval, "(eval FORM) the value of FORM in the caller's environment"),
      TV_PRIM("apply", prim_apply, "(apply F A... LIST) F applied to the A and the elements of LIST"),
      TV_PRIM("for-each", prim_for_each, "(for-each F LIST...) calls F on the elements of the lists in step; no value"),
      TV_PRIM("map", prim_map, "(map F LIST...) the list of F's results on the elements of the lists in step"),
      TV_PRIM("void", prim_void, "(void) no value"),
      TV_SPECIAL2("profile", sp_profile, "(profile LABEL FORM...) the value of the last form; nothing is measured"),
      TV_PRIM2("get-profiler?", prim_get_profiler, "(get-profiler?) t when the profiler flag is set"),
      TV_PRIM2("set-profiler?", prim_set_profiler, "(set-profiler? FLAG) sets the profiler flag, which has no other effect"),
      TV_PRIM2("reset-stack-flag", prim_reset_stack_flag, "(reset-stack-flag) no value; nothing else"),
      TV_PRIM2("wait-key", prim_wait_key,
               "(wait-key MS) waits up to MS milliseconds for a key: (elapsed . key), or (MS . ()) without one"),
  };
  register_natives(rows);
  register_syntax_words();
  register_special_natives();
}

extern const Module kEvalModule{"eval", nullptr, install_module};

}  // namespace core
