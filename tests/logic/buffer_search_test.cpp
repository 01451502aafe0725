// search-buffer-subr against a naive search on random texts and pattern
// sets, forward and backward, in both case modes, with and without a
// boundary predicate (one that collects, so pattern strings move while
// the search runs); search-not-ascii; the argument checks.
#include "logic/buffer_search.hpp"

#include <cstring>
#include <random>

#include "core/eval.hpp"
#include "data/handles.hpp"
#include "data/strings.hpp"
#include "data/vectors.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

// The boundary predicate of the tests: blanks and punctuation are word
// boundaries. It collects at every call, moving every heap byte.
Value boundary_with_collection(Value code) {
  collect();
  uint8_t c = uint8_t(code.fixnum());
  return c == ' ' || c == '.' || c == ',' ? rt().sym.t : kNil;
}
bool is_boundary(uint8_t c) { return c == ' ' || c == '.' || c == ','; }

class BufferSearch : public NativeCallTest {
 protected:
  void SetUp() override {
    NativeCallTest::SetUp();
    register_native("test-boundary", &native_entry<boundary_with_collection>, 1, Tag::Primitive);
    set_symbol_value(intern_static("Search-Match"), data::make_vector(256, kNil));
  }
  // A pointer block holding the text.
  Value buffer(const std::string& s) {
    Addr a = data::new_pointer(uint32_t(s.size()));
    std::memcpy(at_addr(a), s.data(), s.size());
    return data::box_pointer(a);
  }
  Value search(Value pats, Value buf, int start, int end, bool backward, bool nocase, bool words) {
    return callv("search-buffer-subr", {pats, buf, fix(start), fix(end), backward ? t() : kNil, nocase ? t() : kNil,
                                        words ? intern_static("test-boundary") : kNil});
  }
};

// The answer of the naive search: the index of the pattern and its offset,
// or -1. Forward: the leftmost start at or after `start`; backward: the
// rightmost end at or before start + 1; at one place the last pattern of
// the list wins.
std::pair<int, int> naive(const std::vector<std::string>& pats, const std::string& text, int start, int end,
                          bool backward, bool nocase, bool words) {
  auto same = [&](uint8_t a, uint8_t b) {
    if (!nocase) return a == b;
    return data::map_char(data::CharTable::Lower, a) == data::map_char(data::CharTable::Lower, b);
  };
  auto fits = [&](size_t i, int q) {
    const std::string& p = pats[i];
    int len = int(p.size());
    if (q < 0 || q + len > end) return false;
    for (int j = 0; j < len; ++j)
      if (!same(uint8_t(text[size_t(q + j)]), uint8_t(p[size_t(j)]))) return false;
    if (words) {
      if (q > 0 && !is_boundary(uint8_t(text[size_t(q - 1)]))) return false;
      if (q + len < end && !is_boundary(uint8_t(text[size_t(q + len)]))) return false;
    }
    return true;
  };
  if (!backward) {
    for (int q = start; q < end; ++q)
      for (size_t i = pats.size(); i-- > 0;)
        if (fits(i, q)) return {int(i), q};
  } else {
    for (int e = std::min(start + 1, end); e > 0; --e)
      for (size_t i = pats.size(); i-- > 0;)
        if (fits(i, e - int(pats[i].size()))) return {int(i), e - int(pats[i].size())};
  }
  return {-1, -1};
}

TEST_F(BufferSearch, AgreesWithNaiveSearchOnRandomTexts) {
  std::mt19937 rng(12345);
  const std::string alphabet = "aAbB\xE9\xC9 .,";
  auto pick = [&](size_t n) { return size_t(rng() % n); };
  int found = 0;
  for (int round = 0; round < 400; ++round) {
    std::string hay;
    size_t n = 1 + pick(40);
    for (size_t i = 0; i < n; ++i) hay += alphabet[pick(alphabet.size())];
    std::vector<std::string> pats(1 + pick(4));
    for (std::string& p : pats) {
      size_t len = 1 + pick(3);
      for (size_t i = 0; i < len; ++i) p += alphabet[pick(6)];
    }
    bool backward = round & 1, nocase = round & 2, words = round & 4;
    int start = int(pick(n + 1)), end = int(pick(n + 1));
    if (!backward && start > end) std::swap(start, end);
    Value pl = kNil;
    for (size_t i = pats.size(); i-- > 0;) pl = cons(make_string(pats[i].c_str()), pl);
    Value buf = buffer(hay);
    Value got = search(pl, buf, start, end, backward, nocase, words);
    auto [which, at] = naive(pats, hay, start, end, backward, nocase, words);
    std::string where = "text '" + hay + "' start " + std::to_string(start) + " end " + std::to_string(end) +
                        (backward ? " backward" : "") + (nocase ? " nocase" : "") + (words ? " words" : "");
    if (which < 0) {
      EXPECT_TRUE(got.is_nil()) << where << " got " << text(got);
      continue;
    }
    ++found;
    ASSERT_TRUE(got.is_pair()) << where;
    // The very string object of the list.
    Value expected = pl;
    for (int i = 0; i < which; ++i) expected = cdr(expected);
    EXPECT_EQ(car(got), car(expected)) << where;
    EXPECT_EQ(cdr(got), fix(at)) << where;
  }
  EXPECT_GT(found, 100);
}

