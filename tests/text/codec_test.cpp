// The text codec held against the C library's converters (iconv): every
// code page 1252 byte and every code point both ways, and some thousands of
// random UTF-8 texts, valid and malformed, compared by verdict, by the
// offset where conversion stops and by output; then what the conversions do
// with bad bytes, and line ends.
#include "text/codec.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <random>
#include <vector>

namespace {

constexpr size_t npos = std::string_view::npos;

// What the C library makes of `in`: the output, and the offset where it
// stopped (npos when it converted everything).
struct Theirs {
  std::string out;
  size_t stopped = npos;
};

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool ok() const { return cd_ != iconv_t(-1); }

  Theirs operator()(std::string_view in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string src(in), out(in.size() * 4 + 8, '\0');
    char* ip = src.data();
    char* op = out.data();
    size_t il = src.size(), ol = out.size();
    size_t rc = iconv(cd_, &ip, &il, &op, &ol);
    Theirs t;
    t.out.assign(out.data(), out.size() - ol);
    if (rc == size_t(-1)) t.stopped = size_t(ip - src.data());
    return t;
  }

 private:
  iconv_t cd_;
};

// The five codes the C library leaves undefined; ours stand for the C1
// controls of the same number.
bool unassigned(int code) { return code == 0x81 || code == 0x8D || code == 0x8F || code == 0x90 || code == 0x9D; }

// The C library's 8-bit converters silently drop the language tags; ours
// hold them to be characters the page lacks.
bool tag(char32_t cp) { return cp >= 0xE0000 && cp <= 0xE007F; }

std::string utf32(char32_t cp) {
  std::string s(4, '\0');
  for (int k = 0; k < 4; ++k) s[size_t(k)] = char((cp >> (8 * k)) & 0xFF);
  return s;
}

TEST(TextCodec, Cp1252AndUnicodeMatchTheCLibraryBothWays) {
  Converter to_utf8("UTF-8", "CP1252"), from_utf8("CP1252", "UTF-8"), from_utf32("CP1252", "UTF-32LE");
  ASSERT_TRUE(to_utf8.ok() && from_utf8.ok() && from_utf32.ok()) << "glibc converters missing";
  for (int b = 0; b < 256; ++b) {
    std::string one(1, char(b)), back;
    std::string utf8 = text::cp1252_to_utf8(one);
    text::Cp1252Report r = text::utf8_to_cp1252(utf8, back);
    EXPECT_TRUE(r.complete && r.clean()) << b;
    EXPECT_EQ(back, one) << "every byte survives the trip, " << b;
    if (unassigned(b)) {
      EXPECT_EQ(to_utf8(one).stopped, 0u) << b;
      EXPECT_EQ(text::cp1252_to_unicode(uint8_t(b)), char32_t(b));
    } else {
      EXPECT_EQ(utf8, to_utf8(one).out) << b;
      EXPECT_EQ(from_utf8(utf8).out, one) << b;
    }
  }
  // The other way, every scalar value: the page's characters and nothing else.
  int mapped = 0;
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    int ours = text::unicode_to_cp1252(cp);
    if (ours != text::kUnmapped) ++mapped;
    if ((cp < 0x100 && unassigned(int(cp))) || tag(cp)) {
      EXPECT_EQ(ours, tag(cp) ? text::kUnmapped : int(cp));
      continue;
    }
    Theirs t = from_utf32(utf32(cp));
    EXPECT_EQ(ours, t.out.size() == 1 ? int(uint8_t(t.out[0])) : text::kUnmapped) << std::hex << uint32_t(cp);
  }
  EXPECT_EQ(mapped, 256);
}

// A random text of UTF-8 pieces, some of them malformed.
class Generator {
 public:
  explicit Generator(uint32_t seed) : rng_(seed) {}

  std::string text(bool malformed) {
    std::string s;
    int pieces = pick(0, 12);
    int bad_at = malformed ? pick(0, pieces) : -1;
    for (int i = 0; i <= pieces; ++i) s += i == bad_at ? bad() : good();
    return s;
  }

