// libFuzzer target: arbitrary bytes through the reader (source text and, with
// a symbols table installed, encoded tokens) and everything read through the
// printer in all three styles. Every input must end in data or a Lisp
// error, never a crash, an endless loop or a sanitizer report.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"

namespace {
using namespace core;

std::unique_ptr<Runtime> g_machine;
int g_runs = 0;

// A fresh machine now and then: nothing is collected between inputs.
void ensure_machine() {
  if (g_machine && g_runs++ < 500 && rt().zones.free_count > 100000) return;
  g_machine.reset();
  MemoryPrefs p = default_prefs();
  p.symbol_slots = 16384;
  p.nodes = 400000;
  p.heap = 2u << 20;
  p.reserve = 0;
  g_machine = make_runtime(p, 24u << 20);
  g_runs = 0;
  intern_static("Load-File", make_fixnum(1));
  set_symbol_value(intern_static("Load-File"), make_fixnum(1));
  Value features = cons(intern_static("win"), cons(intern_static("mac"), kNil));
  set_symbol_value(intern_static("Features"), features);
}

void print_all_styles(Value v) {
  for (data::Style s : {data::Style::Plain, data::Style::Display, data::Style::Write}) {
    std::string out;
    try {
      data::OutputGuard guard;
      data::set_text_output(&out, 4096);
      data::print_value(v, s);
    } catch (const Thrower&) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ensure_machine();
  if (size == 0 || size > 1u << 16) return 0;
  // The first byte chooses whether encoded tokens have a table to name.
  if (data[0] & 1) {
    std::vector<Value> names;
    for (int i = 0; i < 40; ++i) names.push_back(intern_copy("n" + std::to_string(i)));
    data::install_symbols_table(names);
  } else {
    data::remove_symbols_table();
  }
  data::data_state().decimal_mark = (data[0] & 2) ? ',' : '.';
  Addr block = rt().region.allocate(uint32_t(size));
  std::memcpy(rt().region.ptr(block), data, size);
  {
    data::InputGuard guard;
    data::set_memory_input(block, uint32_t(size));
    for (int forms = 0; forms < 10000; ++forms) {
      try {
        data::fetch();
        Value t = data::read_token();
        if (data::is_signal(t) && t.payload() == data::kSignalEnd) break;
        if (!data::is_signal(t)) print_all_styles(t);
      } catch (const Thrower&) {
        if (data::data_state().lookahead == data::kEndOfInput) break;
      }
    }
  }
  rt().region.release(block);
  data::data_state().decimal_mark = '.';
  return 0;
}
