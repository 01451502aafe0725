#include "data/console.hpp"

#include "core/runtime.hpp"
#include "data/charsets.hpp"
#include "data/state.hpp"

namespace data {

namespace {

void put_utf8(std::string& out, uint32_t u) {
  if (u < 0x80) {
    out += char(u);
  } else if (u < 0x800) {
    out += char(0xC0 | (u >> 6));
    out += char(0x80 | (u & 0x3F));
  } else {
    out += char(0xE0 | (u >> 12));
    out += char(0x80 | ((u >> 6) & 0x3F));
    out += char(0x80 | (u & 0x3F));
  }
}

// The length of the valid UTF-8 sequence at `s` and its code point, or 0.
size_t utf8_at(std::string_view s, size_t i, uint32_t& u) {
  auto b = [&](size_t k) { return uint8_t(s[k]); };
  uint8_t c = b(i);
  size_t n;
  if (c < 0x80) {
    u = c;
    return 1;
  } else if (c >= 0xC2 && c < 0xE0) {
    n = 2, u = c & 0x1F;
  } else if (c >= 0xE0 && c < 0xF0) {
    n = 3, u = c & 0x0F;
  } else if (c >= 0xF0 && c < 0xF5) {
    n = 4, u = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    u = (u << 6) | (b(i + k) & 0x3F);
  }
  // Overlong forms, surrogates and code points past Unicode are not valid.
  if ((n == 3 && u < 0x800) || (n == 4 && (u < 0x10000 || u > 0x10FFFF)) || (u >= 0xD800 && u < 0xE000)) return 0;
  return n;
}

}  // namespace

std::string console_encode(std::string_view text, bool raw) {
  if (raw) return std::string(text);
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (size_t i = 0; i < text.size(); ++i) {
    uint8_t c = uint8_t(text[i]);
    if (c == 13) {
      out += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      put_utf8(out, windows_code_point(c));
    }
  }
  return out;
}

std::string console_decode(std::string_view text, int* unmapped) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    uint32_t u;
    size_t n = utf8_at(text, i, u);
    if (n == 0) {  // not UTF-8: the byte as it is
      out += text[i++];
      continue;
    }
    i += n;
    int w = windows_code_of(u);
    if (w < 0) {
      out += '?';
      if (unmapped) ++*unmapped;
    } else {
      out += char(w);
    }
  }
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
