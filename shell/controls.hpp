// The standard controls: push buttons, check boxes, choices, captions,
// editable texts and pictures, each a class built natively on obj-window
// (obj-button, obj-check-box, obj-choice, obj-caption, obj-edit-text,
// obj-picture) whose native half derives from WindowObject.
//
// A control draws itself in its `paint` method with the rasterizer, in the
// plain look of the window chrome, and takes the mouse and the keyboard
// through the same messages as any window object (`mouse-down-system`,
// `key-down`, ...). The focused control receives the keys; Tab and shift-Tab
// move the focus among the controls of one top-level window in the order
// they were made. Controls tell the application of a choice made by
// sending `select` (no arguments) to their instance.
//
// Text is code page 1252 and measured by one helper (width_of) only, so a
// change of the font touches one place. The editing model below holds no
// Lisp values: it is plain text, caret and anchor, and every index it keeps
// lies within the text between calls.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/module.hpp"

namespace shell {

// The width of a text drawn in the controls' font, and its line height.
int32_t width_of(std::string_view text);
int32_t line_height();

// Lines of text end with a carriage return, as the reader's strings do.
inline constexpr char kLineEnd = '\r';

// A line of a laid-out text: where it starts in the text and how many
// characters it shows (its ending space or line end left out).
struct TextLine {
  size_t start = 0, length = 0;
};

// Breaks a text into lines at its line ends and, when `width` is positive,
// between words so that each line fits `width` (a word wider than the
// width is cut where it overflows). Always at least one line.
std::vector<TextLine> wrap_text(std::string_view text, int32_t width);

// The text of an editable text with its caret and selection. The selection
// runs between the anchor and the caret; they are equal when nothing is
// selected. A single-line text refuses line ends.
struct EditModel {
  std::string text;
  size_t caret = 0, anchor = 0;
  bool multi_line = false;

  size_t selection_start() const { return caret < anchor ? caret : anchor; }
  size_t selection_end() const { return caret < anchor ? anchor : caret; }
  std::string selected() const { return text.substr(selection_start(), selection_end() - selection_start()); }
  // Replaces the selection by `s` (line ends, and line feeds, dropped from
  // a single-line text), the caret after it.
  void insert(std::string_view s);
  // Backspace and Delete: the selection, else the character before or
  // after the caret.
  void erase_back();
  void erase_forward();
  void select_all();
  // Sets the selection, both ends clamped to the text.
  void select(size_t from, size_t to);
  // Caret motion; `extend` keeps the anchor (a shifted key). Up and down
  // keep the column as near as the other line allows; Home and End go to
  // the ends of the caret's line.
  void left(bool extend);
  void right(bool extend);
  void up(bool extend);
  void down(bool extend);
  void home(bool extend);
  void end(bool extend);
  // The line of the text (unwrapped: lines end at line ends) that holds an
  // index, and the index at a line and pixel column.
  size_t line_of(size_t index) const;
  size_t index_at(size_t line, int32_t x) const;
  std::vector<TextLine> lines() const { return wrap_text(text, 0); }

 private:
  void move_to(size_t index, bool extend);
};

extern const core::Module kControlsModule;

}  // namespace shell
