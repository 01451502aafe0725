// What the desktop back-end converts at the host boundary, without a
// display: keys to virtual keys, UTF-8 and code page 1252, the clipboard's
// line ends, and 1-bit cursors in the host's masks.
#include <gtest/gtest.h>

#include "platform/sdl_host.hpp"

namespace platform::host {
namespace {

// Keyboard usage numbers (as SDL numbers its scancodes).
enum : uint32_t {
  kA = 4, kM = 16, kQ = 20, k1 = 30, k0 = 39, kSemicolon = 51, kF1 = 58, kF13 = 104, kInsert = 73,
  kHome = 74, kPageUp = 75, kDelete = 76, kEnd = 77, kPageDown = 78, kRight = 79, kLeft = 80, kDown = 81,
  kUp = 82, kKpDivide = 84, kKpMultiply = 85, kKpEnter = 88, kKp1 = 89, kKp5 = 93, kKp0 = 98,
  kKpPeriod = 99, kLCtrl = 224, kLShift = 225, kLAlt = 226, kRCtrl = 228, kRShift = 229, kRAlt = 230,
};

void expect_key(uint32_t scancode, int32_t keycode, bool num_lock, uint16_t code, bool extended) {
  VirtualKey k = virtual_key(scancode, keycode, num_lock);
  EXPECT_EQ(k.code, code) << "scancode " << scancode << " num lock " << num_lock;
  EXPECT_EQ(k.extended, extended) << "scancode " << scancode << " num lock " << num_lock;
}

TEST(HostKeys, NavigationClusterAndRightModifiersAreExtended) {
  for (bool num : {false, true}) {
    expect_key(kInsert, 0, num, vk::Insert, true);
    expect_key(kDelete, 0, num, vk::Delete, true);
    expect_key(kHome, 0, num, vk::Home, true);
    expect_key(kEnd, 0, num, vk::End, true);
    expect_key(kPageUp, 0, num, vk::Prior, true);
    expect_key(kPageDown, 0, num, vk::Next, true);
    expect_key(kLeft, 0, num, vk::Left, true);
    expect_key(kUp, 0, num, vk::Up, true);
    expect_key(kRight, 0, num, vk::Right, true);
    expect_key(kDown, 0, num, vk::Down, true);
  }
  expect_key(kLCtrl, 0, false, vk::Control, false);
  expect_key(kRCtrl, 0, false, vk::Control, true);
  expect_key(kLAlt, 0, false, vk::Menu, false);
  expect_key(kRAlt, 0, false, vk::Menu, true);
  expect_key(kLShift, 0, false, vk::Shift, false);
  expect_key(kRShift, 0, false, vk::Shift, false);
}

TEST(HostKeys, KeypadFollowsNumLock) {
  // With Num Lock the digits; without it the navigation keys, which the
  // keypad sends without the extended flag.
  const uint16_t off[] = {vk::End, vk::Down, vk::Next, vk::Left, vk::Clear, vk::Right, vk::Home, vk::Up, vk::Prior};
  for (uint32_t i = 0; i < 9; ++i) {
    expect_key(kKp1 + i, 0, true, uint16_t(0x61 + i), false);
    expect_key(kKp1 + i, 0, false, off[i], false);
  }
  expect_key(kKp0, 0, true, 0x60, false);
  expect_key(kKp0, 0, false, vk::Insert, false);
  expect_key(kKpPeriod, 0, true, vk::Decimal, false);
  expect_key(kKpPeriod, 0, false, vk::Delete, false);
  expect_key(kKp5, 0, false, vk::Clear, false);
  // The keypad's Enter is Return with the extended flag; its divide key is
  // extended, its multiply key is not.
  expect_key(kKpEnter, 0, false, vk::Return, true);
  expect_key(kKpDivide, 0, true, vk::Divide, true);
  expect_key(kKpMultiply, 0, true, vk::Multiply, false);
  // A keypad key is never taken for the letter its layout might name.
  expect_key(kKp1, 'a', true, 0x61, false);
}

TEST(HostKeys, LettersFollowTheLayoutOtherKeysTheirPlace) {
  expect_key(kA, 'a', false, 'A', false);
  expect_key(kQ, 'a', false, 'A', false);         // the key that types a
  expect_key(kA, 'q', false, 'Q', false);
  expect_key(kSemicolon, 'm', false, 'M', false);  // where some layouts have M
  expect_key(kSemicolon, ';', false, vk::Oem1, false);
  expect_key(kM, 0x3C0, false, 'M', false);       // a letter outside Latin: its place
  expect_key(k1, '&', false, '1', false);         // digits keep their place
  expect_key(k0, 0xE0, false, '0', false);
  expect_key(kF1, 0, false, vk::F1, false);
  expect_key(kF1 + 11, 0, false, vk::F1 + 11, false);
  expect_key(kF13, 0, false, vk::F1 + 12, false);
  expect_key(0, 0, false, 0, false);               // no key
  expect_key(5000, 'a', false, 0, false);          // past every table
  expect_key(0xFFFFFFFFu, 0, true, 0, false);
}

TEST(HostClipboard, LineEndsAndCharactersConvertBothWays) {
  EXPECT_EQ(clipboard_to_host("one\rtwo\r\nthree\n\r"), "one\ntwo\nthree\n\n");
  EXPECT_EQ(clipboard_to_host("\r\r\n"), "\n\n");
  EXPECT_EQ(clipboard_to_host("na\xEFve \x80"), "na\xC3\xAFve \xE2\x82\xAC");
  EXPECT_EQ(clipboard_to_host(std::string_view("kept\0lost", 9)), "kept") << "the text ends at a zero byte";
  EXPECT_EQ(clipboard_from_host("one\ntwo\r\nthree\rfour"), "one\r\ntwo\r\nthree\r\nfour");
  EXPECT_EQ(clipboard_from_host("\r\n\r\n\n"), "\r\n\r\n\r\n") << "never doubled";
  EXPECT_EQ(clipboard_from_host("\xC3\xA9\xE2\x82\xAC\xE2\x98\x83"), "\xE9\x80?");
  EXPECT_EQ(clipboard_from_host(std::string_view("a\0b", 3)), "a");
  EXPECT_EQ(clipboard_from_host(""), "");
}

TEST(HostCursor, MasksMapToTheHostsFourCasesAndPaddingIsClear) {
  CursorImage image;
  image.width = 20, image.height = 2;  // rows of 4 bytes here, 3 for the host
  image.and_mask.assign(8, 0);
  image.xor_mask.assign(8, 0);
  // Row 0: black, white, screen, inverted screen; the rest black, with the
  // bits past the width black too (they must not show).
  image.and_mask[0] = 0x30;  // 0011 ....
  image.xor_mask[0] = 0x50;  // 0101 ....
  // Row 1: all screen.
  std::fill(image.and_mask.begin() + 4, image.and_mask.end(), 0xFF);
  HostCursor host;
  ASSERT_TRUE(host_cursor(image, host));
  EXPECT_EQ(host.width, 24);
  EXPECT_EQ(host.height, 2);
  ASSERT_EQ(host.data.size(), 6u);
  ASSERT_EQ(host.mask.size(), 6u);
  // Row 0: data 1001 1111..., mask 1100 1111...; pixels 20-23 clear.
  EXPECT_EQ(host.data[0], 0x9F);
  EXPECT_EQ(host.mask[0], 0xCF);
  EXPECT_EQ(host.data[1], 0xFF);
  EXPECT_EQ(host.data[2], 0xF0);
  EXPECT_EQ(host.mask[2], 0xF0);
  // Row 1: screen everywhere.
  for (int i = 3; i < 6; ++i) {
    EXPECT_EQ(host.data[size_t(i)], 0) << i;
    EXPECT_EQ(host.mask[size_t(i)], 0) << i;
  }

  CursorImage bad = image;
  bad.xor_mask.pop_back();
  EXPECT_FALSE(host_cursor(bad, host)) << "masks shorter than the size";
  bad = image;
  bad.width = 0;
  EXPECT_FALSE(host_cursor(bad, host));
  bad.width = 300, bad.height = 1;
  bad.and_mask.assign(bad.row_bytes(), 0);
  bad.xor_mask = bad.and_mask;
  EXPECT_FALSE(host_cursor(bad, host)) << "wider than any cursor";
}

}  // namespace
}  // namespace platform::host
