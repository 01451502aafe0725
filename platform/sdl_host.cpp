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

// Text.

namespace {

// Code points of 0x80-0x9F; the unassigned codes stand for themselves.
constexpr uint16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

uint32_t code_point(uint8_t c) { return c >= 0x80 && c < 0xA0 ? kHigh[c - 0x80] : c; }

int code_of(uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return int(cp);
  for (int i = 0; i < 32; ++i)
    if (kHigh[i] == cp) return 0x80 + i;
  return -1;
}

void put_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

// The code point of the sequence at s[i], advancing i past it; -1 for a
// malformed sequence, advancing one byte.
int64_t next_code_point(std::string_view s, size_t& i) {
  uint8_t b = uint8_t(s[i]);
  if (b < 0x80) {
    ++i;
    return b;
  }
  int len = b >= 0xF0 && b <= 0xF4 ? 4 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xC2 && b <= 0xDF ? 2 : 0;
  if (len == 0 || i + size_t(len) > s.size()) {
    ++i;
    return -1;
  }
  uint32_t cp = b & (0x7F >> len);
  for (int k = 1; k < len; ++k) {
    uint8_t c = uint8_t(s[i + size_t(k)]);
    if ((c & 0xC0) != 0x80) {
      ++i;
      return -1;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  // Overlong forms, surrogates and code points past the last plane.
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return -1;
  }
  i += size_t(len);
  return cp;
}

}  // namespace

std::string cp1252_to_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (char c : text) put_utf8(out, code_point(uint8_t(c)));
  return out;
}

std::string utf8_to_cp1252(std::string_view utf8, char replacement) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    int64_t cp = next_code_point(utf8, i);
    int code = cp < 0 ? -1 : code_of(uint32_t(cp));
    if (code >= 0)
      out += char(code);
    else if (replacement)
      out += replacement;
  }
  return out;
}

// The clipboard.

std::string clipboard_to_host(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      lines += '\n';
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      lines += text[i];
    }
  }
  return cp1252_to_utf8(lines);
}

std::string clipboard_from_host(std::string_view utf8) {
  utf8 = utf8.substr(0, utf8.find('\0'));
  std::string text = utf8_to_cp1252(utf8, '?');
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      out += "\r\n";
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      out += text[i];
    }
  }
  return out;
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
