// The reader: turns the characters of the current input source into Lisp
// data, driven by a 256-entry class table and by the macro and dispatch
// tables of Lisp functions (DataState::reader_macros, reader_dispatch).
//
// Every token reader starts from the lookahead and leaves in it the first
// character after its token. Besides data, one step can yield a signal: a
// word of tag 0 that is never a datum (close, dot, end, nothing, close
// brace). The printer shares the class table to decide what to escape.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

// Character classes.
enum CharClass : uint8_t {
  kEscape = 0, kOpen = 1, kClose = 2, kDot = 3, kMacro = 4, kStringQuote = 5,
  kConstituent = 6, kDigit = 7, kSignOrExponent = 8, kSymbolByte = 9, kPagedSymbolByte = 10,
  kWideSymbolByte = 11, kByteInteger = 12, kWordInteger = 13, kTableVariable = 14,
  kAlternateClose = 15, kInvalid = 16, kOpenBrace = 17, kCloseBrace = 18, kComment = 19,
  kLineEnd = 20, kBlank = 21,
};

// Reader signals.
constexpr uint32_t kSignalClose = 2, kSignalDot = 3, kSignalEnd = 15, kSignalNothing = 16,
                   kSignalCloseBrace = 18;
constexpr core::Value signal_word(uint32_t n) { return core::Value::make(core::Tag::Address, n); }
inline bool is_signal(core::Value v) { return v.is(core::Tag::Address); }

uint8_t char_class(int c);
// Fills a class table with the initial classes.
void fill_initial_classes(uint8_t* classes);

// One step of the token reader, from the lookahead: a datum or a signal.
core::Value read_token();
// Reads a list ending with the given signal; the first fetch skips the
// opening character. When end_closes, the end of input closes it too.
core::Value read_list(uint32_t closing, bool end_closes);
// Fetches one character and reads one datum: nil at the end of input.
core::Value read_datum();
// Reads every datum of a string as a list.
core::Value parse_string(core::Value string);

// The symbols table of encoded code: installed (with the fixed first
// entries followed by `names`) or removed.
void install_symbols_table(const std::vector<core::Value>& names);
void remove_symbols_table();

// A new variable naming the symbol.
core::Value make_variable(core::Value symbol);
// The keyword of a symbol and the symbol of a keyword, paired once.
core::Value symbol_to_keyword(core::Value symbol);
core::Value keyword_to_symbol(core::Value keyword);

extern const core::Module kReaderModule;

// Records the line of every list read from the memory input selected last
// (core/positions.hpp) under the given file name, for its extent; an empty
// name records nothing. `first_line` is the number of the text's first line.
class SourcePositionsScope {
 public:
  explicit SourcePositionsScope(const std::string& file, uint32_t first_line = 1);
  ~SourcePositionsScope();
  SourcePositionsScope(const SourcePositionsScope&) = delete;
  SourcePositionsScope& operator=(const SourcePositionsScope&) = delete;

 private:
  uint16_t saved_file_;
  uint32_t saved_serial_, saved_pos_, saved_line_;
};

// The line of the lookahead in the memory input whose positions are being
// recorded (valid only while a SourcePositionsScope is).
uint32_t source_line();

// The first line of encoded code that names the file it was made from: a
// comment, which loaders that do not look for it skip.
constexpr std::string_view kSourceNameMark = "; source: ";

}  // namespace data
