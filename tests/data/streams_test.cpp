// Handle, buffer and edit streams, and the stream pairs that the reader and
// the printer select; the number syntax used by the string conversions.
#include <string>

#include "data/handles.hpp"
#include "data/numbers.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/streams.hpp"
#include "tests/core/fixture.hpp"

namespace {
using namespace core;
using core::testing::MachineTest;

class StreamTest : public MachineTest {
 protected:
  Value prim(const char* name) { return symbol_value(find_symbol(name)); }
  Value new_stream() { return call("new-handle-struct", make_fixnum(0), make_fixnum(0), kNil, kNil); }
  int32_t field(Value stream, int k) {
    int32_t w;
    std::memcpy(&w, rt().region.ptr(box_addr(stream)) + 4 * k, 4);
    return w;
  }
};

TEST_F(StreamTest, HandleStreamsGrowInSteps) {
  Value s = new_stream();
  for (int i = 0; i < 1025; ++i) call("handle-putc", make_fixnum('a' + i % 26), s);
  EXPECT_EQ(field(s, 0), 1025);  // position
  EXPECT_EQ(field(s, 1), 2048);  // capacity: grown twice
  Value h = call("adjust-handle-struct", s);
  EXPECT_EQ(call("get-handle-size", h), make_fixnum(1025));
  Value s2 = new_stream();
  Value p = call("new-ptr", make_fixnum(10));
  EXPECT_EQ(call("handle-write-block", s2, p, make_fixnum(10)), kNoValue);
  EXPECT_EQ(field(s2, 1), 10 + 1024);
  EXPECT_EQ(call("get-handle-size", call("adjust-handle-struct", s2)), make_fixnum(10));
  // A block that is not there is refused before anything is copied.
  EXPECT_EQ(error_of([&] { call("handle-write-block", new_stream(), p, make_fixnum(11)); }), 2);
}

TEST_F(StreamTest, PrintingIntoAndReadingFromAHandleStream) {
  Value s = new_stream();
  Value out = cons(prim("handle-putc"), s);
  call("display", cons(intern_static("a"), cons(make_string("b c"), kNil)), out);
  call("princ", make_real(2.5), out);
  EXPECT_EQ(field(s, 0), 14);
  std::string text(reinterpret_cast<char*>(rt().region.ptr(uint32_t(field(s, 2)))), 14);
  EXPECT_EQ(text, "(a \"b c\")\r2.5\r");
  // Read it back through a stream pair: the same handle from position 0.
  call("handle-set-pos", s, make_fixnum(0));
  // The stream ends where the text ends.
  int32_t cap = 14;
  std::memcpy(rt().region.ptr(box_addr(s)) + 4, &cap, 4);
  Value in = cons(prim("handle-getc"), s);
  Value first = call("read", in);
  EXPECT_EQ(data::print_to_text(first), "(a b c)");
  EXPECT_EQ(real_value(call("read", in)), 2.5);
  EXPECT_EQ(call("read", in), kNil);
  EXPECT_EQ(call("readch", in), make_fixnum(data::kEndOfInput));
}

TEST_F(StreamTest, BufferStreamsAndReadline) {
  Value p = call("new-ptr", make_fixnum(16));
  const char bytes[] = "one\n two\rthree";
  std::memcpy(rt().region.ptr(box_addr(p)), bytes, 14);
  Value b = call("new-buffer-struct", make_fixnum(0), make_fixnum(14), p);
  Value in = cons(prim("buffer-getc"), b);
  EXPECT_STREQ(string_text(call("readline", in)), "one two");
  EXPECT_STREQ(string_text(call("readline", in)), "three");
  EXPECT_EQ(call("readline", in), rt().empty_string);
  // A buffer that claims more bytes than its block holds is refused.
  EXPECT_EQ(error_of([&] { call("new-buffer-struct", make_fixnum(0), make_fixnum(17), p); }), 2);
  // A pair whose car is not a character primitive is refused too.
  EXPECT_EQ(error_of([&] { call("read", cons(make_fixnum(1), b)); }), 2);
}

TEST_F(StreamTest, EditInputEndsAfterItsLastByte) {
  Value p = call("new-ptr", make_fixnum(2));
  rt().region.ptr(box_addr(p))[0] = 'x';
  rt().region.ptr(box_addr(p))[1] = 'y';
  call("set-lecture", p, make_fixnum(2));
  EXPECT_EQ(box_addr(p), 0u);  // the box was taken over
  EXPECT_EQ(call("eof-lecture?"), kNil);
  EXPECT_EQ(call("editgetc"), make_fixnum('x'));
  EXPECT_EQ(call("editgetc"), make_fixnum('y'));
  EXPECT_EQ(call("editgetc"), make_fixnum(data::kEndOfInput));
  EXPECT_EQ(call("eof-lecture?"), rt().sym.t);
}

TEST_F(StreamTest, HandlesPurgeAndEmptyHandles) {
  uint32_t h = data::new_handle(0);
  EXPECT_NE(h, 0u);
  EXPECT_EQ(data::handle_size(h), 0u);
  EXPECT_EQ(error_of([&] { data::lock_handle(h); }), 60);
  uint32_t big = data::new_handle(20u << 20);
  ASSERT_NE(big, 0u);
  Value box = data::box_handle(big);
  call("hpurge", box);
  uint32_t other = data::new_handle(20u << 20);
  EXPECT_NE(other, 0u);
  EXPECT_EQ(data::handle_size(big), 0u);
  // A locked purgeable handle is never purged: the request fails instead.
  call("hnopurge", box);
  data::set_handle_size(big, 10);
  call("hpurge", box);
  data::lock_handle(big);
  EXPECT_EQ(data::new_handle(30u << 20), 0u);
  EXPECT_EQ(data::handle_size(big), 10u);
  // Disposed entries are reused; the old box no longer names a live handle.
  data::dispose_handle(other);
  call("dispose-handle", box);
  EXPECT_EQ(error_of([&] { call("get-handle-size", box); }), 2);
}

TEST(NumberSyntax, IntegerAndRealTexts) {
  int32_t n = 1;
  EXPECT_TRUE(data::parse_integer_text("  -2147483648 ", n));
  EXPECT_EQ(n, INT32_MIN);
  EXPECT_FALSE(data::parse_integer_text("2147483648", n));
  EXPECT_FALSE(data::parse_integer_text("+5", n));
  EXPECT_FALSE(data::parse_integer_text("12345678901", n));
  EXPECT_FALSE(data::parse_integer_text("", n));
  EXPECT_FALSE(data::parse_integer_text("-", n));
  EXPECT_TRUE(data::parse_integer_text("- ", n));
  EXPECT_EQ(n, 0);
  double d = 0;
  EXPECT_TRUE(data::parse_real_text("12e", '.', d));
  EXPECT_EQ(d, 12.0);
  EXPECT_TRUE(data::parse_real_text("1,5", ',', d));
  EXPECT_EQ(d, 1.5);
  EXPECT_FALSE(data::parse_real_text("1.5", ',', d));
  EXPECT_FALSE(data::parse_real_text("e5", '.', d));
  EXPECT_FALSE(data::parse_real_text("-", '.', d));
  EXPECT_TRUE(data::parse_real_text("-1e-3", '.', d));
  EXPECT_EQ(d, -0.001);
  EXPECT_EQ(data::format_real(3.0, ','), "3,0");
  EXPECT_EQ(data::format_real(1e20, '.'), "1e+20");
  EXPECT_EQ(data::format_real(0.1 + 0.2, '.'), "0.3");
}

}  // namespace
