// A tiny form builder for native tests that evaluate Lisp without going
// through the reader: integers, symbols, keywords, `_x` variables and
// quote; and the list primitives such tests use.
#pragma once
#include <cctype>
#include <string>

#include "core/memory.hpp"
#include "core/symbols.hpp"

namespace core::testing {

inline Value parse_form(const std::string& t, size_t& i) {
  while (i < t.size() && std::isspace(uint8_t(t[i]))) ++i;
  if (t[i] == '\'') {
    ++i;
    Value x = parse_form(t, i);
    return cons(intern_static("quote"), cons(x, kNil));
  }
  if (t[i] == '(') {
    ++i;
    ListBuilder b;
    while (true) {
      while (std::isspace(uint8_t(t[i]))) ++i;
      if (t[i] == ')') {
        ++i;
        return b.head;
      }
      if (t[i] == '.' && std::isspace(uint8_t(t[i + 1]))) {
        ++i;
        set_cdr(b.tail, parse_form(t, i));
        continue;
      }
      b.add(parse_form(t, i));
    }
  }
  size_t start = i;
  while (i < t.size() && !std::isspace(uint8_t(t[i])) && t[i] != '(' && t[i] != ')') ++i;
  std::string tok = t.substr(start, i - start);
  if (std::isdigit(uint8_t(tok[0])) || (tok[0] == '-' && tok.size() > 1)) return make_integer(std::stoi(tok));
  if (tok[0] == '_') return alloc_node(Tag::Variable, make_fixnum(0).bits, intern_copy(tok.substr(1)).bits);
  if (tok[0] == ':') return make_keyword(tok.substr(1));
  return intern_copy(tok);
}

inline Value t_car(Value x) { return x.is_pair() ? car(x) : kNil; }
inline Value t_cdr(Value x) { return x.is_pair() ? cdr(x) : kNil; }
inline Value t_cons(Value a, Value b) { return cons(a, b); }
inline Value t_list(Value* rest) {
  Value* end = rest;
  while (!end->is_end()) ++end;
  Value l = kNil;
  while (end != rest) l = cons(*--end, l);
  return l;
}

}  // namespace core::testing
