#include "data/charsets.hpp"

#include <iconv.h>

#include <cstring>
#include <set>

#include "data/handles.hpp"
#include "data/strings.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

using data::Charset;
using data::convert_char;

// One byte through the C library's converter: the converted byte, or -1 when
// the character has no counterpart.
int iconv_byte(const char* to, const char* from, uint8_t byte) {
  iconv_t cd = iconv_open(to, from);
  if (cd == iconv_t(-1)) return -2;
  char in[1] = {char(byte)};
  char out[8] = {};
  char* ip = in;
  char* op = out;
  size_t il = 1, ol = sizeof out;
  size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == size_t(-1) || sizeof out - ol != 1) return -1;
  return uint8_t(out[0]);
}

// The entries chosen on purpose instead of the converter's answer: the en
// dash goes to the soft hyphen, and the classic currency sign (where the
// converter has the euro sign) to the Windows currency sign.
const std::set<int> kMacChoices = {0xD0, 0xDB};
const std::set<int> kWindowsChoices = {0x80, 0x96, 0xA4, 0xAD};

bool kept_control(int c) { return c == 3 || c == 9 || c == 10 || c == 13; }

TEST(Charsets, MacToWindowsMatchesTheCLibraryEntryByEntry) {
  ASSERT_NE(iconv_byte("CP1252", "MACINTOSH", 'a'), -2) << "glibc converters missing";
  for (int b = 0; b < 256; ++b) {
    uint8_t ours = convert_char(Charset::MacToWindows, uint8_t(b));
    if (b < 32 || b == 127) {
      EXPECT_EQ(ours, kept_control(b) ? b : 0) << b;
      continue;
    }
    if (kMacChoices.count(b)) continue;
    int theirs = iconv_byte("CP1252", "MACINTOSH", uint8_t(b));
    EXPECT_EQ(int(ours), theirs < 0 ? 0 : theirs) << std::hex << b;
  }
  EXPECT_EQ(convert_char(Charset::MacToWindows, 0xD0), 0xAD);
  EXPECT_EQ(convert_char(Charset::MacToWindows, 0xDB), 0xA4);
}

TEST(Charsets, WindowsToMacMatchesTheCLibraryEntryByEntry) {
  for (int w = 0; w < 256; ++w) {
    uint8_t ours = convert_char(Charset::WindowsToMac, uint8_t(w));
    if (w < 32 || w == 127) {
      EXPECT_EQ(ours, kept_control(w) ? w : 0) << w;
      continue;
    }
    if (kWindowsChoices.count(w)) continue;
    int theirs = iconv_byte("MACINTOSH", "CP1252", uint8_t(w));
    EXPECT_EQ(int(ours), theirs < 0 ? 0 : theirs) << std::hex << w;
  }
  EXPECT_EQ(convert_char(Charset::WindowsToMac, 0xA4), 0xDB);
  EXPECT_EQ(convert_char(Charset::WindowsToMac, 0xAD), 0xD0);
  EXPECT_EQ(convert_char(Charset::WindowsToMac, 0x80), 0);
  EXPECT_EQ(convert_char(Charset::WindowsToMac, 0x96), 0);
}

TEST(Charsets, EveryCharacterWithACounterpartConvertsBothWays) {
  for (int b = 0; b < 256; ++b) {
    uint8_t w = convert_char(Charset::MacToWindows, uint8_t(b));
    if (w != 0) {
      EXPECT_EQ(convert_char(Charset::WindowsToMac, w), b) << std::hex << b;
    }
    uint8_t m = convert_char(Charset::WindowsToMac, uint8_t(b));
    if (m != 0) {
      EXPECT_EQ(convert_char(Charset::MacToWindows, m), b) << std::hex << b;
    }
  }
}

TEST(Charsets, TheBytesWithoutACounterpart) {
  std::set<int> mac, windows;
  for (int c = 128; c < 256; ++c) {
    if (convert_char(Charset::MacToWindows, uint8_t(c)) == 0) mac.insert(c);
    if (convert_char(Charset::WindowsToMac, uint8_t(c)) == 0) windows.insert(c);
  }
  EXPECT_EQ(mac, (std::set<int>{0xAD, 0xB0, 0xB2, 0xB3, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xBD, 0xC3, 0xC5, 0xC6,
                                0xD7, 0xDA, 0xDE, 0xDF, 0xF0, 0xF5, 0xF9, 0xFA, 0xFB, 0xFD, 0xFE, 0xFF}));
  EXPECT_EQ(windows, (std::set<int>{0x80, 0x81, 0x8A, 0x8D, 0x8E, 0x8F, 0x90, 0x96, 0x9A, 0x9D, 0x9E, 0xA6, 0xB2,
                                    0xB3, 0xB9, 0xBC, 0xBD, 0xBE, 0xD0, 0xD7, 0xDD, 0xDE, 0xF0, 0xFD, 0xFE}));
}

