// The `format` primitive: a small directive language over a control string.
#include "data/format.hpp"

#include <cstdio>
#include <functional>

#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/strings.hpp"

namespace data {
using namespace core;

namespace {

// Output for a stream other than `t` is handed over in batches of this size.
constexpr size_t kBatch = 4096;
constexpr int kMaxParameters = 7;

[[noreturn]] void fail() { error(Err::WrongType, kNil); }

// ---- Styled text ------------------------------------------------------------------

// The reader's initial character classes, as far as the display and write
// styles need them to decide which characters of a symbol take a backslash.
int initial_class(uint8_t c) {
  switch (c) {
    case '\\':
      return 0;
    case '(':
    case '[':
      return 1;
    case ')':
    case ']':
      return 2;
    case '.':
    case '|':
      return 3;
    case '#':
    case '&':
    case '\'':
    case ':':
    case '_':
      return 4;
    case '"':
      return 5;
    case '+':
    case '-':
    case 'E':
    case 'e':
      return 8;
    case ';':
      return 19;
    case '{':
      return 17;
    case '}':
      return 18;
    case 9:
    case 32:
      return 21;
    case 10:
    case 13:
      return 20;
    default:
      break;
  }
  if (c >= '0' && c <= '9') return 7;
  if (c > 32) return 6;
  return 9;
}

void escaped(std::string& out, const char* text, bool symbol_mode) {
  for (const char* p = text; *p; ++p) {
    uint8_t c = uint8_t(*p);
    int k = initial_class(c);
    bool escape = k == 5 || k == 0 || (symbol_mode && c != ':' && k != 3 && k != 6 && k != 7 && k != 8);
    if (escape) out += '\\';
    out += char(c);
  }
}

// The display style (strings quoted, symbol characters escaped so that the
// text reads back) and the write style (the same, readable data only; error
// 2 with anything else). Vectors and other data print in the plain style.
void styled(std::string& out, Value v, bool write_style) {
  check_native_stack();
  if (v.is(Tag::String)) {
    out += '"';
    escaped(out, string_text(v), false);
    out += '"';
  } else if (v.is_symbol()) {
    escaped(out, symbol_text(v), true);
  } else if (v.is_pair()) {
    out += '(';
    for (;;) {
      styled(out, car(v), write_style);
      v = cdr(v);
      if (v.is_nil()) break;
      out += ' ';
      if (!v.is_pair()) {
        out += ". ";
        styled(out, v, write_style);
        break;
      }
    }
    out += ')';
  } else if (v.is(Tag::Variable)) {
    out += '_';
    styled(out, Value(node_of(v).cdr), true);
  } else {
    bool readable = v.is_nil() || is_integer(v) || v.is(Tag::Real);
    if (write_style && !readable) error(Err::WrongType, v);
    out += text_of(v);
  }
}

// ---- The directive interpreter -----------------------------------------------------

struct Parameter {
  bool given = false;
  int32_t value = 0;
};

struct Directive {
  Parameter p[kMaxParameters];
  bool colon = false;
  bool at = false;
  char letter = 0;
};

bool may_follow_parameter(char c) {
  switch (c) {
    case ',':
    case ':':
    case '@':
    case '#':
    case '*':
    case '%':
    case '[':
    case ';':
    case ']':
      return true;
    default:
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  }
}

class Formatter {
 public:
  // args[i] for i < count are the format arguments; reversed when the
  // vector holds them last-first.
  Formatter(const std::string& control, Value* args, uint32_t count, bool reversed, std::string& out,
            std::function<void(std::string&)> flush)
      : control_(control), args_(args), count_(count), reversed_(reversed), out_(out), flush_(std::move(flush)) {}

  void run() {
    while (pos_ < control_.size()) {
      char c = control_[pos_++];
      if (c != '~') {
        put(c);
        continue;
      }
      Directive d = parse(true);
      dispatch(d);
    }
  }

 private:
  // ---- Arguments

  Value arg(uint32_t i) const { return reversed_ ? args_[count_ - 1 - i] : args_[i]; }
  Value next() {
    if (cursor_ >= count_) fail();
    return arg(cursor_++);
  }
  Value peek() const {
    if (cursor_ >= count_) fail();
    return arg(cursor_);
  }

  // ---- Output

