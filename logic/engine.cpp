// The logic engine: unification over structure-sharing molecules, the
// iterative depth-first search, and instantiation at success.
#include "logic/engine.hpp"

#include <cstring>
#include <optional>

#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"
#include "core/specials.hpp"

namespace logic {

using namespace core;

namespace {

// Clause frame words.
constexpr uint32_t kFRef = 0, kFGoals = 1, kFParent = 2, kFCount = 3, kFCells = 4;
// Choice point words.
constexpr uint32_t kCAlts = 0, kCArgs = 1, kCArgEnv = 2, kCFirst = 3, kCRest = 4, kCCaller = 5, kCTrail = 6,
                   kCPrev = 7, kChoiceWords = 8;
// Offsets are fixnums: the engine uses the first 2^23 words of the Lisp
// stack.
constexpr uint32_t kMaxOffset = 0x7FFFF0;

inline Value* base() { return rt().zones.lisp_stack; }
inline uint32_t top_offset() { return uint32_t(rt().zones.sp - rt().zones.lisp_stack); }
inline Value fix(uint32_t n) { return make_fixnum(int32_t(n)); }
inline Value* frame_at(uint32_t f) { return base() + f; }

// ---- Environments and cells ------------------------------------------------------------

// The cell of a variable in a query's root frame: a slot of the calling
// environment or of its parents.
Value* root_cell(LogicState& s, uint32_t code, int32_t count) {
  uint32_t up = code >> 16, index = code & 0xFFFF;
  EnvFrame* e = s.roots[size_t(-count - 1)];
  for (; up > 0 && e; --up) e = e->parent;
  if (!e || index >= e->slot_count) return nullptr;
  return e->slots + index;
}

// The cell of a variable in an environment, or null when the variable has
// none there: no environment at all (a plain value still holding variable
// references), or an index past the frame. Such a variable is a constant.
inline Value* cell_of(LogicState& s, Value var, uint32_t env) {
  if (env == kNoEnv) return nullptr;
  Value* rec = frame_at(env);
  uint32_t code = word_payload(node_of(var).car);
  int32_t count = rec[kFCount].fixnum();
  // A clause frame: one level, indexes below its count.
  if (count >= 0) [[likely]]
    return code < uint32_t(count) ? rec + kFCells + code : nullptr;
  return root_cell(s, code, count);
}

// The frame an environment reference names; error 5 when that frame has
// been discarded.
[[noreturn, gnu::noinline, gnu::cold]] void discarded(Value ref) { error(Err::NotFunction, ref); }

[[gnu::always_inline]] inline uint32_t env_of(Value ref) {
  Node& n = node_of(ref);
  uint32_t f = word_payload(n.car);
  if (!ref.is(Tag::Long) || f + kFCells > top_offset() || frame_at(f)[kFRef] != ref) [[unlikely]]
    discarded(ref);
  return f;
}

// The environment reference of a frame, made the first time it is needed.
Value frame_ref(uint32_t f) {
  Value w = frame_at(f)[kFRef];
  if (!w.is_fixnum()) return w;
  Value ref = alloc_node(Tag::Long, make_header(Header::Long, f), uint32_t(w.fixnum()));
  frame_at(f)[kFRef] = ref;
  return ref;
}

// Follows the bindings of a term: answers the cell when it ends at a free
// variable; otherwise t and env are the value reached (env kNoEnv for a
// plain value). `via` is the molecule that holds exactly (t, env) when the
// last step read one, nil otherwise: a binding to the same term in the same
// frame shares it.
[[gnu::noinline]] Value* deref_general(LogicState& s, Value& t, uint32_t& env, Value& via) {
  while (t.is(Tag::Variable)) {
    Value* c = cell_of(s, t, env);
    if (!c) {
      env = kNoEnv;
      via = kNil;
      return nullptr;
    }
    Value v = *c;
    if (v.is_no_value()) return c;
    if (v.is(Tag::VarCell)) {
      t = car(v);
      env = env_of(cdr(v));
      via = v;
    } else {
      t = v;
      env = kNoEnv;
      via = kNil;
    }
  }
  return nullptr;
}

// The usual steps, through clause frames and molecules, in a loop that
// needs no saved registers; every other case goes to deref_general.
Value* deref_variable(LogicState& s, Value& t, uint32_t& env, Value& via) {
  const Zones& z = rt().zones;
  for (;;) {
    if (env == kNoEnv) break;
    Value* rec = z.lisp_stack + env;
    int32_t count = rec[kFCount].fixnum();
    uint32_t code = word_payload(node_of(t).car);
    if (count < 0 || code >= uint32_t(count)) break;
    Value* c = rec + kFCells + code;
    Value v = *c;
    if (v.is_no_value()) return c;
    if (!v.is(Tag::VarCell)) {
      t = v;
      env = kNoEnv;
      via = kNil;
      if (!v.is(Tag::Variable)) return nullptr;
      break;
    }
    const Node& mol = node_of(v);
    Value ref(mol.cdr);
    uint32_t f = word_payload(node_of(ref).car);
    if (!ref.is(Tag::Long) || f + kFCells > uint32_t(z.sp - z.lisp_stack) || z.lisp_stack[f + kFRef] != ref) break;
    t = word_value(mol.car);
    env = f;
    via = v;
    if (!t.is(Tag::Variable)) return nullptr;
  }
  return deref_general(s, t, env, via);
}

// Most terms met are not variables: that case stays inline.
inline Value* deref(LogicState& s, Value& t, uint32_t& env, Value& via) {
  if (!t.is(Tag::Variable)) [[likely]]
    return nullptr;
  return deref_variable(s, t, env, via);
}

inline Value* deref(LogicState& s, Value& t, uint32_t& env) {
  Value via;
  return deref(s, t, env, via);
}

// ---- The trail -------------------------------------------------------------------------------

inline uint32_t trail_mark() { return uint32_t(rt().zones.prolog_stack_end - rt().zones.prolog_sp); }

void undo_trail(uint32_t mark) {
  Zones& z = rt().zones;
  Value* stop = z.prolog_stack_end - mark;
  Value* b = base();
  while (z.prolog_sp < stop) b[(z.prolog_sp++)->bits] = kNoValue;
}

inline void bind(LogicState& s, Value* cell, Value v) {
  uint32_t off = uint32_t(cell - base());
  if (off < s.boundary) {
    Zones& z = rt().zones;
    // Full when it reaches the zone's base, or the depth that marks (kept
    // as fixnums) can name.
    if (z.prolog_sp <= z.prolog_stack || z.prolog_stack_end - z.prolog_sp >= kMaxOffset)
      error(Err::NativeMemory, kNil);
    *--z.prolog_sp = Value(off);
  }
  *cell = v;
}

// What a cell bound to a term holds: a molecule for a list or a free
// variable read in a frame, the term itself otherwise.
inline Value binding_for(Value t, uint32_t env) {
  if (env != kNoEnv && (t.is_pair() || t.is(Tag::Variable)))
    return alloc_node(Tag::VarCell, t.bits, frame_ref(env).bits);
  return t;
}

// ---- Unification ---------------------------------------------------------------------------

bool atoms_equal_slow(Value a, Value b) {
  if (a.is_nil() || b.is_nil() || a.is_pair() || b.is_pair()) return false;
  // A variable without a cell is a constant: the same variable (name and
  // slot), written anywhere, and nothing else.
  if (a.is(Tag::Variable) || b.is(Tag::Variable))
    return a.is(Tag::Variable) && b.is(Tag::Variable) && node_of(a).car == node_of(b).car && cdr(a) == cdr(b);
  return equal(a, b);
}

// Two fixnums or symbols are equal only when they are the same word.
inline bool quick_atom(Value x) { return x.is_fixnum() || x.is_symbol(); }

inline bool atoms_equal(Value a, Value b) {
  if (a == b) return true;
  if (quick_atom(a) && quick_atom(b)) return false;
  return atoms_equal_slow(a, b);
}

bool unify(LogicState& s, Value a, uint32_t ea, Value b, uint32_t eb) {
  check_native_stack();
  uint32_t steps = 0;
  for (;;) {
    if (a == b && ea == eb) return true;
    Value via_a = kNil, via_b = kNil;
    Value* cb = deref(s, b, eb, via_b);
    Value* ca = deref(s, a, ea, via_a);
    if (ca && cb) {
      if (ca == cb) return true;
      // The younger cell points to the older one, never the reverse; a
      // molecule that led to the older one already says so.
      if (ca > cb)
        bind(s, ca, via_b.is_nil() ? binding_for(b, eb) : via_b);
      else
        bind(s, cb, via_a.is_nil() ? binding_for(a, ea) : via_a);
      return true;
    }
    if (ca) {
      bind(s, ca, via_b.is_nil() ? binding_for(b, eb) : via_b);
      return true;
    }
    if (cb) {
      bind(s, cb, via_a.is_nil() ? binding_for(a, ea) : via_a);
      return true;
    }
    if (!a.is_pair() || !b.is_pair()) return atoms_equal(a, b);
    if (a == b && ea == eb) return true;
    Value ta = cdr(a), tb = cdr(b);
    if (ta.is_nil() && tb.is_nil()) {
      // The last elements: what is left to unify is theirs, with no call.
      a = car(a);
      b = car(b);
    } else {
      if (!unify(s, car(a), ea, car(b), eb)) return false;
      a = ta;
      b = tb;
    }
    // Circular terms (there is no occurs check) end here, not in a hang.
    if (++steps > rt().zones.node_count) error(Err::StackOverflow, kNil);
  }
}

// Unifies the parameters of a clause, read in its new frame f, with a
// call's arguments, as unify does the two lists. A parameter that is a
// variable whose cell is still free takes the argument's binding directly:
// f is the newest frame, so that cell is the younger of any two and is
// never trailed.
bool unify_params(LogicState& s, Value params, uint32_t f, Value args, uint32_t aenv) {
  Value* rec = frame_at(f);
  uint32_t count = uint32_t(rec[kFCount].fixnum());
  Value* cells = rec + kFCells;
  while (params.is_pair() && args.is_pair()) {
    Value p = car(params);
    Value a = car(args);
    Value* cell = nullptr;
    if (p.is(Tag::Variable)) {
      uint32_t code = word_payload(node_of(p).car);
      if (code < count && cells[code].is_no_value()) cell = cells + code;
    }
    if (cell) {
      uint32_t ea = aenv;
      Value via = kNil;
      deref(s, a, ea, via);
      *cell = via.is_nil() ? binding_for(a, ea) : via;
    } else if (!unify(s, p, f, a, aenv)) {
      return false;
    }
    params = cdr(params);
    args = cdr(args);
  }
  return (params.is_nil() && args.is_nil()) || unify(s, params, f, args, aenv);
}

// The first argument of a call, dereferenced once for every clause's
// first-argument test: `open` when it is a free variable (or a constant
// variable), which any clause may match.
struct FirstArg {
  Value value = kNil;
  bool open = true;
};

FirstArg first_arg(LogicState& s, Value args, uint32_t aenv) {
  FirstArg f;
  if (!args.is_pair()) return f;
  Value a = car(args);
  uint32_t env = aenv;
  if (deref(s, a, env) || a.is(Tag::Variable)) return f;
  f.value = a;
  f.open = false;
  return f;
}

// Whether a clause may match a call, judged by the first argument alone;
// a clause that fails this test would fail to unify.
[[gnu::always_inline]] inline bool may_match(Value clause, const FirstArg& first) {
  if (first.open) return true;
  Value params = cdr(car(cdr(clause)));
  if (!params.is_pair()) return true;
  Value p = car(params);
  if (p.is(Tag::Variable)) return true;
  Value a = first.value;
  if (p.is_pair()) return a.is_pair();
  if (a.is_pair()) return false;
  return atoms_equal(a, p);
}

// The index of a clause list of at least kIndexAt clauses, made at its
// first indexed call; null for a shorter list.
constexpr uint32_t kIndexAt = 8;

inline bool key_atom(Value x) { return x.is_fixnum() || x.is_symbol(); }

const ClauseIndex* index_of(LogicState& s, Value list) {
  Value x = list;
  for (uint32_t n = 0; n < kIndexAt; ++n, x = cdr(x))
    if (!x.is_pair()) return nullptr;
  auto [it, made] = s.indexes.try_emplace(list.payload());
  ClauseIndex& ix = it->second;
  if (!made) return &ix;
  // The keys first, then each clause in order to the lists it belongs to.
  for (x = list; x.is_pair(); x = cdr(x)) {
    Value params = cdr(car(cdr(car(x))));
    if (params.is_pair() && key_atom(car(params))) ix.by_key.try_emplace(car(params).bits);
  }
  for (x = list; x.is_pair(); x = cdr(x)) {
    Value params = cdr(car(cdr(car(x))));
    Value p = params.is_pair() ? car(params) : kNil;
    if (key_atom(p)) {
      ix.by_key[p.bits].push_back(x);
    } else if (!p.is_pair()) {
      // A variable or another atom (a string may equal a symbol, a real a
      // fixnum): a candidate for every key.
      ix.any.push_back(x);
      for (auto& [k, cells] : ix.by_key) cells.push_back(x);
    }
  }
  return &ix;
}

// ---- Instantiation ---------------------------------------------------------------------------

// A full copy of a term read in an environment: bound variables replaced
// by their values, free ones left as the variable references. `budget`
// bounds the nodes made, so that a circular binding is an error.
Value copy_term(LogicState& s, Value t, uint32_t env, uint32_t& budget) {
  check_native_stack();
  if (deref(s, t, env) || env == kNoEnv || !t.is_pair()) return t;
  Value head = kNil, last = kNil;
  for (;;) {
    // An element that is not a list read in a frame is its own copy once
    // its bindings are followed: no call.
    Value x = car(t);
    uint32_t ex = env;
    Value item = deref(s, x, ex) || ex == kNoEnv || !x.is_pair() ? x : copy_term(s, x, ex, budget);
    if (budget-- == 0) error(Err::StackOverflow, kNil);
    Value cell = cons(item, kNil);
    if (last.is_nil())
      head = cell;
    else
      set_cdr(last, cell);
    last = cell;
    t = cdr(t);
    if (deref(s, t, env) || env == kNoEnv || !t.is_pair()) {
      set_cdr(last, t);
      return head;
    }
  }
}

Value copy_out(LogicState& s, Value t, uint32_t env) {
  uint32_t budget = rt().zones.node_count;
  return copy_term(s, t, env, budget);
}

// ---- Evaluation in a frame -------------------------------------------------------------------

// Makes a frame's cells the current environment of the evaluator for its
// extent, without moving the Lisp stack.
class GoalEnv {
 public:
  GoalEnv(Value* cells, uint32_t count, EnvFrame* parent) {
    sp_ = frame_.slots;
    frame_.make_current();
    frame_.slots = cells;
    frame_.slot_count = count;
    frame_.parent = parent;
  }
  ~GoalEnv() { frame_.slots = sp_; }
  GoalEnv(const GoalEnv&) = delete;
  GoalEnv& operator=(const GoalEnv&) = delete;

