// What the desktop back-end converts at the host boundary, kept apart from
// SDL so that it builds and is tested everywhere: the host keyboard's keys
// as the desktop's virtual keys, text between the host's UTF-8 and our code
// page 1252, the clipboard's line ends, and 1-bit cursors in the host's
// masks.
//
// Scancodes are the keyboard's USB usage numbers, which is how SDL numbers
// them; keycodes are the layout's character for a key (lower-case letters
// for letter keys). Nothing here keeps state.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/backend.hpp"
#include "text/codec.hpp"

namespace platform::host {

// Virtual-key codes the back-end produces beyond the plain characters.
namespace vk {
enum : uint16_t {
  Back = 0x08, Tab = 0x09, Clear = 0x0C, Return = 0x0D, Shift = 0x10, Control = 0x11, Menu = 0x12,
  Pause = 0x13, Capital = 0x14, Escape = 0x1B, Space = 0x20, Prior = 0x21, Next = 0x22, End = 0x23,
  Home = 0x24, Left = 0x25, Up = 0x26, Right = 0x27, Down = 0x28, Snapshot = 0x2C, Insert = 0x2D,
  Delete = 0x2E, Help = 0x2F, LWin = 0x5B, RWin = 0x5C, Apps = 0x5D, Numpad0 = 0x60, Multiply = 0x6A,
  Add = 0x6B, Subtract = 0x6D, Decimal = 0x6E, Divide = 0x6F, F1 = 0x70, NumLock = 0x90, Scroll = 0x91,
  VolumeMute = 0xAD, VolumeDown = 0xAE, VolumeUp = 0xAF, MediaNext = 0xB0, MediaPrev = 0xB1,
  MediaStop = 0xB2, MediaPlayPause = 0xB3, Oem1 = 0xBA, OemPlus = 0xBB, OemComma = 0xBC,
  OemMinus = 0xBD, OemPeriod = 0xBE, Oem2 = 0xBF, Oem3 = 0xC0, Oem4 = 0xDB, Oem5 = 0xDC, Oem6 = 0xDD,
  Oem7 = 0xDE, Oem102 = 0xE2,
  // A character typed without a key of its own (an input method's text).
  Packet = 0xE7,
};
}  // namespace vk

struct VirtualKey {
  uint16_t code = 0;      // 0: the key has no virtual key and is ignored
  bool extended = false;  // the extended-key flag
};

// The virtual key of a host key. Letter keys follow the layout (the key
// that types 'a' is 'A' wherever it sits); every other key follows its
// place on the keyboard. The keypad's digits and point are the digit keys
// with Num Lock on and the navigation keys (not extended) with it off.
VirtualKey virtual_key(uint32_t scancode, int32_t keycode, bool num_lock);

// How text from the host becomes code page 1252 (text/codec.hpp): a
// character the page lacks, and each byte of a malformed sequence, becomes
// '?' on the clipboard; typed text drops them.
inline constexpr text::ToCp1252 kFromHost{text::Malformed::Replace, text::Unmapped::Replace, '?'};
inline constexpr text::ToCp1252 kTyped{text::Malformed::Drop, text::Unmapped::Drop, '?'};

// The clipboard's text: ours is code page 1252 up to its first zero byte,
// lines ended by CR LF or a lone CR; the host's is UTF-8 with LF. Incoming
// lines end with CR LF, as the desktop's text format holds them.
std::string clipboard_to_host(std::string_view cp1252);
std::string clipboard_from_host(std::string_view utf8);

// A 1-bit cursor in the host's two masks: rows of width / 8 bytes, most
// significant bit leftmost; data 1 and mask 1 is black, data 0 and mask 1
// white, both 0 transparent, data 1 and mask 0 inverts the screen. The
// width is the cursor's rounded up to whole bytes, the padding transparent.
struct HostCursor {
  int32_t width = 0, height = 0;
  std::vector<uint8_t> data, mask;
};
// False for an image whose masks do not match its size.
bool host_cursor(const CursorImage& image, HostCursor& out);

}  // namespace platform::host