TEST_F(BufferSearch, CasesOfTheEditor) {
  // The match that starts first wins, whatever the lengths.
  Value r = search(list({str("ab"), str("b")}), buffer("xab"), 0, 3, false, false, false);
  EXPECT_EQ(text(r), "(ab . 1)");
  // Whole words: "cat" inside "concat" is rejected.
  r = search(str("cat"), buffer("concat cat"), 0, 10, false, false, true);
  EXPECT_EQ(text(r), "(cat . 7)");
  r = search(str("cat"), buffer("cat concat"), 10, 10, true, false, true);
  EXPECT_EQ(text(r), "(cat . 0)");
  // Ignoring case finds every letter in the other case, accented ones too.
  EXPECT_EQ(text(search(str("ABC"), buffer("xabc"), 0, 4, false, true, false)), "(ABC . 1)");
  EXPECT_EQ(text(search(str("\xE9x"), buffer("\xC9X"), 0, 2, false, true, false)), "(\xE9x . 0)");
  EXPECT_EQ(text(search(str("\xE9"), buffer("\xC9"), 0, 1, false, true, false)), "(\xE9 . 0)");
  EXPECT_TRUE(search(str("\xE9"), buffer("\xC9"), 0, 1, false, false, false).is_nil());
  // Backward never reports a match whose last byte lies after start.
  EXPECT_EQ(text(search(str("ab"), buffer("ab ab"), 3, 5, true, false, false)), "(ab . 0)");
  EXPECT_EQ(text(search(str("ab"), buffer("ab ab"), 4, 5, true, false, false)), "(ab . 3)");
  // A match must end at or before end.
  EXPECT_TRUE(search(str("ab"), buffer("xab"), 0, 2, false, false, false).is_nil());
}

TEST_F(BufferSearch, BucketsStayInSearchMatch) {
  search(list({str("ab"), str("xB")}), buffer("zz"), 0, 2, false, true, false);
  Value v = symbol_value(intern_static("Search-Match"));
  // Key characters b and B, each bucket listing the last pattern first.
  EXPECT_EQ(text(data::vector_element(v, 'b')), "(xB ab)");
  EXPECT_EQ(text(data::vector_element(v, 'B')), "(xB ab)");
  EXPECT_TRUE(data::vector_element(v, 'a').is_nil());
  search(list({str("ab"), str("xB")}), buffer("zz"), 0, 2, true, false, false);
  EXPECT_EQ(text(data::vector_element(v, 'a')), "(ab)");
  EXPECT_EQ(text(data::vector_element(v, 'x')), "(xB)");
  EXPECT_TRUE(data::vector_element(v, 'b').is_nil());
}

TEST_F(BufferSearch, BadArgumentsAreErrorTwo) {
  Value buf = buffer("abcdef");
  auto err = [&](Value pats, int start, int end) {
    return error_of([&] { search(pats, buf, start, end, false, false, false); });
  };
  EXPECT_EQ(err(str(""), 0, 6), 2);
  EXPECT_EQ(err(list({str("ab"), str("")}), 0, 6), 2);
  EXPECT_EQ(err(kNil, 0, 6), 2);
  EXPECT_EQ(err(list({sym("ab")}), 0, 6), 2);
  EXPECT_EQ(err(str(std::string(256, 'a').c_str()), 0, 6), 2);
  EXPECT_EQ(err(list({str(std::string(300, 'a').c_str()), str(std::string(255, 'a').c_str())}), 0, 6), -1);
  EXPECT_EQ(err(str("ab"), 0, 7), 2);
  EXPECT_EQ(err(str("ab"), -1, 6), 2);
  EXPECT_EQ(err(str("ab"), 7, 6), 2);
  EXPECT_EQ(error_of([&] { search(str("ab"), buf, 7, 6, true, false, false); }), 2);
  EXPECT_EQ(error_of([&] { search(str("ab"), fix(5), 0, 1, false, false, false); }), 2);
  // The bucket vector must hold at least 256 elements.
  set_symbol_value(intern_static("Search-Match"), data::make_vector(255, kNil));
  EXPECT_EQ(err(str("ab"), 0, 6), 2);
  set_symbol_value(intern_static("Search-Match"), kNoValue);
  EXPECT_EQ(err(str("ab"), 0, 6), 2);
}

TEST_F(BufferSearch, SearchNotAscii) {
  Value buf = buffer("abc\xE9z");
  EXPECT_EQ(text(callv("search-not-ascii", {buf, fix(0), fix(5)})), "(() . 3)");
  EXPECT_TRUE(callv("search-not-ascii", {buf, fix(0), fix(3)}).is_nil());
  EXPECT_TRUE(callv("search-not-ascii", {buf, fix(4), fix(5)}).is_nil());
  EXPECT_EQ(error_of([&] { callv("search-not-ascii", {buf, fix(0), fix(6)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("search-not-ascii", {buf, fix(-1), fix(2)}); }), 2);
}

}  // namespace
}  // namespace core::testing