 private:
  EnvFrame frame_;
  Value* sp_;
};

// A frame made the lexical environment for the extent of a scope, in
// which any number of forms are evaluated.
class FrameEval {
 public:
  FrameEval(LogicState& s, uint32_t f) : s_(s), saved_top_(s.engine_top) {
    s.engine_top = top_offset();
    Value* rec = frame_at(f);
    int32_t count = rec[kFCount].fixnum();
    if (count >= 0) {
      env_.emplace(rec + kFCells, uint32_t(count), nullptr);
    } else {
      EnvFrame* e = s.roots[size_t(-count - 1)];
      env_.emplace(e->slots, e->slot_count, e->parent);
    }
  }
  ~FrameEval() {
    env_.reset();
    s_.engine_top = saved_top_;
  }
  FrameEval(const FrameEval&) = delete;
  FrameEval& operator=(const FrameEval&) = delete;

 private:
  LogicState& s_;
  uint32_t saved_top_;
  std::optional<GoalEnv> env_;
};

// Evaluates a form with a frame as the lexical environment.
Value eval_in(LogicState& s, Value form, uint32_t f) {
  FrameEval scope(s, f);
  return eval(form);
}

// The common Lisp forms of clause bodies, computed here in clause frame
// cells without setting up an evaluation: constants, symbols, variables
// whose cells hold plain values, quote forms, and calls of the natives the
// evaluator itself computes (core/natives.hpp) while their heads name them:
// a native marked with an arithmetic operation on two fixnums, not, pair?
// and eq?. Nothing is changed on the way, so a form found to be anything
// else (another head, a molecule or a free cell read, other values or
// counts, a form nested too deep) is left whole to the evaluator, which
// computes it or reports what is wrong as it always has.
struct QuickFrame {
  const Value* cells;
  uint32_t count;
};

Value quick_call(Value x, QuickFrame q, uint32_t depth);

// A form's value, or no-value when it is left to the evaluator.
[[gnu::always_inline]] inline Value quick_value(Value x, QuickFrame q, uint32_t depth) {
  if (x.is_fixnum()) return x;
  if (x.is(Tag::Variable)) {
    uint32_t code = word_payload(node_of(x).car);
    if (code >= q.count) return kNoValue;
    Value v = q.cells[code];
    return v.is(Tag::VarCell) ? kNoValue : v;
  }
  if (x.is_pair()) return quick_call(x, q, depth);
  if (x.is_symbol()) return lookup(x);
  if (x.is(Tag::Lambda) || x.is(Tag::Gamma) || x.is(Tag::SyntaxGamma)) return kNoValue;
  return x;
}

Value quick_call(Value x, QuickFrame q, uint32_t depth) {
  Value head = car(x);
  Value rest = cdr(x);
  if (!head.is_symbol() || !rest.is_pair() || depth > 8) return kNoValue;
  Value fn = lookup(head);
  Value second = cdr(rest);
  if (!fn.is(Tag::Primitive)) {
    // (quote x)
    if (fn.tag_number() != kSyntaxQuote || !second.is_nil()) return kNoValue;
    return car(rest);
  }
  const Node& node = node_of(fn);
  Runtime& r = rt();
  uint32_t arity = word_payload(node.car) & (kArityCount | kArityRest | kArityReversed);
  if (uint32_t op = r.native_ops[node.cdr]) {
    if (arity != kArityRest || !second.is_pair() || !cdr(second).is_nil()) return kNoValue;
    Value a = quick_value(car(rest), q, depth + 1);
    if (!a.is_fixnum()) return kNoValue;
    Value b = quick_value(car(second), q, depth + 1);
    if (!b.is_fixnum()) return kNoValue;
    return fixnum_result(FixnumOp(op), a.fixnum(), b.fixnum());
  }
  InlineOp inl = InlineOp(r.native_inline[node.cdr]);
  if (inl == InlineOp::Not || inl == InlineOp::PairP) {
    if (arity != 1 || !second.is_nil()) return kNoValue;
    Value a = quick_value(car(rest), q, depth + 1);
    if (a.is_no_value()) return kNoValue;
    return (inl == InlineOp::Not ? a.is_nil() : a.is_pair()) ? r.sym.t : kNil;
  }
  if (inl == InlineOp::EqP) {
    if (arity != 2 || !second.is_pair() || !cdr(second).is_nil()) return kNoValue;
    Value a = quick_value(car(rest), q, depth + 1);
    if (a.is_no_value()) return kNoValue;
    Value b = quick_value(car(second), q, depth + 1);
    if (b.is_no_value()) return kNoValue;
    return a == b ? r.sym.t : kNil;
  }
  return kNoValue;
}

// A form's value in clause frame f by quick_value, or no-value; always
// no-value in the root frame.
inline Value quick_eval(Value form, uint32_t f) {
  const Value* rec = frame_at(f);
  int32_t count = rec[kFCount].fixnum();
  return count >= 0 ? quick_value(form, QuickFrame{rec + kFCells, uint32_t(count)}, 0) : kNoValue;
}

// Whether a goal argument is passed as it stands: a variable, or a value
// that evaluates to itself.
inline bool passes_as_is(Value x) {
  constexpr uint64_t kEvaluated = (uint64_t(1) << unsigned(Tag::Symbol)) | (uint64_t(1) << unsigned(Tag::Lambda)) |
                                  (uint64_t(1) << unsigned(Tag::Gamma)) | (uint64_t(1) << unsigned(Tag::SyntaxGamma));
  return !((kEvaluated >> x.tag_number()) & 1) && !x.is_pair();
}

// (quote x), whose value is x: no need to set up an evaluation.
inline bool is_quote_form(Value x) {
  if (!x.is_pair() || !car(x).is_symbol()) return false;
  Value rest = cdr(x);
  return rest.is_pair() && cdr(rest).is_nil() && lookup(car(x)).tag_number() == kSyntaxQuote;
}

// The arguments of a goal: variables unevaluated (a dotted tail too), every
// other argument evaluated in the goal's frame. When nothing needs
// evaluating the goal's own list is the argument list.
Value goal_args(LogicState& s, Value forms, uint32_t f) {
  Value x = forms;
  while (x.is_pair() && passes_as_is(car(x))) x = cdr(x);
  if (!x.is_pair()) return forms;
  uint32_t n = 0;
  for (x = forms; x.is_pair(); x = cdr(x)) ++n;
  Value tail = x;
  StackMark mark;
  Value* values = rt().zones.sp;
  for (uint32_t i = 0; i <= n; ++i) push(kNil);
  {
    // One environment for all the arguments that need evaluating.
    std::optional<FrameEval> scope;
    uint32_t i = 0;
    for (x = forms; x.is_pair(); x = cdr(x), ++i) {
      Value a = car(x);
      if (passes_as_is(a)) {
        values[i] = a;
      } else if (is_quote_form(a)) {
        values[i] = car(cdr(a));
      } else if (Value v = quick_eval(a, f); !v.is_no_value()) {
        values[i] = v;
      } else {
        if (!scope) scope.emplace(s, f);
        v = eval(a);
        values[i] = v;
      }
    }
  }
  values[n] = tail;
  for (uint32_t i = n; i > 0; --i) values[i - 1] = cons(values[i - 1], values[i]);
  return values[0];
}

// ---- The search ---------------------------------------------------------------------------------

struct Call {
  Value alts;     // the clauses left to try
  Value args;     // the goal's arguments
  uint32_t aenv;  // the frame they are read in
  bool meta;      // a `clause` goal: the clause's (head . body) are its parameters
  Value rest;     // the goals after this one
  uint32_t caller;
};

class Search {
 public:
  Search(LogicState& s, uint32_t root, int32_t floor) : s_(s), root_(root), floor_(floor) {}
  bool run(Call c);

