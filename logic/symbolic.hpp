// Structural search in Lisp source held as text in native memory: the
// extent scanner, which finds where an expression of the text begins and
// ends without reading it, and the matcher, which compares a Lisp pattern
// with an expression of the text and records where its token variables fell.
//
// Everything works on byte positions of one text [0, length); a span is a
// half-open pair [start, end). Scanning and matching never allocate and
// never run Lisp, so they may hold the text's address for their whole run;
// the primitives build their result lists only once the text is no longer
// read.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/value.hpp"

namespace logic {

struct Span {
  uint32_t start = 0;
  uint32_t end = 0;
};

// A view of source text. Blanks are space, tab, carriage return and line
// feed; a semicolon starts a comment that runs to the end of the line; a
// backslash makes the next character ordinary.
class SourceText {
 public:
  SourceText(const uint8_t* text, uint32_t length) : p_(text), n_(length) {}

  uint32_t length() const { return n_; }
  uint8_t at(uint32_t i) const { return p_[i]; }

  // The first position at or after pos (and below limit) that is neither
  // blank nor inside a comment; with closers, closing parentheses and
  // brackets are skipped as well.
  uint32_t skip(uint32_t pos, uint32_t limit, bool closers = false) const;
  uint32_t skip(uint32_t pos) const { return skip(pos, n_); }

  // The extent of the expression at pos (after blanks and comments): false
  // when the text ends first, at a closing parenthesis or bracket, in an
  // unterminated string or list, or after a prefix with nothing behind it.
  bool extent(uint32_t pos, Span* out) const;

  // What an expression is, by its first character.
  enum class Kind { Atom, String, List, Prefixed };
  Kind kind(uint32_t start) const;

 private:
  // The position after the closing quote of the string opening at i, or 0
  // when it is not closed.
  uint32_t string_end(uint32_t i) const;

  const uint8_t* p_;
  uint32_t n_;
  // The closing position (plus one) of every list met inside a list that
  // was scanned, so that the walk and the matcher, which ask for the extent
  // of each nested list in turn, scan deep text once instead of once per
  // level.
  mutable std::unordered_map<uint32_t, uint32_t> list_ends_;
  mutable std::vector<uint32_t> open_;
};

// One binding made by a successful match: a token variable and its span.
struct Binding {
  core::Value variable;
  Span span;
};

// Matches a pattern against an expression of the text. The token marker is
// the pair that heads every token variable (the value of Symbolic-Token).
// After a successful match, bindings() holds the bindings of the successful
// try only, in the pattern's left-to-right order.
class Matcher {
 public:
  Matcher(const SourceText& text, core::Value marker) : text_(text), marker_(marker) {}

  bool match(core::Value pattern, Span expression);
  const std::vector<Binding>& bindings() const { return bindings_; }

  // The kind of a token variable, or -1 when the value is not one.
  int token_kind(core::Value v) const;

 private:
  bool match_list(core::Value pattern, uint32_t opener, uint32_t end);
  bool match_segment(core::Value pattern, int kind, uint32_t end, Span first);
  bool match_atom(core::Value pattern, Span expression) const;
  // The element of a list that begins at or after pos and ends at or
  // before limit (the list's closing character).
  bool element(uint32_t pos, uint32_t limit, Span* out) const;
  void bind(core::Value variable, uint32_t start, uint32_t end) {
    bindings_.push_back(Binding{variable, Span{start, end}});
  }

  const SourceText& text_;
  core::Value marker_;
  std::vector<Binding> bindings_;
  // The rests of patterns already known not to match from an opener
  // position: several segment tokens would otherwise try the same rest at
  // the same place over and over, exponentially often.
  std::unordered_set<uint64_t> failed_;
};

void register_symbolic_natives();

}  // namespace logic