  void put(char c) {
    out_ += c;
    check_size();
  }
  void put(const std::string& s) {
    out_ += s;
    check_size();
  }
  void repeat(char c, int32_t n) {
    for (int32_t i = 0; i < n; ++i) put(c);
  }
  void check_size() {
    if (flush_) {
      if (out_.size() >= kBatch) flush_(out_);
    } else if (out_.size() > kMaxStringLength) {
      error(Err::WrongType, make_integer(int32_t(out_.size())));
    }
  }
  // The text, filled to the width of the first parameter.
  void filled(const Directive& d, const std::string& text) {
    int64_t pad = d.p[0].given ? int64_t(d.p[0].value) - int64_t(text.size()) : 0;
    char fill = d.p[3].given ? char(uint8_t(d.p[3].value)) : ' ';
    if (pad > 0 && d.at) repeat(fill, int32_t(pad));
    put(text);
    if (pad > 0 && !d.at) repeat(fill, int32_t(pad));
  }
  int32_t count_parameter(const Directive& d) const { return d.p[0].given ? d.p[0].value : 1; }

  // ---- Parsing

  char at_char() const {
    if (pos_ >= control_.size()) fail();
    return control_[pos_];
  }

  // Parses the parameters, flags and letter after a tilde. With evaluate
  // false (while clauses are skipped) `v` and `#` take no argument.
  Directive parse(bool evaluate) {
    Directive d;
    int k = 0;
    for (;;) {
      char c = at_char();
      bool parameter = true;
      Parameter value;
      if (c >= '0' && c <= '9') {
        int64_t n = 0;
        while (pos_ < control_.size() && control_[pos_] >= '0' && control_[pos_] <= '9') {
          n = 10 * n + (control_[pos_++] - '0');
          if (n > INT32_MAX) fail();
        }
        value = {true, int32_t(n)};
      } else if (c == 'v' || c == 'V') {
        ++pos_;
        value = {true, evaluate ? read_integer(next()) : 0};
      } else if (c == '#') {
        ++pos_;
        value = {true, int32_t(count_ - cursor_)};
      } else if (c == '\'') {
        ++pos_;
        value = {true, uint8_t(at_char())};
        ++pos_;
      } else {
        parameter = false;
      }
      if (parameter) {
        if (k >= kMaxParameters) fail();
        d.p[k] = value;
        char follow = at_char();
        if (!may_follow_parameter(follow)) error(Err::WrongType, make_fixnum(uint8_t(follow)));
        continue;
      }
      ++pos_;
      if (c == ',') {
        if (++k >= kMaxParameters) fail();
      } else if (c == ':') {
        d.colon = true;
      } else if (c == '@') {
        d.at = true;
      } else {
        d.letter = c;
        return d;
      }
    }
  }

  // Moves past the next directive that is a clause separator or the end of
  // the conditional, and answers it. A nested conditional or the end of the
  // control string is an error.
  Directive next_separator() {
    for (;;) {
      size_t tilde = control_.find('~', pos_);
      if (tilde == std::string::npos) fail();
      pos_ = tilde + 1;
      Directive d = parse(false);
      if (d.letter == '[') fail();
      if (d.letter == ';' || d.letter == ']') return d;
    }
  }
  void skip_past_end() {
    while (next_separator().letter != ']') {
    }
  }

  // ---- Directives

  void dispatch(const Directive& d) {
    switch (d.letter) {
      case 'a':
        return filled(d, text_of(next()));
      case 'w':
      case 'y': {
        std::string text;
        styled(text, next(), d.letter == 'w');
        return put(text);
      }
      case 'c':
        return repeat(char(uint8_t(next().payload())), count_parameter(d));
      case 'x': {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%X", unsigned(read_integer(next())));
        return filled(d, buf);
      }
      case 'f':
        return put(real_text(d, read_double(next())));
      case 'i':
        return filled(d, resource_text(d));
      case 'p': {
        Value v;
        if (d.colon) {
          if (cursor_ == 0) fail();
          v = arg(cursor_ - 1);
        } else {
          v = next();
        }
        if (v != make_fixnum(0) && v != make_fixnum(1)) put('s');
        return;
      }
      case '%':
        return repeat(13, count_parameter(d));
      case 't':
        return repeat(9, count_parameter(d));
      case '.':
        return put(char(decimal_mark()));
      case '*':
        return move_cursor(d);
      case '[':
        return open_conditional(d);
      case ';':
        if (!in_conditional_) fail();
        skip_past_end();
        in_conditional_ = false;
        return;
      case ']':
        if (!in_conditional_) fail();
        in_conditional_ = false;
        return;
      default:
        fail();
    }
  }

