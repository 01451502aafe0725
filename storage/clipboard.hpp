// The clipboard: scrap types of the classic toolbox ("TEXT", "PICT",
// "tlmv", "LISP") over a store of clipboard formats, each holding one block
// laid out as the desktop's clipboard holds it (text and movie references
// zero-terminated, Lisp data and classic pictures behind a 4-byte size,
// device-independent bitmaps as they are). Reading a block never goes
// past it, whatever its size prefix or terminator say.
//
// The store lives in the process. The desktop's own clipboard is reached
// through one seam, the text mirror below, which the application layer
// connects to the window system: the store tells it every change of its
// text and asks it for text another program may have put there.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/module.hpp"

namespace storage {

// The clipboard formats of the store.
enum class ClipFormat { Text, Bitmap, MacPict, Movie, Lisp, Count };

// The names under which the private formats are registered with the
// desktop: "CF_MACPICT", "CF_TALVEN_MOVIE", "CF_TALVEN_LISP" (null for the
// standard text and bitmap formats).
const char* clip_format_name(ClipFormat f);

// The data a block of a format holds, read within the block only: a size
// prefix larger than the block is cut to it, text without its zero ends
// with the block.
std::vector<uint8_t> clipboard_block_data(ClipFormat f, std::span<const uint8_t> block);
// Whether picture data is a packed device-independent bitmap (an
// information header of 40 bytes, one plane, at most 32 bits per pixel);
// data shorter than the fields read is not.
bool packed_bitmap(std::span<const uint8_t> data);

// The text mirror. Texts are code page 1252, without the terminating zero;
// converting them for the desktop is the application layer's business.
struct TextMirror {
  // The store's text changed: `text` is the new text, or null when the
  // store no longer holds any (emptied, or another format replaced it).
  void (*text_changed)(const std::string* text) = nullptr;
  // Text the desktop holds that the store did not put there: true with
  // the text when there is some. Asked before the store answers for "TEXT".
  bool (*desktop_text)(std::string& out) = nullptr;
};
void set_text_mirror(const TextMirror& mirror);

// The text the store holds as "TEXT" answers it (text the desktop holds
// first): false when there is none. And text put on it as put-scrap puts
// "TEXT", replacing every format; the desktop hears of it.
bool clipboard_text(std::string& out);
void put_clipboard_text(std::string_view text);

extern const core::Module kClipboardModule;

}  // namespace storage
