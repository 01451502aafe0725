// Analysed function bodies: the evaluator's faster form of a body.
//
// The first call of a function walks its body once and builds a tree of
// native codes beside it: constants, frame slots by index, symbols, calls
// with their argument codes, and the control words with their shapes
// already checked. Later calls run the tree instead of walking the lists.
//
// The analysis decides nothing that can change while the program runs. A
// call still looks its head up at every evaluation, so redefinitions,
// assignments, `fluid-let`, overrides and class changes are seen at once; a
// code built for a control word first checks that its head still names
// that word, and anything else (macros, specials, `send`, other heads) goes
// to the general evaluation of the original form. The body list itself is
// left as it was: programs read and print it as before. What the analysis
// does fix is the shape of the body: a change made to the body list after
// the function's first call is not seen by its calls (evaluate the function
// form again to get a function of the new body).
//
// The analyses live in a table beside the Lisp zones, keyed by the node of
// the function. The collector treats the table as weak: an analysis is
// kept while its function is reachable, and then the Values its codes hold
// are marked too; when the function is reclaimed, so is its analysis.
#pragma once
#include <memory>
#include <vector>

#include "core/frames.hpp"

namespace core {

struct Code;
using RunFn = Value (*)(const Code*);

// One analysed form: how to run it, and the form itself, which the general
// evaluator takes over when the code does not apply. The kind tells the
// two codes that the others read in place (operand below), and the
// arithmetic calls that a set! of a local joins to itself.
enum class CodeKind : uint8_t { Other, Constant, Slot, Arith };
struct Code {
  RunFn run;
  Value form;
  CodeKind kind;
};

[[gnu::always_inline]] inline Value run(const Code* c) { return c->run(c); }

// A constant: a form that evaluates to itself.
struct ConstantCode : Code {
  Value value;
};
// A variable of the current frame.
struct SlotCode : Code {
  uint32_t index;
};

// A call form: the head is a symbol looked up at every call (sym), or a
// code; then the argument codes.
struct CallCode : Code {
  Value sym;
  const Code* head;
  uint32_t n;
  const Code** args;
};

// Reads a variable as the general evaluator does (core/eval.hpp).
Value read_variable(Value var);

// Reads a variable of the current frame (a Slot code).
[[gnu::always_inline]] inline Value local_operand(const Code* c) {
  uint32_t index = static_cast<const SlotCode*>(c)->index;
  EnvFrame* e = rt().env;
  if (index < e->slot_count) [[likely]] {
    Value v = e->slots[index];
    if (!v.is(Tag::VarCell) && !v.is_no_value()) [[likely]]
      return v;
  }
  return read_variable(c->form);
}

// Runs an argument: constants and frame variables are read here, without
// a call.
[[gnu::always_inline]] inline Value operand(const Code* c) {
  if (c->kind == CodeKind::Slot) return local_operand(c);
  if (c->kind == CodeKind::Constant) return static_cast<const ConstantCode*>(c)->value;
  return c->run(c);
}

struct Analysis;

// The table of analyses, open addressing by function node offset.
class AnalysisTable {
 public:
  AnalysisTable();
  ~AnalysisTable();
  AnalysisTable(const AnalysisTable&) = delete;
  AnalysisTable& operator=(const AnalysisTable&) = delete;

  // The analysed body of a lambda-family or syntax function (not a
  // closure: the function itself), analysing it on first use.
  const Code* body(Value fn) {
    uint32_t key = fn.payload();
    if (key == last_key_) return last_body_;
    for (uint32_t i = hash(key);; i = (i + 1) & mask_) {
      const Slot& s = slots_[i];
      if (s.key == key) {
        last_key_ = key;
        last_body_ = s.body;
        return s.body;
      }
      if (s.key == 0) return analyse(fn);
    }
  }

  // The collector's passes (core/collector.cpp), once the roots are
  // marked: begin_marking, then mark_live until it answers false (it marks
  // the Values of every analysis whose function is marked and whose Values
  // are not yet marked in this collection), then forget_dead, which
  // forgets the analyses of the functions left unmarked.
  void begin_marking() { ++pass_; }
  bool mark_live();
  void forget_dead();

  size_t size() const { return count_; }

 private:
  struct Slot {
    uint32_t key;  // the function node's offset; 0 for an empty slot
    const Code* body;
    Analysis* analysis;
  };
  std::vector<Slot> slots_;
  uint32_t mask_ = 0;
  size_t count_ = 0;
  uint64_t pass_ = 0;  // the collection under way, as begin_marking counts them
  // The last analysis found: recursive code calls the same function again
  // and again. Cleared whenever an analysis is forgotten.
  uint32_t last_key_ = 0;
  const Code* last_body_ = nullptr;

  uint32_t hash(uint32_t key) const { return ((key >> 3) * 0x9E3779B1u >> 7) & mask_; }
  [[gnu::noinline]] const Code* analyse(Value fn);
  void insert(const Slot& s);
  void rebuild(uint32_t capacity);
};

// Entry points of the general evaluator that analysed codes fall back on
// (core/eval.cpp).
// The evaluation of call form x whose head has already given fn.
Value eval_call_with(Value fn, Value x);
// The evaluation of a form that is neither a variable nor a call.
Value eval_atom(Value x);
// A call whose head has given fn, its arguments the values of its codes.
Value call_with_codes(Value fn, const CallCode* c);
// The same for a primitive (core/analysis.cpp).
Value call_primitive(Value fn, const CallCode* c);
// The codes of calls whose head is a symbol or another form
// (core/eval.cpp, where the application of Lisp functions is).
Value run_call_symbol(const Code* c);
Value run_call(const Code* c);

}  // namespace core
