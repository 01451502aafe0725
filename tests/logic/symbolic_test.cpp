// The extent scanner against the reader on generated source text, and the
// matcher's behaviour through unify-expr and search-symbolic.
#include "logic/symbolic.hpp"

#include <cstring>
#include <random>

#include "data/handles.hpp"
#include "data/reader.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

using logic::SourceText;
using logic::Span;

class Symbolic : public NativeCallTest {
 protected:
  Value buffer(const std::string& s) {
    Addr a = data::new_pointer(uint32_t(s.size()));
    if (!s.empty()) std::memcpy(at_addr(a), s.data(), s.size());
    return data::box_pointer(a);
  }
  int agreed = 0;
  Value marker() { return symbol_value(intern_static("Symbolic-Token")); }
  // A token variable of the kind.
  Value token(int kind) { return list({marker(), fix(kind)}); }
  // Bindings as "start-end" words in order, "fail" or "t".
  std::string unify(Value pattern, const std::string& src) {
    return unify(pattern, src, 0, int(src.size()));
  }
  std::string unify(Value pattern, const std::string& src, int s, int e) {
    Value r = callv("unify-expr", {pattern, buffer(src), fix(int(src.size())), fix(s), fix(e)});
    if (r.is_nil()) return "fail";
    if (r == t()) return "t";
    std::string out;
    for (; r.is_pair(); r = cdr(r)) {
      Value b = car(r);
      out += (out.empty() ? "" : " ") + std::to_string(car(cdr(b)).fixnum()) + "-" + std::to_string(cdr(cdr(b)).fixnum());
    }
    return out;
  }
  std::string search(Value patterns, const std::string& src, int s, int e, bool siblings) {
    Value r = callv("search-symbolic", {patterns, buffer(src), fix(int(src.size())), fix(s), fix(e), siblings ? t() : kNil});
    if (r.is_nil()) return "none";
    return std::to_string(car(cdr(r)).fixnum()) + "-" + std::to_string(cdr(cdr(r)).fixnum());
  }

  // A structural rendering of read data that keeps strings and symbols apart.
  std::string shape(Value v) {
    if (v.is_nil()) return "()";
    if (v.is(Tag::String)) return "\"" + std::string(string_text(v)) + "\"";
    if (v.is_pair()) {
      std::string out = "(";
      for (bool first = true; v.is_pair(); v = cdr(v), first = false) out += (first ? "" : " ") + shape(car(v));
      if (!v.is_nil()) out += " . " + shape(v);
      return out + ")";
    }
    return text(v);
  }
  // The one datum that the reader finds in [s, e) of the text.
  Value read_one(const std::string& src, Span x) {
    Value forms = data::parse_string(make_string(src.substr(x.start, x.end - x.start).c_str()));
    EXPECT_TRUE(forms.is_pair() && cdr(forms).is_nil()) << src.substr(x.start, x.end - x.start);
    return forms.is_pair() ? car(forms) : kNil;
  }
  // Checks an expression's extent, and those inside it, against the reader.
  void agree(const SourceText& st, const std::string& src, Span x) {
    ++agreed;
    Value datum = read_one(src, x);
    switch (st.kind(x.start)) {
      case SourceText::Kind::List: {
        uint32_t limit = x.end - 1;
        Span el;
        Value d = datum;
        for (uint32_t pos = x.start + 1; st.skip(pos, limit) < limit; pos = el.end) {
          ASSERT_TRUE(st.extent(pos, &el)) << src;
          ASSERT_LE(el.end, limit) << src;
          ASSERT_TRUE(d.is_pair()) << src.substr(x.start, x.end - x.start);
          EXPECT_EQ(shape(read_one(src, el)), shape(car(d)));
          agree(st, src, el);
          d = cdr(d);
        }
        EXPECT_TRUE(d.is_nil()) << src.substr(x.start, x.end - x.start);
        break;
      }
      case SourceText::Kind::Prefixed: {
        Span inner;
        ASSERT_TRUE(st.extent(x.start + 1, &inner));
        EXPECT_EQ(inner.end, x.end);
        EXPECT_EQ(shape(datum), "(quote " + shape(read_one(src, inner)) + ")");
        agree(st, src, inner);
        break;
      }
      default:
        break;
    }
  }
};

// Random source text in the syntax the scanner and the reader share.
struct SourceGenerator {
  std::mt19937 rng{77};
  size_t pick(size_t n) { return size_t(rng() % n); }
  std::string blank() {
    static const char* blanks[] = {" ", "  ", "\t", "\r", "\n", " ; note (\"[\n", "\r\n"};
    return blanks[pick(7)];
  }
  std::string atom() {
    static const char* atoms[] = {"a", "bc", "x-y", "12", "-5", "e", "a\\ b", "\\(x", "q\\;", "\xE9t\xE9", "+", "k2"};
    return atoms[pick(12)];
  }
  std::string string() {
    static const char* parts[] = {"a", " ", "(", ";", "]", "\\\"", "\\\\", "\r"};
    std::string s = "\"";
    for (size_t i = pick(5); i-- > 0;) s += parts[pick(8)];
    return s + "\"";
  }
  std::string expression(int depth) {
    size_t r = pick(depth > 3 ? 2 : 5);
    if (r == 0) return atom();
    if (r == 1) return string();
    if (r == 2) return "'" + (pick(3) == 0 ? blank() : "") + expression(depth + 1);
    std::string s = pick(2) ? "(" : "[";
    for (size_t i = pick(5); i-- > 0;) s += (pick(3) ? "" : blank()) + expression(depth + 1) + blank();
    return s + (pick(2) ? ")" : "]");
  }
};

