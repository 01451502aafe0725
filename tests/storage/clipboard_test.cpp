// The clipboard store natively: blocks read within their bounds, and the
// text mirror that the desktop's clipboard will hang on.
#include "storage/clipboard.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "data/handles.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {
using namespace storage;

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

TEST(ClipboardBlocks, ReadsStayInsideTheBlock) {
  // A size prefix larger than the block is cut to the block.
  EXPECT_EQ(clipboard_block_data(ClipFormat::Lisp, bytes(std::string("\xFF\xFF\xFF\x7F" "abc", 7))), bytes("abc"));
  EXPECT_EQ(clipboard_block_data(ClipFormat::MacPict, bytes(std::string("\x02\x00\x00\x00" "abc", 7))), bytes("ab"));
  EXPECT_EQ(clipboard_block_data(ClipFormat::Lisp, bytes(std::string("\x05\x00", 2))), bytes(""));
  // Text without its zero ends with the block.
  EXPECT_EQ(clipboard_block_data(ClipFormat::Text, bytes("no zero")), bytes("no zero"));
  EXPECT_EQ(clipboard_block_data(ClipFormat::Movie, bytes(std::string("ab\0cd", 5))), bytes("ab"));
  // A bitmap block is all of it, however short.
  EXPECT_EQ(clipboard_block_data(ClipFormat::Bitmap, bytes("(\0\0")), bytes("(\0\0"));
  std::vector<uint8_t> header(40, 0);
  header[0] = 40;
  header[12] = 1;
  header[14] = 24;
  EXPECT_TRUE(packed_bitmap(header));
  EXPECT_TRUE(packed_bitmap(std::span(header).first(16)));
  EXPECT_FALSE(packed_bitmap(std::span(header).first(15)));
  header[14] = 33;
  EXPECT_FALSE(packed_bitmap(header));
  EXPECT_STREQ(clip_format_name(ClipFormat::Lisp), "CF_TALVEN_LISP");
  EXPECT_EQ(clip_format_name(ClipFormat::Text), nullptr);
}

std::vector<std::string> g_told;
std::string g_desktop;

class Clipboard : public NativeCallTest {
 protected:
  void SetUp() override {
    NativeCallTest::SetUp();
    g_told.clear();
    g_desktop.clear();
    TextMirror m;
    m.text_changed = [](const std::string* text) { g_told.push_back(text ? "text:" + *text : "none"); };
    m.desktop_text = [](std::string& out) {
      if (g_desktop.empty()) return false;
      out = g_desktop;
      return true;
    };
    set_text_mirror(m);
  }
  void TearDown() override {
    set_text_mirror({});
    NativeCallTest::TearDown();
  }
  std::string scrap(const char* type) {
    Value h = call("get-scrap", str(type));
    if (h.is_nil()) return "<none>";
    uint32_t n = data::handle_size(box_addr(h));
    return n ? std::string(reinterpret_cast<const char*>(rt().region.ptr(data::handle_memory(box_addr(h)))), n) : "";
  }
};

TEST_F(Clipboard, TheTextMirrorHearsEveryChangeOfText) {
  call("put-scrap", str("TEXT"), str("first"), kNil);
  call("put-scrap", str("LISP"), str("(x)"), t());  // text unchanged: nothing told
  call("put-scrap", str("LISP"), str("(y)"), kNil);  // emptied: the text is gone
  call("put-scrap", str("LISP"), str("(z)"), kNil);  // no text to lose
  EXPECT_EQ(g_told, (std::vector<std::string>{"text:first", "none"}));
  // Text put on the desktop by another program replaces the store.
  g_desktop = "from elsewhere";
  EXPECT_EQ(scrap("TEXT"), "from elsewhere");
  EXPECT_EQ(scrap("LISP"), "<none>");
  // The store's own text, echoed by the desktop, changes nothing.
  call("put-scrap", str("TEXT"), str("mine"), kNil);
  call("put-scrap", str("LISP"), str("(w)"), t());
  g_desktop = "mine";
  EXPECT_EQ(scrap("TEXT"), "mine");
  EXPECT_EQ(scrap("LISP"), "(w)");
}

}  // namespace
}  // namespace core::testing
