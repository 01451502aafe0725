// The string and character primitives.
#include "data/strings.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "core/args.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/numbers.hpp"
#include "data/printer.hpp"
#include "data/state.hpp"

namespace data {
using namespace core;

// ---- Case and accent tables ---------------------------------------------------

namespace {

using Table = std::array<uint8_t, 256>;

constexpr Table make_upper() {
  Table t{};
  for (int c = 0; c < 256; ++c) t[c] = uint8_t(c);
  for (int c = 'a'; c <= 'z'; ++c) t[c] = uint8_t(c - 32);
  for (int c = 0xE0; c <= 0xEF; ++c) t[c] = uint8_t(c - 32);
  for (int c = 0xF1; c <= 0xF6; ++c) t[c] = uint8_t(c - 32);
  for (int c = 0xF8; c <= 0xFC; ++c) t[c] = uint8_t(c - 32);
  return t;
}

constexpr Table make_lower() {
  Table t{};
  for (int c = 0; c < 256; ++c) t[c] = uint8_t(c);
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = uint8_t(c + 32);
  for (int c = 0xC0; c <= 0xCF; ++c) t[c] = uint8_t(c + 32);
  for (int c = 0xD1; c <= 0xD6; ++c) t[c] = uint8_t(c + 32);
  for (int c = 0xD8; c <= 0xDC; ++c) t[c] = uint8_t(c + 32);
  return t;
}

// Accent removal keeps the case: the upper-case accented letters go to the
// upper-case base letter and the lower-case ones to the lower-case base.
constexpr Table make_plain() {
  Table t{};
  for (int c = 0; c < 256; ++c) t[c] = uint8_t(c);
  struct Run {
    int first, last;
    char base;
  };
  constexpr Run runs[] = {{0xC0, 0xC5, 'A'}, {0xC7, 0xC7, 'C'}, {0xC8, 0xCB, 'E'}, {0xCC, 0xCF, 'I'},
                          {0xD2, 0xD6, 'O'}, {0xD9, 0xDC, 'U'}};
  for (const Run& r : runs)
    for (int c = r.first; c <= r.last; ++c) {
      t[c] = uint8_t(r.base);
      t[c + 32] = uint8_t(r.base + 32);
    }
  return t;
}

// Folding: ASCII letters to upper case, accented letters that lose their
// accent to the upper-case base letter; everything else unchanged.
constexpr Table make_fold() {
  Table t{};
  Table plain = make_plain();
  for (int c = 0; c < 256; ++c) {
    if (c >= 'a' && c <= 'z')
      t[c] = uint8_t(c - 32);
    else if (plain[c] != c)
      t[c] = uint8_t(plain[c] >= 'a' ? plain[c] - 32 : plain[c]);
    else
      t[c] = uint8_t(c);
  }
  return t;
}

constexpr Table kUpper = make_upper();
constexpr Table kLower = make_lower();
constexpr Table kPlain = make_plain();
constexpr Table kFold = make_fold();

const Table& table(CharTable which) {
  switch (which) {
    case CharTable::Upper:
      return kUpper;
    case CharTable::Lower:
      return kLower;
    case CharTable::Plain:
      return kPlain;
    case CharTable::Fold:
      break;
  }
  return kFold;
}

inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }
// A flag argument: true unless nil or the no-value word.
inline bool flag(Value v) { return v.truthy() && !v.is_no_value(); }

std::string_view view(const std::string& s) { return std::string_view(s); }

}  // namespace

uint8_t map_char(CharTable which, uint8_t code) { return table(which)[code]; }

// ---- Texts and strings --------------------------------------------------------

std::string text_of(Value v) {
  // A string's characters and a symbol's name are copied directly; the
  // printer gives the rest.
  if (v.is(Tag::String)) return string_text(v);
  if (v.is_symbol()) return symbol_text(v);
  return value_text(v);
}

// The text of a value without copying a string's or a symbol's characters:
// a view of them (valid until the next allocation), or of `scratch` holding
// the printed text of anything else.
static std::string_view text_view(Value v, std::string& scratch) {
  if (v.is(Tag::String)) return string_text(v);
  if (v.is_symbol()) return symbol_text(v);
  scratch = value_text(v);
  return scratch;
}