TEST_F(Symbolic, ExtentsAgreeWithTheReader) {
  SourceGenerator gen;
  for (int round = 0; round < 150; ++round) {
    std::string src;
    for (size_t i = 1 + gen.pick(4); i-- > 0;) src += gen.blank() + gen.expression(0);
    src += gen.blank();
    SourceText st(reinterpret_cast<const uint8_t*>(src.data()), uint32_t(src.size()));
    Value all = data::parse_string(make_string(src.c_str()));
    uint32_t pos = 0;
    Span x;
    while (st.extent(pos, &x)) {
      ASSERT_TRUE(all.is_pair()) << src;
      EXPECT_EQ(shape(read_one(src, x)), shape(car(all))) << src;
      agree(st, src, x);
      all = cdr(all);
      pos = x.end;
    }
    EXPECT_EQ(st.skip(pos), src.size()) << src;
    EXPECT_TRUE(all.is_nil()) << src;
  }
  EXPECT_GT(agreed, 1000);
}

TEST_F(Symbolic, ExtentsOfTheScanner) {
  auto extent = [](const std::string& s, uint32_t pos) {
    SourceText st(reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()));
    Span x;
    if (!st.extent(pos, &x)) return std::string("none");
    return std::to_string(x.start) + "-" + std::to_string(x.end);
  };
  EXPECT_EQ(extent("  (a ; )\n b)", 0), "2-12");
  EXPECT_EQ(extent("(a \\) b)", 0), "0-8");
  EXPECT_EQ(extent("(a \"b)\" c]", 0), "0-10");
  EXPECT_EQ(extent("(a \"b c)", 0), "none");
  EXPECT_EQ(extent("\"abc", 0), "none");
  EXPECT_EQ(extent("\"ab\\\"", 0), "none");
  EXPECT_EQ(extent("' ; c\n x y", 0), "0-8");
  EXPECT_EQ(extent("#'(a)", 0), "0-5");
  // An escape begins an atom, as the reader has it: a character literal
  // is a prefix and its atom.
  EXPECT_EQ(extent("#\\( x", 0), "0-3");
  EXPECT_EQ(extent("(#\\) a)", 0), "0-7");
  EXPECT_EQ(extent("'", 0), "none");
  EXPECT_EQ(extent(") a", 0), "none");
  EXPECT_EQ(extent("abc,d", 0), "0-3");
  EXPECT_EQ(extent("ab@c", 0), "0-2");
  // An escape as the last byte stays inside the text.
  EXPECT_EQ(extent("ab\\", 0), "0-3");
  EXPECT_EQ(extent("(ab\\", 0), "none");
  EXPECT_EQ(extent("; only a comment", 0), "none");
}

TEST_F(Symbolic, MatchingAtomsStringsAndLists) {
  Value a = sym("a"), b = sym("b"), c = sym("c");
  EXPECT_EQ(unify(list({a}), "(a b c)"), "fail");
  EXPECT_EQ(unify(list({a, b, c}), "(a b c)"), "t");
  EXPECT_EQ(unify(list({a, b, c}), "[a\n b ; x\n c]"), "t");
  EXPECT_EQ(unify(list({a, token(2)}), "(a b c)"), "3-6");
  // nil matches an empty list written without a blank only.
  EXPECT_EQ(unify(kNil, "()"), "t");
  EXPECT_EQ(unify(kNil, "( )"), "fail");
  // Exactly the name, never a longer atom or a string of the same text.
  EXPECT_EQ(unify(sym("ab"), "ab"), "t");
  EXPECT_EQ(unify(sym("ab"), "abc", 0, 3), "fail");
  EXPECT_EQ(unify(sym("ab"), "\"ab\""), "fail");
  EXPECT_EQ(unify(str("ab"), "\"ab\""), "t");
  EXPECT_EQ(unify(str("a\\\"b"), "\"a\\\"b\""), "t");
  EXPECT_EQ(unify(fix(12), "12"), "t");
  EXPECT_EQ(unify(fix(12), "+12"), "fail");
  EXPECT_EQ(unify(make_integer(9000000), "9000000"), "t");
  // A prefixed expression matches nothing but a token.
  EXPECT_EQ(unify(list({sym("quote"), a}), "'a"), "fail");
  EXPECT_EQ(unify(token(0), "'a"), "0-2");
}

