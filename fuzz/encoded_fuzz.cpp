// libFuzzer target: encoded code and symbols tables. The input's first
// bytes are taken as a table resource when they parse as one; the whole
// input is decoded, encoded (strictly and leniently) and read by the reader
// as encoded text with a table installed. Nothing may crash or read outside
// its bytes, and a text the encoder accepts must decode, and encode again
// to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/symbols.hpp"
#include "data/encoded.hpp"
#include "data/handles.hpp"
#include "data/loader.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"

namespace {
using namespace core;

std::unique_ptr<Runtime> g_machine;
int g_runs = 0;

void ensure_machine() {
  if (g_machine && g_runs++ < 500 && rt().zones.free_count > 100000 && rt().zones.free_symbols > 20000) return;
  g_machine.reset();
  MemoryPrefs p = default_prefs();
  p.symbol_slots = 65536;
  p.nodes = 400000;
  p.heap = 2u << 20;
  p.reserve = 0;
  g_machine = make_runtime(p, 32u << 20);
  g_runs = 0;
}

void codec_properties(std::string_view text) {
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back("n" + std::to_string(i));
  std::string out;
  data::CodecError err;
  data::decode_code(text, names, out, err);

  data::SymbolNames table;
  std::string code;
  data::EncodeOptions lenient;
  lenient.strict = false;
  data::encode_source(text, table, code, err, lenient);
  if (!data::encode_source(text, table, code, err)) return;
  std::string decoded;
  if (!data::decode_code(code, table.names(), decoded, err)) std::abort();
  std::string again;
  if (!data::encode_source(decoded, table, again, err) || again != code) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  if (size > 1u << 16) return 0;
  std::string_view text(reinterpret_cast<const char*>(bytes), size);
  codec_properties(text);

  ensure_machine();
  // A table from the input when it holds one, else a small fixed one.
  uint32_t h = data::new_handle(uint32_t(size));
  if (size > 0) std::memcpy(rt().region.ptr(data::handle_memory(h)), bytes, size);
  try {
    data::set_symbols_table(h, kNil);
  } catch (const Thrower&) {
    std::vector<Value> names;
    for (int i = 0; i < 40; ++i) names.push_back(intern_copy("n" + std::to_string(i)));
    data::install_symbols_table(names);
  }
  if (size > 0) {
    data::InputGuard guard;
    data::set_memory_input(data::handle_memory(h), uint32_t(size));
    for (int forms = 0; forms < 10000; ++forms) {
      try {
        data::fetch();
        Value t = data::read_token();
        if (data::is_signal(t) && t.payload() == data::kSignalEnd) break;
      } catch (const Thrower&) {
        if (data::data_state().lookahead == data::kEndOfInput) break;
      }
    }
  }
  data::remove_symbols_table();
  data::dispose_handle(h);
  return 0;
}
