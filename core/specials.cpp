// The built-in syntax words and the special forms of control and binding.
//
// Built-in syntax words are interpreted by the evaluator itself: their value
// is a permanent node whose tag says which word it is. Specials are natives
// that receive their argument forms unevaluated as one list.
//
// `let` and its kin, `with` and the `bind` family make no frames: their
// variables are ordinary locals of the enclosing function, resolved when the
// function was made.
#include "core/specials.hpp"

#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/natives.hpp"
#include "core/predicates.hpp"

namespace core {

namespace {

inline Value second(Value l) {
  if (!l.is_pair()) return kNil;
  Value r = cdr(l);
  return r.is_pair() ? car(r) : kNil;
}
inline Value first(Value l) { return l.is_pair() ? car(l) : kNil; }
inline Value rest_of(Value l) { return l.is_pair() ? cdr(l) : kNil; }

Value sym_t() { return rt().sym.t; }

// The forms of a special, checked as check_forms does; the special's name
// rebuilds the form for the report.
Value forms_of(Value args, uint32_t least, const char* name) {
  uint32_t n = 0;
  Value l = args;
  for (; l.is_pair(); l = cdr(l)) ++n;
  if (n < least || !l.is_nil()) error(Err::WrongType, cons(intern_static(name), args));
  return args;
}

}  // namespace

void check_forms(Value args, uint32_t least, Value form) {
  uint32_t n = 0;
  Value l = args;
  for (; l.is_pair(); l = cdr(l)) ++n;
  if (n < least || !l.is_nil()) error(Err::WrongType, form);
}

void set_target(Value target, Value value) {
  if (target.is(Tag::Variable)) {
    Value* slot = variable_slot(target);
    if (!slot) error(Err::Unbound, target);
    *slot = value;
  } else if (target.is_symbol()) {
    assign(target, value);
  } else {
    error(Err::WrongType, target);
  }
}

// ---- Built-in syntax ----------------------------------------------------------------

static Value syn_cond(Value clauses) {
  for (; clauses.is_pair(); clauses = cdr(clauses)) {
    Value clause = car(clauses);
    if (!clause.is_pair()) error(Err::WrongType, clause);
    Value test = car(clause);
    Value v = test == rt().sym.else_ ? sym_t() : eval(test);
    if (!v.truthy()) continue;
    Value forms = cdr(clause);
    if (!forms.is_pair()) return v;
    if (car(forms) == rt().sym.arrow) {
      Value fn = second(forms);
      return call_by_name(fn, {v});
    }
    return eval_body(forms);
  }
  return kNoValue;
}

static bool case_selects(Value selector, Value key) {
  if (selector.is_pair()) {
    for (; selector.is_pair(); selector = cdr(selector))
      if (eqv(car(selector), key)) return true;
    return false;
  }
  return selector == rt().sym.t || selector == rt().sym.else_ || eqv(selector, key);
}

static Value syn_case(Value args) {
  Value key = eval(first(args));
  for (Value c = rest_of(args); c.is_pair(); c = cdr(c)) {
    Value clause = car(c);
    if (!clause.is_pair()) error(Err::WrongType, clause);
    if (case_selects(car(clause), key)) return eval_body(cdr(clause));
  }
  return kNoValue;
}

static Value syn_let(Value args) {
  for (Value b = first(args); b.is_pair(); b = cdr(b)) {
    Value binding = car(b);
    Value var = binding, value = kNoValue;
    if (binding.is_pair()) {
      var = car(binding);
      if (cdr(binding).is_pair()) value = eval(second(binding));
    }
    set_target(var, value);
  }
  return eval_body(rest_of(args));
}

// Dynamic binding: each symbol's value is saved on the Lisp stack and put
// back when the form is left, whichever way.
static Value syn_fluid_let(Value args) {
  StackMark mark;
  Value* saved = rt().zones.sp;
  size_t bound = 0;
  Value bindings = first(args);
  return protect(
      [&] {
        for (Value b = bindings; b.is_pair(); b = cdr(b)) {
          Value binding = car(b);
          Value sym = binding.is_pair() ? car(binding) : binding;
          if (!sym.is_symbol()) error(Err::WrongType, binding);
          Value value = binding.is_pair() && cdr(binding).is_pair() ? second(binding) : kNoValue;
          push(sym);
          push(lookup(sym));
          ++bound;
          if (binding.is_pair() && cdr(binding).is_pair()) value = eval(value);
          assign(sym, value);
        }
        return eval_body(rest_of(args));
      },
      [&] {
        for (size_t i = bound; i > 0; --i) assign(saved[2 * i - 2], saved[2 * i - 1]);
      });
}

static Value syn_repeat(Value args) {
  int32_t n = read_integer(eval(first(args)));
  Value body = rest_of(args);
  for (int32_t i = 0; i < n; ++i) eval_body(body);
  return kNoValue;
}

// The fewest argument forms each syntax word takes, by tag from 0x20.
constexpr uint8_t kLeastForms[] = {
    1, 1, 1, 0, 0, 2, 0, 1,  // quote if when - cond set! new-clause case
    1, 1, 1, 0, 0, 0, 1, 1,  // repeat until while begin or and lambda send
    2, 1, 1, 0, 2, 0, 1,     // gamma syntax fluid-let - syntax-gamma - let
};

Value apply_syntax_word(Value word, Value args, Value form) {
  unsigned index = word.tag_number() - kSyntaxQuote;
  check_forms(args, index < sizeof kLeastForms ? kLeastForms[index] : 0, form);
  switch (word.tag_number()) {
    case kSyntaxQuote:
      return first(args);
    case kSyntaxIf:
      if (eval(first(args)).truthy()) return eval(second(args));
      return eval_body(rest_of(rest_of(args)));
    case kSyntaxWhen:
      if (!eval(first(args)).truthy()) return kNil;
      return eval_body(rest_of(args));
    case kSyntaxCond:
      return syn_cond(args);
    case kSyntaxSet: {
      Value v = eval(second(args));
      set_target(first(args), v);
      return v;
    }
    case kSyntaxNewClause:
      if (!rt().hooks.new_clause) error(Err::NotAvailable, kNil);
      return rt().hooks.new_clause(args);
    case kSyntaxCase:
      return syn_case(args);
    case kSyntaxRepeat:
      return syn_repeat(args);
    case kSyntaxUntil: {
      Value test = first(args), body = rest_of(args);
      do {
        implicit_poll();
        eval_body(body);
      } while (!eval(test).truthy());
      return kNoValue;
    }
    case kSyntaxWhile: {
      Value test = first(args), body = rest_of(args);
      while (eval(test).truthy()) {
        implicit_poll();
        eval_body(body);
      }
      return kNoValue;
    }
    case kSyntaxBegin:
      return eval_body(args);
    case kSyntaxOr:
      for (; args.is_pair(); args = cdr(args)) {
        Value v = eval(car(args));
        if (v.truthy()) return v;
      }
      return kNil;
    case kSyntaxAnd: {
      Value v = sym_t();
      for (; args.is_pair(); args = cdr(args)) {
        v = eval(car(args));
        if (!v.truthy()) return kNil;
      }
      return v;
    }
    case kSyntaxLambda:
    case kSyntaxSyntax:
      return make_function(form);
    case kSyntaxGamma:
    case kSyntaxSyntaxGamma:
      return eval(make_function(form));
    case kSyntaxSend:
      if (!rt().hooks.send_syntax) error(Err::NotAvailable, kNil);
      return rt().hooks.send_syntax(args, int(Mode::Forms));
    case kSyntaxFluidLet:
      return syn_fluid_let(args);
    case kSyntaxLet:
      return syn_let(args);
    default:
      error(Err::NotFunction, word);
  }
}

void register_syntax_words() {
  struct Word {
    const char* name;
    unsigned tag;
  };
  static const Word words[] = {
#define TALVEN_X(name, tag, text) {text, tag},
      TALVEN_SYNTAX_WORDS(TALVEN_X)
#undef TALVEN_X
  };
  for (const Word& w : words) {
    Value node = alloc_node(Tag(w.tag), kPermanentBit | make_header(Header::Long, 0), 0);
    intern_static(w.name, node);
  }
}

// ---- Specials ------------------------------------------------------------------------

static Value sp_unless(Value args) {
  if (eval(first(args)).truthy()) return kNil;
  return eval_body(rest_of(args));
}

static Value sp_prog1(Value args) {
  if (!args.is_pair()) return kNoValue;
  Value v = eval(car(args));
  eval_body(cdr(args));
  return v;
}

static bool is_object(Value v) { return (v.is(Tag::Instance) || v.is(Tag::Class)) && v != kNoObject; }

static Value sp_try(Value args) {
  Value object = eval(first(args));
  if (object.is_nil()) return kNil;
  SelfFrame frame(object);
  return eval_body(rest_of(args));
}

SpecialCode special_code(Value special) {
  NativeFn f = native_function(special);
  if (f == &native_entry<sp_unless>) return SpecialCode::Unless;
  if (f == &native_entry<sp_prog1>) return SpecialCode::Prog1;
  if (f == &native_entry<sp_try>) return SpecialCode::Try;
  return SpecialCode::None;
}

static Value quasi(Value t) {
  check_native_stack();
  if (!t.is_pair()) return t;
  Value head = car(t);
  if (!head.is_pair()) return cons(head, quasi(cdr(t)));
  Value op = car(head);
  if (op == rt().sym.unquote) {
    Value x = cdr(head);
    Value v = x.is_pair() ? eval(car(x)) : kNil;
    return cons(v, quasi(cdr(t)));
  }
  if (op == rt().sym.unquote_splicing) {
    Value x = cdr(head);
    Value rest = quasi(cdr(t));
    if (!x.is_pair()) return rest;
    Value list = eval(car(x));
    // A fresh copy of the spliced list, ahead of the rest.
    Value copy = kNil, tail = kNil;
    uint32_t steps = 0;
    for (; list.is_pair(); list = cdr(list)) {
      if (++steps > 16000000) error(Err::WrongType, list);
      Value cell = cons(car(list), kNil);
      if (tail.is_nil())
        copy = cell;
      else
        set_cdr(tail, cell);
      tail = cell;
    }
    if (tail.is_nil()) return rest;
    set_cdr(tail, rest);
    return copy;
  }
  Value a = quasi(head);
  return cons(a, quasi(cdr(t)));
}

static Value sp_quasiquote(Value args) { return quasi(args); }

static Value sp_typecase(Value args) {
  Value v = eval(first(args));
  for (Value c = rest_of(args); c.is_pair(); c = cdr(c)) {
    Value clause = car(c);
    if (!clause.is_pair()) error(Err::WrongType, clause);
    Value sel = car(clause);
    bool match = false;
    if (sel == rt().sym.else_) {
      match = true;
    } else if (sel.is_pair()) {
      for (; sel.is_pair() && !match; sel = cdr(sel)) match = type_p(v, car(sel));
    } else {
      match = type_p(v, sel);
    }
    if (match) return eval_body(cdr(clause));
  }
  return kNoValue;
}

// `with`: binds like `let`; when left, disposes the bound values, last
// first: objects are sent `destroy`, pointer blocks and handles released.
static void dispose(Value v) {
  Runtime& r = rt();
  if (is_object(v)) {
    if (r.hooks.send) {
      Value none[1] = {kEndArgs};
      r.hooks.send(v, r.sym.destroy, none);
    }
  } else if (v.is(Tag::Pointer)) {
    uint32_t kind = box_kind(v);
    if ((kind == kBoxMemory || kind == kBoxHandle) && r.hooks.release_box) r.hooks.release_box(v);
  }
}

static Value sp_with(Value args) {
  StackMark mark;
  Value* values = rt().zones.sp;
  size_t bound = 0;
  return protect(
      [&] {
        for (Value b = first(args); b.is_pair(); b = cdr(b)) {
          Value binding = car(b);
          Value var = binding, value = kNoValue;
          if (binding.is_pair()) {
            var = car(binding);
            if (cdr(binding).is_pair()) value = eval(second(binding));
          }
          set_target(var, value);
          push(value);
          ++bound;
        }
        return eval_body(rest_of(args));
      },
      [&] {
        for (size_t i = bound; i > 0; --i) dispose(values[i - 1]);
      });
}

static Value sp_put(Value args) {
  forms_of(args, 2, "put!");
  Value object = eval(first(args));
  Value sym = second(args);
  Value v = eval(first(rest_of(rest_of(args))));
  if (!sym.is_symbol()) error(Err::WrongType, sym);
  if (!is_object(object)) object = kNoObject;
  SelfFrame frame(object);
  assign(sym, v);
  return v;
}

static Value sp_comment(Value) { return kNoValue; }

static Value sp_free_p(Value args) {
  Value x = first(args);
  if (x.is(Tag::Variable)) {
    Value* slot = variable_slot(x);
    return !slot || slot->is_no_value() ? sym_t() : kNil;
  }
  return eval(x).is_no_value() ? sym_t() : kNil;
}

static Value sp_test(Value args) {
  Value x = first(args);
  if (!eval(x).truthy()) error(Err::WrongType, x);
  return kNoValue;
}

static void destructure(Value pattern, Value v) {
  check_native_stack();
  while (true) {
    if (pattern.is_nil()) return;
    if (pattern.is(Tag::Variable) || pattern.is_symbol()) return set_target(pattern, v);
    if (!pattern.is_pair()) error(Err::WrongType, pattern);
    destructure(car(pattern), v.is_pair() ? car(v) : kNil);
    pattern = cdr(pattern);
    v = v.is_pair() ? cdr(v) : kNil;
  }
}

static Value sp_bind(Value args) {
  forms_of(args, 2, "bind");
  Value pattern = first(args);
  destructure(pattern, eval(second(args)));
  return eval_body(rest_of(rest_of(args)));
}

static Value sp_bind_optionals(Value args) {
  forms_of(args, 2, "bind-optionals");
  Value list = eval(second(args));
  for (Value s = first(args); s.is_pair(); s = cdr(s)) {
    Value binding = car(s);
    Value var = binding.is_pair() ? car(binding) : binding;
    Value v;
    if (list.is_pair()) {
      v = car(list);
      list = cdr(list);
    } else {
      v = binding.is_pair() && cdr(binding).is_pair() ? eval(second(binding)) : kNil;
    }
    set_target(var, v);
  }
  return eval_body(rest_of(rest_of(args)));
}

static Value name_of(Value var) {
  if (var.is(Tag::Variable)) return cdr(var);
  if (var.is_symbol()) return var;
  return kNil;
}

static Value sp_bind_keywords(Value args) {
  forms_of(args, 2, "bind-keywords");
  Value plist = eval(second(args));
  // A property list of odd length: error with its last tail.
  uint32_t steps = 0;
  for (Value p = plist; p.is_pair(); p = cdr(cdr(p))) {
    if (!cdr(p).is_pair()) error(Err::WrongType, p);
    if (++steps > 16000000) error(Err::WrongType, plist);
  }
  for (Value s = first(args); s.is_pair(); s = cdr(s)) {
    Value binding = car(s);
    Value var = binding.is_pair() ? car(binding) : binding;
    Value name = name_of(var);
    if (name.is_nil()) error(Err::WrongType, binding);
    const char* want = symbol_text(name);
    Value found = kNoValue;
    for (Value p = plist; p.is_pair(); p = cdr(cdr(p))) {
      Value key = car(p);
      if (key.is_symbol()) {
        const char* k = symbol_text(key);
        if (k[0] != 0 && std::strcmp(k + 1, want) == 0) {
          found = car(cdr(p));
          break;
        }
      }
    }
    if (found.is_no_value()) found = binding.is_pair() && cdr(binding).is_pair() ? eval(second(binding)) : kNil;
    set_target(var, found);
  }
  return eval_body(rest_of(rest_of(args)));
}

static Value sp_bind_properties(Value args) {
  Runtime& r = rt();
  for (Value s = first(args); s.is_pair(); s = cdr(s)) {
    Value var = car(s);
    Value name = name_of(var);
    if (name.is_nil() || r.current_object == kNoObject || !r.hooks.property) error(Err::WrongType, var);
    set_target(var, r.hooks.property(r.current_object, name));
  }
  return eval_body(rest_of(args));
}

// The structure descriptions of `defstruct`: an association list by name.
static Value struct_description(Value name) {
  for (Value l = rt().structure_table; l.is_pair(); l = cdr(l))
    if (car(car(l)) == name) return cdr(car(l));
  return kNoValue;
}

static Value sp_defstruct(Value args) {
  forms_of(args, 1, "defstruct");
  Value name = first(args);
  Value desc = second(args);
  for (Value l = rt().structure_table; l.is_pair(); l = cdr(l)) {
    if (car(car(l)) == name) {
      set_cdr(car(l), desc);
      return name;
    }
  }
  rt().structure_table = cons(cons(name, desc), rt().structure_table);
  return name;
}

static void bind_fields(Value desc, Value v, Value& vars) {
  check_native_stack();
  while (true) {
    if (desc.is_nil()) return;
    if (desc.is_symbol()) {
      if (!vars.is_pair()) error(Err::WrongType, desc);
      Value var = car(vars);
      vars = cdr(vars);
      if (name_of(var) != desc) error(Err::WrongType, var);
      return set_target(var, v);
    }
    if (!desc.is_pair()) return;
    bind_fields(car(desc), v.is_pair() ? car(v) : kNil, vars);
    desc = cdr(desc);
    v = v.is_pair() ? cdr(v) : kNil;
  }
}

static Value sp_bind_struct(Value args) {
  forms_of(args, 3, "bind-struct");
  Value name = first(args);
  Value desc = struct_description(name);
  if (desc.is_no_value()) error(Err::WrongType, name);
  Value rest = rest_of(args);
  Value vars = first(rest);
  Value v = eval(second(rest));
  bind_fields(desc, v, vars);
  return eval_body(rest_of(rest_of(rest)));
}

// ---- define -----------------------------------------------------------------------------

void make_permanent(Value v) {
  check_native_stack();
  while (true) {
    switch (v.tag()) {
      case Tag::Pair:
      case Tag::Lexical:
      case Tag::Closed:
      case Tag::ClosedSyntax: {
        if (v.payload() == 0) return;
        Node& n = node_of(v);
        if (n.car & kPermanentBit) return;
        n.car |= kPermanentBit;
        make_permanent(car(v));
        v = cdr(v);
        break;
      }
      case Tag::Lambda:
      case Tag::Syntax:
      case Tag::Gamma:
      case Tag::SyntaxGamma:
      case Tag::Variable: {
        Node& n = node_of(v);
        if (n.car & kPermanentBit) return;
        n.car |= kPermanentBit;
        v = cdr(v);
        break;
      }
      case Tag::Long:
      case Tag::Real:
      case Tag::String:
        node_of(v).car |= kPermanentBit;
        return;
      case Tag::Vector:
      case Tag::Array:
      case Tag::HashTable:
      case Tag::Pointer:
      case Tag::ByteBlock:
      case Tag::Class:
      case Tag::Instance:
      case Tag::Record:
        error_text("bad type in protect fonction");
      default:
        return;
    }
  }
}

static Value sp_define(Value args) {
  forms_of(args, 1, "define");
  Runtime& r = rt();
  Value head = first(args);
  Value name, value;
  if (head.is_pair()) {
    name = car(head);
    if (!name.is_symbol()) error(Err::WrongType, name);
    // The symbol `lambda` heads the form, so that the function prints as
    // one made by a `lambda` form does.
    Value form = cons(intern_static("lambda"), cons(cdr(head), rest_of(args)));
    value = eval(form);
    make_permanent(value);
  } else {
    name = head;
    if (!name.is_symbol()) error(Err::WrongType, name);
    Value rest = rest_of(args);
    if (!rest.is_pair())
      value = kNoValue;
    else if (cdr(rest).is_pair())
      value = eval(car(cdr(rest)));
    else
      value = eval(car(rest));
  }
  if (r.hooks.define)
    r.hooks.define(r.current_object, name, value);
  else
    assign(name, value);
  return name;
}

static Value sp_defslot(Value args) {
  if (!rt().hooks.defslot) error(Err::NotAvailable, kNil);
  return rt().hooks.defslot(args);
}

void register_special_natives() {
  static const NativeRow rows[] = {
      TV_SPECIAL("unless", sp_unless, "(unless TEST FORM...) nil when TEST is true, else the forms' last value"),
      TV_SPECIAL("prog1", sp_prog1, "(prog1 FIRST FORM...) evaluates all the forms; returns the value of FIRST"),
      TV_SPECIAL("try", sp_try, "(try OBJECT FORM...) nil when OBJECT is nil, else the forms' last value with self bound to OBJECT"),
      TV_SPECIAL("quasiquote", sp_quasiquote, "(quasiquote ITEM...) the list of the ITEMs, nested lists copied alike, with each (unquote X) replaced by X's value and each (unquote-splicing X) by a copy of the elements of X's list"),
      TV_SPECIAL("typecase", sp_typecase, "(typecase EXPR (TYPE FORM...)...) the forms of the first clause whose type (or one of its list of types) EXPR's value is of (type?), else matching anything; no value when none matches"),
      TV_SPECIAL("with", sp_with, "(with ((VAR INIT)...) FORM...) binds as let and returns the forms' last value; on leaving, by any way, the bound objects are sent destroy and pointers and handles freed, last first"),
      TV_SPECIAL("put!", sp_put, "(put! OBJECT SYMBOL EXPR) assigns EXPR's value to SYMBOL (not evaluated) as seen from OBJECT; returns the value"),
      TV_SPECIAL("comment", sp_comment, "(comment FORM...) evaluates nothing; no value"),
      TV_SPECIAL2("free?", sp_free_p, "(free? X) t when the variable X, or X's value, is the no-value word"),
      TV_SPECIAL2("test", sp_test, "(test X) error 2 with the form X when its value is nil; no value"),
      TV_SPECIAL("bind", sp_bind, "(bind PATTERN EXPR FORM...) binds the variables of PATTERN to the matching parts of EXPR's value, then the forms"),
      TV_SPECIAL("bind-optionals", sp_bind_optionals, "(bind-optionals (PARAM...) EXPR FORM...) each PARAM a VAR or (VAR DEFAULT): binds the variables to the successive elements of EXPR's list, or their defaults past its end, then the forms"),
      TV_SPECIAL("bind-keywords", sp_bind_keywords, "(bind-keywords (PARAM...) EXPR FORM...) each PARAM a VAR or (VAR DEFAULT): binds each variable to the value after the keyword of its name in EXPR's property list, or its default, then the forms"),
      TV_SPECIAL("bind-properties", sp_bind_properties, "(bind-properties (VAR...) FORM...) binds each variable to the current object's property of its name, then the forms"),
      TV_SPECIAL("bind-struct", sp_bind_struct, "(bind-struct NAME (VAR...) EXPR FORM...) binds the variables to the fields of EXPR's value laid out as the defstruct NAME, then the forms"),
      TV_SPECIAL("define", sp_define, "(define NAME [EXPR]) gives NAME the value of EXPR; written (define (NAME . PARAMS) FORM...), a function that is never collected; in the current object when there is one; returns NAME"),
      TV_SPECIAL("defslot", sp_defslot, "(defslot NAME OPTION...) declares the slot NAME of the current class; returns NAME"),
      TV_SPECIAL("defstruct", sp_defstruct, "(defstruct NAME DESCRIPTION) records the unevaluated tree of field names DESCRIPTION under NAME for bind-struct; returns NAME"),
  };
  register_natives(rows);
}

}  // namespace core
