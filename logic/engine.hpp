// The logic engine: clause frames, binding molecules, unification, the
// search and the instantiation of a query's variables at success.
//
// A query runs iteratively over records on the Lisp stack, so that the
// depth of a search costs Lisp stack words, never native frames:
//
//   clause frame  [ref, continuation goals, continuation frame, count, cells...]
//   choice point  [alternatives, arguments, argument frame, first argument,
//                  continuation goals, caller frame, trail mark, previous]
//
// Frames and choice points are addressed by their word offset from the base
// of the Lisp stack, stored as fixnums, so the collector reads every record
// word as a Value and keeps what the engine holds. The first frame of a
// query is its root: its cells are the slots of the environment that called
// the predicate (count word -(query number + 1)).
//
// A cell holds the no-value word (free), a plain value, or a molecule: a
// node of tag 0x1B whose car is a term and whose cdr is an environment
// reference. An environment reference is a long whose node names its frame
// by offset (header payload) and serial (cdr); it is made once per frame and
// kept in the frame's first word, so a reference whose frame is gone (the
// word there is not the same reference) is detected, never read.
//
// The trail lies in the Prolog stack zone, growing downward: each entry is
// the Lisp stack offset of a cell to reset to free on backtracking. A cell
// is trailed when it is older than the newest choice point, whichever side
// of a unification binds it. When two free variables meet, the younger cell
// is bound to the older one, so no binding chain ever loops.
//
// Clauses are tried in order; a clause whose first parameter cannot match
// the call's first argument (two different atoms, an atom and a list) is
// passed over, and a choice point is left only when a later clause may
// still match. That changes no answer, and keeps deterministic recursion
// at a frame per step. A predicate of many clauses called with a fixnum or
// a symbol first finds its candidates through an index instead of a scan.
// A clause frame that finishes with no choice point after it and no
// molecule naming it is dropped, and the last goal of a clause reuses its
// clause's frame under the same conditions, so deterministic recursion runs
// in constant stack.
//
// At success the cells that outlive the query (the caller's, found on the
// trail) get full copies of their molecules' terms. A query run from a Lisp
// goal of another search leaves the entries of the outer search's cells on
// the trail, so that the outer search still undoes them when it backtracks.
// Every way out of a query resets the trail to where the query found it.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/frames.hpp"
#include "core/module.hpp"

namespace logic {

using core::Value;

constexpr uint32_t kNoEnv = 0xFFFFFFFFu;

// The first-argument index of a predicate of many clauses: for each
// fixnum or symbol a first argument may be, the cells of the clause list
// whose clause may match it, in the list's order; `any` holds those that
// match every such atom (a variable or another kind of atom first). A
// predicate's list changes head whenever a clause is added, and the
// collector may reuse a list's cells, so indexes are keyed by the list's
// head and all dropped at every collection.
struct ClauseIndex {
  std::unordered_map<uint32_t, std::vector<Value>> by_key;
  std::vector<Value> any;
};

struct LogicState : core::ModuleState {
  std::unordered_map<uint32_t, ClauseIndex> indexes;
  uint32_t serial = 0;
  // Cells at Lisp stack offsets below this are trailed when bound.
  uint32_t boundary = 0;
  // The newest choice point (offset), or -1.
  int32_t choice = -1;
  // While the engine evaluates Lisp code: the top of its records, so that
  // a query nested in that code keeps the trail entries of the cells below.
  uint32_t engine_top = 0;
  // The environment of each active query, outermost first.
  std::vector<core::EnvFrame*> roots;
  Value sym_clause;
};

LogicState& state();

// Runs the query of a predicate called by `form` in the current
// environment: t or nil.
Value run_query(Value predicate, Value form);
// The full copy of a molecule's term, as reading a variable gives it.
Value read_cell(Value molecule);
// `free`: whether following the bindings of a variable of the current
// environment ends at a free cell.
bool variable_free(Value var);

// The clauses of a predicate as a list, and a predicate from a list.
inline Value clauses_of(Value predicate) { return Value::make(core::Tag::Pair, predicate.payload()); }
inline Value make_predicate(Value clauses) { return Value::make(core::Tag::Predicate, clauses.payload()); }

}  // namespace logic
