// libFuzzer target: arbitrary bytes as an input script. The parser either
// refuses with a message naming the script and a line that exists, or
// gives actions whose fields stay in their ranges; then the actions are
// carried out on a headless frame, which must neither crash nor read
// outside what it was given.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/window.hpp"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  InputScript script;
  std::string error;
  if (!parse_input_script(text, "f", script, error)) {
    if (error.rfind("f:", 0) != 0) __builtin_trap();
    return 0;
  }
  for (const ScriptAction& a : script.actions) {
    if (a.line < 1 || size_t(a.line) > size + 1 || a.button > 2) __builtin_trap();
    if (a.kind == ScriptAction::Kind::Menu && a.path.size() < 2) __builtin_trap();
  }
  // Carried out against a small frame with a window in it, screenshots
  // going nowhere, waits cut short.
  for (ScriptAction& a : script.actions) {
    if (a.kind == ScriptAction::Kind::Screenshot || a.kind == ScriptAction::Kind::ScreenshotFrame)
      a.text = "/nonexistent/dir/shot.png";
    if (a.kind == ScriptAction::Kind::Wait) a.number %= 200;
  }
  HeadlessBackend backend({160, 120});
  WindowSystem ws(backend);
  ws.register_class({"plain", nullptr, 0, gfx::rgb(255, 255, 255)});
  ws.create({"plain", "", kVisible | kCaption | kSysMenu | kVScroll, 0, {10, 10, 110, 90}, 0, 0});
  backend.run_script(script, ws);
  Message m;
  for (int guard = 0; guard < 20000 && !backend.input_exhausted(); ++guard) {
    while (ws.peek(m)) {
      if (m.message == msg::Quit) return 0;
      ws.translate(m);
      ws.dispatch(m);
    }
    ws.wait_idle(10);
  }
  return 0;
}
