#include "data/console.hpp"

#include "core/runtime.hpp"
#include "data/state.hpp"
#include "text/codec.hpp"

namespace data {

std::string console_encode(std::string_view text, bool raw) {
  if (raw) return std::string(text);
  return text::cp1252_to_utf8(text::convert_line_ends(text, text::LineEnd::LF));
}

std::string console_decode(std::string_view text, int* unmapped) {
  std::string out;
  text::Cp1252Report report =
      text::utf8_to_cp1252(text, out, {text::Malformed::Keep, text::Unmapped::Replace, '?'});
  if (unmapped) *unmapped += int(report.unmapped);
  return out;
}

void console_write(FILE* out, std::string_view text) {
  bool raw = core::g_runtime != nullptr && core::module_state(kDataModule) != nullptr && data_state().term_raw;
  std::string bytes = console_encode(text, raw);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
}

bool console_read_line(FILE* in, std::string& line) {
  std::string bytes;
  bool any = false;
  int c;
  while ((c = std::fgetc(in)) != EOF) {
    any = true;
    if (c == '\n') break;
    bytes += char(c);
  }
  if (!any) return false;
  if (!bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  int unmapped = 0;
  line = console_decode(bytes, &unmapped);
  if (unmapped > 0) {
    std::fflush(stdout);
    std::fprintf(stderr, "talven: warning: %d character%s without a code page 1252 counterpart read as '?'\n",
                 unmapped, unmapped == 1 ? "" : "s");
  }
  return true;
}

}  // namespace data
