// The character set tables, the conversions and the pointer text
// primitives.
//
// Bytes without a counterpart:
// - Mac to Windows: the control codes other than 3, 9, 10 and 13, 127, and
//   the Mac characters that code page 1252 lacks (0xAD, 0xB0, 0xB2, 0xB3,
//   0xB6-0xBA, 0xBD, 0xC3, 0xC5, 0xC6, 0xD7, 0xDA, 0xDE, 0xDF, 0xF0, 0xF5,
//   0xF9-0xFB, 0xFD-0xFF).
// - Windows to Mac: the same control codes, 127, and 0x80, 0x81, 0x8A,
//   0x8D-0x90, 0x96, 0x9A, 0x9D, 0x9E, 0xA6, 0xB2, 0xB3, 0xB9, 0xBC-0xBE,
//   0xD0, 0xD7, 0xDD, 0xDE, 0xF0, 0xFD, 0xFE.
// The string conversions answer nil for a text holding one of them; the
// in-place conversions leave such a byte unchanged (or write 0, for
// `ibm->mac`) and report it as their result.
#include "data/charsets.hpp"

#include <array>
#include <cstring>
#include <string>

#include "core/args.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "data/handles.hpp"
#include "data/strings.hpp"
#include "text/codec.hpp"

namespace data {
using namespace core;

namespace {

using Table = std::array<uint8_t, 256>;

// Unicode code points of the Mac character set, codes 0x80 to 0xFF. 0xDB is
// the currency sign of the classic set.
constexpr uint16_t kMacHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // A0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // A8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // B0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // B8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // C0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // C8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // D0
    0x00FF, 0x0178, 0x2044, 0x00A4, 0x2039, 0x203A, 0xFB01, 0xFB02,  // D8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // E0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // E8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // F0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // F8
};

constexpr uint32_t mac_unicode(int b) { return b < 128 ? uint32_t(b) : kMacHigh[b - 128]; }
constexpr uint32_t windows_unicode(int w) { return text::cp1252_to_unicode(uint8_t(w)); }

// The printable ASCII codes map to themselves; among the control codes only
// those listed do.
constexpr void fill_ascii(Table& t, std::initializer_list<int> kept_controls) {
  for (int c = 32; c < 127; ++c) t[c] = uint8_t(c);
  for (int c : kept_controls) t[c] = uint8_t(c);
}

constexpr Table make_mac_to_windows() {
  Table t{};
  fill_ascii(t, {3, 9, 10, 13});
  for (int b = 128; b < 256; ++b)
    for (int w = 128; w < 256; ++w)
      if (windows_unicode(w) == mac_unicode(b)) t[b] = uint8_t(w);
  t[0xD0] = 0xAD;  // en dash to soft hyphen
  return t;
}

constexpr Table make_windows_to_mac() {
  Table t{};
  fill_ascii(t, {3, 9, 10, 13});
  for (int w = 128; w < 256; ++w)
    for (int b = 128; b < 256; ++b)
      if (windows_unicode(w) == mac_unicode(b)) t[w] = uint8_t(b);
  t[0xAD] = 0xD0;  // soft hyphen to en dash, the inverse of the choice above
  t[0x96] = 0;     // the en dash has gone to the soft hyphen
  return t;
}

constexpr Table make_iso_to_mac() {
  Table t{};
  fill_ascii(t, {9, 10, 13});
  for (int i = 0xA2; i < 256; ++i)
    for (int b = 128; b < 256; ++b)
      if (mac_unicode(b) == uint32_t(i)) t[i] = uint8_t(b);
  constexpr int none[] = {0xA4, 0xA6, 0xA8, 0xAA, 0xAD, 0xAF, 0xB2, 0xB3, 0xB5, 0xB7, 0xB8, 0xB9,
                          0xBC, 0xBD, 0xBE, 0xBF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD7, 0xD9, 0xDA,
                          0xDB, 0xDD, 0xDE, 0xDF, 0xF0, 0xFD, 0xFE, 0xFF};
  for (int i : none) t[i] = 0;
  t[0xBA] = 0xA1;  // the masculine ordinal goes to the degree sign
  return t;
}

constexpr Table kMacToWindows = make_mac_to_windows();
constexpr Table kWindowsToMac = make_windows_to_mac();
constexpr Table kIsoToMac = make_iso_to_mac();

const Table& table(Charset which) {
  switch (which) {
    case Charset::MacToWindows:
      return kMacToWindows;
    case Charset::WindowsToMac:
      return kWindowsToMac;
    case Charset::IsoToMac:
      break;
  }
  return kIsoToMac;
}

// The bytes an encoded-code token takes in all, by its first byte's class
// in the reader's initial class table: paged symbols and byte integers 2,
// wide symbols, word integers and table variables 3, the rest 1.
uint32_t token_length(uint8_t c) {
  if (c == 8 || c == 12 || c == 14) return 3;
  if (c == 11 || (c >= 15 && c < 32)) return 2;
  return 1;
}



// Converts n bytes in place through a table. With skip set, encoded-code
// tokens are left intact. Answers the first byte left unchanged, or -1.
int convert_in_place(Value pointer, uint32_t n, const Table& t, bool skip) {
  uint8_t* p = writable_pointer_bytes(pointer, n);
  int first = -1;
  for (uint32_t i = 0; i < n;) {
    uint8_t c = p[i];
    uint8_t to = t[c];
    if (to == 0 && skip && c < 32) {
      i += token_length(c);
      continue;
    }
    if (to != 0)
      p[i] = to;
    else if (first < 0)
      first = c;
    ++i;
  }
  return first;
}

// A new string of the text through a table, or nil when a character has
// no counterpart.
Value convert_string(Value x, const Table& t) {
  std::string s = text_of(x);
  for (char& c : s) {
    uint8_t to = t[uint8_t(c)];
    if (to == 0) return kNil;
    c = char(to);
  }
  return new_string(s);
}

// ---- Conversion primitives ------------------------------------------------------

// Mac text to Windows text with line feeds, expanded in place from the end.
// The whole text is checked before anything is written, so a text with a
// character that has no counterpart is left as it was.
Value prim_mac_to_ibm(Value pointer, Value capacity, Value count, Value keep) {
  uint32_t n = arg_count(count);
  uint32_t room = arg_count(capacity);
  const uint8_t* in = pointer_bytes(pointer, n);
  uint32_t returns = 0;
  for (uint32_t i = 0; i < n; ++i) {
    if (in[i] == 10) return count;
    if (in[i] == 13) ++returns;
  }
  uint64_t total = uint64_t(n) + returns;
  if (room < total) return kNil;
  bool keep_codes = keep.truthy();
  for (uint32_t i = n; i-- > 0;) {
    uint8_t c = in[i];
    if (!(keep_codes && c < 32) && kMacToWindows[c] == 0) return cons(make_fixnum(c), kNil);
  }
  uint8_t* p = writable_pointer_bytes(pointer, uint32_t(total));
  uint64_t w = total;
  for (uint32_t i = n; i-- > 0;) {
    uint8_t c = p[i];
    if (c == 13) {
      p[--w] = 10;
      p[--w] = 13;
    } else {
      p[--w] = keep_codes && c < 32 ? c : kMacToWindows[c];
    }
  }
  return make_integer(int32_t(total));
}

Value prim_mac_to_ibm_ptr(Value pointer, Value count, Value skip) {
  int first = convert_in_place(pointer, arg_count(count), kMacToWindows, skip.truthy());
  return first < 0 ? kNil : make_fixnum(first);
}

Value prim_mac_to_ibm_string(Value x) { return convert_string(x, kMacToWindows); }

Value prim_ibm_to_mac(Value pointer, Value, Value count) {
  uint32_t n = arg_count(count);
  uint8_t* p = writable_pointer_bytes(pointer, n);
  uint32_t w = 0;
  for (uint32_t i = 0; i < n; ++i)
    if (p[i] != 10) p[w++] = kWindowsToMac[p[i]];
  return make_integer(int32_t(w));
}

Value prim_ibm_to_mac_string(Value x) { return convert_string(x, kWindowsToMac); }

Value prim_iso_to_mac(Value pointer, Value, Value count, Value skip) {
  int first = convert_in_place(pointer, arg_count(count), kIsoToMac, skip.truthy());
  return first < 0 ? count : cons(make_fixnum(first), kNil);
}

// ---- Strings in native memory -----------------------------------------------------

Value prim_ptr_to_string(Value pointer) {
  const uint8_t* p = pointer_bytes(pointer, 1);
  uint8_t n = p[0];
  p = pointer_bytes(pointer, 1u + n);
  return new_string(std::string(reinterpret_cast<const char*>(p) + 1, n));
}

Value prim_text_to_string(Value pointer, Value count) {
  uint32_t n = arg_count(count);
  if (n > 32000) error(Err::WrongType, count);
  const uint8_t* p = pointer_bytes(pointer, n);
  // A string ends at its first zero byte.
  std::string text(reinterpret_cast<const char*>(p), n);
  text.resize(std::strlen(text.c_str()));
  return new_string(text);
}

Value prim_put_string(Value s, Value pointer) {
  std::string text = text_of(s);
  if (text.size() > 255) text.resize(255);
  uint8_t* p = writable_pointer_bytes(pointer, uint32_t(text.size() + 1));
  p[0] = uint8_t(text.size());
  std::memcpy(p + 1, text.data(), text.size());
  return kNoValue;
}

Value prim_put_string_text(Value s, Value pointer) {
  std::string text = text_of(s);
  uint8_t* p = writable_pointer_bytes(pointer, uint32_t(text.size()));
  std::memcpy(p, text.data(), text.size());
  return kNoValue;
}

// A new handle of the text's length holding its characters, without the
// terminating zero; a handle box without handle when memory is short.
Value prim_string_to_handle(Value s) {
  std::string text = text_of(s);
  uint32_t h = new_handle(uint32_t(text.size()));
  if (h != 0 && !text.empty()) std::memcpy(at_addr(handle_memory(h)), text.data(), text.size());
  return box_handle(h);
}

// A new string of a handle's bytes, up to the first zero byte.
Value prim_handle_to_string(Value box) {
  uint32_t h = handle_arg(box);
  uint32_t n = handle_size(h);
  if (n == 0) return rt().empty_string;
  if (n > kMaxStringLength) error(Err::WrongType, make_integer(int32_t(n)));
  std::string text(reinterpret_cast<const char*>(at_addr(handle_memory(h))), n);
  text.resize(std::strlen(text.c_str()));
  return new_string(text);
}

const NativeRow kCharsetNatives[] = {
    TV_PRIM2("string->handle", prim_string_to_handle, "(string->handle TEXT) a new handle holding the characters of TEXT, without a final zero"),
    TV_PRIM2("handle->string", prim_handle_to_string, "(handle->string HANDLE) a new string of the bytes of HANDLE"),
    TV_PRIM2("ptr->string", prim_ptr_to_string, "(ptr->string POINTER) a new string of the length-prefixed text at POINTER (first byte the length)"),
    TV_PRIM2("text->string", prim_text_to_string, "(text->string POINTER N) a new string of the N bytes at POINTER (N up to 32000)"),
    TV_PRIM2("put-string", prim_put_string, "(put-string TEXT POINTER) writes TEXT at POINTER as a length-prefixed text, cut to 255 characters; no value"),
    TV_PRIM2("put-string-text", prim_put_string_text, "(put-string-text TEXT POINTER) writes the characters of TEXT at POINTER, without a final zero; no value"),
    TV_PRIM2("mac->ibm", prim_mac_to_ibm, "(mac->ibm POINTER CAPACITY COUNT [KEEP-CODES]) converts a Mac text in place to Windows text with CR LF line ends; the new length, nil when CAPACITY is too small, (CODE) at a character without counterpart"),
    TV_PRIM2("mac->ibm-ptr", prim_mac_to_ibm_ptr, "(mac->ibm-ptr POINTER COUNT [SKIP-CODES]) converts COUNT bytes in place from the Mac to the Windows set; nil, or the first code without counterpart (left unchanged)"),
    TV_PRIM2("mac->ibm-string", prim_mac_to_ibm_string, "(mac->ibm-string TEXT) a new string of TEXT from the Mac to the Windows set; nil when a character has no counterpart"),
    TV_PRIM2("ibm->mac", prim_ibm_to_mac, "(ibm->mac POINTER IGNORED COUNT) converts COUNT bytes in place from Windows to Mac text, dropping line feeds; returns the new length"),
    TV_PRIM2("ibm->mac-string", prim_ibm_to_mac_string, "(ibm->mac-string TEXT) a new string of TEXT from the Windows to the Mac set; nil when a character has no counterpart"),
    TV_PRIM2("iso->mac", prim_iso_to_mac, "(iso->mac POINTER IGNORED COUNT [SKIP-CODES]) converts COUNT bytes in place from ISO Latin-1 to the Mac set; COUNT, or (CODE) for the first code without counterpart"),
};

}  // namespace

uint8_t convert_char(Charset which, uint8_t code) { return table(which)[code]; }

const uint8_t* pointer_bytes(Value pointer, uint32_t n) { return readable_bytes(pointer, address_arg(pointer), n); }
uint8_t* writable_pointer_bytes(Value pointer, uint32_t n) {
  return writable_bytes(pointer, address_arg(pointer), n);
}

extern const core::Module kCharsetsModule{"charsets", nullptr, [](core::Runtime&) { register_natives(kCharsetNatives); }};

}  // namespace data
