// The token readers, the built-in macro and dispatch functions, and the
// reading primitives.
#include "data/reader.hpp"

#include <cstring>
#include <exception>
#include <string>

#include "core/args.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/positions.hpp"
#include "core/symbols.hpp"
#include "data/charsets.hpp"
#include "data/encoded.hpp"
#include "data/numbers.hpp"
#include "data/streams.hpp"

namespace data {
using namespace core;

namespace {

struct NamedChar {
  const char* name;
  int code;
};

constexpr NamedChar kNamedChars[] = {
    {"enter", 3},         {"info", 5},          {"backspace", 8},
    {"tab", 9},           {"linefeed", 10},     {"vtab", 11},
    {"return", 13},       {"escape", 27},       {"left-arrow", 28},
    {"right-arrow", 29},  {"up-arrow", 30},     {"down-arrow", 31},
    {"space", 32},        {"question-mark", 47}, {"semi-colon", 59},
    {"ellipsis", 201},    {"diamond", 215},     {"lower-equal", 178},
    {"greater-equal", 179}, {"not-equal", 173}, {"left-parenthesis", 40},
    {"right-parenthesis", 41}, {"check-mark", 42}, {"triangle", 43},
    {"angle", 176},
};


inline Value boolean(bool b) { return b ? rt().sym.t : kNil; }
inline bool flag_set(Value v) { return v.truthy() && !v.is_no_value(); }
Value symbol(const char* name) { return intern_static(name); }


inline int lookahead() { return data_state().lookahead; }
inline bool at_end() { return data_state().lookahead == kEndOfInput; }

// The next byte of an encoded token; the end of input inside one is error 25.
int token_byte() {
  int c = fetch();
  if (c == kEndOfInput) error(Err::EndOfInput, kNil);
  return c & 0xFF;
}

// Calls a function of the macro or dispatch table with no arguments.
Value call_table_function(Value fn, int c) {
  if (fn.is_nil() || fn.is_no_value()) error(Err::WrongType, make_fixnum(c & 0xFF));
  if (fn.is(Tag::Primitive)) {
    uint32_t n = native_code(fn) & kArityCount;
    if (n > 8) error(Err::WrongType, fn);
    Value args[10];
    for (uint32_t i = 0; i < n; ++i) args[i] = kNil;
    args[n] = kEndArgs;
    args[n + 1] = kEndArgs;
    return native_function(fn)(args);
  }
  if (fn.is_symbol()) return call_by_name(fn, {});
  Value none[1] = {kEndArgs};
  return apply_vector(fn, none);
}

// Collects the characters of a symbol from the lookahead on: constituents,
// digits, signs, dots, and escaped characters of any class.
void collect_symbol(std::string& text) {
  while (!at_end()) {
    int c = lookahead();
    uint8_t k = char_class(c);
    if (k == kEscape) {
      if (fetch() == kEndOfInput) break;
      text += char(lookahead());
      fetch();
      continue;
    }
    if (k != kDot && k != kConstituent && k != kDigit && k != kSignOrExponent) break;
    text += char(c);
    fetch();
  }
}

Value read_symbol() {
  std::string text;
  collect_symbol(text);
  return intern_copy(text);
}

Value read_number_or_symbol() {
  DataState& d = data_state();
  std::string text;
  int marks = 0, digits = 0, others = 0;
  while (!at_end()) {
    int c = lookahead();
    uint8_t k = char_class(c);
    if (k == kEscape) {
      if (fetch() == kEndOfInput) break;
      text += char(lookahead());
      ++others;
      fetch();
      continue;
    }
    if (c == d.decimal_mark) {
      ++marks;
    } else if (k == kConstituent) {
      ++others;
    } else if (k == kDigit) {
      ++digits;
    } else if (k != kSignOrExponent) {
      break;
    }
    text += char(c);
    fetch();
  }
  if (others == 0 && digits > 0 && marks < 2) {
    int32_t n;
    if (marks == 0 && parse_integer_text(text.c_str(), n)) return make_integer(n);
    double r;
    if (parse_real_text(text.c_str(), char(d.decimal_mark), r)) return make_real(r);
  }
  return intern_copy(text);
}

Value read_string() {
  std::string text;
  int c;
  for (;;) {
    c = fetch();
    if (c == kEndOfInput) break;
    uint8_t k = char_class(c);
    if (k == kStringQuote) break;
    if (c == 10) continue;
    if (k == kEscape) {
      c = fetch();
      if (c == kEndOfInput) break;
    }
    text += char(c);
  }
  // A string still open at the end of the text would swallow the rest of
  // a file silently: it is an unfinished form like an open list.
  if (c == kEndOfInput) error(Err::EndOfInput, kNil);
  fetch();
  // A string ends at its first zero byte inside the machine: one inside a
  // literal would cut it short without a word.
  if (size_t nul = text.find('\0'); nul != std::string::npos)
    error(Err::WrongType, make_string(("a zero byte in the string \"" + text.substr(0, nul) + "\"").c_str()));
  if (text.empty()) return rt().empty_string;
  return make_string(text.data(), text.size());
}

Value table_symbol(uint32_t index) {
  DataState& d = data_state();
  // Encoded code names symbols by index; without a table, or past its
  // end, the index names nothing.
  if (!d.symbols_table || index >= d.symbols_table->size()) error(Err::WrongType, make_integer(int32_t(index)));
  return (*d.symbols_table)[index];
}

// A datum after a prefix (quote, feature test): nothings are skipped, any
// other signal leaves the form unfinished.
Value read_operand() {
  for (;;) {
    Value t = read_token();
    if (!is_signal(t)) return t;
    if (t.payload() != kSignalNothing) error(Err::EndOfInput, kNil);
  }
}

bool feature_holds(Value expr, Value features) {
  check_native_stack();
  if (!expr.is_pair()) {
    for (Value l = features; l.is_pair(); l = cdr(l))
      if (car(l) == expr) return true;
    return false;
  }
  Value head = car(expr), args = cdr(expr);
  if (head == symbol("and")) {
    for (; args.is_pair(); args = cdr(args))
      if (!feature_holds(car(args), features)) return false;
    return true;
  }
  if (head == symbol("or")) {
    for (; args.is_pair(); args = cdr(args))
      if (feature_holds(car(args), features)) return true;
    return false;
  }
  if (head == symbol("not")) return !feature_holds(args.is_pair() ? car(args) : kNil, features);
  error(Err::WrongType, head);
}

Value read_feature_test() {
  fetch();
  Value expr = read_operand();
  Value var = symbol("Features");
  Value features = symbol_value(var);
  if (features.is_no_value()) error(Err::Unbound, var);
  if (!features.is(Tag::Pair)) error(Err::WrongType, features);
  for (Value l = features; !l.is_nil(); l = cdr(l))
    if (!l.is_pair()) error(Err::WrongType, features);
  if (feature_holds(expr, features)) return read_token();
  read_operand();
  return signal_word(kSignalNothing);
}

Value read_macro(int c) {
  switch (c) {
    case '#': {
      int next = fetch();
      if (next == kEndOfInput) error(Err::EndOfInput, kNil);
      return call_table_function(data_state().reader_dispatch[next & 0xFF], next);
    }
    case '&': return read_feature_test();
    case '\'': {
      fetch();
      Value datum = read_operand();
      return cons(symbol("quote"), cons(datum, kNil));
    }
    case ':': {
      fetch();
      std::string text;
      collect_symbol(text);
      return make_keyword(text);
    }
    default: return call_table_function(data_state().reader_macros[c & 0xFF], c);
  }
}

Value read_source_reference() {
  Value file = symbol_value(symbol("Load-File"));
  if (file.is_nil() || file.is_no_value()) error(Err::WrongType, kNil);
  uint32_t p1 = input_position();
  Value list = read_list(kSignalCloseBrace, false);
  uint32_t p2 = input_position() - 1;
  Value head = list.is_pair() ? car(list) : kNil;
  if (head.is_pair()) head = car(head);
  Value tail = cons(make_integer(int32_t(p1)), make_integer(int32_t(p2)));
  tail = cons(file, tail);
  return cons(head, tail);
}

Value read_class(uint8_t k, int c) {
  switch (k) {
    case kEscape:
    case kConstituent: return read_symbol();
    case kOpen: return read_list(kSignalClose, false);
    case kClose:
    case kAlternateClose:
      data_state().lookahead = ' ';
      return signal_word(kSignalClose);
    case kDot:
      fetch();
      return signal_word(kSignalDot);
    case kMacro: return read_macro(c);
    case kStringQuote: return read_string();
    case kDigit:
    case kSignOrExponent: return read_number_or_symbol();
    case kSymbolByte: {
      Value s = table_symbol(uint32_t(c & 0xFF));
      fetch();
      return s;
    }
    case kPagedSymbolByte: {
      uint32_t index = uint32_t((c & 0xFF) - 15) * 256 + 8 + uint32_t(token_byte());
      Value s = table_symbol(index);
      fetch();
      return s;
    }
    case kWideSymbolByte:
    case kTableVariable: {
      uint32_t hi = uint32_t(token_byte());
      uint32_t index = (hi << 8) | uint32_t(token_byte());
      Value s = table_symbol(index);
      fetch();
      return k == kTableVariable ? make_variable(s) : s;
    }
    case kByteInteger: {
      int v = int8_t(uint8_t(token_byte()));
      fetch();
      return make_fixnum(v);
    }
    case kWordInteger: {
      int hi = token_byte();
      int v = int16_t(uint16_t((hi << 8) | token_byte()));
      fetch();
      return make_fixnum(v);
    }
    case kInvalid: error(Err::WrongType, kNil);
    case kOpenBrace: return read_source_reference();
    case kCloseBrace:
      data_state().lookahead = ' ';
      return signal_word(kSignalCloseBrace);
    default: return signal_word(kSignalEnd);
  }
}

Value vector_of_list(Value list) {
  uint32_t n = 0;
  for (Value l = list; l.is_pair(); l = cdr(l)) ++n;
  if (n > 16383) error(Err::WrongType, make_integer(int32_t(n)));
  uint32_t size = 2 + 4 * n;
  reserve_heap(size);
  uint8_t* p = heap_top_ptr();
  uint16_t count = uint16_t(n);
  std::memcpy(p, &count, 2);
  uint32_t i = 0;
  for (Value l = list; l.is_pair(); l = cdr(l), ++i) {
    uint32_t w = car(l).bits;
    std::memcpy(p + 2 + 4 * i, &w, 4);
  }
  return alloc_indirect(size, Tag::Vector, Header::Vector);
}

// ---- Built-in macro and dispatch functions -----------------------------------------

// _name: the variable of that name.
Value prim_read_variable() {
  fetch();
  return make_variable(read_symbol());
}

// #\c and #\name.
Value prim_read_character() {
  int k = fetch();
  if (k == kEndOfInput) error(Err::EndOfInput, kNil);
  int next = fetch();
  if (next != kEndOfInput && (char_class(next) == kConstituent || char_class(next) == kSignOrExponent)) {
    std::string name(1, char(k));
    collect_symbol(name);
    for (const NamedChar& nc : kNamedChars)
      if (name == nc.name) return make_fixnum(nc.code);
    error(Err::WrongType, intern_copy(name));
  }
  // On a Mac machine the literal is the Mac code of the character; one
  // without a counterpart there keeps its own code.
  uint8_t code = uint8_t(k);
  if (symbol_value(intern_static("Machine")) == intern_static("mac")) {
    uint8_t mac = convert_char(Charset::WindowsToMac, code);
    if (mac != 0) code = mac;
  }
  return make_fixnum(code);
}

// #(...): a vector.
Value prim_read_vector() { return vector_of_list(read_list(kSignalClose, false)); }

// #{key text key text ...}: the text of the current language.
Value prim_read_language() {
  Value list = read_list(kSignalCloseBrace, false);
  Value language = symbol_value(symbol("Langage"));
  for (Value l = list; l.is_pair() && cdr(l).is_pair(); l = cdr(cdr(l)))
    if (car(l) == language) return car(cdr(l));
  error(Err::WrongType, list);
}

}  // namespace

void fill_initial_classes(uint8_t* k) {
  for (int c = 0; c < 256; ++c) k[c] = kConstituent;
  for (int c = 0; c <= 7; ++c) k[c] = kSymbolByte;
  k[8] = kWideSymbolByte;
  k[9] = kBlank;
  k[10] = k[13] = kLineEnd;
  k[11] = kByteInteger;
  k[12] = kWordInteger;
  k[14] = kTableVariable;
  for (int c = 15; c <= 31; ++c) k[c] = kPagedSymbolByte;
  k[' '] = kBlank;
  k['('] = k['['] = kOpen;
  k[')'] = k[']'] = kClose;
  k['.'] = k['|'] = kDot;
  for (char c : {'#', '&', '\'', ':', '_'}) k[uint8_t(c)] = kMacro;
  k['"'] = kStringQuote;
  k['\\'] = kEscape;
  for (int c = '0'; c <= '9'; ++c) k[c] = kDigit;
  for (char c : {'+', '-', 'E', 'e'}) k[uint8_t(c)] = kSignOrExponent;
  k[';'] = kComment;
  k['{'] = kOpenBrace;
  k['}'] = kCloseBrace;
}

uint8_t char_class(int c) { return data_state().classes[c & 0xFF]; }

Value read_token() {
  // Prefixes (quote, feature tests, macro characters) recurse through here.
  check_native_stack();
  for (;;) {
    int c = lookahead();
    if (c == kEndOfInput) return signal_word(kSignalEnd);
    uint8_t k = char_class(c);
    if (k < kComment) return read_class(k, c);
    if (k == kComment) {
      do c = fetch();
      while (c != kEndOfInput && char_class(c) != kLineEnd);
      if (c == kEndOfInput) return signal_word(kSignalEnd);
    }
    if (fetch() == kEndOfInput) return signal_word(kSignalEnd);
  }
}

// The line of the lookahead in the memory input being recorded: line ends
// are counted forward from where the last count stopped.
uint32_t source_line() {
  DataState& d = data_state();
  uint32_t to = d.in.pos > 0 ? d.in.pos - 1 : 0;  // the lookahead's position
  if (to > d.in.end) to = d.in.end;
  if (to < d.counted_pos) d.counted_pos = 0, d.counted_line = 1;
  const uint8_t* text = rt().region.ptr(d.in.base);
  for (uint32_t i = d.counted_pos; i < to; ++i) {
    uint8_t c = text[i];
    if (c == '\n' || (c == '\r' && (i + 1 >= d.in.end || text[i + 1] != '\n'))) ++d.counted_line;
  }
  d.counted_pos = to;
  return d.counted_line;
}

Value read_list(uint32_t closing, bool end_closes) {
  check_native_stack();
  // Counts the open lists; an exit that leaves this list unfinished
  // records how deep the reader was.
  struct Open {
    DataState& d = data_state();
    int exits = std::uncaught_exceptions();
    Open() { ++d.open_lists; }
    ~Open() {
      if (std::uncaught_exceptions() > exits && d.broken_lists < d.open_lists) d.broken_lists = d.open_lists;
      --d.open_lists;
    }
  } open;
  uint32_t line = open.d.position_file != 0 && open.d.in.serial == open.d.position_serial ? source_line() : 0;
  fetch();
  ListBuilder b;
  for (;;) {
    Value t = read_token();
    if (is_signal(t)) {
      uint32_t n = t.payload();
      if (n == kSignalNothing) continue;
      if (n == kSignalEnd && end_closes) n = closing;
      if (n == closing) {
        if (line != 0 && b.head.is_pair()) rt().positions->record(b.head, open.d.position_file, line);
        return b.head;
      }
      // A dot needs an element before it; any other signal (the end, or a
      // closing character of the other kind) leaves the list unfinished.
      if (n != kSignalDot || b.head.is_nil()) error(Err::EndOfInput, kNil);
      set_cdr(b.tail, read_operand());
      continue;
    }
    b.add(t);
  }
}

Value read_datum() {
  fetch();
  Value t = read_token();
  if (!is_signal(t)) return t;
  uint32_t n = t.payload();
  if (n == kSignalEnd || n == kSignalNothing) return kNil;
  error(Err::EndOfInput, kNil);
}

Value parse_string(Value s) {
  InputGuard guard;
  set_string_input(s);
  return read_list(kSignalClose, true);
}

void install_symbols_table(const std::vector<Value>& names) {
  DataState& d = data_state();
  auto table = std::make_shared<std::vector<Value>>();
  table->reserve(names.size() + 8);
  for (const char* name : kFixedTableNames) table->push_back(intern_static(name));
  for (Value s : names) {
    table->push_back(s);
    if (is_keyword(s)) set_symbol_value(s, s);
  }
  d.symbols_installed = std::move(table);
  if (d.load_depth == 0) d.symbols_table = d.symbols_installed;
}

void remove_symbols_table() {
  DataState& d = data_state();
  d.symbols_installed.reset();
  if (d.load_depth == 0) d.symbols_table.reset();
}

Value make_variable(Value s) { return alloc_node(Tag::Variable, make_fixnum(0).bits, s.bits); }

static void pair_twins(Value a, Value b) {
  uint32_t ia = symbol_index(a), ib = symbol_index(b);
  if (ia > 32767 || ib > 32767) return;
  record(a).twin = int16_t(ib);
  record(b).twin = int16_t(ia);
}

Value symbol_to_keyword(Value s) {
  if (s.is(Tag::Variable)) s = cdr(s);
  if (!s.is_symbol()) error(Err::WrongType, s);
  if (is_keyword(s)) return s;
  if (record(s).twin >= 0) return symbol_at(uint32_t(record(s).twin));
  std::string name = symbol_text(s);
  Value k = make_keyword(name);
  pair_twins(s, k);
  return k;
}

Value keyword_to_symbol(Value k) {
  if (!is_keyword(k)) error(Err::WrongType, k);
  if (record(k).twin >= 0) return symbol_at(uint32_t(record(k).twin));
  std::string name = symbol_text(k) + 1;
  Value s = intern_copy(name);
  pair_twins(s, k);
  return s;
}

// ---- Primitives -------------------------------------------------------------------

static Value prim_read(Value stream) {
  InputGuard guard;
  select_input(stream);
  return read_datum();
}

static Value prim_readline(Value stream) {
  InputGuard guard;
  select_input(stream);
  std::string line;
  for (;;) {
    int c = fetch();
    if (c == kEndOfInput || c == 13) break;
    if (c == 10) continue;
    line += char(c);
    if (line.size() > 65534) error(Err::WrongType, make_integer(int32_t(line.size())));
  }
  if (line.empty()) return rt().empty_string;
  return make_string(line.data(), line.size());
}

static Value prim_readch(Value stream) {
  InputGuard guard;
  select_input(stream);
  return make_fixnum(fetch());
}

static Value prim_parse(Value s) {
  return parse_string(arg_string(s));
}

static Value prim_read_delimited_list(Value end_closes, Value signal) {
  if (!signal.is_fixnum() || (signal.fixnum() != int(kSignalClose) && signal.fixnum() != int(kSignalCloseBrace)))
    error(Err::WrongType, signal);
  return read_list(uint32_t(signal.fixnum()), flag_set(end_closes));
}

namespace {
class MarkGuard {
 public:
  MarkGuard() : saved_(data_state().decimal_mark) {}
  ~MarkGuard() { data_state().decimal_mark = saved_; }

