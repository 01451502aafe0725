#include "platform/gfx/fonts.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <memory>
#include <tuple>

#include "platform/host_library.hpp"
#include "text/codec.hpp"

#if TALVEN_HAVE_FONTS
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#endif

#ifndef TALVEN_FREETYPE_LIBRARY
#define TALVEN_FREETYPE_LIBRARY "libfreetype.so.6"
#endif
#ifndef TALVEN_FONTCONFIG_LIBRARY
#define TALVEN_FONTCONFIG_LIBRARY "libfontconfig.so.1"
#endif

namespace gfx {

namespace {

// Families named by strings are numbered from here on (a window's font
// keeps its family in 16 bits).
constexpr int32_t kNamedBase = 0x4000, kMaxNamed = 0x3FFF;

std::vector<std::string>& named_families() {
  static std::vector<std::string> names;
  return names;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

int32_t coord(int64_t v) { return int32_t(std::clamp<int64_t>(v, -kMaxCoord, kMaxCoord)); }

void embedded_text(DC& dc, const Font& font, Pt baseline, std::string_view cp1252) {
  dc.text({baseline.x, coord(int64_t(baseline.y) - FontMetrics::kAscent)}, cp1252);
  if (font.style & kUnderline) {
    int64_t right = int64_t(baseline.x) + DC::text_width(cp1252), y = int64_t(baseline.y) + 1;
    dc.fill_rect({coord(baseline.x), coord(y), coord(right), coord(y + 1)}, Brush::solid(dc.text_color()));
  }
}

}  // namespace

int32_t family_named(std::string_view name) {
  std::vector<std::string>& names = named_families();
  std::string key = lower(name);
  for (size_t i = 0; i < names.size(); ++i)
    if (lower(names[i]) == key) return kNamedBase + int32_t(i);
  if (names.size() >= size_t(kMaxNamed)) return 1;  // the table is full: the sans family
  names.emplace_back(name);
  return kNamedBase + int32_t(names.size() - 1);
}

std::string family_name(int32_t family) {
  const std::vector<std::string>& names = named_families();
  if (family < kNamedBase || size_t(family - kNamedBase) >= names.size()) return {};
  return names[size_t(family - kNamedBase)];
}

#if TALVEN_HAVE_FONTS

namespace {

#define TALVEN_FT_FUNCTIONS(X)                                                                  \
  X(FT_Init_FreeType) X(FT_New_Face) X(FT_Done_Face) X(FT_Set_Pixel_Sizes) X(FT_Load_Char)      \
  X(FT_Render_Glyph) X(FT_Outline_Embolden) X(FT_Set_Transform)
#define TALVEN_FC_FUNCTIONS(X)                                                                  \
  X(FcInitLoadConfigAndFonts) X(FcPatternCreate) X(FcPatternDestroy) X(FcPatternAddString)      \
  X(FcPatternAddInteger) X(FcConfigSubstitute) X(FcDefaultSubstitute) X(FcFontMatch)            \
  X(FcPatternGetString) X(FcPatternGetInteger) X(FcObjectSetCreate) X(FcObjectSetAdd)           \
  X(FcObjectSetDestroy) X(FcFontList) X(FcFontSetDestroy)

// The installed family a numbered family stands for.
const char* numbered_family(int32_t family) {
  switch (family) {
    case 2: case 20: return "DejaVu Serif";
    case 4: case 22: return "DejaVu Sans Mono";
    default: return "DejaVu Sans";
  }
}

struct Glyph {
  int32_t left = 0, top = 0, width = 0, height = 0, advance = 0;
  std::vector<uint8_t> coverage;  // width x height, 0 to 255
};

// One installed face at one pixel size, with the glyphs drawn so far, by
// code page 1252 code.
struct Face {
  FT_Face face = nullptr;
  bool embolden = false;
  TextMetrics metrics;
  int32_t underline_at = 1, underline_thickness = 1;  // below the baseline
  std::array<std::unique_ptr<Glyph>, 256> glyphs;
};

// Where fontconfig found a family in a style.
struct Resolved {
  std::string file;
  int index = 0;
  bool embolden = false, oblique = false;  // made from the regular face
};

struct Fonts {
#define TALVEN_FONT_POINTER(name) decltype(&::name) name = nullptr;
  TALVEN_FT_FUNCTIONS(TALVEN_FONT_POINTER)
  TALVEN_FC_FUNCTIONS(TALVEN_FONT_POINTER)
#undef TALVEN_FONT_POINTER
  bool loaded = false;
  std::string reason;
  FT_Library library = nullptr;
  FcConfig* config = nullptr;
  std::map<std::pair<int32_t, int32_t>, Resolved> resolved;  // (family, bold and italic bits)
  std::map<std::tuple<std::string, int, int32_t, bool, bool>, std::unique_ptr<Face>> faces;
};

// The libraries, loaded and started at the first text in a real font.
// Never destroyed: faces may be in use while the process ends.
Fonts& fonts() {
  static Fonts& f = *[] {
    Fonts* p = new Fonts;
#define TALVEN_FONT_SYMBOL(name) platform::host_symbol(#name, p->name),
    const platform::HostSymbol ft[] = {TALVEN_FT_FUNCTIONS(TALVEN_FONT_SYMBOL)};
    const platform::HostSymbol fc[] = {TALVEN_FC_FUNCTIONS(TALVEN_FONT_SYMBOL)};
#undef TALVEN_FONT_SYMBOL
    p->loaded = platform::load_host_library(TALVEN_FREETYPE_LIBRARY, ft, &p->reason) &&
                platform::load_host_library(TALVEN_FONTCONFIG_LIBRARY, fc, &p->reason);
    if (p->loaded && p->FT_Init_FreeType(&p->library) != 0) p->loaded = false, p->reason = "FreeType did not start";
    if (p->loaded && !(p->config = p->FcInitLoadConfigAndFonts()))
      p->loaded = false, p->reason = "fontconfig found no configuration";
    return p;
  }();
  return f;
}

Resolved resolve(Fonts& f, int32_t family, int32_t style) {
  std::string name = family_name(family);
  if (name.empty()) name = numbered_family(family);
  // Family names are UTF-8 for fontconfig.
  std::string utf8 = text::cp1252_to_utf8(name);
  bool bold = style & kBold, italic = style & kItalic;
  Resolved r;
  FcPattern* want = f.FcPatternCreate();
  if (!want) return r;
  f.FcPatternAddString(want, FC_FAMILY, reinterpret_cast<const FcChar8*>(utf8.c_str()));
  f.FcPatternAddInteger(want, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  f.FcPatternAddInteger(want, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  f.FcConfigSubstitute(f.config, want, FcMatchPattern);
  f.FcDefaultSubstitute(want);
  FcResult result;
  if (FcPattern* got = f.FcFontMatch(f.config, want, &result)) {
    FcChar8* file = nullptr;
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    if (f.FcPatternGetString(got, FC_FILE, 0, &file) == FcResultMatch && file) {
      r.file = reinterpret_cast<const char*>(file);
      if (f.FcPatternGetInteger(got, FC_INDEX, 0, &index) == FcResultMatch) r.index = index;
      f.FcPatternGetInteger(got, FC_WEIGHT, 0, &weight);
      f.FcPatternGetInteger(got, FC_SLANT, 0, &slant);
      r.embolden = bold && weight < FC_WEIGHT_DEMIBOLD;
      r.oblique = italic && slant == FC_SLANT_ROMAN;
    }
    f.FcPatternDestroy(got);
  }
  f.FcPatternDestroy(want);
  return r;
}

int32_t round_26_6(FT_Pos v) { return int32_t((v + 32) >> 6); }
FT_Pos scale(FT_Pos units, FT_Fixed by) { return FT_Pos((int64_t(units) * by + 0x8000) >> 16); }

std::unique_ptr<Face> open_face(Fonts& f, const Resolved& r, int32_t size) {
  auto face = std::make_unique<Face>();
  if (f.FT_New_Face(f.library, r.file.c_str(), r.index, &face->face) != 0) return nullptr;
  FT_Face ft = face->face;
  if (!FT_IS_SCALABLE(ft) || f.FT_Set_Pixel_Sizes(ft, 0, FT_UInt(size)) != 0) {
    f.FT_Done_Face(ft);
    return nullptr;
  }
  face->embolden = r.embolden;
  if (r.oblique) {
    FT_Matrix shear{0x10000, 0x3666, 0, 0x10000};  // a slant of about 12 degrees
    f.FT_Set_Transform(ft, &shear, nullptr);
  }
  const FT_Size_Metrics& m = ft->size->metrics;
  face->metrics.ascent = int32_t((m.ascender + 63) >> 6);
  face->metrics.descent = int32_t((-m.descender + 63) >> 6);
  face->metrics.leading = std::max(0, round_26_6(m.height) - face->metrics.ascent - face->metrics.descent);
  face->underline_at = std::max(1, round_26_6(-scale(ft->underline_position, m.y_scale)));
  face->underline_thickness = std::max(1, round_26_6(scale(ft->underline_thickness, m.y_scale)));
  return face;
}

// The face of a font, opened at its first use; null when the font falls
// back to the embedded one.
Face* face_of(const Font& font) {
  if (font.family == 0) return nullptr;
  Fonts& f = fonts();
  if (!f.loaded) return nullptr;
  int32_t style = font.style & (kBold | kItalic);
  auto at = f.resolved.find({font.family, style});
  if (at == f.resolved.end()) at = f.resolved.emplace(std::pair{font.family, style}, resolve(f, font.family, style)).first;
  const Resolved& r = at->second;
  if (r.file.empty()) return nullptr;
  int32_t size = std::clamp(font.size, 1, kMaxFontSize);
  auto key = std::tuple{r.file, r.index, size, r.embolden, r.oblique};
  auto it = f.faces.find(key);
  if (it != f.faces.end()) return it->second.get();
  // A run that goes through many sizes starts the cache again now and then.
  if (f.faces.size() >= 48) {
    for (auto& [k, face] : f.faces)
      if (face) f.FT_Done_Face(face->face);
    f.faces.clear();
  }
  std::unique_ptr<Face> face = open_face(f, r, size);
  Face* out = face.get();
  f.faces.emplace(key, std::move(face));  // a face that did not open is remembered as none
  return out;
}

const Glyph& glyph_of(Face& face, uint8_t code) {
  std::unique_ptr<Glyph>& slot = face.glyphs[code];
  if (slot) return *slot;
  slot = std::make_unique<Glyph>();
  Fonts& f = fonts();
  // The one place where text meets the font's Unicode map.
  char32_t cp = text::cp1252_to_unicode(code);
  FT_Face ft = face.face;
  if (f.FT_Load_Char(ft, FT_ULong(cp), face.embolden ? FT_LOAD_NO_BITMAP : FT_LOAD_DEFAULT) != 0) return *slot;
  FT_GlyphSlot g = ft->glyph;
  FT_Pos advance = g->advance.x;
  if (face.embolden && g->format == FT_GLYPH_FORMAT_OUTLINE) {
    FT_Pos strength = FT_Pos(ft->size->metrics.y_ppem) * 64 / 24;
    f.FT_Outline_Embolden(&g->outline, strength);
    advance += strength;
  }
  slot->advance = round_26_6(advance);
  if (f.FT_Render_Glyph(g, FT_RENDER_MODE_NORMAL) != 0) return *slot;
  const FT_Bitmap& b = g->bitmap;
  if (b.pixel_mode != FT_PIXEL_MODE_GRAY || b.pitch < int(b.width) || !b.buffer) return *slot;
  slot->left = g->bitmap_left;
  slot->top = g->bitmap_top;
  slot->width = int32_t(b.width);
  slot->height = int32_t(b.rows);
  slot->coverage.resize(size_t(b.width) * b.rows);
  for (unsigned y = 0; y < b.rows; ++y)
    std::copy_n(b.buffer + size_t(y) * size_t(b.pitch), b.width, slot->coverage.data() + size_t(y) * b.width);
  return *slot;
}

int64_t advance_of(Face& face, std::string_view cp1252) {
  int64_t w = 0;
  for (unsigned char c : cp1252) w += glyph_of(face, c).advance;
  return w;
}

}  // namespace

// fontconfig keeps a few blocks of its configuration to the end of the
// process where no pointer reaches them; the leak checker of the sanitizer
// builds is told so here, where every program that loads it gets it.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

bool load_fonts(std::string* reason) {
  Fonts& f = fonts();
  if (!f.loaded && reason) *reason = f.reason;
  return f.loaded;
}

TextMetrics font_metrics(const Font& font) {
  if (Face* face = face_of(font)) return face->metrics;
  return {FontMetrics::kAscent, FontMetrics::kHeight - FontMetrics::kAscent, 0};
}

int32_t text_width(const Font& font, std::string_view cp1252) {
  if (Face* face = face_of(font)) return int32_t(std::min<int64_t>(advance_of(*face, cp1252), INT32_MAX));
  return DC::text_width(cp1252);
}

void draw_text(DC& dc, const Font& font, Pt baseline, std::string_view cp1252) {
  Face* face = face_of(font);
  if (!face) return embedded_text(dc, font, baseline, cp1252);
  if (dc.background_mode() == BackgroundMode::Opaque) {
    int64_t right = baseline.x + advance_of(*face, cp1252);
    dc.fill_rect({coord(baseline.x), coord(int64_t(baseline.y) - face->metrics.ascent), coord(right),
                  coord(int64_t(baseline.y) + face->metrics.descent)},
                 Brush::solid(dc.background()));
  }
  Rect limit = dc.surface().bounds();
  int64_t x = baseline.x;
  for (unsigned char c : cp1252) {
    if (x >= limit.right + kMaxFontSize && !(font.style & kUnderline)) break;  // nothing more can show
    const Glyph& g = glyph_of(*face, c);
    if (!g.coverage.empty())
      dc.blend(x + g.left, int64_t(baseline.y) - g.top, g.width, g.height, g.coverage.data(), size_t(g.width));
    x += g.advance;
  }
  if (font.style & kUnderline) {
    int64_t top = int64_t(baseline.y) + face->underline_at;
    dc.fill_rect({coord(baseline.x), coord(top), coord(x), coord(top + face->underline_thickness)},
                 Brush::solid(dc.text_color()));
  }
}

std::vector<std::string> font_families() {
  std::vector<std::string> out;
  Fonts& f = fonts();
  if (!f.loaded) return out;
  FcPattern* all = f.FcPatternCreate();
  FcObjectSet* fields = f.FcObjectSetCreate();
  if (all && fields && f.FcObjectSetAdd(fields, FC_FAMILY)) {
    if (FcFontSet* set = f.FcFontList(f.config, all, fields)) {
      for (int i = 0; i < set->nfont; ++i) {
        FcChar8* name = nullptr;
        if (f.FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &name) != FcResultMatch || !name) continue;
        std::string cp1252;
        text::utf8_to_cp1252(reinterpret_cast<const char*>(name), cp1252,
                             {text::Malformed::Replace, text::Unmapped::Replace, '?'});
        out.push_back(std::move(cp1252));
      }
      f.FcFontSetDestroy(set);
    }
  }
  if (fields) f.FcObjectSetDestroy(fields);
  if (all) f.FcPatternDestroy(all);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

#else  // without the font headers: the embedded font for every family

bool load_fonts(std::string* reason) {
  if (reason) *reason = "built without FreeType and fontconfig";
  return false;
}
TextMetrics font_metrics(const Font&) {
  return {FontMetrics::kAscent, FontMetrics::kHeight - FontMetrics::kAscent, 0};
}
int32_t text_width(const Font&, std::string_view cp1252) { return DC::text_width(cp1252); }
void draw_text(DC& dc, const Font& font, Pt baseline, std::string_view cp1252) {
  embedded_text(dc, font, baseline, cp1252);
}
std::vector<std::string> font_families() { return {}; }

#endif

}  // namespace gfx
