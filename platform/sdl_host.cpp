#include "platform/sdl_host.hpp"

#include <array>

namespace platform::host {

// Keys.

namespace {

// Keyboard usage numbers of the keys with names of their own.
enum Usage : uint32_t {
  kA = 4, kZ = 29, k1 = 30, k9 = 38, k0 = 39, kReturn = 40, kEscape = 41, kBackspace = 42, kTab = 43,
  kSpace = 44, kMinus = 45, kEquals = 46, kLeftBracket = 47, kRightBracket = 48, kBackslash = 49,
  kNonUsHash = 50, kSemicolon = 51, kApostrophe = 52, kGrave = 53, kComma = 54, kPeriod = 55,
  kSlash = 56, kCapsLock = 57, kF1 = 58, kF12 = 69, kPrintScreen = 70, kScrollLock = 71, kPause = 72,
  kInsert = 73, kHome = 74, kPageUp = 75, kDelete = 76, kEnd = 77, kPageDown = 78, kRight = 79,
  kLeft = 80, kDown = 81, kUp = 82, kNumLock = 83, kKpDivide = 84, kKpMultiply = 85, kKpMinus = 86,
  kKpPlus = 87, kKpEnter = 88, kKp1 = 89, kKp9 = 97, kKp0 = 98, kKpPeriod = 99, kNonUsBackslash = 100,
  kApplication = 101, kF13 = 104, kF24 = 115, kHelp = 117, kMenu = 118, kMute = 127, kVolumeUp = 128,
  kVolumeDown = 129, kLCtrl = 224, kLShift = 225, kLAlt = 226, kLGui = 227, kRCtrl = 228,
  kRShift = 229, kRAlt = 230, kRGui = 231, kAudioNext = 258, kAudioPrev = 259, kAudioStop = 260,
  kAudioPlay = 261, kAudioMute = 262,
};

struct Entry {
  uint16_t code = 0;
  bool extended = false;
};

constexpr uint32_t kTableSize = 263;

constexpr std::array<Entry, kTableSize> make_table() {
  std::array<Entry, kTableSize> t{};
  for (uint32_t u = kA; u <= kZ; ++u) t[u] = {uint16_t('A' + (u - kA)), false};
  for (uint32_t u = k1; u <= k9; ++u) t[u] = {uint16_t('1' + (u - k1)), false};
  t[k0] = {'0', false};
  for (uint32_t u = kF1; u <= kF12; ++u) t[u] = {uint16_t(vk::F1 + (u - kF1)), false};
  for (uint32_t u = kF13; u <= kF24; ++u) t[u] = {uint16_t(vk::F1 + 12 + (u - kF13)), false};
  auto plain = [&](uint32_t u, uint16_t code) { t[u] = {code, false}; };
  auto ext = [&](uint32_t u, uint16_t code) { t[u] = {code, true}; };
  plain(kReturn, vk::Return), plain(kEscape, vk::Escape), plain(kBackspace, vk::Back);
  plain(kTab, vk::Tab), plain(kSpace, vk::Space), plain(kMinus, vk::OemMinus);
  plain(kEquals, vk::OemPlus), plain(kLeftBracket, vk::Oem4), plain(kRightBracket, vk::Oem6);
  plain(kBackslash, vk::Oem5), plain(kNonUsHash, vk::Oem5), plain(kSemicolon, vk::Oem1);
  plain(kApostrophe, vk::Oem7), plain(kGrave, vk::Oem3), plain(kComma, vk::OemComma);
  plain(kPeriod, vk::OemPeriod), plain(kSlash, vk::Oem2), plain(kCapsLock, vk::Capital);
  ext(kPrintScreen, vk::Snapshot), plain(kScrollLock, vk::Scroll), plain(kPause, vk::Pause);
  ext(kInsert, vk::Insert), ext(kHome, vk::Home), ext(kPageUp, vk::Prior), ext(kDelete, vk::Delete);
  ext(kEnd, vk::End), ext(kPageDown, vk::Next), ext(kRight, vk::Right), ext(kLeft, vk::Left);
  ext(kDown, vk::Down), ext(kUp, vk::Up), ext(kNumLock, vk::NumLock), ext(kKpDivide, vk::Divide);
  plain(kKpMultiply, vk::Multiply), plain(kKpMinus, vk::Subtract), plain(kKpPlus, vk::Add);
  ext(kKpEnter, vk::Return), plain(kNonUsBackslash, vk::Oem102), ext(kApplication, vk::Apps);
  plain(kHelp, vk::Help), ext(kMenu, vk::Apps);
  ext(kMute, vk::VolumeMute), ext(kVolumeUp, vk::VolumeUp), ext(kVolumeDown, vk::VolumeDown);
  plain(kLCtrl, vk::Control), plain(kLShift, vk::Shift), plain(kLAlt, vk::Menu), ext(kLGui, vk::LWin);
  ext(kRCtrl, vk::Control), plain(kRShift, vk::Shift), ext(kRAlt, vk::Menu), ext(kRGui, vk::RWin);
  ext(kAudioNext, vk::MediaNext), ext(kAudioPrev, vk::MediaPrev), ext(kAudioStop, vk::MediaStop);
  ext(kAudioPlay, vk::MediaPlayPause), ext(kAudioMute, vk::VolumeMute);
  return t;
}

constexpr std::array<Entry, kTableSize> kKeys = make_table();

// The keypad from 1 to 9, then 0 and the point, with Num Lock off.
constexpr uint16_t kKeypadNavigation[11] = {vk::End,   vk::Down,  vk::Next, vk::Left,   vk::Clear, vk::Right,
                                            vk::Home,  vk::Up,    vk::Prior, vk::Insert, vk::Delete};

}  // namespace

VirtualKey virtual_key(uint32_t scancode, int32_t keycode, bool num_lock) {
  if (scancode >= kKp1 && scancode <= kKpPeriod) {
    uint32_t i = scancode - kKp1;
    if (!num_lock) return {kKeypadNavigation[i], false};
    if (scancode == kKpPeriod) return {vk::Decimal, false};
    return {uint16_t(vk::Numpad0 + (scancode == kKp0 ? 0 : i + 1)), false};
  }
  // Keys of the main block that type a letter in this layout are that letter.
  bool main_block = scancode >= kA && scancode <= kSlash && scancode != kReturn && scancode != kEscape &&
                    scancode != kBackspace && scancode != kTab && scancode != kSpace;
  if ((main_block || scancode == kNonUsBackslash) && keycode >= 'a' && keycode <= 'z')
    return {uint16_t(keycode - 'a' + 'A'), false};
  if (scancode >= kTableSize) return {};
  return {kKeys[scancode].code, kKeys[scancode].extended};
}

// The clipboard.

std::string clipboard_to_host(std::string_view cp1252) {
  cp1252 = cp1252.substr(0, cp1252.find('\0'));
  return text::cp1252_to_utf8(text::convert_line_ends(cp1252, text::LineEnd::LF));
}

std::string clipboard_from_host(std::string_view utf8) {
  utf8 = utf8.substr(0, utf8.find('\0'));
  std::string cp1252;
  text::utf8_to_cp1252(utf8, cp1252, kFromHost);
  return text::convert_line_ends(cp1252, text::LineEnd::CRLF);
}

// Cursors.

bool host_cursor(const CursorImage& image, HostCursor& out) {
  if (!image.valid()) return false;
  out.width = (image.width + 7) / 8 * 8;
  out.height = image.height;
  size_t row = size_t(out.width / 8), src_row = image.row_bytes();
  out.data.assign(row * size_t(out.height), 0);
  out.mask.assign(row * size_t(out.height), 0);
  for (int32_t y = 0; y < image.height; ++y)
    for (int32_t x = 0; x < image.width; ++x) {
      size_t at = size_t(y) * src_row + size_t(x / 8);
      uint8_t bit = uint8_t(0x80 >> (x % 8));
      bool and_bit = image.and_mask[at] & bit, xor_bit = image.xor_mask[at] & bit;
      size_t to = size_t(y) * row + size_t(x / 8);
      if (and_bit == xor_bit) out.data[to] |= bit;
      if (!and_bit) out.mask[to] |= bit;
    }
  return true;
}

}  // namespace platform::host
