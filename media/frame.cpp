// The frame, its back-end and window system, and the one way Lisp is
// entered from the window system.
#include "media/frame.hpp"

#include <algorithm>
#include <cstdio>

#include "core/alert.hpp"
#include "core/clock.hpp"
#include "core/collector.hpp"
#include "core/errors.hpp"
#include "core/frames.hpp"
#include "core/runtime.hpp"
#include "media/sound.hpp"
#include "objects/objects.hpp"
#include "media/pict.hpp"
#include "platform/gfx/png.hpp"

namespace media {
using namespace core;

namespace {

// Alerts are shown in the frame while there is one.
int frame_alert(const std::string& text, const std::vector<std::string>& buttons) {
  if (g_runtime == nullptr || !module_installed(kFrameModule) || !frame_state().ws) return console_alert(text, buttons);
  FrameState& s = frame_state();
  s.alert_buttons = buttons;
  int answer;
  {
    DispatchDepthScope depth;
    struct Up {
      FrameState& s;
      explicit Up(FrameState& f) : s(f) { ++s.alert_depth; }
      ~Up() { --s.alert_depth; }
    } up{s};
    answer = s.ws->alert(s.title, text, buttons);
  }
  s.alert_buttons.clear();
  return answer;
}

// Once a frame is open its back-end keeps the runtime's time: the headless
// one a virtual clock that moves only as the run waits.
uint32_t frame_clock(Runtime&) { return frame_state().backend->now(); }
void frame_wait(Runtime&, uint32_t ms) {
  platform::Backend& b = *frame_state().backend;
  b.sleep_until(b.now() + ms);
}

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<FrameState>(); }

void mark_roots(Runtime&) {
  FrameState& s = frame_state();
  for (Value v : s.held) mark_value(v);
  s.windows.for_each([](uint32_t, WindowRecord& w) {
    mark_value(w.instance);
    mark_value(w.title);
    mark_value(w.effect);
  });
}

// A frame the orderly shutdown did not close (a test's machine, a run
// ended from inside a step) goes with the machine.
void shutdown(Runtime&) {
  FrameState& s = frame_state();
  if (!s.ws) return;
  s.screenshot.clear();
  set_alert_display(nullptr);
  s.backend->close_frame();
}

}  // namespace

FrameState::~FrameState() {
  if (ws) set_alert_display(nullptr);
  if (g_runtime != nullptr && rt().clock == frame_clock) set_clock(nullptr);
  ws.reset();
  backend.reset();
}

const Module kFrameModule{"frame", make_state, nullptr, mark_roots, shutdown};

FrameState& frame_state() { return state_of<FrameState>(kFrameModule); }

platform::WindowSystem* window_system() {
  if (g_runtime == nullptr || !module_installed(kFrameModule)) return nullptr;
  return frame_state().ws.get();
}

void open_frame(std::unique_ptr<platform::Backend> backend, const std::string& title, gfx::Pt client, gfx::Pt screen) {
  FrameState& s = frame_state();
  s.title = title;
  s.client = client;
  s.screen = screen;
  s.ws.reset();
  s.backend = std::move(backend);
  s.ws = std::make_unique<platform::WindowSystem>(*s.backend, client);
  // On an 8-bit screen every colour goes through the runtime's palette.
  if (s.ws->frame().format() == gfx::Format::Index8) s.ws->frame().palette() = standard_palette();
  s.backend->open_frame(s.title, client);
  set_clock(frame_clock, frame_wait);
  s.ws->update_all();
  set_alert_display(frame_alert);
}

void close_frame(int status) {
  FrameState& s = frame_state();
  if (!s.ws) return;
  platform::WindowSystem& ws = *s.ws;
  stop_sound_output();
  if (!s.screenshot.empty()) {
    ws.update_all();
    std::string error;
    if (!gfx::write_png(ws.frame(), s.screenshot, &error))
      std::fprintf(stderr, "talven: %s: %s\n", s.screenshot.c_str(), error.c_str());
    s.screenshot.clear();
  }
  ws.show(ws.desktop(), false);
  for (platform::Handle w : ws.children(ws.desktop())) ws.destroy(w);
  s.backend->close_frame();
  ws.post_quit(status);
}

void hold(Value object) { frame_state().held.push_back(object); }

void let_go(Value object) { std::erase(frame_state().held, object); }

Value callback_send(Value receiver, Value message, std::initializer_list<Value> args) {
  Value argv[9];
  size_t n = std::min<size_t>(args.size(), 8);
  std::copy_n(args.begin(), n, argv);
  argv[n] = kEndArgs;
  return objects::protected_send(receiver, message, argv);
}

void raise_pending_exit() {
  Runtime& r = rt();
  if (r.pending_tag.is_no_value()) return;
  Value tag = r.pending_tag, value = r.pending_value;
  r.pending_tag = kNoValue;
  r.pending_value = kNil;
  throw_to(tag, value);
}

}  // namespace media