TEST(Charsets, IsoToMacAgreesWithTheCLibraryWhereItHasAnEntry) {
  const std::set<int> none = {0xA4, 0xA6, 0xA8, 0xAA, 0xAD, 0xAF, 0xB2, 0xB3, 0xB5, 0xB7, 0xB8, 0xB9, 0xBC, 0xBD,
                              0xBE, 0xBF, 0xD0, 0xD1, 0xD2, 0xD3, 0xD4, 0xD7, 0xD9, 0xDA, 0xDB, 0xDD, 0xDE, 0xDF,
                              0xF0, 0xFD, 0xFE, 0xFF};
  for (int i = 0; i < 256; ++i) {
    uint8_t ours = convert_char(Charset::IsoToMac, uint8_t(i));
    if (i < 32 || i == 127) {
      EXPECT_EQ(ours, i == 9 || i == 10 || i == 13 ? i : 0) << i;
    } else if ((i >= 0x80 && i <= 0xA1) || none.count(i)) {
      EXPECT_EQ(ours, 0) << std::hex << i;
    } else if (i == 0xBA) {
      EXPECT_EQ(ours, 0xA1);
    } else {
      EXPECT_EQ(int(ours), iconv_byte("MACINTOSH", "ISO-8859-1", uint8_t(i))) << std::hex << i;
    }
  }
}

class CharsetNatives : public NativeCallTest {
 protected:
  // A pointer box over a fresh pointer block holding the bytes.
  Value block(const std::string& bytes, uint32_t size) {
    Addr a = data::new_pointer(size);
    std::memcpy(at_addr(a), bytes.data(), bytes.size());
    return box_address(a, 0);
  }
  std::string bytes(Value p, size_t n) { return std::string(reinterpret_cast<char*>(at_addr(box_addr(p))), n); }
};

TEST_F(CharsetNatives, MacToIbmExpandsLineEndsInPlace) {
  Value p = block("a\rb", 4);
  EXPECT_EQ(callv("mac->ibm", {p, fix(4), fix(3), kNil}), fix(4));
  EXPECT_EQ(bytes(p, 4), "a\r\nb");
  // Already converted: a line feed leaves the text alone.
  EXPECT_EQ(callv("mac->ibm", {p, fix(4), fix(4), kNil}), fix(4));
  EXPECT_EQ(bytes(p, 4), "a\r\nb");

  Value q = block("a\rb", 4);
  EXPECT_TRUE(callv("mac->ibm", {q, fix(3), fix(3), kNil}).is_nil());
  EXPECT_EQ(bytes(q, 3), "a\rb");

  Value r = block("\x8E\r\x01", 8);
  EXPECT_EQ(text(callv("mac->ibm", {r, fix(8), fix(3), kNil})), "(1)");
  // A character without a counterpart leaves the whole text as it was.
  EXPECT_EQ(bytes(r, 3), "\x8E\r\x01");
  EXPECT_EQ(callv("mac->ibm", {r, fix(8), fix(3), t()}), fix(4));
  EXPECT_EQ(bytes(r, 4), "\xE9\r\n\x01");

  Value s = block("x\xB0y", 3);
  EXPECT_EQ(text(callv("mac->ibm", {s, fix(3), fix(3), t()})), "(176)");
  EXPECT_EQ(bytes(s, 3), "x\xB0y");
}

TEST_F(CharsetNatives, IbmToMacDropsLineFeeds) {
  Value p = block("\xE9\r\nx\n\x80", 8);
  EXPECT_EQ(callv("ibm->mac", {p, kNil, fix(6)}), fix(4));
  EXPECT_EQ(bytes(p, 4), std::string("\x8E\rx\0", 4));
}