TEST_F(Symbolic, TokenVariables) {
  Value a = sym("a"), c = sym("c");
  // A one-expression token, a segment in the middle (its span ends with
  // its last element), and an empty segment.
  EXPECT_EQ(unify(list({token(0), c}), "(x c)"), "1-2");
  EXPECT_EQ(unify(list({token(2), c}), "(x(b)c)"), "1-5");
  EXPECT_EQ(unify(list({token(2), c}), "(x  y\n  c)"), "1-5");
  EXPECT_EQ(unify(list({a, token(2), c}), "(a c)"), "3-3");
  EXPECT_EQ(unify(list({a, token(2)}), "(a)"), "2-2");
  EXPECT_EQ(unify(list({token(2)}), "()"), "1-1");
  // Kind 1 is one or more elements.
  EXPECT_EQ(unify(list({a, token(1)}), "(a)"), "fail");
  EXPECT_EQ(unify(list({a, token(1)}), "(a b)"), "3-4");
  EXPECT_EQ(unify(list({token(1), c}), "(c c)"), "1-2");
  EXPECT_EQ(unify(list({token(1), c}), "(c)"), "fail");
  EXPECT_EQ(unify(list({token(2), c}), "(c c)"), "1-2");
  EXPECT_EQ(unify(list({token(2), c, token(2)}), "(c c)"), "1-1 3-4");
  // Only the successful try's bindings: the abandoned try that bound the
  // one-expression token to a leaves nothing behind.
  EXPECT_EQ(unify(list({token(2), token(0), c}), "(a b c)"), "1-2 3-4");
  EXPECT_EQ(unify(list({token(2), token(0), c}), "(a b d)"), "fail");
  // Many segments that cannot match fail in polynomial time.
  std::string many = "(";
  for (int i = 0; i < 60; ++i) many += "a ";
  many += ")";
  Value segments = list({c});
  for (int i = 0; i < 10; ++i) segments = cons(token(2), segments);
  EXPECT_EQ(unify(segments, many), "fail");
  // A token as the dotted tail takes the rest of the list; a dotted
  // pattern wants a lone full stop.
  EXPECT_EQ(unify(cons(a, token(0)), "(a b c)"), "3-6");
  EXPECT_EQ(unify(cons(a, c), "(a . c)"), "t");
  EXPECT_EQ(unify(cons(a, c), "(a . c d)"), "fail");
  EXPECT_EQ(unify(cons(a, c), "(a c)"), "fail");
  // Nested lists.
  EXPECT_EQ(unify(list({sym("define"), list({token(0), token(2)}), token(2)}), "(define (f x y) (g x) y)"),
                  "9-10 11-14 16-23");
}

TEST_F(Symbolic, TheWalk) {
  Value b = sym("b"), x = sym("x");
  std::string src = "(a (b c) 'b \"b\" b)";
  Value pats = list({b});
  // Depth first, left to right, entering lists and prefixes.
  EXPECT_EQ(search(pats, src, 0, 0, false), "4-5");
  EXPECT_EQ(search(pats, src, 4, 5, false), "10-11");
  EXPECT_EQ(search(pats, src, 10, 11, false), "16-17");
  EXPECT_EQ(search(pats, src, 16, 17, false), "none");
  // Siblings only: nothing inside an unmatched list.
  EXPECT_EQ(search(pats, src, 0, 0, true), "none");
  EXPECT_EQ(search(pats, src, 1, 2, true), "16-17");
  // The previous expression is entered whatever the flag.
  EXPECT_EQ(search(pats, src, 3, 8, true), "4-5");
  // The first pattern that matches an expression gives it.
  Value r = callv("search-symbolic", {list({x, list({b, token(0)})}), buffer(src), fix(int(src.size())), fix(0),
                                      fix(0), kNil});
  EXPECT_EQ(text(car(r)), "(b ((()) 0))");
  EXPECT_EQ(search(list({x}), "(a (b", 0, 0, false), "none");
  EXPECT_EQ(search(list({x}), ") ] x", 0, 0, false), "4-5");
}

TEST_F(Symbolic, PositionsAreCheckedAgainstTheBuffer) {
  Value buf = buffer("(a b)");
  auto err = [&](int len, int s, int e) {
    return error_of([&] { callv("unify-expr", {sym("a"), buf, fix(len), fix(s), fix(e)}); });
  };
  EXPECT_EQ(err(6, 0, 5), 2);
  EXPECT_EQ(err(5, 0, 6), 2);
  EXPECT_EQ(err(5, 3, 2), 2);
  EXPECT_EQ(err(5, -1, 2), 2);
  EXPECT_EQ(err(-1, 0, 0), 2);
  EXPECT_EQ(err(5, 1, 2), -1);
  EXPECT_EQ(error_of([&] { callv("search-symbolic", {kNil, fix(3), fix(0), fix(0), fix(0), kNil}); }), 2);
  // Nested past the native stack: an error, not a crash.
  std::string deep(200000, '(');
  deep += std::string(200000, ')');
  Value p = kNil;
  p = cons(kNil, kNil);
  set_car(p, p);  // a pattern nested without end
  EXPECT_EQ(error_of([&] { callv("unify-expr", {p, buffer(deep), fix(int(deep.size())), fix(0), fix(int(deep.size()))}); }), 61);
}

}  // namespace
}  // namespace core::testing
