// The error entry points and non-local exits.
//
// An error is reported, handed to the application's handler when there is
// one, and ends with a throw to `toplevel`. The report goes into the message
// buffer; while it is being formatted a second error cannot report itself
// (printing an object may run Lisp code that fails), so it raises
// ErrorPrinting and the first report becomes "Unprintable error".
#include "core/errors.hpp"

#include <cstdio>
#include <exception>
#include <string>

#include "core/alert.hpp"
#include "core/eval.hpp"
#include "core/frames.hpp"
#include "core/natives.hpp"
#include "core/positions.hpp"

namespace core {

namespace {

// Sets a flag for its extent.
class FlagScope {
 public:
  explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
  ~FlagScope() { flag_ = false; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
};

// The report of a stack overflow is made at the depth where it happened:
// it runs with the native stack limit lowered by a margin kept for it.
class StackRelief {
 public:
  StackRelief() : zones_(rt().zones), active_(!rt().stack_relieved) {
    if (!active_) return;
    rt().stack_relieved = true;
    saved_ = zones_.native_stack_limit;
    if (saved_ > kMargin) zones_.native_stack_limit = saved_ - kMargin;
  }
  ~StackRelief() {
    if (!active_) return;
    zones_.native_stack_limit = saved_;
    rt().stack_relieved = false;
  }
  StackRelief(const StackRelief&) = delete;
  StackRelief& operator=(const StackRelief&) = delete;