// The text of a string or a symbol's name, in place (valid until the next
// allocation); null for anything else.
[[gnu::always_inline]] static inline const char* own_text(Value v) {
  if (v.is(Tag::String)) return string_text(v);
  if (v.is_symbol()) return symbol_text(v);
  return nullptr;
}

// Calls f with the texts of a and b: in place when both are strings or
// symbols (f must not allocate), else copies of their printed texts.
template <class F>
static auto with_texts(Value a, Value b, F f) {
  const char* x = own_text(a);
  const char* y = own_text(b);
  if (x != nullptr && y != nullptr) return f(std::string_view(x), std::string_view(y));
  std::string tx = text_of(a), ty = text_of(b);
  return f(std::string_view(tx), std::string_view(ty));
}

Value new_string(std::string_view text) {
  if (text.empty()) return rt().empty_string;
  if (text.size() > kMaxStringLength) error(Err::WrongType, make_integer(int32_t(std::min<size_t>(text.size(), INT32_MAX))));
  return make_string(text.data(), text.size());
}

uint8_t decimal_mark() { return data_state().decimal_mark; }

// The value string: a string itself, a symbol's name string, otherwise a
// new string of the value text.
static Value string_of_value(Value v) {
  if (v.is(Tag::String)) return v;
  if (v.is_symbol()) return symbol_name(v);
  return new_string(text_of(v));
}

uint8_t char_code(Value v) {
  if (v.is_fixnum()) return uint8_t(v.payload());
  if (v.is(Tag::Long)) return uint8_t(long_value(v));
  error(Err::WrongType, v);
}


// ---- Comparison ---------------------------------------------------------------

bool texts_equal(std::string_view a, std::string_view b, bool case_sensitive, bool accent_sensitive) {
  if (a.size() != b.size()) return false;
  if (case_sensitive && accent_sensitive) return a == b;
  const Table& t = !case_sensitive ? (accent_sensitive ? kUpper : kFold) : kPlain;
  for (size_t i = 0; i < a.size(); ++i)
    if (t[uint8_t(a[i])] != t[uint8_t(b[i])]) return false;
  return true;
}

int collate(std::string_view a, std::string_view b) {
  size_t i = 0;
  while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
  if (i == a.size() && i == b.size()) return 0;
  if (i == a.size()) return -1;
  if (i == b.size()) return 1;
  int tie = uint8_t(b[i]) > uint8_t(a[i]) ? -1 : 1;
  // The end of a text reads as the zero byte, which no folded code equals.
  auto at = [](std::string_view s, size_t k) { return k < s.size() ? kFold[uint8_t(s[k])] : uint8_t(0); };
  while (i < a.size() && at(a, i) == at(b, i)) ++i;
  if (i == a.size()) return i < b.size() ? -1 : tie;
  if (i == b.size()) return 1;
  return at(b, i) > at(a, i) ? -1 : 1;
}

// ---- Characters ---------------------------------------------------------------