 private:
  LogicState& s_;
  uint32_t root_;
  int32_t floor_;
  Value goals_ = kNil;
  uint32_t frame_ = 0;

  bool enter(const Call& c);
  bool droppable(uint32_t f) const;
  void reuse_parent(uint32_t parent);
  bool try_clause(Value clause, const Call& c);
  bool backtrack(Call& c);
  void set_boundary();
};

void Search::set_boundary() {
  s_.boundary = s_.choice != floor_ ? uint32_t(s_.choice) + kChoiceWords : root_;
}

// Pushes a frame for the clause and unifies its parameters with the
// arguments; on success the clause's body becomes the goals to run.
bool Search::try_clause(Value clause, const Call& c) {
  uint32_t f = top_offset();
  if (f > kMaxOffset) error(Err::StackOverflow, kNil);
  Value count = car(clause);
  Value rest = cdr(clause);
  uint32_t cells = uint32_t(count.fixnum());
  Zones& z = rt().zones;
  if (z.lisp_limit - z.sp < ptrdiff_t(kFCells + cells)) lisp_stack_overflow();
  Value* rec = z.sp;
  rec[kFRef] = fix(++s_.serial & 0x7FFFFF);
  rec[kFGoals] = c.rest;
  rec[kFParent] = fix(c.caller);
  rec[kFCount] = count;
  for (uint32_t i = 0; i < cells; ++i) rec[kFCells + i] = kNoValue;
  z.sp = rec + kFCells + cells;
  Value params = c.meta ? rest : cdr(car(rest));
  if (!unify_params(s_, params, f, c.args, c.aenv)) return false;
  goals_ = cdr(rest);
  frame_ = f;
  return true;
}

// Whether a finished clause frame can go: no choice point was made after
// it (so none of its cells is on the trail and no alternative will read
// it) and no molecule names it (its reference was never made).
bool Search::droppable(uint32_t f) const {
  return s_.choice < int32_t(f) && frame_at(f)[kFRef].is_fixnum();
}

// The last call of a clause, entered without a choice point: when nothing
// else needs the calling clause's frame any more, the callee's frame moves
// down into its place, so deterministic recursion runs in constant stack.
// The callee's reference, when one was made, follows it.
void Search::reuse_parent(uint32_t parent) {
  Value* rec = frame_at(parent);
  if (frame_ <= parent || !droppable(parent) || parent + kFCells + uint32_t(rec[kFCount].fixnum()) != frame_) return;
  uint32_t words = top_offset() - frame_;
  std::memmove(rec, frame_at(frame_), words * sizeof(Value));
  rt().zones.sp = rec + words;
  Value ref = rec[kFRef];
  if (!ref.is_fixnum()) node_of(ref).car = make_header(Header::Long, parent);
  frame_ = parent;
}

// Tries the first clause of c.alts that may match, leaving a choice point
// when a later one may match too.
bool Search::enter(const Call& c) {
  Value alts = c.alts;
  FirstArg first = c.meta ? FirstArg{} : first_arg(s_, c.args, c.aenv);
  Value next;
  const ClauseIndex* ix = first.open || !key_atom(first.value) ? nullptr : index_of(s_, alts);
  if (ix) {
    // The candidates in order; backtracking goes on from the second by
    // scanning the list, which finds the same clauses.
    auto k = ix->by_key.find(first.value.bits);
    const std::vector<Value>& cells = k == ix->by_key.end() ? ix->any : k->second;
    if (cells.empty()) return false;
    alts = cells[0];
    next = cells.size() > 1 ? cells[1] : kNil;
  } else {
    while (alts.is_pair() && !may_match(car(alts), first)) alts = cdr(alts);
    if (!alts.is_pair()) return false;
    next = cdr(alts);
    while (next.is_pair() && !may_match(car(next), first)) next = cdr(next);
  }
  if (next.is_pair()) {
    LogicState& s = s_;
    uint32_t p = top_offset();
    if (p > kMaxOffset) error(Err::StackOverflow, kNil);
    push(next);
    push(c.args);
    push(fix(c.aenv));
    // The first argument the clauses were chosen by: end-args for a
    // `clause` goal, no-value when open.
    push(c.meta ? kEndArgs : first.open ? kNoValue : first.value);
    push(c.rest);
    push(fix(c.caller));
    push(fix(trail_mark()));
    push(make_fixnum(s.choice));
    s.choice = int32_t(p);
    set_boundary();
  }
  return try_clause(car(alts), c);
}

// Goes back to the newest choice point of this search and tries its next
// alternative; false when there is none left.
bool Search::backtrack(Call& c) {
  LogicState& s = s_;
  while (s.choice != floor_) {
    uint32_t p = uint32_t(s.choice);
    Value* cp = frame_at(p);
    undo_trail(uint32_t(cp[kCTrail].fixnum()));
    rt().zones.sp = cp + kChoiceWords;
    c.alts = cp[kCAlts];
    c.args = cp[kCArgs];
    c.aenv = uint32_t(cp[kCArgEnv].fixnum());
    Value w = cp[kCFirst];
    c.meta = w.is_end();
    c.rest = cp[kCRest];
    c.caller = uint32_t(cp[kCCaller].fixnum());
    Value clause = car(c.alts);
    Value next = cdr(c.alts);
    FirstArg first;
    if (!c.meta && !w.is_no_value()) first = FirstArg{w, false};
    while (next.is_pair() && !may_match(car(next), first)) next = cdr(next);
    if (next.is_pair()) {
      cp[kCAlts] = next;
    } else {
      // The last alternative: the choice point goes, and the clause's
      // frame takes its words.
      s.choice = cp[kCPrev].fixnum();
      set_boundary();
      rt().zones.sp = cp;
    }
    if (try_clause(clause, c)) return true;
  }
  return false;
}

bool Search::run(Call c) {
  LogicState& s = s_;
  if (!enter(c) && !backtrack(c)) return false;
  for (;;) {
    implicit_poll();
    while (!goals_.is_pair()) {
      if (frame_ == root_) return true;
      Value* rec = frame_at(frame_);
      goals_ = rec[kFGoals];
      uint32_t done = frame_;
      frame_ = uint32_t(rec[kFParent].fixnum());
      // A deterministic exit: the frame on top of the stack, with no
      // choice point after it and no molecule naming it, is dropped.
      if (droppable(done) && done + kFCells + uint32_t(rec[kFCount].fixnum()) == top_offset()) rt().zones.sp = rec;
    }
    Value goal = car(goals_);
    Value rest = cdr(goals_);
    if (goal.is_pair() && car(goal).is_symbol()) {
      Value head = car(goal);
      Value v = lookup(head);
      if (head == s.sym_clause && (v.is(Tag::Predicate) || v.is_no_value())) {
        // (clause X): X names a predicate through its head; each clause is
        // tried with its (head . body) as parameters and its body run.
        Value x = cdr(goal).is_pair() ? car(cdr(goal)) : kNil;
        uint32_t xenv = frame_;
        deref(s, x, xenv);
        Value p = kNil;
        if (x.is_pair() && car(x).is_pair() && car(car(x)).is_symbol()) p = lookup(car(car(x)));
        if (p.is(Tag::Predicate)) {
          c = Call{clauses_of(p), x, xenv, true, rest, frame_};
          if (enter(c) || backtrack(c)) continue;
          return false;
        }
        if (backtrack(c)) continue;
        return false;
      }
      if (v.is(Tag::Predicate)) {
        // The last goal of a clause continues where its clause would have:
        // the clause's frame is needed only for reading the arguments.
        uint32_t parent = frame_;
        bool last = !rest.is_pair() && parent != root_;
        Value after = rest;
        uint32_t caller = parent;
        if (last) {
          Value* rec = frame_at(parent);
          after = rec[kFGoals];
          caller = uint32_t(rec[kFParent].fixnum());
        }
        c = Call{clauses_of(v), goal_args(s, cdr(goal), parent), parent, false, after, caller};
        if (enter(c)) {
          if (last) reuse_parent(parent);
          continue;
        }
        if (backtrack(c)) continue;
        return false;
      }
    }
    // A Lisp expression: a test.
    Value v = goal.is_pair() ? quick_eval(goal, frame_) : kNoValue;
    if (v.is_no_value()) v = eval_in(s, goal, frame_);
    if (v.truthy()) {
      goals_ = rest;
      continue;
    }
    if (!backtrack(c)) return false;
  }
}

// Replaces the molecules of the cells that outlive the query by full
// copies, then drops the query's trail entries, or keeps those of cells an
// enclosing search may still have to reset.
void finish_success(LogicState& s, uint32_t query_base, uint32_t mark, uint32_t keep_below) {
  Zones& z = rt().zones;
  Value* b = base();
  Value* stop = z.prolog_stack_end - mark;
  for (Value* e = z.prolog_sp; e < stop; ++e) {
    uint32_t off = e->bits;
    if (off >= query_base) continue;
    Value v = b[off];
    if (v.is(Tag::VarCell)) {
      Value copy = copy_out(s, car(v), env_of(cdr(v)));
      b[off] = copy;
    }
  }
  Value* out = stop;
  for (Value* e = stop; e > z.prolog_sp;) {
    --e;
    if (e->bits < keep_below) *--out = *e;
  }
  z.prolog_sp = out;
}

}  // namespace

// ---- Queries --------------------------------------------------------------------------------------

Value run_query(Value predicate, Value form) {
  Runtime& r = rt();
  LogicState& s = state();
  // A call through apply hands the values themselves: none is evaluated.
  bool values = car(form) == predicate;
  StackMark stack;
  uint32_t mark = trail_mark();
  uint32_t root = top_offset();
  if (root > kMaxOffset) error(Err::StackOverflow, kNil);
  int32_t saved_choice = s.choice;
  uint32_t saved_boundary = s.boundary;
  uint32_t keep_below = s.roots.empty() ? 0 : s.engine_top;
  s.roots.push_back(r.env);
  struct Restore {
    LogicState& s;
    int32_t choice;
    uint32_t boundary;
    ~Restore() {
      s.choice = choice;
      s.boundary = boundary;
      s.roots.pop_back();
    }
  } restore{s, saved_choice, saved_boundary};
  push(fix(++s.serial & 0x7FFFFF));
  push(kNil);
  push(make_fixnum(-1));
  push(make_fixnum(-int32_t(s.roots.size())));
  s.boundary = root;
  Value args = cdr(form);
  if (!values) {
    // Evaluated in the caller's environment, which is the root's.
    Value x = args;
    bool as_is = true;
    for (; x.is_pair(); x = cdr(x)) as_is = as_is && passes_as_is(car(x));
    if (!as_is) args = goal_args(s, args, root);
  }
  push(args);
  bool ok;
  try {
    Search search(s, root, saved_choice);
    ok = search.run(Call{clauses_of(predicate), args, root, false, kNil, root});
    if (ok) finish_success(s, root, mark, keep_below);
  } catch (...) {
    undo_trail(mark);
    throw;
  }
  if (!ok) undo_trail(mark);
  return ok ? r.sym.t : kNil;
}

Value read_cell(Value molecule) { return copy_out(state(), car(molecule), env_of(cdr(molecule))); }

bool variable_free(Value var) {
  LogicState& s = state();
  Value* slot = variable_slot(var);
  if (!slot) return true;
  Value v = *slot;
  while (v.is(Tag::VarCell)) {
    Value t = car(v);
    if (!t.is(Tag::Variable)) return false;
    Value* c = cell_of(s, t, env_of(cdr(v)));
    if (!c) return false;
    v = *c;
  }
  return v.is_no_value();
}

}  // namespace logic
