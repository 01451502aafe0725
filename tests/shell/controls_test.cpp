// The text logic of the controls that input scripts reach poorly: word
// wrapping at the edges of a width, and the caret and selection of an
// editable text moving across lines of unequal length.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "shell/controls.hpp"

namespace {

std::vector<std::string> wrapped(std::string_view text, int32_t width) {
  std::vector<std::string> out;
  for (const shell::TextLine& l : shell::wrap_text(text, width)) out.emplace_back(text.substr(l.start, l.length));
  return out;
}

// Every line fits (a single overlong word excepted, which is cut), no
// character but the breaking spaces and line ends is lost, and the lines
// come in order.
TEST(WrapText, LinesFitKeepEveryCharacterAndCutOverlongWords) {
  const int32_t cell = shell::width_of("x");
  EXPECT_EQ(wrapped("one two three", 7 * cell), (std::vector<std::string>{"one two", "three"}));
  EXPECT_EQ(wrapped("one two three", 5 * cell), (std::vector<std::string>{"one", "two", "three"}));
  EXPECT_EQ(wrapped("abcdefgh", 3 * cell), (std::vector<std::string>{"abc", "def", "gh"}));
  EXPECT_EQ(wrapped("a\r\rb", 10 * cell), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(wrapped("", 10 * cell), (std::vector<std::string>{""}));
  EXPECT_EQ(wrapped("a b", 0), (std::vector<std::string>{"a b"}));  // no width: line ends only
  // A width narrower than one character still moves on.
  EXPECT_EQ(wrapped("ab", 1), (std::vector<std::string>{"a", "b"}));
  for (int32_t w = 1; w < 12 * cell; ++w) {
    std::string text = "the quick  brown fox\rjumps over the lazy dog";
    std::string joined;
    for (const std::string& line : wrapped(text, w)) {
      if (line.size() > 1) {
        EXPECT_LE(shell::width_of(line), w) << line;
      }
      joined += line;
    }
    std::string letters;
    for (char c : text)
      if (c != ' ' && c != '\r') letters.push_back(c);
    std::string kept;
    for (char c : joined)
      if (c != ' ') kept.push_back(c);
    EXPECT_EQ(kept, letters) << w;
  }
}

TEST(EditModel, CaretCrossesLinesKeepingItsColumnAndShiftExtends) {
  shell::EditModel m;
  m.multi_line = true;
  m.insert("abcdef\rxy\rlonger line");
  EXPECT_EQ(m.caret, m.text.size());
  m.home(false);
  EXPECT_EQ(m.caret, 10u);  // the start of the last line
  m.end(false);
  m.up(false);  // the column beyond the short line's end: its end
  EXPECT_EQ(m.caret, 9u);
  m.up(false);
  EXPECT_EQ(m.caret, 2u);  // column 2 of the first line
  m.up(false);
  EXPECT_EQ(m.caret, 0u);  // above the first line: the start
  m.right(false), m.right(false), m.right(false);
  m.down(true);  // extend: the anchor stays at 3
  EXPECT_EQ(m.selected(), "def\rxy");
  m.left(false);  // collapses to the selection's start
  EXPECT_EQ(m.caret, 3u);
  EXPECT_EQ(m.anchor, 3u);
  m.down(false), m.down(false), m.down(false);
  EXPECT_EQ(m.caret, m.text.size());  // below the last line: the end
  m.select(100, 2);  // clamped to the text
  EXPECT_EQ(m.anchor, m.text.size());
  EXPECT_EQ(m.caret, 2u);
}

TEST(EditModel, EditingReplacesTheSelectionAndSingleLineRefusesLineEnds) {
  shell::EditModel m;
  m.insert("ab\rcd\n");
  EXPECT_EQ(m.text, "abcd");
  m.select(1, 3);
  m.insert("XY");
  EXPECT_EQ(m.text, "aXYd");
  EXPECT_EQ(m.caret, 3u);
  m.erase_back();
  m.erase_forward();
  EXPECT_EQ(m.text, "aX");
  m.select_all();
  m.erase_back();
  EXPECT_EQ(m.text, "");
  m.erase_back(), m.erase_forward(), m.left(true), m.right(true);  // at the edges: nothing
  EXPECT_EQ(m.caret, 0u);
  EXPECT_EQ(m.anchor, 0u);
}

}  // namespace