 private:
  uint8_t saved_;
};
}  // namespace

static Value prim_with_dot_mark(Value c, Value fn) {
  MarkGuard guard;
  data_state().decimal_mark = uint8_t(read_integer(c));
  return call_table_function(fn, 0);
}

static Value prim_typech(Value c, Value k) {
  uint8_t ch = uint8_t(read_integer(c));
  if (!k.is_nil()) data_state().classes[ch] = uint8_t(read_integer(k));
  return make_fixnum(data_state().classes[ch]);
}

static Value prim_get_macro_character(Value c) { return data_state().reader_macros[uint8_t(read_integer(c))]; }

static Value prim_set_macro_character(Value c, Value fn) {
  data_state().reader_macros[uint8_t(read_integer(c))] = fn;
  return kNoValue;
}

// (dmc c body...) and (ddc c body...): a function of no parameters made of
// the body becomes the character's macro or dispatch function.
static Value define_character_function(Value forms, bool dispatch) {
  if (!forms.is_pair()) error(Err::WrongType, forms);
  uint8_t ch = uint8_t(read_integer(eval(car(forms))));
  Value lambda = cons(symbol("lambda"), cons(kNil, cdr(forms)));
  Value fn = eval(lambda);
  if (dispatch) {
    data_state().reader_dispatch[ch] = fn;
  } else {
    data_state().reader_macros[ch] = fn;
    data_state().classes[ch] = kMacro;
  }
  return kNoValue;
}
static Value prim_dmc(Value forms) { return define_character_function(forms, false); }
static Value prim_ddc(Value forms) { return define_character_function(forms, true); }

static Value prim_symbol_to_keyword(Value s) { return symbol_to_keyword(s); }
static Value prim_keyword_to_symbol(Value k) { return keyword_to_symbol(k); }
static Value prim_genvarlog(Value s) {
  return make_variable(arg_symbol(s));
}

static const NativeRow kReaderNatives[] = {
    TV_PRIM("read", prim_read, "(read [STREAM]) reads one datum from STREAM (nil: terminal-in; t: the current input); nil at the end of input"),
    TV_PRIM("readline", prim_readline, "(readline [STREAM]) the characters up to a carriage return or the end, as a new string (line feeds dropped)"),
    TV_PRIM("readch", prim_readch, "(readch [STREAM]) the code of the next character; 65535 at the end of input"),
    TV_PRIM("parse", prim_parse, "(parse STRING) the list of every datum read from the text of STRING"),
    TV_PRIM2("read-delimited-list", prim_read_delimited_list, "(read-delimited-list END-CLOSES SIGNAL) reads from the current input a list closed by SIGNAL (2 for a parenthesis, 18 for a brace); the end of input closes it too when END-CLOSES"),
    TV_PRIM("with-dot-mark", prim_with_dot_mark, "(with-dot-mark CODE F) calls F with no arguments while CODE is the decimal mark; returns F's result"),
    TV_PRIM2("typech", prim_typech, "(typech CODE [CLASS]) the reader class of the character CODE, after setting it to CLASS when given"),
    TV_PRIM2("get-macro-character", prim_get_macro_character, "(get-macro-character CODE) the reader macro function of the character CODE; nil when none"),
    TV_PRIM2("set-macro-character", prim_set_macro_character, "(set-macro-character CODE F) makes F the reader macro function of the character CODE (its class unchanged); no value"),
    TV_SPECIAL2("dmc", prim_dmc, "(dmc CODE FORM...) makes (lambda () FORM...) the reader macro of the character CODE and gives it the macro class; no value"),
    TV_SPECIAL2("ddc", prim_ddc, "(ddc CODE FORM...) makes (lambda () FORM...) the dispatch macro of the character CODE that follows the dispatch character; no value"),
    TV_PRIM2("symbol->keyword", prim_symbol_to_keyword, "(symbol->keyword SYMBOL) the keyword named : followed by SYMBOL's name (a variable gives its symbol's)"),
    TV_PRIM2("keyword->symbol", prim_keyword_to_symbol, "(keyword->symbol KEYWORD) the symbol named by KEYWORD's name without its first character"),
    TV_PRIM2("genvarlog", prim_genvarlog, "(genvarlog SYMBOL) a new logic variable named by SYMBOL"),
};

static void install_module(core::Runtime&) {
  fill_initial_classes(data_state().classes);
  for (const char* name : {"quote", "read-proc", "Langage", "Features", "and", "or", "not", "ibm", "mac", "lambda"})
    intern_static(name);
  for (const NamedChar& nc : kNamedChars) intern_static(nc.name);
  intern_static("Machine", intern_static("ibm"));
  intern_static("Load-File", kNil);
  DataState& r = data_state();
  r.reader_macros['_'] = make_native(&native_entry<prim_read_variable>, 0, Tag::Primitive);
  r.reader_dispatch['\\'] = make_native(&native_entry<prim_read_character>, 0, Tag::Primitive);
  r.reader_dispatch['('] = make_native(&native_entry<prim_read_vector>, 0, Tag::Primitive);
  r.reader_dispatch['{'] = make_native(&native_entry<prim_read_language>, 0, Tag::Primitive);
  register_natives(kReaderNatives);
}

extern const core::Module kReaderModule{"reader", nullptr, install_module};

SourcePositionsScope::SourcePositionsScope(const std::string& file, uint32_t first_line) {
  DataState& d = data_state();
  saved_file_ = d.position_file;
  saved_serial_ = d.position_serial;
  saved_pos_ = d.counted_pos;
  saved_line_ = d.counted_line;
  d.position_file = file.empty() ? 0 : rt().positions->file_number(file);
  d.position_serial = d.in.serial;
  d.counted_pos = 0;
  d.counted_line = first_line;
}

SourcePositionsScope::~SourcePositionsScope() {
  DataState& d = data_state();
  d.position_file = saved_file_;
  d.position_serial = saved_serial_;
  d.counted_pos = saved_pos_;
  d.counted_line = saved_line_;
}

}  // namespace data