  // ~f: the general conversion with 6 digits, or fixed point with the
  // decimals of the second parameter, at the width of the first; blanks
  // before the number dropped and the text cut at the first blank after it.
  static std::string real_text(const Directive& d, double x) {
    const Parameter& w = d.p[0];
    const Parameter& p = d.p[1];
    if (w.given && (w.value > int32_t(kMaxStringLength) || w.value < -int32_t(kMaxStringLength))) fail();
    if (p.given && (p.value < 0 || p.value > 1024)) fail();
    std::string spec;
    if (!w.given && !p.given)
      spec = "%-27.6g";
    else if (!w.given)
      spec = "%." + std::to_string(p.value) + "f";
    else if (p.given)
      spec = "%" + std::to_string(w.value) + "." + std::to_string(p.value) + "f";
    else
      spec = "%" + std::to_string(w.value) + "g";
    int n = std::snprintf(nullptr, 0, spec.c_str(), x);
    if (n < 0) fail();
    std::string text(size_t(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), spec.c_str(), x);
    text.resize(size_t(n));
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return "";
    size_t blank = text.find(' ', first);
    return text.substr(first, blank == std::string::npos ? std::string::npos : blank - first);
  }

  std::string resource_text(const Directive& d) {
    int32_t id = read_integer(next());
    int32_t index = 0;
    if (d.colon) {
      index = read_integer(next());
      if (index < 1) return "";
    }
    std::string text;
    auto lookup = rt().string_resource;
    if (lookup == nullptr || !lookup(id, index, text)) return "";
    return text;
  }

  void move_cursor(const Directive& d) {
    int64_t n = d.p[0].given ? d.p[0].value : (d.at ? 0 : 1);
    int64_t to = d.at ? n : d.colon ? int64_t(cursor_) - n : int64_t(cursor_) + n;
    if (to < 0 || to > int64_t(count_)) fail();
    cursor_ = uint32_t(to);
  }

  void open_conditional(const Directive& d) {
    if (in_conditional_) fail();
    if (d.colon) {
      if (next().truthy()) {
        if (next_separator().letter != ';') fail();
      }
      in_conditional_ = true;
      return;
    }
    if (d.at) {
      if (peek().is_nil()) {
        ++cursor_;
        skip_past_end();
        return;
      }
      in_conditional_ = true;
      return;
    }
    int32_t n = d.p[0].given ? d.p[0].value : int16_t(uint16_t(next().payload()));
    while (n != 0) {
      Directive s = next_separator();
      if (s.letter == ']') fail();
      if (s.colon) break;  // ~:; selects the clause after it at once
      if (n > 0) --n;
    }
    in_conditional_ = true;
  }

  const std::string& control_;
  size_t pos_ = 0;
  Value* args_;
  uint32_t count_;
  bool reversed_;
  uint32_t cursor_ = 0;
  bool in_conditional_ = false;
  std::string& out_;
  std::function<void(std::string&)> flush_;
};

// Writes text to a stream through the printer's `prin`, in strings of at
// most the largest string length; standard output until a printer exists.
void write_to_stream(Value stream, std::string& text) {
  Value prin = find_symbol("prin");
  Value fn = prin.is_symbol() ? symbol_value(prin) : kNoValue;
  for (size_t at = 0; at < text.size(); at += kMaxStringLength) {
    std::string piece = text.substr(at, kMaxStringLength);
    if (fn.is(Tag::Primitive)) {
      Value s = new_string(piece);
      call_by_name(fn, {s, stream});
    } else {
      std::fwrite(piece.data(), 1, piece.size(), stdout);
    }
  }
  text.clear();
}

// (format stream control args...), registered with its rest arguments
// placed last-first.
Value prim_format(Value* rest) {
  uint32_t n = 0;
  while (!rest[n].is_end()) ++n;
  if (n < 2) error(Err::WrongType, kNil);
  Value stream = rest[n - 1];
  std::string control = text_of(rest[n - 2]);
  if (control.size() > 65535) error(Err::WrongType, make_integer(int32_t(control.size())));
  if (stream.is(Tag::String)) error(Err::WrongType, stream);
  std::string out;
  bool to_string = stream == rt().sym.t;
  std::function<void(std::string&)> flush;
  if (!to_string) flush = [stream](std::string& text) { write_to_stream(stream, text); };
  Formatter f(control, rest, n - 2, true, out, flush);
  if (to_string) {
    f.run();
    return new_string(out);
  }
  try {
    f.run();
  } catch (const Thrower&) {
    // What was produced before the error is written before the error
    // goes on.
    write_to_stream(stream, out);
    throw;
  }
  write_to_stream(stream, out);
  return rt().sym.t;
}

const NativeRow kFormatNatives[] = {
    TV_PRIM_CODE("format", prim_format, kArityReversed),
};

}  // namespace

void format_text(std::string& out, const std::string& control, Value* args) {
  uint32_t n = 0;
  while (!args[n].is_end()) ++n;
  Formatter f(control, args, n, false, out, nullptr);
  f.run();
}

void register_format_natives() { register_natives(kFormatNatives); }

}  // namespace data
