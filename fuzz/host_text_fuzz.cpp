// libFuzzer target: arbitrary bytes as text and cursors coming from the
// desktop. The clipboard's UTF-8 and typed text are converted to code page
// 1252 without reading outside the input, and every code page 1252 text
// survives the trip to the desktop and back; arbitrary sizes and masks make
// a 1-bit cursor or are refused.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/sdl_host.hpp"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::string pasted = host::clipboard_from_host(bytes);
  // What came in has only CR LF line ends and no zero byte.
  for (size_t i = 0; i < pasted.size(); ++i) {
    if (pasted[i] == '\0' || (pasted[i] == '\n' && (i == 0 || pasted[i - 1] != '\r'))) __builtin_trap();
    if (pasted[i] == '\r' && (i + 1 == pasted.size() || pasted[i + 1] != '\n')) __builtin_trap();
  }
  std::string typed, back;
  text::utf8_to_cp1252(bytes, typed, host::kTyped);
  // Any code page 1252 bytes go out and come back.
  if (!text::utf8_to_cp1252(text::cp1252_to_utf8(bytes), back).clean() || back != bytes) __builtin_trap();
  if (host::clipboard_from_host(host::clipboard_to_host(pasted)) != pasted) __builtin_trap();

  if (size >= 6) {
    CursorImage image;
    image.width = int8_t(data[0]) * 3, image.height = int8_t(data[1]) * 3;
    image.hot = {int8_t(data[2]), int8_t(data[3])};
    size_t half = (size - 4) / 2;
    image.and_mask.assign(data + 4, data + 4 + half);
    image.xor_mask.assign(data + 4 + half, data + 4 + 2 * half);
    host::HostCursor cursor;
    if (host::host_cursor(image, cursor) &&
        (cursor.data.size() != size_t(cursor.width / 8) * size_t(cursor.height) || cursor.width % 8 != 0))
      __builtin_trap();
  }
  uint32_t scancode = size >= 4 ? uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 : 0;
  host::virtual_key(scancode, size >= 5 ? int8_t(data[3]) : 0, size % 2);
  return 0;
}
