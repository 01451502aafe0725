// The error entry points.
#include "core/errors.hpp"

#include <cstdio>

#include "core/memory.hpp"
#include "core/natives.hpp"

namespace core {

static void report(int kind, int number, Value culprit) {
  if (culprit.is(Tag::Address)) culprit = kNil;
  LastError& e = rt().last_error;
  e.kind = kind;
  e.number = number;
  e.culprit = culprit;
  std::fprintf(stderr, "Error: %d\n", number);
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
