// Classic pictures (versions 1 and 2) and device-independent bitmaps drawn
// into a destination rectangle of a drawing surface.
//
// Every byte of a picture is read through one core::ByteReader over the
// picture's block, so a picture that lies about its lengths stops drawing
// where its bytes end; what was drawn before stays.
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "core/value.hpp"
#include "platform/gfx/dc.hpp"

namespace media {

enum class PictStatus : uint8_t {
  Drawn,         // drawn up to the end opcode or the first opcode outside the subset
  NotAPicture,   // neither a bitmap nor a picture header: nothing drawn
  BitmapFailed,  // a bitmap record could not be decoded or drawn (error 9 follows)
};

// Where the drawing of a picture stopped before its end opcode, when it
// did: the offset of the opcode it could not take in the picture's bytes,
// and why.
struct PictStop {
  enum class Why : uint8_t { None, CutShort, UnknownOpcode } why = Why::None;
  size_t offset = 0;
  unsigned opcode = 0;
};

struct PictOptions {
  // Background colour of the surface (RGB), for erasing and transparent drawing.
  uint32_t background = 0xFFFFFF;
  // Told where the drawing stopped early, when given.
  PictStop* stop = nullptr;
};

// The picture's frame (top, left, bottom, right from bytes 2-9), or for a
// device-independent bitmap its own size; nothing for a block that is
// neither.
std::optional<gfx::Rect> picture_frame(std::span<const uint8_t> pic);

// Whether the block starts as a picture of version 1 or 2 does (not a
// bitmap).
bool is_picture(std::span<const uint8_t> pic);

// Drops the 512-byte header of a picture file; a block that already starts
// with a picture (a resource) is answered as it is.
std::span<const uint8_t> strip_file_header(std::span<const uint8_t> file);

PictStatus draw_picture(gfx::DC& dc, std::span<const uint8_t> pic, gfx::Rect dest,
                        const PictOptions& options = {});

// Draws the picture held by the handle box `box`. Nothing allocates while
// it draws, so the block stays where it is; a bitmap that could not be
// drawn signals error 9 once the drawing has ended. Error 2 for a box that
// is not a live handle.
PictStatus draw_picture_handle(gfx::DC& dc, core::Value box, gfx::Rect dest, const PictOptions& options = {});

// The colour of three 16-bit components as drawn on `surface`: the high
// bytes directly, or for an 8-bit surface snapped onto the palette's grid
// and then the nearest palette entry.
gfx::Pixel picture_color(const gfx::Surface& surface, uint16_t red, uint16_t green, uint16_t blue);
// The snapping of a colour onto the palette's grid (RGB in, RGB out).
uint32_t snap_to_palette_grid(uint32_t rgb);
// The 256 colours of the runtime's palette for 8-bit screens.
std::array<uint32_t, 256> standard_palette();

}  // namespace media
