// Clauses and predicates: compiling a clause, adding it to a predicate
// (globally or as a class-level slot value), and the module's primitives.
//
// A clause is the list (count head . body): count is the number of cells
// its frame needs, head is (name . parameters). A clause is a closed scope:
// every variable in it is its own, numbered from 0 in the order first met.
// Compiling copies the clause's text, so the variable nodes a clause owns
// are never shared with a function or with data the application holds.
#include <vector>

#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "logic/engine.hpp"
#include "logic/logic.hpp"
#include "objects/internal.hpp"

namespace logic {

using namespace core;

namespace {

class ClauseCompiler {
 public:
  Value copy(Value x) {
    check_native_stack();
    if (x.is(Tag::Variable)) return variable(x);
    if (!x.is_pair()) return x;
    Value head = kNil, last = kNil;
    uint32_t steps = 0;
    for (; x.is_pair(); x = cdr(x)) {
      Value item = copy(car(x));
      Value cell = cons(item, kNil);
      if (last.is_nil())
        head = cell;
      else
        set_cdr(last, cell);
      last = cell;
      // A circular text is not a clause.
      if (++steps > rt().zones.node_count) error(Err::WrongType, kNil);
    }
    set_cdr(last, x.is(Tag::Variable) ? variable(x) : x);
    return head;
  }
  uint32_t count() const { return uint32_t(names_.size()); }

 private:
  std::vector<Value> names_;

  Value variable(Value var) {
    Value name = cdr(var);
    uint32_t index = 0;
    while (index < names_.size() && names_[index] != name) ++index;
    if (index == names_.size()) {
      if (index > 0xFFFF) error(Err::WrongType, var);
      names_.push_back(name);
    }
    return alloc_node(Tag::Variable, make_fixnum(int32_t(index)).bits, name.bits);
  }
};

// (new-clause parameters body...): the clause, its head named `new-clause`.
Value compile_clause(Value params, Value body, Value name) {
  ClauseCompiler c;
  Value p = c.copy(params);
  Value b = c.copy(body);
  Value head = cons(name, p);
  return cons(make_fixnum(int32_t(c.count())), cons(head, b));
}

Value new_clause_hook(Value forms) {
  if (!forms.is_pair()) error(Err::WrongType, forms);
  return compile_clause(car(forms), cdr(forms), intern_static("new-clause"));
}

bool runtime_function(Value v) {
  return v.is(Tag::Primitive) || v.is(Tag::Special) || is_syntax_word_tag(v.tag_number());
}

// Adds a clause in front of the clauses of `name`: the global predicate, or
// with a class current, the class-level value of the slot of that name.
void add_clause(Value name, Value clause) {
  Value o = rt().current_object;
  bool in_object = objects::is_object(o);
  objects::prepare_name(in_object ? o : kNoObject, name, 0);
  if (in_object) {
    Value cls = objects::is_class(o) ? o : objects::class_of(o);
    if (objects::find_handle(cls, name).is_nil()) error(Err::WrongType, name);
    // Read and stored as the class sees the name: the slot's class-level
    // value.
    SelfFrame frame(cls);
    Value old = lookup(name);
    Value list = old.is(Tag::Predicate) ? clauses_of(old) : kNil;
    assign(name, make_predicate(cons(clause, list)));
    return;
  }
  Value old = symbol_value(name);
  // Redefining a primitive of the runtime would change it for all the
  // library code that calls it.
  if (runtime_function(old)) error(Err::WrongType, name);
  Value list = old.is(Tag::Predicate) ? clauses_of(old) : kNil;
  set_symbol_value(name, make_predicate(cons(clause, list)));
}

// (defclause (name . parameters) body...), and asserte of that list.
Value define_clause(Value forms) {
  if (!forms.is_pair() || !car(forms).is_pair()) error(Err::WrongType, forms);
  Value head = car(forms);
  Value name = car(head);
  if (!name.is_symbol()) error(Err::WrongType, name);
  Value clause = compile_clause(cdr(head), cdr(forms), name);
  add_clause(name, clause);
  return name;
}

Value sp_defclause(Value forms) { return define_clause(forms); }
Value prim_asserte(Value list) { return define_clause(list); }
Value prim_clause_p(Value x) { return x.is(Tag::Predicate) ? rt().sym.t : kNil; }
Value prim_logvar_p(Value x) { return x.is(Tag::Variable) ? rt().sym.t : kNil; }

Value sp_free(Value forms) {
  Value x = forms.is_pair() ? car(forms) : kNil;
  if (!x.is(Tag::Variable)) error(Err::WrongType, x);
  return variable_free(x) ? rt().sym.t : kNil;
}

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<LogicState>(); }

void install(Runtime& r) {
  static const NativeRow rows[] = {
      TV_SPECIAL("defclause", sp_defclause, "(defclause (NAME . PARAMS) GOAL...) adds the clause with head PARAMS and body GOAL... to the predicate NAME; returns NAME"), TV_PRIM("asserte", prim_asserte, "(asserte ((NAME . PARAMS) GOAL...)) adds that clause to the predicate NAME, as defclause does; returns NAME"),
      TV_PRIM("clause?", prim_clause_p, "(clause? X) t for a predicate"),     TV_PRIM("logvar?", prim_logvar_p, "(logvar? X) t for a logic variable"),
      TV_SPECIAL("free", sp_free, "(free VAR) t when following the bindings of the logic variable VAR ends unbound; nil when it ends at a value"),
  };
  register_natives(rows);
  set_own_scope(&native_entry<sp_defclause>);
  LogicState& s = state();
  s.sym_clause = intern_static("clause");
  intern_static("new-clause");
  r.hooks.apply_predicate = run_query;
  r.hooks.deref_cell = read_cell;
  r.hooks.new_clause = new_clause_hook;
}

}  // namespace

// The collector may reuse the cells of a clause list: the indexes, which
// name them unmarked, go at every collection and are made again as needed.
void drop_indexes(Runtime&) { state().indexes.clear(); }

const Module kLogicModule{"logic", make_state, install, drop_indexes, nullptr};

LogicState& state() { return state_of<LogicState>(kLogicModule); }

}  // namespace logic
