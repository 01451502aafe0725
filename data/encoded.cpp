// The encoder and decoder of encoded code, and the source coding of files.
#include "data/encoded.hpp"

#include "data/numbers.hpp"
#include "data/reader.hpp"
#include "text/codec.hpp"

namespace data {

const char* const kFixedTableNames[kFixedTableEntries] = {"define", "quote", "set!", "t",
                                                          "nil",    "defslot", "when", "let"};

namespace {

constexpr uint32_t kMaxEntry = 0xFFFF;   // the reach of the two-byte tokens
constexpr uint32_t kPagedLimit = 4360;   // entries 8 to 4359 take two bytes

const uint8_t* initial_classes() {
  static uint8_t table[256];
  static const bool filled = (fill_initial_classes(table), true);
  (void)filled;
  return table;
}

inline uint8_t cls(uint8_t c) { return initial_classes()[c]; }

// Classes that a symbol or number token collects: after such a token, a
// token starting with one of them would run into it.
inline bool continues_atom(uint8_t k) {
  return k == kEscape || k == kDot || k == kConstituent || k == kDigit || k == kSignOrExponent;
}

// Whether collected text (no escapes in it) reads as a number.
bool reads_as_number(const std::string& text, int digits, int marks, int others) {
  if (others != 0 || digits == 0 || marks >= 2) return false;
  int32_t n;
  if (marks == 0 && parse_integer_text(text.c_str(), n)) return true;
  double r;
  return parse_real_text(text.c_str(), '.', r);
}

enum class Mode { Count, Encode, Decode };

// One walk over a text with the reader's initial syntax: the encoder, the
// symbol counter and the decoder share it, so that all three cut tokens
// where the reader does.
class Codec {
 public:
  Codec(std::string_view text, Mode mode, std::string* out) : s_(text), mode_(mode), out_(out) {}

  SymbolNames* table = nullptr;                              // Encode
  std::unordered_map<std::string, uint32_t>* counts = nullptr;  // Count
  const std::vector<std::string>* names = nullptr;           // Decode
  EncodeOptions options;

  bool run(CodecError& err) {
    // Encoded code that names its source has kept the source's lines: the
    // decoder keeps them too instead of laying out its own.
    lines_kept_ = mode_ == Mode::Decode && s_.starts_with(kSourceNameMark);
    try {
      while (p_ < s_.size()) token();
      if (mode_ != Mode::Decode && options.strict && depth_ > 0) fail(open_line_, "a list is still open at the end of the text");
      return true;
    } catch (const CodecError& e) {
      err = e;
      return false;
    }
  }

 private:
  [[noreturn]] void fail(int line, const std::string& message) { throw CodecError{line, message}; }
  bool strict() const { return mode_ != Mode::Decode && options.strict; }

  int peek(size_t ahead = 0) const { return p_ + ahead < s_.size() ? uint8_t(s_[p_ + ahead]) : -1; }
  uint8_t take() {
    uint8_t c = uint8_t(s_[p_++]);
    if (c == '\n' || (c == '\r' && peek() != '\n')) ++line_;
    return c;
  }
  void put(char c) {
    if (mode_ != Mode::Count) out_->push_back(c);
  }
  void put(std::string_view text) {
    if (mode_ != Mode::Count) out_->append(text);
  }

  // Before a token whose first byte has class k: a blank that keeps it
  // from running into a text atom before it.
  // The decoder lays the text out afresh: a blank between the tokens of a
  // list, a line between top-level data.
  void begin(uint8_t k) {
    if (mode_ == Mode::Decode) {
      bool closing = k == kClose || k == kCloseBrace || k == kAlternateClose;
      if (!closing && gap_ != Gap::None) put(gap_ == Gap::Line && !lines_kept_ ? '\n' : ' ');
      gap_ = Gap::None;
      return;
    }
    if (after_atom_ && continues_atom(k)) put(' ');
  }
  // After a token: whether it is a text atom, and whether it completes a
  // datum. A top-level datum that does not end with a closing parenthesis
  // leaves its next character to be dropped by the loader.
  void end(bool atom, bool closing = false, bool completes = true) {
    after_atom_ = atom;
    gap_ = !completes ? Gap::None : depth_ == 0 && closing ? Gap::Line : Gap::Space;
    if (depth_ != 0 || !completes) return;
    if (swallow_ > 0) {
      --swallow_;  // the feature expression of a top-level '&'
      return;
    }
    need_separator_ = !closing;
  }

