// The extent scanner, the pattern matcher, and the primitives
// `search-symbolic` and `unify-expr`.
#include "logic/symbolic.hpp"

#include <cstring>
#include <string>

#include "core/args.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "logic/buffer_search.hpp"

namespace logic {
using namespace core;

namespace {

inline bool is_blank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
inline bool is_opener(uint8_t c) { return c == '(' || c == '['; }
inline bool is_closer(uint8_t c) { return c == ')' || c == ']'; }
inline bool is_prefix(uint8_t c) { return c == '#' || c == '\'' || c == ',' || c == '@' || c == '`'; }
inline bool is_delimiter(uint8_t c) {
  return is_blank(c) || is_opener(c) || is_closer(c) || is_prefix(c) || c == ';' || c == '"';
}
inline bool is_line_end(uint8_t c) { return c == '\r' || c == '\n'; }

}  // namespace

// ---- Scanner ------------------------------------------------------------------

uint32_t SourceText::skip(uint32_t pos, uint32_t limit, bool closers) const {
  if (limit > n_) limit = n_;
  while (pos < limit) {
    uint8_t c = p_[pos];
    if (is_blank(c) || (closers && is_closer(c))) {
      ++pos;
    } else if (c == ';') {
      while (pos < limit && !is_line_end(p_[pos])) ++pos;
    } else {
      break;
    }
  }
  return pos < limit ? pos : limit;
}

uint32_t SourceText::string_end(uint32_t i) const {
  for (++i; i < n_;) {
    uint8_t c = p_[i];
    if (c == '\\') {
      i += 2;  // may step to n_ + 1: the loop test stops it
    } else if (c == '"') {
      return i + 1;
    } else {
      ++i;
    }
  }
  return 0;
}

SourceText::Kind SourceText::kind(uint32_t start) const {
  uint8_t c = p_[start];
  if (c == '"') return Kind::String;
  if (is_opener(c)) return Kind::List;
  if (is_prefix(c)) return Kind::Prefixed;
  return Kind::Atom;
}

bool SourceText::extent(uint32_t pos, Span* out) const {
  uint32_t s = skip(pos);
  if (s >= n_) return false;
  // A run of prefixes, each followed by the expression found after it.
  uint32_t i = s;
  while (i < n_ && is_prefix(p_[i])) i = skip(i + 1);
  if (i >= n_) return false;
  uint8_t c = p_[i];
  uint32_t e;
  if (c == '"') {
    e = string_end(i);
    if (e == 0) return false;
  } else if (is_opener(c)) {
    // Both openers count alike and both closers alike; strings, comments
    // and escaped characters inside do not count.
    auto known = list_ends_.find(i);
    if (known != list_ends_.end()) {
      e = known->second;
    } else {
      open_.clear();
      open_.push_back(i);
      uint32_t j = i + 1;
      while (!open_.empty()) {
        if (j >= n_) return false;
        uint8_t d = p_[j];
        if (d == '"') {
          j = string_end(j);
          if (j == 0) return false;
        } else if (d == ';') {
          while (j < n_ && !is_line_end(p_[j])) ++j;
        } else if (d == '\\') {
          j += 2;
        } else if (is_opener(d)) {
          open_.push_back(j++);
        } else if (is_closer(d)) {
          list_ends_[open_.back()] = ++j;
          open_.pop_back();
        } else {
          ++j;
        }
      }
      e = j;
    }
  } else if (is_closer(c)) {
    return false;
  } else {
    // An atom runs to the first delimiter; an escape takes the next
    // character with it, but never past the end of the text.
    uint32_t j = i;
    while (j < n_ && !is_delimiter(p_[j])) j = p_[j] == '\\' ? std::min(j + 2, n_) : j + 1;
    e = j;
  }
  out->start = s;
  out->end = e;
  return true;
}

// ---- Matcher ------------------------------------------------------------------

int Matcher::token_kind(Value v) const {
  if (!v.is_pair() || !marker_.is_pair() || car(v) != marker_) return -1;
  Value rest = cdr(v);
  if (rest.is_pair() && car(rest).is_fixnum()) {
    int32_t k = car(rest).fixnum();
    return k == 1 || k == 2 ? k : 0;
  }
  return 0;
}

bool Matcher::element(uint32_t pos, uint32_t limit, Span* out) const {
  if (pos >= limit) return false;
  uint32_t s = text_.skip(pos, limit);
  if (s >= limit || !text_.extent(s, out)) return false;
  return out->end <= limit;
}

bool Matcher::match_atom(Value pattern, Span x) const {
  std::string name;
  if (pattern.is_symbol())
    name = symbol_text(pattern);
  else if (is_integer(pattern))
    name = std::to_string(read_integer(pattern));
  else
    return false;
  uint32_t n = x.end - x.start;
  if (name.size() != n) return false;
  for (uint32_t i = 0; i < n; ++i)
    if (uint8_t(name[i]) != text_.at(x.start + i)) return false;
  return true;
}

bool Matcher::match(Value pattern, Span x) {
  check_native_stack();
  if (token_kind(pattern) >= 0) {
    bind(pattern, x.start, x.end);
    return true;
  }
  if (x.start >= x.end) return false;
  switch (text_.kind(x.start)) {
    case SourceText::Kind::List:
      if (x.end < x.start + 2 || !is_closer(text_.at(x.end - 1))) return false;
      return match_list(pattern, x.start, x.end);
    case SourceText::Kind::String: {
      // The characters between the quotes, exactly and without escapes.
      if (!pattern.is(Tag::String) || x.end < x.start + 2 || text_.at(x.end - 1) != '"') return false;
      const char* s = string_text(pattern);
      uint32_t n = x.end - x.start - 2;
      if (std::strlen(s) != n) return false;
      for (uint32_t i = 0; i < n; ++i)
        if (uint8_t(s[i]) != text_.at(x.start + 1 + i)) return false;
      return true;
    }
    case SourceText::Kind::Prefixed:
      return false;
    case SourceText::Kind::Atom:
      return match_atom(pattern, x);
  }
  return false;
}

// List matching: the pattern against the elements that follow `opener` in
// the list whose closing character is at end - 1. Each step matches one
// pattern element and moves the opener to just before the next element, so
// that the rest of the list is matched as a list of its own.
bool Matcher::match_list(Value pattern, uint32_t opener, uint32_t end) {
  check_native_stack();
  const uint32_t limit = end - 1;
  for (;;) {
    if (token_kind(pattern) >= 0) {
      // A dotted pattern tail: the rest of the list.
      bind(pattern, text_.skip(opener + 1, limit), limit);
      return true;
    }
    if (!pattern.is_pair()) return pattern.is_nil() && opener + 2 == end;
    Value x = car(pattern);
    int kind = token_kind(x);
    Span first;
    if (!element(opener + 1, limit, &first)) {
      // No element left: only a lone segment of zero or more matches,
      // bound to the empty span where the elements would be.
      if (kind == 2 && cdr(pattern).is_nil()) {
        bind(x, opener + 1, opener + 1);
        return true;
      }
      return false;
    }
    if (kind == 1 || kind == 2) return match_segment(pattern, kind, end, first);
    if (kind >= 0)
      bind(x, first.start, first.end);
    else if (!match(x, first))
      return false;
    Value rest = cdr(pattern);
    uint32_t next = text_.skip(first.end, limit);
    if (token_kind(rest) >= 0) {
      bind(rest, next, limit);
      return true;
    }
    if (!rest.is_pair() && !rest.is_nil()) {
      // A dotted pattern: a lone full stop, then the tail as the last
      // element of the list.
      Span dot, tail;
      if (!element(next, limit, &dot) || dot.end != dot.start + 1 || text_.at(dot.start) != '.') return false;
      if (!element(dot.end, limit, &tail) || text_.skip(tail.end, limit) != limit) return false;
      return match(rest, tail);
    }
    pattern = rest;
    opener = next - 1;
  }
}

// A segment token heads the pattern: try the rest of the pattern from each
// element in turn, shortest segment first (a segment of one or more starts
// after the first element). Each failed try leaves no bindings behind; the
// segment's own binding goes in front of the successful try's.
bool Matcher::match_segment(Value pattern, int kind, uint32_t end, Span first) {
  const uint32_t limit = end - 1;
  Value x = car(pattern);
  Value rest = cdr(pattern);
  if (rest.is_nil()) {
    bind(x, first.start, limit);
    return true;
  }
  size_t mark = bindings_.size();
  Span at = first;
  uint32_t segment_end = first.start;
  if (kind == 1) {
    segment_end = first.end;
    if (!element(first.end, limit, &at)) return false;
  }
  for (;;) {
    uint64_t key = (uint64_t(rest.bits) << 32) | at.start;
    if (failed_.count(key) == 0) {
      if (match_list(rest, at.start - 1, end)) {
        bindings_.insert(bindings_.begin() + std::ptrdiff_t(mark), Binding{x, Span{first.start, segment_end}});
        return true;
      }
      failed_.insert(key);
    }
    bindings_.resize(mark);
    segment_end = at.end;
    if (!element(at.end, limit, &at)) return false;
  }
}

// ---- Primitives -----------------------------------------------------------------

namespace {

Value token_marker() { return symbol_value(find_symbol("Symbolic-Token")); }

// The text argument and a span inside it: error 2 unless
// 0 <= start <= end <= length and the length lies inside the buffer.
SourceText text_argument(Value buffer, Value length, Value start, Value end, Span* span) {
  uint32_t n = arg_count(length);
  const uint8_t* p = buffer_bytes(buffer, n);
  uint32_t s = arg_count(start);
  uint32_t e = arg_count(end);
  if (s > n) error(Err::WrongType, start);
  if (e < s || e > n) error(Err::WrongType, end);
  span->start = s;
  span->end = e;
  return SourceText(p, n);
}

Value position(uint32_t p) { return make_integer(int32_t(p)); }

}  // namespace

// (search-symbolic patterns buffer length start end siblings-only): the
// walk visits the expressions after the previous one [start, end) in
// depth-first, left-to-right order; the first that one of the patterns
// matches gives (pattern start . end).
static Value prim_search_symbolic(Value patterns, Value buffer, Value length, Value start, Value end, Value siblings) {
  Span previous;
  SourceText text = text_argument(buffer, length, start, end, &previous);
  Value marker = token_marker();
  uint32_t pos;
  if (previous.start == previous.end) {
    pos = previous.start;
  } else {
    uint8_t c = text.at(previous.start);
    bool enter = (is_opener(c) && is_closer(text.at(previous.end - 1))) || is_prefix(c);
    pos = enter ? previous.start + 1 : previous.end;
  }
  const bool enter_unmatched = !siblings.truthy();
  for (;;) {
    pos = text.skip(pos, text.length(), true);
    Span x;
    if (!text.extent(pos, &x)) return kNil;
    for (Value ps = patterns; ps.is_pair(); ps = cdr(ps)) {
      Matcher m(text, marker);
      if (m.match(car(ps), x)) {
        Value pattern = car(ps);
        Value span = cons(position(x.start), position(x.end));
        return cons(pattern, span);
      }
    }
    SourceText::Kind k = text.kind(x.start);
    pos = enter_unmatched && (k == SourceText::Kind::List || k == SourceText::Kind::Prefixed) ? x.start + 1 : x.end;
  }
}

// (unify-expr pattern buffer length start end): the bindings of a
// successful match as ((variable start . end) ...), t when it succeeds
// without binding anything, nil when it fails.
static Value prim_unify_expr(Value pattern, Value buffer, Value length, Value start, Value end) {
  Span x;
  SourceText text = text_argument(buffer, length, start, end, &x);
  Matcher m(text, token_marker());
  if (!m.match(pattern, x)) return kNil;
  const std::vector<Binding>& b = m.bindings();
  if (b.empty()) return rt().sym.t;
  // No text is read from here on: allocation may collect freely.
  Value out = kNil;
  for (size_t i = b.size(); i-- > 0;) {
    Value span = cons(position(b[i].span.start), position(b[i].span.end));
    out = cons(cons(b[i].variable, span), out);
  }
  return out;
}

static const NativeRow kSymbolicNatives[] = {
    TV_PRIM2("search-symbolic", prim_search_symbolic, "(search-symbolic PATTERNS POINTER LENGTH START END [SIBLINGS]) the next expression of the Lisp text, depth first after the one at [START, END), that matches one of PATTERNS, as (PATTERN START . END); nil when none; SIBLINGS keeps out of unmatched lists"),
    TV_PRIM2("unify-expr", prim_unify_expr, "(unify-expr PATTERN POINTER LENGTH START END) matches PATTERN against the expression [START, END) of the Lisp text; the bindings made, ((TOKEN START . END)...), in order"),
};

void register_symbolic_natives() {
  register_natives(kSymbolicNatives);
  intern_static("Symbolic-Token", cons(kNil, kNil));
}

}  // namespace logic
