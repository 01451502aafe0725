// The `format` primitive: a small directive language over a control string.
#include "data/format.hpp"

#include <cstdio>

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "data/printer.hpp"
#include "data/streams.hpp"
#include "data/strings.hpp"

namespace data {
using namespace core;

namespace {

constexpr int kMaxParameters = 7;

[[noreturn]] void fail() { error(Err::WrongType, kNil); }

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
  // vector holds them last-first. Output goes to the current sink.
  Formatter(const std::string& control, Value* args, uint32_t count, bool reversed)
      : control_(control), args_(args), count_(count), reversed_(reversed) {}

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

  static void put(char c) { put_char(uint8_t(c)); }
  static void put(const std::string& text) {
    for (char c : text) put_char(uint8_t(c));
  }
  // A text sink that is full takes nothing more: stop repeating.
  static void repeat(char c, int64_t n) {
    for (int64_t i = 0; i < n && !output_full(); ++i) put(c);
  }
  // The text, filled to the width of the first parameter.
  static void filled(const Directive& d, const std::string& text) {
    int64_t pad = d.p[0].given ? int64_t(d.p[0].value) - int64_t(text.size()) : 0;
    char fill = d.p[3].given ? char(uint8_t(d.p[3].value)) : ' ';
    if (pad > 0 && d.at) repeat(fill, pad);
    put(text);
    if (pad > 0 && !d.at) repeat(fill, pad);
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
        return print_value(next(), Style::Write);
      case 'y':
        return print_value(next(), Style::Display);
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
    std::string conversion;
    if (!w.given && !p.given)
      conversion = "%-27.6g";
    else if (!w.given)
      conversion = "%." + std::to_string(p.value) + "f";
    else if (p.given)
      conversion = "%" + std::to_string(w.value) + "." + std::to_string(p.value) + "f";
    else
      conversion = "%" + std::to_string(w.value) + "g";
    int n = std::snprintf(nullptr, 0, conversion.c_str(), x);
    if (n < 0) fail();
    std::string text(size_t(n) + 1, '\0');
    std::snprintf(text.data(), text.size(), conversion.c_str(), x);
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
};

// Runs a control string into a text buffer that holds at most the largest
// string; a longer output is error 2.
std::string format_to_text(const std::string& control, Value* args, uint32_t count, bool reversed) {
  std::string out;
  {
    OutputGuard guard;
    set_text_output(&out, kMaxStringLength);
    Formatter(control, args, count, reversed).run();
    if (output_full()) error(Err::WrongType, make_integer(int32_t(kMaxStringLength + 1)));
  }
  return out;
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
  // A string is no stream.
  if (stream.is(Tag::String)) error(Err::WrongType, stream);
  flush_edit_output();
  if (stream == rt().sym.t) return new_string(format_to_text(control, rest, n - 2, true));
  {
    OutputGuard guard;
    select_output(stream);
    Formatter(control, rest, n - 2, true).run();
    flush_edit_output();
  }
  return rt().sym.t;
}

const NativeRow kFormatNatives[] = {
    TV_PRIM_CODE("format", prim_format, kArityReversed, "(format STREAM CONTROL ARG...) writes CONTROL's text with its ~ directives (~a ~w ~y ~c ~x ~f ~i ~p ~% ~t ~. ~* ~[ ~; ~]) filled from the arguments; for STREAM t a new string, else t"),
};

}  // namespace

void format_text(std::string& out, const std::string& control, Value* args) {
  uint32_t n = 0;
  while (!args[n].is_end()) ++n;
  out += format_to_text(control, args, n, false);
}

extern const core::Module kFormatModule{"format", nullptr, [](core::Runtime&) { register_natives(kFormatNatives); }};

}  // namespace data
