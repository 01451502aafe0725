// Colours and cursors: the drawing colours of window objects (colour
// values are lists of three 16-bit components), the screen's depth and the
// colour chooser; the mouse cursor chosen by number, a standard one or a
// CURS resource converted to a platform cursor, and the watch while the
// collector runs.
#pragma once
#include <cstdint>
#include <optional>
#include <span>

#include "core/value.hpp"
#include "platform/backend.hpp"
#include "platform/window.hpp"

namespace shell {

// Registers the colour methods on obj-window, the primitives, and
// Background-Color.
void register_appearance(core::Value window_class);

// A CURS resource (16 rows of image, 16 of mask, the hot spot) as a
// platform cursor of 16 or 32 pixels a side: each pixel's AND bit is the
// complement of its mask bit and its XOR bit the image bit exclusive-or
// the mask bit; outside the resource's 16 x 16 the cursor is transparent.
// None for a resource shorter than 68 bytes or another size.
std::optional<platform::CursorImage> cursor_from_curs(std::span<const uint8_t> curs, int32_t size);

// The frame's message that brings back the cursor the application chose
// after the watch: true when it was that message.
bool cursor_message(platform::WindowSystem& ws, const platform::Message& m);

}  // namespace shell
