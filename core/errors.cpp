// The error entry points.
#include "core/errors.hpp"

#include <cstdio>

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "data/printer.hpp"

#include <string>

namespace core {

static void report(int kind, int number, Value culprit) {
  if (culprit.is(Tag::Address)) culprit = kNil;
  LastError& e = rt().last_error;
  e.kind = kind;
  e.number = number;
  e.culprit = culprit;
  rt().error_message = "Error: " + std::to_string(number) + ", " + data::value_text(culprit);
  ++rt().error_serial;
}

void error(Err number, Value culprit) { error(int(number), culprit); }

void error(int number, Value culprit) {
  report(kErrorKindMachine, number, culprit);
  throw_toplevel();
}

void storage_error(int number, Value culprit) {
  report(kErrorKindStorage, number, culprit);
  throw_toplevel();
}

void throw_to(Value tag, Value value) { throw Thrower{tag, value}; }

void throw_toplevel() { throw Thrower{rt().sym.toplevel, kNil}; }

void register_error_natives() {}

}  // namespace core