  // Collects a symbol's characters from the current position as the reader
  // does; answers the name, and leaves p_ after the token.
  std::string collect_symbol() {
    std::string name;
    while (p_ < s_.size()) {
      uint8_t k = cls(uint8_t(s_[p_]));
      if (k == kEscape) {
        take();
        if (p_ >= s_.size()) break;
        name.push_back(char(take()));
        continue;
      }
      if (k != kDot && k != kConstituent && k != kDigit && k != kSignOrExponent) break;
      name.push_back(char(take()));
    }
    return name;
  }

  void table_token(uint32_t entry, bool variable) {
    if (variable) {
      put(char(14));
      put(char(entry >> 8));
      put(char(entry & 0xFF));
    } else if (entry < kFixedTableEntries) {
      put(char(entry));
    } else if (entry < kPagedLimit) {
      put(char(15 + (entry - 8) / 256));
      put(char((entry - 8) % 256));
    } else {
      put(char(8));
      put(char(entry >> 8));
      put(char(entry & 0xFF));
    }
  }

  // A symbol (or keyword, or variable) met as text: a table token when
  // encoding and the name can be an entry, the text as it stands otherwise.
  void symbol_token(const std::string& name, size_t start, bool variable) {
    if (mode_ == Mode::Count) {
      ++(*counts)[name];
    } else if (mode_ == Mode::Encode && (variable || !name.empty())) {
      // (The symbol without a name has no source text but a lone escape at
      // the end: it stays that text.)
      int32_t e = table->entry(name);
      if (e >= 0) {
        begin(variable ? kTableVariable : kSymbolByte);
        table_token(uint32_t(e), variable);
        end(false);
        return;
      }
    }
    begin(cls(uint8_t(s_[start])));
    put(s_.substr(start, p_ - start));
    end(true);
  }

  void number_or_symbol() {
    size_t start = p_;
    std::string text;
    int marks = 0, digits = 0, others = 0;
    while (p_ < s_.size()) {
      uint8_t c = uint8_t(s_[p_]);
      uint8_t k = cls(c);
      if (k == kEscape) {
        take();
        if (p_ >= s_.size()) break;
        text.push_back(char(take()));
        ++others;
        continue;
      }
      if (c == '.') ++marks;
      else if (k == kConstituent) ++others;
      else if (k == kDigit) ++digits;
      else if (k != kSignOrExponent) break;
      text.push_back(char(take()));
    }
    if (!reads_as_number(text, digits, marks, others)) return symbol_token(text, start, false);
    int32_t n;
    if (mode_ == Mode::Encode && marks == 0 && parse_integer_text(text.c_str(), n) && n >= -32768 && n <= 32767) {
      begin(kByteInteger);
      if (n >= -128 && n <= 127) {
        put(char(11));
        put(char(uint8_t(int8_t(n))));
      } else {
        put(char(12));
        put(char(uint16_t(n) >> 8));
        put(char(uint16_t(n) & 0xFF));
      }
      end(false);
      return;
    }
    begin(cls(uint8_t(s_[start])));
    put(s_.substr(start, p_ - start));
    end(true);
  }

  void string_token() {
    int first = line_;
    size_t start = p_;
    take();
    bool closed = false;
    while (p_ < s_.size()) {
      uint8_t c = take();
      uint8_t k = cls(c);
      if (k == kStringQuote) {
        closed = true;
        break;
      }
      if (k == kEscape && p_ < s_.size()) take();
    }
    if (!closed && strict()) fail(first, "a string is still open at the end of the text");
    begin(kStringQuote);
    put(s_.substr(start, p_ - start));
    end(false);
  }

