// PNG files of surfaces: screenshots and golden images.
//
// Writing goes to a temporary file beside the target that is renamed over
// it, so a PNG on disk is always whole. Reading accepts any PNG within the
// surface size limit and gives an XRGB surface (alpha dropped, grey and
// palette images expanded); it reads only within the bytes it is given.
#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/gfx/surface.hpp"

namespace gfx {

// The PNG encoding of a surface (8-bit RGB); empty, with the reason in
// *error, when it cannot be made. The PNG library is loaded at the first
// PNG read or written.
std::vector<uint8_t> encode_png(const Surface& s, std::string* error = nullptr);
// Writes the surface; false with a message in *error when that failed.
bool write_png(const Surface& s, const std::string& path, std::string* error = nullptr);

std::optional<Surface> decode_png(std::span<const uint8_t> bytes, std::string* error = nullptr);
std::optional<Surface> read_png(const std::string& path, std::string* error = nullptr);

}  // namespace gfx