 private:
  static constexpr uintptr_t kMargin = 128u << 10;
  Zones& zones_;
  bool active_;
  uintptr_t saved_ = 0;
};

void generic_alert() { show_alert(kAlertInternal); }

// Notes where the error happened in the report (last_error), and what the
// error site or the code around it explains.
void note_context(int kind, int number, Value culprit) {
  Runtime& r = rt();
  LastError& e = r.last_error;
  ErrorHint hint = std::move(r.error_hint);
  r.error_hint = ErrorHint{};
  ErrorContext context;
  error_context(kind == kErrorKindMachine ? number : -1, culprit, context);
  e.file = std::move(context.place.file);
  e.line = context.place.line;
  if (hint.line != 0) {
    e.file = std::move(hint.file);
    e.line = hint.line;
  }
  e.primitive = std::move(context.primitive);
  e.backtrace = std::move(context.backtrace);
  e.hint = hint.text.empty() ? std::move(context.hint) : std::move(hint.text);
  e.hint_replaces = hint.replaces;
}

// Steps every report begins with: the cleanups that must not wait for the
// unwinding, the printing exception when a report is being formatted, and
// the short way out while the debugging module loads.
void begin_report() {
  Runtime& r = rt();
  for (auto cleanup : r.error_cleanups) cleanup(r);
  if (r.error_formatting) throw ErrorPrinting{};
  // An error inside the debugging module's loading or inside the handler
  // itself would call the handler again, without end: alert and stop.
  if (r.error_loading_module || r.error_in_handler) {
    generic_alert();
    throw_toplevel();
  }
}

// Loads the debugging module when one is named; it is expected to install
// the handler and reset Error-Module.
void load_error_module() {
  Runtime& r = rt();
  Value module = symbol_value(r.sym.Error_Module);
  if (module.is_nil() || module.is_no_value()) return;
  if (symbol_value(r.sym.load_module).is_no_value()) return;
  FlagScope loading(r.error_loading_module);
  call_by_name(r.sym.load_module, {module});
}

// Hands the error to Error-Handler (a message send to an object; a plain
// function is called with the same arguments), or shows the alert.
void call_handler(Value kind, Value number, Value value) {
  Runtime& r = rt();
  Value handler = symbol_value(r.sym.Error_Handler);
  if (handler.is_nil() || handler.is_no_value()) {
    if (r.hooks.debug_report != nullptr) return r.hooks.debug_report();
    return generic_alert();
  }
  FlagScope in_handler(r.error_in_handler);
  Value object = r.current_object;
  Value args[7] = {kind, number, value, object, kNil, kNil, kEndArgs};
  if ((handler.is(Tag::Instance) || handler.is(Tag::Class)) && r.hooks.send)
    r.hooks.send(handler, r.sym.error_trap, args);
  else
    apply_vector(handler, args, r.sym.Error_Handler);
}

std::string plain_text(Value v) {
  if (v.is_nil()) return "()";
  if (v.is_fixnum()) return std::to_string(v.fixnum());
  if (v.is(Tag::Long)) return std::to_string(long_value(v));
  if (v.is(Tag::String)) return string_text(v);
  if (v.is_symbol()) return symbol_text(v);
  return "#<" + std::to_string(v.tag_number()) + ">";
}

[[noreturn]] void signal(int kind, int number, Value culprit) {
  Runtime& r = rt();
  StackRelief relief;
  begin_report();
  if (culprit.is(Tag::Address)) culprit = kNil;
  r.last_error.kind = kind;
  r.last_error.number = number;
  r.last_error.culprit = culprit;
  r.last_error.culprit_text.clear();
  r.last_error.object_text.clear();
  r.last_error.at_top_level = r.current_object == kNoObject;
  r.last_error.text_only = false;
  note_context(kind, number, culprit);
  {
    FlagScope formatting(r.error_formatting);
    try {
      std::string culprit_text = describe(culprit);
      std::string object_text = describe(r.current_object);
      r.error_message = "Error: " + std::to_string(number) + ", " + culprit_text + ", " + object_text + ", " +
                        describe(kNil) + ", " + describe(kNil);
      r.last_error.culprit_text = std::move(culprit_text);
      r.last_error.object_text = std::move(object_text);
    } catch (const ErrorPrinting&) {
      r.error_message = "Unprintable error";
    } catch (const Thrower&) {
      r.error_message = "Unprintable error";
    }
  }
  ++r.error_serial;
  load_error_module();
  call_handler(make_integer(kind), make_integer(number), culprit.is_end() ? kNil : culprit);
  throw_toplevel();
}

}  // namespace

std::string describe(Value v) {
  if (rt().hooks.describe) return rt().hooks.describe(v);
  return plain_text(v);
}

void error(Err number, Value culprit) { signal(kErrorKindMachine, int(number), culprit); }
void storage_error(StorageErr number, Value culprit) { signal(kErrorKindStorage, int(number), culprit); }

void error_text(const std::string& message) {
  Runtime& r = rt();
  StackRelief relief;
  begin_report();
  r.last_error.kind = kErrorKindMachine;
  r.last_error.number = 0;
  r.last_error.culprit = kNil;
  r.last_error.culprit_text = message;
  r.last_error.object_text.clear();
  r.last_error.at_top_level = true;
  r.last_error.text_only = true;
  note_context(kErrorKindMachine, 0, kNil);
  r.error_message = "Error: " + message;
  ++r.error_serial;
  Value text = make_string(message.data(), message.size() > 65534 ? 65534 : message.size());
  load_error_module();
  call_handler(kNil, make_fixnum(0), text);
  throw_toplevel();
}

ReplacedReport::ReplacedReport(uint64_t serial_at_entry) : exits_(std::uncaught_exceptions()) {
  Runtime& r = rt();
  if (r.error_serial == serial_at_entry) return;
  // Only an error's exit carries a report: its throw to toplevel.
  try {
    throw;
  } catch (const Thrower& t) {
    error_ = t.tag == r.sym.toplevel;
  } catch (...) {
  }
  if (error_) message_ = r.error_message;
}

ReplacedReport::~ReplacedReport() {
  if (error_ && std::uncaught_exceptions() > exits_) rt().replaced_reports.push_back(message_);
}

const char* error_meaning(int kind, int number) {
  if (kind != kErrorKindMachine) return nullptr;
  switch (number) {
#define TALVEN_X(name, num, text) \
  case num: return text;
    TALVEN_ERRORS(TALVEN_X)
#undef TALVEN_X
  }
  return nullptr;
}

bool catched(Value tag) {
  Runtime& r = rt();
  for (Frame* f = r.current_frame; f && f != r.sentinel; f = f->previous)
    if (f->kind == FrameKind::Catch && static_cast<CatchFrame*>(f)->tag == tag) return true;
  return false;
}

void throw_to(Value tag, Value value) {
  if (!catched(tag)) error(Err::NoCatch, tag);
  throw Thrower{tag, value};
}

void throw_toplevel() { throw Thrower{rt().sym.toplevel, kNil}; }

// ---- Lisp interface ----------------------------------------------------------------

static Value sp_catch(Value args) {
  Runtime& r = rt();
  Value tag = args.is_pair() ? eval(car(args)) : kNil;
  StackMark mark;
  CatchFrame frame(tag);
  frame.make_current();
  try {
    return eval_body(args.is_pair() ? cdr(args) : kNil);
  } catch (const Thrower& t) {
    if (t.tag != frame.tag) throw;
    r.dispatch_depth = frame.dispatch_depth;
    return t.value;
  }
}

static Value sp_unwind_protect(Value args) {
  if (!args.is_pair()) return kNoValue;
  Value cleanup = cdr(args);
  return protect([&] { return eval(car(args)); }, [&] { eval_body(cleanup); });
}

static Value prim_throw(Value tag, Value value) { throw_to(tag, value); }
static Value prim_catched(Value tag) { return catched(tag) ? rt().sym.t : kNil; }
static Value prim_toplevel() { throw_toplevel(); }
static Value prim_error_subr(Value v) { error(Err::Lisp, v); }

static void install_module(Runtime&) {
  static const NativeRow rows[] = {
      TV_SPECIAL("catch", sp_catch, "(catch TAG BODY...) the body's last value, or the value thrown to TAG inside it"),
      TV_SPECIAL("unwind-protect", sp_unwind_protect,
                 "(unwind-protect FORM CLEANUP...) FORM's value; the clean-up forms run however FORM is left"),
      TV_PRIM("throw", prim_throw, "(throw TAG VALUE) leaves to the innermost catch of TAG with VALUE (error 17 without one)"),
      TV_PRIM("catched?", prim_catched, "(catched? TAG) t when a throw to TAG would be caught"),
      TV_PRIM("toplevel", prim_toplevel, "(toplevel) throws to the toplevel loop"),
      TV_PRIM2("error-subr", prim_error_subr, "(error-subr VALUE) signals error 0 with VALUE"),
  };
  register_natives(rows);
}

extern const Module kErrorsModule{"errors", nullptr, install_module};

}  // namespace core
