// Fonts for text drawn by programs: the installed fonts, found through
// fontconfig and rendered by FreeType, and the embedded bitmap font.
//
// Both libraries are loaded at the first text that needs them (like the
// region library): start-up never pays for them, and a machine without them
// draws every family in the embedded font. Family 0 is the embedded font
// (the window chrome keeps it too); the numbered families resolve to the
// installed sans, serif and monospaced faces, and a family named by a
// string resolves to the installed family of that name, or to the nearest
// one fontconfig offers. A font that is not there falls back; drawing never
// fails.
//
// Text is code page 1252 everywhere in the machine; it becomes the font's
// Unicode here, at one place (draw_text and text_width).
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/dc.hpp"

namespace gfx {

// Bits of Font::style.
constexpr int32_t kBold = 1, kItalic = 2, kUnderline = 4;

struct Font {
  int32_t family = 0;  // 0: the embedded font
  int32_t size = 12;   // points; a point is a pixel
  int32_t style = 0;
};

struct TextMetrics {
  int32_t ascent = 0, descent = 0, leading = 0;
};

// Sizes beyond this are drawn at it (a glyph stays a bounded bitmap).
constexpr int32_t kMaxFontSize = 256;

TextMetrics font_metrics(const Font& font);
// The advance of the text in pixels.
int32_t text_width(const Font& font, std::string_view cp1252);
// Draws the text with its baseline starting at `baseline`, in the DC's
// text colour, through its clip; its background too when the DC's mode is
// opaque. Underlined text gets a line below the baseline.
void draw_text(DC& dc, const Font& font, Pt baseline, std::string_view cp1252);

// The family number of a family named by a string: the same number for
// the same name (case ignored) for the rest of the run.
int32_t family_named(std::string_view name);
// The name of a family made by family_named; empty for the numbered ones.
std::string family_name(int32_t family);
// The family names of the installed fonts, sorted; empty without fontconfig.
std::vector<std::string> font_families();

// Whether the font libraries load (reason says why not).
bool load_fonts(std::string* reason);

}  // namespace gfx