  // The bytes of an encoded token: decoded, or refused.
  void control_token(uint8_t k) {
    int at = line_;
    uint8_t b = uint8_t(s_[p_]);
    if (strict()) fail(at, "control byte " + std::to_string(b) + " outside a string or a comment");
    size_t operands = (k == kSymbolByte) ? 0 : (k == kPagedSymbolByte || k == kByteInteger) ? 1 : 2;
    if (mode_ != Mode::Decode) {
      // Kept as it stands: the loader meets it as the source's reader would.
      begin(k);
      size_t n = std::min(s_.size() - p_, operands + 1);
      put(s_.substr(p_, n));
      for (size_t i = 0; i < n; ++i) take();
      end(false);
      return;
    }
    if (s_.size() - p_ < operands + 1) fail(at, "a token is cut short at the end of the code");
    take();
    uint32_t x = 0;
    for (size_t i = 0; i < operands; ++i) x = (x << 8) | take();
    std::string text;
    bool variable = false;
    if (k == kByteInteger) {
      text = std::to_string(int(int8_t(uint8_t(x))));
    } else if (k == kWordInteger) {
      text = std::to_string(int(int16_t(uint16_t(x))));
    } else {
      uint32_t entry = k == kSymbolByte ? b : k == kPagedSymbolByte ? uint32_t(b - 15) * 256 + 8 + x : x;
      variable = k == kTableVariable;
      std::string name;
      if (entry < kFixedTableEntries) {
        name = kFixedTableNames[entry];
      } else if (entry - kFixedTableEntries < names->size()) {
        name = (*names)[entry - kFixedTableEntries];
      } else {
        fail(at, "entry " + std::to_string(entry) + " lies beyond the symbols table");
      }
      if (variable) {
        text = "_" + symbol_source_text(name);
      } else {
        if (name.empty()) fail(at, "entry " + std::to_string(entry) + " names a symbol without a name");
        text = symbol_source_text(name);
      }
    }
    begin(variable ? uint8_t(kMacro) : cls(uint8_t(text[0])));
    put(text);
    end(true);
  }

  void dispatch_token() {
    int at = line_;
    size_t start = p_;
    take();  // '#'
    if (p_ >= s_.size()) {
      if (strict()) fail(at, "'#' at the end of the text");
      begin(kMacro);
      put('#');
      end(false);
      return;
    }
    uint8_t d = take();
    if (d == '\\') {
      if (p_ >= s_.size()) {
        if (strict()) fail(at, "'#\\' at the end of the text");
      } else {
        take();  // the character itself, whatever it is
        if (p_ < s_.size()) {
          uint8_t k = cls(uint8_t(s_[p_]));
          if (k == kConstituent || k == kSignOrExponent) collect_symbol();
        }
      }
      begin(kMacro);
      put(s_.substr(start, p_ - start));
      end(true);
      return;
    }
    begin(kMacro);
    put(s_.substr(start, p_ - start));
    if (d == '(' || d == '{') {
      if (depth_++ == 0) open_line_ = at;
      end(false, false, false);
      return;
    }
    // Any other dispatch character: its function reads what follows.
    end(false, false, false);
  }