namespace {

Value prim_char_p(Value x) { return boolean(x.is_fixnum()); }

Value prim_char(Value code) {
  char c = char(char_code(code));
  return new_string(std::string_view(&c, c == 0 ? 0 : 1));
}

Value prim_ascii(Value s) {
  if (const char* t = own_text(s)) return make_fixnum(uint8_t(t[0]));
  std::string t = text_of(s);
  return make_fixnum(t.empty() ? 0 : uint8_t(t[0]));
}

Value prim_alpha_char_p(Value x) {
  uint8_t c = char_code(x);
  bool alpha = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || c >= 0xF8;
  return boolean(alpha);
}

Value prim_upper_char(Value x) { return make_fixnum(kUpper[char_code(x)]); }
Value prim_lower_char(Value x) { return make_fixnum(kLower[char_code(x)]); }

// ---- Strings --------------------------------------------------------------------

Value prim_string_p(Value x) { return boolean(x.is(Tag::String)); }
Value prim_empty_string_p(Value x) { return boolean(x.is(Tag::String) && string_text(x)[0] == 0); }
Value prim_string(Value x) { return string_of_value(x); }
Value prim_copy_string(Value x) {
  // new_string copies text lying in the heap aside only if it must collect.
  if (const char* t = own_text(x)) return new_string(t);
  return new_string(text_of(x));
}

Value prim_string_to_symbol(Value x) { return intern_copy(text_of(x)); }

Value prim_string_length(Value x) {
  if (x.is(Tag::String)) return make_fixnum(int32_t(std::strlen(string_text(x))));
  if (x.is_symbol()) return make_integer(int32_t(std::strlen(symbol_text(x))));
  return make_integer(int32_t(text_of(x).size()));
}

Value prim_string_append(Value* rest) {
  if (rest[0].is_end()) return rt().empty_string;
  if (rest[1].is_end()) return string_of_value(rest[0]);
  // Strings and symbols only, the usual case: the result is sized first and
  // the parts copied straight into it. The arguments stay on the Lisp stack,
  // so a collection during the reservation only moves their bytes.
  // The lengths of the first parts are kept for the copying: a collection
  // moves the bytes but never changes a length.
  constexpr size_t kKept = 8;
  uint32_t lengths[kKept];
  size_t total = 0, k = 0;
  Value* p = rest;
  for (; !p->is_end(); ++p, ++k) {
    const char* t = own_text(*p);
    if (t == nullptr) break;
    size_t n = std::strlen(t);
    if (k < kKept) lengths[k] = uint32_t(n);
    total += n;
    if (total > kMaxStringLength) error(Err::WrongType, make_integer(int32_t(total)));
  }
  if (p->is_end()) {
    if (total == 0) return rt().empty_string;
    reserve_heap(uint32_t(total + 1));
    uint8_t* out = heap_top_ptr();
    for (p = rest, k = 0; !p->is_end(); ++p, ++k) {
      const char* t = own_text(*p);
      size_t n = k < kKept ? lengths[k] : std::strlen(t);
      std::memcpy(out, t, n);
      out += n;
    }
    *out = 0;
    return alloc_indirect(uint32_t(total + 1), Tag::String, Header::String);
  }
  std::string out, scratch;
  for (p = rest; !p->is_end(); ++p) {
    out += text_view(*p, scratch);
    if (out.size() > kMaxStringLength) break;
  }
  return new_string(out);
}

Value prim_make_string(Value n) {
  uint32_t count = arg_count(n);
  if (count > 32000) error(Err::WrongType, n);
  return new_string(std::string(count, ' '));
}

Value prim_string_ref(Value s, Value index) {
  uint32_t i = arg_count(index);
  if (s.is(Tag::String) || s.is_symbol()) {
    // The characters up to the index are read in place: a zero among them
    // ends the text before the index.
    const char* t = s.is_symbol() ? symbol_text(s) : string_text(s);
    if (std::memchr(t, 0, size_t(i) + 1) != nullptr) error(Err::WrongType, index);
    return make_fixnum(uint8_t(t[i]));
  }
  std::string t = text_of(s);
  if (i >= t.size()) error(Err::WrongType, index);
  return make_fixnum(uint8_t(t[i]));
}

Value prim_string_set_x(Value s, Value index, Value ch) {
  // Symbol names and the shared empty string are permanent: changing one
  // in place would corrupt the symbol table.
  if (!s.is(Tag::String) || (node_of(s).car & kPermanentBit) != 0) error(Err::WrongType, s);
  uint32_t i = arg_count(index);
  if (uint32_t(arg_fixnum(ch)) > 32000) error(Err::WrongType, ch);
  // A string holds no zero byte: storing one would cut it short.
  if ((ch.payload() & 0xFF) == 0) error(Err::WrongType, ch);
  size_t length = std::strlen(string_text(s));
  if (i >= length) error(Err::WrongType, index);
  indirect_bytes(s)[i] = uint8_t(ch.payload());
  return ch;
}

// A substring bound: negative counts from the end, then clamped to the text.
int64_t bound(Value v, int64_t length, int64_t if_nil) {
  if (v.is_nil()) return if_nil;
  int64_t n = arg_int(v);
  if (n < 0) n += length;
  return std::clamp<int64_t>(n, 0, length);
}

Value prim_substring(Value x, Value start, Value end) {
  std::string scratch;
  std::string_view t = text_view(x, scratch);
  int64_t length = int64_t(t.size());
  int64_t s = bound(start, length, 0);
  int64_t e = bound(end, length, length);
  if (e <= s) return rt().empty_string;
  // new_string copies the characters before it allocates.
  return new_string(t.substr(size_t(s), size_t(e - s)));
}

Value prim_memstring(Value pattern, Value x, Value nocase) {
  std::string p = text_of(pattern);
  std::string t = text_of(x);
  if (p.size() > t.size()) return kNil;
  bool fold = nocase.truthy();
  for (size_t at = 0; at + p.size() <= t.size(); ++at) {
    size_t k = 0;
    if (fold)
      while (k < p.size() && kUpper[uint8_t(p[k])] == kUpper[uint8_t(t[at + k])]) ++k;
    else
      while (k < p.size() && p[k] == t[at + k]) ++k;
    if (k == p.size()) return new_string(view(t).substr(at));
  }
  return kNil;
}

Value mapped_string(Value x, const Table& t) {
  if (const char* text = own_text(x)) {
    // Mapped straight into the new string; a collection during the
    // reservation moves the bytes (the argument is on the Lisp stack).
    size_t n = std::strlen(text);
    if (n == 0) return rt().empty_string;
    if (n > kMaxStringLength) error(Err::WrongType, make_integer(int32_t(n)));
    reserve_heap(uint32_t(n + 1));
    text = own_text(x);
    uint8_t* out = heap_top_ptr();
    for (size_t i = 0; i < n; ++i) out[i] = t[uint8_t(text[i])];
    out[n] = 0;
    return alloc_indirect(uint32_t(n + 1), Tag::String, Header::String);
  }
  std::string s = text_of(x);
  for (char& c : s) c = char(t[uint8_t(c)]);
  return new_string(s);
}

Value prim_upper_string(Value x) { return mapped_string(x, kUpper); }
Value prim_lower_string(Value x) { return mapped_string(x, kLower); }

bool same_text(std::string_view a, std::string_view b) { return a == b; }
int collated(std::string_view a, std::string_view b) { return collate(a, b); }

Value prim_string_eq_p(Value a, Value b) { return boolean(with_texts(a, b, same_text)); }
Value prim_string_ne_p(Value a, Value b) { return boolean(!with_texts(a, b, same_text)); }
Value prim_string_nocase_eq_p(Value a, Value b, Value accents) {
  bool accent_sensitive = !flag(accents);
  return boolean(with_texts(a, b, [&](std::string_view x, std::string_view y) {
    return texts_equal(x, y, false, accent_sensitive);
  }));
}

Value prim_string_lt_p(Value a, Value b) { return boolean(with_texts(a, b, collated) < 0); }
Value prim_string_le_p(Value a, Value b) { return boolean(with_texts(a, b, collated) < 1); }
Value prim_string_ge_p(Value a, Value b) { return boolean(with_texts(a, b, collated) >= 0); }
Value prim_string_gt_p(Value a, Value b) { return boolean(with_texts(a, b, collated) >= 1); }

// The integer and real syntaxes are the reader's.
Value prim_string_to_int(Value x) {
  int32_t n;
  const char* t = own_text(x);
  if (t != nullptr) return parse_integer_text(t, n) ? make_integer(n) : kNil;
  return parse_integer_text(text_of(x).c_str(), n) ? make_integer(n) : kNil;
}

Value prim_string_to_real(Value x) {
  std::string copy;
  const char* t = own_text(x);
  if (t == nullptr) {
    copy = text_of(x);
    t = copy.c_str();
  }
  int32_t n;
  if (parse_integer_text(t, n)) return make_integer(n);
  double d;
  return parse_real_text(t, char(decimal_mark()), d) ? make_real(d) : kNil;
}

const NativeRow kStringNatives[] = {
    TV_PRIM("char?", prim_char_p, "(char? X) t for any fixnum (a character is its code)"),
    TV_PRIM("char", prim_char, "(char CODE) a new one-character string of CODE (low 8 bits); the empty string for 0"),
    TV_PRIM("ascii", prim_ascii, "(ascii TEXT) the code of the first character of TEXT's text; 0 when empty"),
    TV_PRIM("alpha-char?", prim_alpha_char_p, "(alpha-char? CODE) t for a letter or digit: A-Z, a-z, 0-9 and the accented letters"),
    TV_PRIM("upper-char", prim_upper_char, "(upper-char CODE) the upper-case code of CODE (accented letters included)"),
    TV_PRIM("lower-char", prim_lower_char, "(lower-char CODE) the lower-case code of CODE (accented letters included)"),
    TV_PRIM("string?", prim_string_p, "(string? X) t for a string"),
    TV_PRIM("empty-string?", prim_empty_string_p, "(empty-string? X) t for a string with no characters"),
    TV_PRIM("string", prim_string, "(string X) X itself for a string, a symbol's name string, else a new string of X's printed text"),
    TV_PRIM("copy-string", prim_copy_string, "(copy-string X) a new string of X's text"),
    TV_PRIM("symbol->string", prim_string, "(symbol->string X) the same as string: a symbol's own name string, not a copy"),
    TV_PRIM("string->symbol", prim_string_to_symbol, "(string->symbol TEXT) the symbol named by TEXT, interned if new"),
    TV_PRIM("string-length", prim_string_length, "(string-length TEXT) the number of characters of TEXT's text"),
    TV_PRIM("string-append", prim_string_append, "(string-append X...) a new string of the texts of the arguments in order"),
    TV_PRIM("make-string", prim_make_string, "(make-string N) a new string of N blanks (N up to 32000)"),
    TV_PRIM("string-ref", prim_string_ref, "(string-ref TEXT INDEX) the character code at INDEX; error 2 past the end"),
    TV_PRIM("string-set!", prim_string_set_x, "(string-set! STRING INDEX CODE) stores CODE at INDEX of STRING in place; returns CODE (error 2 for a symbol's name, code 0 or an index past the end)"),
    TV_PRIM("substring", prim_substring, "(substring TEXT START [END]) a new string of the characters from START up to END excluded (to the end without END); negative bounds count from the end"),
    TV_PRIM("memstring", prim_memstring, "(memstring PATTERN TEXT [NOCASE]) a new string of TEXT from the first occurrence of PATTERN (ignoring case when NOCASE); nil when absent"),
    TV_PRIM("upper-string", prim_upper_string, "(upper-string TEXT) a new string of TEXT in upper case"),
    TV_PRIM("lower-string", prim_lower_string, "(lower-string TEXT) a new string of TEXT in lower case"),
    TV_PRIM("string=?", prim_string_eq_p, "(string=? A B) t when the texts are equal byte for byte (symbols compare by name)"),
    TV_PRIM("string/=?", prim_string_ne_p, "(string/=? A B) t when the texts differ"),
    TV_PRIM("string-nocase=?", prim_string_nocase_eq_p, "(string-nocase=? A B [NOACCENT]) t when the texts are equal ignoring case, and accents too when NOACCENT is true"),
    TV_PRIM("string<?", prim_string_lt_p, "(string<? A B) t when A sorts before B (case and accents ignored, ties broken by code)"),
    TV_PRIM("string<=?", prim_string_le_p, "(string<=? A B) t when A sorts before B or equal to it (collation of string<?)"),
    TV_PRIM("string>=?", prim_string_ge_p, "(string>=? A B) t when A does not sort before B (collation of string<?)"),
    TV_PRIM("string>?", prim_string_gt_p, "(string>? A B) t when A sorts after B (collation of string<?)"),
    TV_PRIM("string->int", prim_string_to_int, "(string->int TEXT) the integer that TEXT spells in the reader's syntax; nil when not an integer"),
    TV_PRIM("string->real", prim_string_to_real, "(string->real TEXT) the integer or real that TEXT spells in the reader's syntax (with the decimal mark); nil when not a number"),
};

}  // namespace

extern const core::Module kStringsModule{"strings", nullptr, [](core::Runtime&) { register_natives(kStringNatives); }};

}  // namespace data
