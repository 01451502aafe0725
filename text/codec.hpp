// The text codec: the one place that knows code page 1252, UTF-8 and line
// ends. Inside the machine text is code page 1252 with carriage-return line
// ends; outside (the terminal, source files with a coding line, file names,
// the desktop's titles, typed text and clipboard) it is UTF-8, usually with
// line feeds. Every boundary converts through here, so there is one table
// and one rule for what counts as UTF-8. Nothing here keeps state between
// calls or depends on any other folder.
//
// - Code page 1252 to Unicode is total: the five codes the page leaves
//   unassigned (0x81, 0x8D, 0x8F, 0x90, 0x9D) stand for the C1 controls of
//   the same number, so every byte survives a trip through UTF-8 and back.
// - Unicode to code page 1252 is partial: a code point without a code is
//   "unmapped", and each conversion says what it does with one.
// - UTF-8 is valid only in its shortest form and only for Unicode scalar
//   values: overlong forms, surrogates (U+D800-U+DFFF), code points past
//   U+10FFFF, stray continuation bytes and sequences cut short are
//   malformed. A malformed sequence is reported at the offset of its first
//   byte; a conversion that goes on past it moves one byte forward.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace text {

// ---- Code page 1252 and Unicode ---------------------------------------------------

namespace detail {
// Code points of 0x80 to 0x9F; the unassigned codes stand for themselves.
inline constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98
};
}  // namespace detail

// The code point of a code page 1252 character (every byte has one).
constexpr char32_t cp1252_to_unicode(uint8_t code) {
  return code >= 0x80 && code < 0xA0 ? char32_t(detail::kCp1252High[code - 0x80]) : char32_t(code);
}

// What unicode_to_cp1252 answers for a code point the page lacks.
inline constexpr int kUnmapped = -1;

// The code page 1252 character of a code point, or kUnmapped.
int unicode_to_cp1252(char32_t code_point);

// ---- UTF-8 one character at a time ----------------------------------------------

// One decoded character: its code point and the bytes it took, or a length
// of 0 when the bytes at that offset are not valid UTF-8.
struct Utf8Char {
  char32_t code_point = 0;
  size_t length = 0;
};

// The character starting at `at`; it never reads past the end of `utf8`
// (an offset at or past the end is malformed).
Utf8Char decode_utf8(std::string_view utf8, size_t at);

// Writes the UTF-8 form of a Unicode scalar value into `out` and answers its
// length (1 to 4). A surrogate or a value past U+10FFFF has no UTF-8 form and
// is written as U+FFFD, the replacement character.
size_t encode_utf8(char32_t code_point, char out[4]);
void append_utf8(std::string& out, char32_t code_point);

// ---- Whole texts ---------------------------------------------------------------------

// Code page 1252 text as UTF-8. It cannot fail; line ends are left alone.
std::string cp1252_to_utf8(std::string_view cp1252);

// What utf8_to_cp1252 does with each byte of a malformed sequence.
enum class Malformed : uint8_t {
  Fail,     // stop there: the report says where
  Replace,  // write the replacement byte in its place
  Drop,     // leave it out
  Keep,     // take the byte as code page 1252 already (text that was never UTF-8)
};

// What utf8_to_cp1252 does with a well-formed character the page lacks.
enum class Unmapped : uint8_t {
  Fail,     // stop there: the report says where
  Replace,  // write the replacement byte in its place
  Drop,     // leave it out
};

struct ToCp1252 {
  Malformed malformed = Malformed::Fail;
  Unmapped unmapped = Unmapped::Fail;
  char replacement = '?';
};

// How a conversion to code page 1252 went. With the Fail choices, `complete`
// is false when it stopped, and the output then holds the text before
// `first_bad`.
struct Cp1252Report {
  bool complete = true;
  size_t first_bad = std::string_view::npos;  // offset of the first malformed or unmapped byte
  size_t malformed = 0;                       // malformed bytes met
  size_t unmapped = 0;                        // characters without a code met
  bool clean() const { return first_bad == std::string_view::npos; }
};

// UTF-8 as code page 1252, into `out` (replaced), by `how`. The defaults
// fail at the first malformed byte or unmapped character.
Cp1252Report utf8_to_cp1252(std::string_view utf8, std::string& out, ToCp1252 how = {});

// ---- Line ends ---------------------------------------------------------------------

enum class LineEnd : uint8_t { CR, LF, CRLF };

// Every line end of `text` (CR LF, a lone CR or a lone LF) written as `to`:
// CR LF counts as one line end, never two.
std::string convert_line_ends(std::string_view text, LineEnd to);

// The line (from 1) of the byte at `offset`, counting the line ends before
// it as convert_line_ends does; for "FILE:LINE" reports.
int line_at(std::string_view text, size_t offset);

}  // namespace text