  void token() {
    if (need_separator_) {
      // The loader drops the character after a top-level datum, whatever
      // it is: the source's is dropped here too, and a separator takes its
      // place.
      int before = line_;
      take();
      // With kept lines the separator is a line end only where the source
      // had one.
      bool blank = kept_lines() && line_ == before;
      put(mode_ == Mode::Decode ? '\n' : blank ? ' ' : '\r');
      need_separator_ = false;
      after_atom_ = false;
      gap_ = Gap::None;
      return;
    }
    uint8_t c = uint8_t(s_[p_]);
    uint8_t k = cls(c);
    switch (k) {
      case kComment: {
        size_t start = p_;
        while (p_ < s_.size() && cls(uint8_t(s_[p_])) != kLineEnd) take();
        if (mode_ == Mode::Decode || options.keep_comments) {
          begin(kComment);
          put(s_.substr(start, p_ - start));
          // Kept lines: the comment's own line end follows.
          if (!kept_lines()) put(mode_ == Mode::Encode ? '\r' : '\n');
          after_atom_ = false;
          gap_ = Gap::None;
        }
        return;
      }
      default:
        if (k >= kLineEnd) {
          // Blanks and line ends: the encoder drops them (but keeps the
          // line ends when asked), the decoder lays out its own.
          int before = line_;
          take();
          if (kept_lines() && mode_ != Mode::Count && line_ != before) {
            put(mode_ == Mode::Decode ? '\n' : '\r');
            after_atom_ = false;
            gap_ = Gap::None;
          }
          return;
        }
        break;
      case kOpen:
      case kOpenBrace:
        begin(k);
        put(char(take()));
        if (depth_++ == 0) open_line_ = line_;
        end(false, false, false);
        return;
      case kClose:
      case kCloseBrace:
      case kAlternateClose: {
        if (depth_ == 0 && strict()) fail(line_, std::string("unexpected '") + char(c) + "'");
        begin(k);
        put(char(take()));
        if (depth_ > 0) --depth_;
        end(false, true);
        return;
      }
      case kDot:
        begin(k);
        put(char(take()));
        end(false);
        return;
      case kStringQuote: string_token(); return;
      case kEscape:
      case kConstituent: {
        size_t start = p_;
        std::string name = collect_symbol();
        if (mode_ == Mode::Decode) {
          begin(k);
          put(s_.substr(start, p_ - start));
          end(true);
          return;
        }
        symbol_token(name, start, false);
        return;
      }
      case kDigit:
      case kSignOrExponent:
        if (mode_ == Mode::Decode) {
          size_t start = p_;
          // Cut where the reader cuts a number, then copy it as it stands.
          while (p_ < s_.size()) {
            uint8_t ch = uint8_t(s_[p_]);
            uint8_t kk = cls(ch);
            if (kk == kEscape) {
              take();
              if (p_ < s_.size()) take();
              continue;
            }
            if (ch != '.' && kk != kConstituent && kk != kDigit && kk != kSignOrExponent) break;
            take();
          }
          begin(k);
          put(s_.substr(start, p_ - start));
          end(true);
          return;
        }
        number_or_symbol();
        return;
      case kSymbolByte:
      case kPagedSymbolByte:
      case kWideSymbolByte:
      case kByteInteger:
      case kWordInteger:
      case kTableVariable: control_token(k); return;
      case kMacro:
        if (c == '#') return dispatch_token();
        if (c == ':' || c == '_') {
          size_t start = p_;
          take();
          std::string name = collect_symbol();
          if (mode_ == Mode::Decode) {
            begin(kMacro);
            put(s_.substr(start, p_ - start));
            end(true);
            return;
          }
          if (c == ':') return symbol_token(":" + name, start, false);
          return symbol_token(name, start, true);
        }
        // The quote and the feature test: prefixes of the next datum; the
        // feature test's expression is a datum that completes nothing.
        begin(k);
        if (c == '&' && depth_ == 0) ++swallow_;
        put(char(take()));
        end(false, false, false);
        return;
    }
    // Classes no character has at first.
    begin(k);
    put(char(take()));
    end(false);
  }