 private:
  int pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }

  // A well-formed character, most often one the page has.
  std::string good() {
    char32_t cp;
    switch (pick(0, 5)) {
      case 0: cp = char32_t(pick(0, 0x7F)); break;
      case 1: cp = text::cp1252_to_unicode(uint8_t(pick(0x80, 0xFF))); break;
      case 2: cp = char32_t(pick(0x80, 0x7FF)); break;
      case 3: cp = char32_t(pick(0x800, 0xFFFF)); break;
      case 4: cp = char32_t(pick(0x10000, 0x10FFFF)); break;
      default: cp = char32_t(pick(0xF000, 0x10040)); break;  // round the planes' edges
    }
    // The C library lacks the page's five controls and drops the tags;
    // surrogates are no characters.
    if ((cp < 0x100 && unassigned(int(cp))) || tag(cp) || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 'x';
    std::string s;
    text::append_utf8(s, cp);
    return s;
  }

  std::string bad() {
    auto cont = [&] { return char(pick(0x80, 0xBF)); };
    switch (pick(0, 7)) {
      case 0: {  // overlong: a small code point in too many bytes
        char32_t cp = char32_t(pick(0, 0x7FF));
        int n = pick(2, 4);
        if (n == 2) cp &= 0x7F;
        if (n == 2) return {char(0xC0 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
        if (n == 3) return {char(0xE0), char(0x80 | (cp >> 6)), char(0x80 | (cp & 0x3F))};
        return {char(0xF0), char(0x80 | (cp >> 12)), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
      }
      case 1: return {char(0xED), char(pick(0xA0, 0xBF)), cont()};  // a surrogate
      case 2: return {char(0xF4), char(pick(0x90, 0xBF)), cont(), cont()};  // past U+10FFFF
      case 3: return {char(pick(0xF5, 0xFF)), cont(), cont(), cont()};
      case 4: return std::string(size_t(pick(1, 3)), cont());  // stray continuation bytes
      case 5:
      case 6: {  // cut short, at the end or before another character
        std::string s = good();
        while (s.size() < 2) s = good();
        return s.substr(0, size_t(pick(1, int(s.size()) - 1)));
      }
      default: return {char(pick(0xC0, 0xFF))};  // a lead byte alone
    }
  }

  std::mt19937 rng_;
};

TEST(TextCodec, RandomUtf8MatchesTheCLibrary) {
  Converter to_utf32("UTF-32LE", "UTF-8"), to_cp1252("CP1252", "UTF-8");
  ASSERT_TRUE(to_utf32.ok() && to_cp1252.ok());
  Generator gen(1252);
  int valid = 0, invalid = 0;
  for (int n = 0; n < 6000; ++n) {
    std::string in = gen.text(n % 2 == 1);
    // Ours, a character at a time: the code points up to the first
    // malformed byte.
    std::string points;
    size_t stopped = npos;
    for (size_t i = 0; i < in.size();) {
      text::Utf8Char c = text::decode_utf8(in, i);
      if (c.length == 0) {
        stopped = i;
        break;
      }
      points += utf32(c.code_point);
      i += c.length;
    }
    Theirs t = to_utf32(in);
    ASSERT_EQ(stopped, t.stopped) << testing::PrintToString(in);
    ASSERT_EQ(points, t.out) << testing::PrintToString(in);
    (stopped == npos ? valid : invalid)++;
    if (stopped == npos) {
      // Encoding the code points again gives the same bytes.
      std::string again;
      for (size_t k = 0; k < points.size(); k += 4)
        text::append_utf8(again, char32_t(uint8_t(points[k])) | char32_t(uint8_t(points[k + 1])) << 8 |
                                     char32_t(uint8_t(points[k + 2])) << 16);
      ASSERT_EQ(again, in);
    }

    // To code page 1252: stops where the C library stops (a malformed byte
    // or a character the page lacks), with the same text before it.
    std::string out;
    text::Cp1252Report r = text::utf8_to_cp1252(in, out);
    Theirs c = to_cp1252(in);
    ASSERT_EQ(r.first_bad, c.stopped) << testing::PrintToString(in);
    ASSERT_EQ(r.complete, c.stopped == npos);
    ASSERT_EQ(out, c.out) << testing::PrintToString(in);
  }
  EXPECT_GT(valid, 2000);
  EXPECT_GT(invalid, 2000);
}

TEST(TextCodec, WhatAConversionDoesWithBadBytes) {
  auto convert = [](std::string_view in, text::ToCp1252 how, text::Cp1252Report* report = nullptr) {
    std::string out;
    text::Cp1252Report r = text::utf8_to_cp1252(in, out, how);
    if (report) *report = r;
    return out;
  };
  using M = text::Malformed;
  using U = text::Unmapped;
  text::Cp1252Report r;
  // Each byte of a malformed sequence counts on its own.
  EXPECT_EQ(convert("a\xE2\x82x\xC3", {M::Replace, U::Fail, '?'}, &r), "a??x?");
  EXPECT_TRUE(r.complete);
  EXPECT_EQ(r.first_bad, 1u);
  EXPECT_EQ(r.malformed, 3u);
  EXPECT_EQ(convert("a\xE2\x82x\xC3", {M::Drop, U::Fail, '?'}), "ax");
  EXPECT_EQ(convert("\xE9t\xE9\x80", {M::Keep, U::Fail, '?'}, &r), "\xE9t\xE9\x80") << "never UTF-8: kept";
  EXPECT_EQ(convert("\xC3\xA9\xE9", {M::Keep, U::Fail, '?'}), "\xE9\xE9");
  // A character the page lacks is one, however long its UTF-8.
  EXPECT_EQ(convert("\xF0\x9F\x98\x80!\xC2\x80", {M::Fail, U::Replace, '?'}, &r), "?!?");
  EXPECT_EQ(r.unmapped, 2u);
  EXPECT_EQ(r.malformed, 0u);
  EXPECT_EQ(convert("x\xE2\x98\x83y", {M::Fail, U::Drop, '?'}), "xy");
  // Failing stops at the first bad byte, with what came before it.
  EXPECT_EQ(convert("ab\xE2\x98\x83", {}, &r), "ab");
  EXPECT_FALSE(r.complete);
  EXPECT_EQ(r.first_bad, 2u);
  EXPECT_EQ(convert(std::string_view("a\0b", 3), {}), std::string("a\0b", 3));
  // One character at a time never reads past the end.
  EXPECT_EQ(text::decode_utf8("\xE2\x82\xAC", 3).length, 0u);
  EXPECT_EQ(text::decode_utf8(std::string_view("\xE2\x82\xAC", 2), 0).length, 0u);
  // Code points without a UTF-8 form go out as the replacement character.
  for (char32_t cp : {char32_t(0xD800), char32_t(0xDFFF), char32_t(0x110000), char32_t(0xFFFFFFFF)}) {
    std::string s;
    text::append_utf8(s, cp);
    EXPECT_EQ(s, "\xEF\xBF\xBD");
  }
}

TEST(TextCodec, LineEnds) {
  using text::LineEnd;
  EXPECT_EQ(text::convert_line_ends("one\rtwo\r\nthree\n\r", LineEnd::LF), "one\ntwo\nthree\n\n");
  EXPECT_EQ(text::convert_line_ends("\r\r\n\n", LineEnd::LF), "\n\n\n");
  EXPECT_EQ(text::convert_line_ends("one\ntwo\r\nthree\rfour", LineEnd::CRLF), "one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(text::convert_line_ends("\r\n\r\n\n", LineEnd::CRLF), "\r\n\r\n\r\n") << "never doubled";
  EXPECT_EQ(text::convert_line_ends("a\nb\r\nc\r", LineEnd::CR), "a\rb\rc\r");
  EXPECT_EQ(text::convert_line_ends("", LineEnd::CRLF), "");
  // Lines count the same way, for reports of the form FILE:LINE.
  const std::string_view s = "a\r\nb\nc\rd\n\re";
  EXPECT_EQ(text::line_at(s, 0), 1);
  EXPECT_EQ(text::line_at(s, 2), 1) << "the line feed of CR LF";
  EXPECT_EQ(text::line_at(s, 3), 2);
  EXPECT_EQ(text::line_at(s, 5), 3);
  EXPECT_EQ(text::line_at(s, 7), 4);
  EXPECT_EQ(text::line_at(s, 10), 6);
  EXPECT_EQ(text::line_at(s, 99), 6);
}

}  // namespace
