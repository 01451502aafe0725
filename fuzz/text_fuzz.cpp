// Fuzz target for the text library: `format` with arbitrary control
// strings, and the string and in-place character set conversions on
// arbitrary bytes. Every input must end in a value or a Lisp error; a crash,
// a sanitizer report or a read past a buffer is a finding.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "fuzz/machine.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/strings.hpp"

namespace {
using namespace core;

Value quiet_handler(Value, Value, Value, Value, Value, Value) { return kNil; }

// Errors are answered quietly, so that an input's error reports nothing.
void setup() {
  register_native("fuzz-quiet-handler", &native_entry<quiet_handler>, 6, Tag::Primitive);
  set_symbol_value(rt().sym.Error_Handler, symbol_value(find_symbol("fuzz-quiet-handler")));
}

Runtime& machine() { return fuzzing::machine(setup); }

// Calls a primitive through the evaluator's own call path.
Value call(const char* name, std::initializer_list<Value> args) { return call_by_name(find_symbol(name), args); }

void run(const uint8_t* data, size_t size) {
  uint8_t mode = data[0] % 3;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  // Strings hold no zero byte.
  for (char& c : text)
    if (c == 0) c = 1;
  Value s = data::new_string(text.substr(0, data::kMaxStringLength));
  int a = size > 1 ? int8_t(data[1]) : 0;
  int b = size > 2 ? int8_t(data[2]) : 0;
  switch (mode) {
    case 0: {
      Value args = cons(make_fixnum(a), cons(s, kNil));
      call("format", {rt().sym.t, s, make_fixnum(a), make_fixnum(b), s, kNil, rt().sym.t, make_real(a / 7.0),
                      args, intern_static("sym"), make_fixnum(0), make_fixnum(1)});
      break;
    }
    case 1:
      call("mac->ibm-string", {s});
      call("ibm->mac-string", {s});
      call("upper-string", {s});
      call("lower-string", {s});
      call("string<?", {s, call("substring", {s, make_fixnum(a), make_fixnum(b)})});
      call("string-nocase=?", {s, call("lower-string", {s}), rt().sym.t});
      call("memstring", {call("substring", {s, make_fixnum(b), kNil}), s, make_fixnum(a)});
      call("string->int", {s});
      call("string->real", {s});
      break;
    default: {
      uint32_t n = uint32_t(text.size());
      // A pointer block: raw access from Lisp writes only into blocks
      // handed to Lisp.
      Addr block = data::new_pointer(2 * n + 8);
      std::memcpy(at_addr(block), text.data(), n);
      Value p = box_address(block, 0);
      call("mac->ibm", {p, make_fixnum(int32_t(n + uint32_t(uint8_t(a)))), make_fixnum(int32_t(n)),
                        b & 1 ? rt().sym.t : kNil});
      call("mac->ibm-ptr", {p, make_fixnum(int32_t(n)), b & 2 ? rt().sym.t : kNil});
      call("iso->mac", {p, kNil, make_fixnum(int32_t(n)), b & 4 ? rt().sym.t : kNil});
      call("ibm->mac", {p, kNil, make_fixnum(int32_t(n))});
      call("text->string", {p, make_fixnum(int32_t(std::min<uint32_t>(n, 32000)))});
      call("ptr->string", {p});
      data::dispose_pointer(block);
      break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 70000) return 0;
  RuntimeScope scope(machine());
  try {
    run(data, size);
  } catch (const Thrower&) {
    // A Lisp error: the expected end of bad input.
  }
  return 0;
}