TEST_F(CharsetNatives, SkippingLeavesEncodedTokensIntact) {
  // Byte 8 opens a three-byte token, byte 11 a two-byte one, byte 1 stands
  // alone; their operand bytes must not be converted.
  std::string code = "\x08\x8E\x8E\x0B\x8E\x01\x8E";
  Value p = block(code, 8);
  EXPECT_TRUE(callv("mac->ibm-ptr", {p, fix(7), t()}).is_nil());
  EXPECT_EQ(bytes(p, 7), "\x08\x8E\x8E\x0B\x8E\x01\xE9");
  Value q = block(code, 8);
  EXPECT_EQ(callv("mac->ibm-ptr", {q, fix(7), kNil}), fix(8));
  EXPECT_EQ(bytes(q, 7), "\x08\xE9\xE9\x0B\xE9\x01\xE9");
  // A token that runs past the count stops at the count.
  Value r = block("\x08\x8E", 2);
  EXPECT_TRUE(callv("mac->ibm-ptr", {r, fix(2), t()}).is_nil());

  Value iso = block("\xE9\x01\xD1z", 4);
  EXPECT_EQ(text(callv("iso->mac", {iso, kNil, fix(4), t()})), "(209)");
  EXPECT_EQ(bytes(iso, 4), "\x8E\x01\xD1z");
  Value iso2 = block("\xE9z", 2);
  EXPECT_EQ(callv("iso->mac", {iso2, kNil, fix(2), kNil}), fix(2));
}

TEST_F(CharsetNatives, StringConversions) {
  EXPECT_EQ(text(callv("mac->ibm-string", {str("caf\x8E")})), "caf\xE9");
  EXPECT_TRUE(callv("mac->ibm-string", {str("a\xB0")}).is_nil());
  EXPECT_EQ(text(callv("ibm->mac-string", {str("caf\xE9")})), "caf\x8E");
  EXPECT_TRUE(callv("ibm->mac-string", {str("\x80")}).is_nil());
  EXPECT_EQ(callv("ibm->mac-string", {str("")}), rt().empty_string);
}

TEST_F(CharsetNatives, PointerTexts) {
  Value p = block("\x03" "abcdef", 16);
  EXPECT_EQ(text(callv("ptr->string", {p})), "abc");
  EXPECT_EQ(text(callv("text->string", {p, fix(4)})), "\x03" "abc");
  EXPECT_EQ(callv("put-string", {str("hello"), p}), kNoValue);
  EXPECT_EQ(bytes(p, 6), "\x05hello");
  EXPECT_EQ(callv("put-string-text", {sym("xy"), p}), kNoValue);
  EXPECT_EQ(bytes(p, 6), "xyello");
  std::string culprit;
  EXPECT_EQ(error_in([&] { callv("text->string", {p, fix(32001)}); }, &culprit), 2);
  EXPECT_EQ(culprit, "32001");

  // A long string is cut to 255 characters.
  Value big = block("", 300);
  callv("put-string", {data::new_string(std::string(400, 'z')), big});
  EXPECT_EQ(uint8_t(bytes(big, 1)[0]), 255);
  EXPECT_EQ(text(callv("ptr->string", {big})), std::string(255, 'z'));
}

TEST_F(CharsetNatives, MemoryOutsideALiveBlockIsError2) {
  Value small = block("abc", 8);
  EXPECT_EQ(error_of([&] { callv("text->string", {small, fix(100)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("put-string", {data::new_string(std::string(40, 'q')), small}); }), 2);
  EXPECT_EQ(error_of([&] { callv("mac->ibm-ptr", {small, fix(9), kNil}); }), 2);
  EXPECT_EQ(error_of([&] { callv("ibm->mac", {box_address(0), kNil, fix(1)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("ibm->mac", {box_address(Region::kReserve - 64), kNil, fix(1)}); }), 2);
  EXPECT_EQ(error_of([&] { callv("ptr->string", {str("abc")}); }), 2);
  EXPECT_EQ(error_of([&] { callv("mac->ibm-ptr", {small, fix(-1), kNil}); }), 2);
  // The expansion must fit the block, whatever capacity is claimed.
  Value tight = block("\r\r\r\r", 4);
  EXPECT_EQ(error_of([&] { callv("mac->ibm", {tight, fix(1000), fix(4), kNil}); }), 2);
  data::dispose_pointer(box_addr(small));
  EXPECT_EQ(error_of([&] { callv("text->string", {small, fix(1)}); }), 2);
}

}  // namespace
}  // namespace core::testing