  std::string_view s_;
  Mode mode_;
  std::string* out_;
  size_t p_ = 0;
  int line_ = 1;
  int open_line_ = 1;
  int depth_ = 0;
  bool after_atom_ = false;
  bool need_separator_ = false;
  int swallow_ = 0;
  enum class Gap { None, Space, Line } gap_ = Gap::None;
  bool lines_kept_ = false;  // decoding code that kept its source's lines
  bool kept_lines() const { return mode_ == Mode::Decode ? lines_kept_ : options.keep_lines; }
};

}  // namespace

int32_t SymbolNames::find(const std::string& name) const {
  for (uint32_t i = 0; i < kFixedTableEntries; ++i)
    if (name == kFixedTableNames[i]) return int32_t(i);
  auto it = index_.find(name);
  return it == index_.end() ? -1 : it->second;
}

int32_t SymbolNames::entry(const std::string& name) {
  int32_t e = find(name);
  if (e >= 0) return e;
  if (name.find('\0') != std::string::npos) return -1;
  if (kFixedTableEntries + names_.size() > kMaxEntry) return -1;
  e = int32_t(kFixedTableEntries + names_.size());
  names_.push_back(name);
  index_.emplace(name, e);
  return e;
}

std::vector<uint8_t> SymbolNames::resource() const {
  std::vector<uint8_t> out;
  out.push_back(uint8_t(names_.size() >> 8));
  out.push_back(uint8_t(names_.size() & 0xFF));
  for (const std::string& n : names_) {
    out.insert(out.end(), n.begin(), n.end());
    out.push_back(0);
  }
  return out;
}

bool parse_symbols_resource(std::span<const uint8_t> bytes, std::vector<std::string>& names) {
  names.clear();
  if (bytes.size() < 2) return false;
  size_t n = (size_t(bytes[0]) << 8) | bytes[1];
  size_t p = 2;
  for (size_t i = 0; i < n; ++i) {
    size_t q = p;
    while (q < bytes.size() && bytes[q] != 0) ++q;
    if (q >= bytes.size()) return false;
    names.emplace_back(reinterpret_cast<const char*>(bytes.data()) + p, q - p);
    p = q + 1;
  }
  return true;
}

void count_symbols(std::string_view source, std::unordered_map<std::string, uint32_t>& counts) {
  Codec c(source, Mode::Count, nullptr);
  c.counts = &counts;
  c.options.strict = false;
  CodecError ignored;
  c.run(ignored);
}

bool encode_source(std::string_view source, SymbolNames& table, std::string& out, CodecError& err,
                   const EncodeOptions& options) {
  out.clear();
  Codec c(source, Mode::Encode, &out);
  c.table = &table;
  c.options = options;
  return c.run(err);
}

bool decode_code(std::string_view code, const std::vector<std::string>& names, std::string& out, CodecError& err) {
  out.clear();
  Codec c(code, Mode::Decode, &out);
  c.names = &names;
  return c.run(err);
}

std::string symbol_source_text(const std::string& name) {
  if (!name.empty() && name[0] == ':') {
    // The keyword reader collects a symbol's characters after the colon.
    std::string out = ":";
    for (char ch : std::string_view(name).substr(1)) {
      uint8_t k = cls(uint8_t(ch));
      if (!(k == kDot || k == kConstituent || k == kDigit || k == kSignOrExponent)) out.push_back('\\');
      out.push_back(ch);
    }
    return out;
  }
  // A name that starts like a number is read by the number reader, which
  // also stops at a dot class other than the decimal point, and makes a
  // number of what it can.
  uint8_t first = name.empty() ? uint8_t(kConstituent) : cls(uint8_t(name[0]));
  bool numeric_start = first == kDigit || first == kSignOrExponent;
  std::string out;
  int marks = 0, digits = 0, others = 0;
  for (char ch : name) {
    uint8_t k = cls(uint8_t(ch));
    bool escape = !(k == kDot || k == kConstituent || k == kDigit || k == kSignOrExponent) ||
                  (numeric_start && k == kDot && ch != '.');
    if (escape) {
      out.push_back('\\');
      ++others;
    } else if (ch == '.') {
      ++marks;
    } else if (k == kDigit) {
      ++digits;
    } else if (k == kConstituent) {
      ++others;
    }
    out.push_back(ch);
  }
  if (first == kDot || (numeric_start && reads_as_number(name, digits, marks, others))) out.insert(out.begin(), '\\');
  return out;
}

// ---- Source coding ---------------------------------------------------------------

bool declares_utf8(std::string_view text) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  size_t end = text.find_first_of("\r\n");
  std::string_view first = text.substr(0, end);
  size_t i = first.find_first_not_of(" \t");
  if (i == std::string_view::npos || first[i] != ';') return false;
  std::string lower;
  for (char ch : first) lower.push_back(char(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch));
  size_t at = lower.find("coding:");
  if (at == std::string::npos) return false;
  size_t v = lower.find_first_not_of(" \t", at + 7);
  return v != std::string::npos && (lower.compare(v, 5, "utf-8") == 0 || lower.compare(v, 4, "utf8") == 0);
}

bool utf8_source_to_1252(std::string_view text, std::string& out, int& bad_line) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  text::Cp1252Report report = text::utf8_to_cp1252(text, out);
  if (report.complete) return true;
  bad_line = text::line_at(text, report.first_bad);
  return false;
}

int undeclared_utf8_line(std::string_view raw) {
  if (declares_utf8(raw)) return 0;
  size_t first = std::string_view::npos;
  for (size_t i = 0; i < raw.size();) {
    uint8_t c = uint8_t(raw[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > raw.size()) return 0;
    for (size_t k = 1; k < n; ++k)
      if ((uint8_t(raw[i + k]) & 0xC0) != 0x80) return 0;
    if (first == std::string_view::npos) first = i;
    i += n;
  }
  return first == std::string_view::npos ? 0 : text::line_at(raw, first);
}

std::string undeclared_utf8_warning(const std::string& name, std::string_view raw) {
  int line = undeclared_utf8_line(raw);
  if (line == 0) return "";
  return name + ":" + std::to_string(line) +
         ": warning: UTF-8 text in a file without the coding line, read as code page 1252; "
         "make its first line ; -*- coding: utf-8 -*-";
}

bool source_text(std::string_view raw, std::string& out, int& bad_line) {
  if (declares_utf8(raw)) return utf8_source_to_1252(raw, out, bad_line);
  out.assign(raw);
  return true;
}

}  // namespace data
