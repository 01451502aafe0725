// The text codec: code page 1252, UTF-8 and line ends.
#include "text/codec.hpp"

namespace text {

int unicode_to_cp1252(char32_t code_point) {
  if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) return int(code_point);
  // The C1 controls the page has room for are its five unassigned codes;
  // everything else lies among its 32 characters from 0x80 or nowhere.
  for (int i = 0; i < 32; ++i)
    if (detail::kCp1252High[i] == code_point) return 0x80 + i;
  return kUnmapped;
}

// A lead byte fixes the length and the range of the second byte: that one
// range check rules out every overlong form (C0, C1, E0 80-9F, F0 80-8F),
// the surrogates (ED A0-BF) and everything past U+10FFFF (F4 90-BF, F5-FF).
// The remaining bytes need only be continuation bytes.
Utf8Char decode_utf8(std::string_view utf8, size_t at) {
  if (at >= utf8.size()) return {};
  auto byte = [&](size_t k) { return uint8_t(utf8[at + k]); };
  uint8_t lead = byte(0);
  if (lead < 0x80) return {lead, 1};
  size_t length;
  uint8_t low = 0x80, high = 0xBF;
  char32_t cp;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return {};
  }
  if (utf8.size() - at < length) return {};
  if (byte(1) < low || byte(1) > high) return {};
  for (size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return {};
    cp = (cp << 6) | (byte(k) & 0x3F);
  }
  return {cp, length};
}

size_t encode_utf8(char32_t cp, char out[4]) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = 0xFFFD;
  if (cp < 0x80) {
    out[0] = char(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = char(0xC0 | (cp >> 6));
    out[1] = char(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = char(0xE0 | (cp >> 12));
    out[1] = char(0x80 | ((cp >> 6) & 0x3F));
    out[2] = char(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = char(0xF0 | (cp >> 18));
  out[1] = char(0x80 | ((cp >> 12) & 0x3F));
  out[2] = char(0x80 | ((cp >> 6) & 0x3F));
  out[3] = char(0x80 | (cp & 0x3F));
  return 4;
}

void append_utf8(std::string& out, char32_t code_point) {
  char bytes[4];
  out.append(bytes, encode_utf8(code_point, bytes));
}

std::string cp1252_to_utf8(std::string_view cp1252) {
  std::string out;
  out.reserve(cp1252.size() + cp1252.size() / 4);
  for (char c : cp1252) {
    if (uint8_t(c) < 0x80)
      out.push_back(c);
    else
      append_utf8(out, cp1252_to_unicode(uint8_t(c)));
  }
  return out;
}

Cp1252Report utf8_to_cp1252(std::string_view utf8, std::string& out, ToCp1252 how) {
  Cp1252Report report;
  out.clear();
  out.reserve(utf8.size());
  auto problem = [&](size_t at) {
    if (report.first_bad == std::string_view::npos) report.first_bad = at;
  };
  for (size_t i = 0; i < utf8.size();) {
    if (uint8_t(utf8[i]) < 0x80) {
      out.push_back(utf8[i++]);
      continue;
    }
    Utf8Char c = decode_utf8(utf8, i);
    if (c.length == 0) {
      problem(i);
      ++report.malformed;
      switch (how.malformed) {
        case Malformed::Fail: report.complete = false; return report;
        case Malformed::Replace: out.push_back(how.replacement); break;
        case Malformed::Drop: break;
        case Malformed::Keep: out.push_back(utf8[i]); break;
      }
      ++i;
      continue;
    }
    int code = unicode_to_cp1252(c.code_point);
    if (code == kUnmapped) {
      problem(i);
      ++report.unmapped;
      switch (how.unmapped) {
        case Unmapped::Fail: report.complete = false; return report;
        case Unmapped::Replace: out.push_back(how.replacement); break;
        case Unmapped::Drop: break;
      }
    } else {
      out.push_back(char(code));
    }
    i += c.length;
  }
  return report;
}

std::string convert_line_ends(std::string_view text, LineEnd to) {
  std::string_view end = to == LineEnd::CR ? "\r" : to == LineEnd::LF ? "\n" : "\r\n";
  std::string out;
  out.reserve(to == LineEnd::CRLF ? text.size() + text.size() / 16 : text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      out += end;
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out.push_back(c);
    }
  }
  return out;
}

int line_at(std::string_view text, size_t offset) {
  int line = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i)
    if (text[i] == '\n' || (text[i] == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) ++line;
  return line;
}

}  // namespace text
