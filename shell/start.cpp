// The start-up of an application, its splash, its primitives, and the
// orderly shutdown.
#include "shell/start.hpp"
#include "shell/appearance.hpp"
#include "shell/menus.hpp"
#include "shell/windows.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "core/alert.hpp"
#include "core/args.hpp"
#include "core/clock.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/frames.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/handles.hpp"
#include "data/loader.hpp"
#include "data/streams.hpp"
#include "media/frame.hpp"
#include "media/pict.hpp"
#include "objects/objects.hpp"
#include "platform/gfx/png.hpp"
#include "process/processes.hpp"
#include "storage/databases.hpp"
#include "storage/fork.hpp"
#include "storage/paths.hpp"
#include "storage/resources.hpp"

extern char** environ;

namespace shell {
using namespace core;
using platform::WindowSystem;

namespace {

// A termination signal that has arrived and not yet been acted on. Signals
// belong to the process, as this flag does.
volatile sig_atomic_t g_signal = 0;

void on_signal(int sig) {
  if (g_signal != 0) {
    // The second signal before the shutdown has begun, or while it hangs:
    // the process ends at once.
    signal(sig, SIG_DFL);
    raise(sig);
    return;
  }
  g_signal = sig;
}

void exit_now(int status) { std::exit(status); }


// Thrown by a shutdown called while the shutdown runs: it leaves the step
// that called it, and the shutdown carries on with the next.
struct ShutdownReentry {};

// Runs `body` inside a catch of `toplevel`: false when it was left by a
// throw (an error's, after its report) or by an unprintable error.
template <typename Body>
bool caught(Body&& body) {
  Runtime& r = rt();
  StackMark mark;
  CatchFrame frame(r.sym.toplevel);
  frame.make_current();
  try {
    body();
    return true;
  } catch (const Thrower&) {
    r.dispatch_depth = frame.dispatch_depth;
    return false;
  } catch (const ErrorPrinting&) {
    r.dispatch_depth = frame.dispatch_depth;
    return false;
  }
}

bool resource(const char* type, int32_t id, std::vector<uint8_t>& out) {
  out.clear();
  return storage::resource_bytes(storage::fourcc(type), id, out);
}

bool has_resource(const char* type, int32_t id) {
  std::vector<uint8_t> bytes;
  return resource(type, id, bytes);
}

// The handle of a resource box that holds data, or 0.
uint32_t resource_handle(Value box) {
  if (!box.is(Tag::Pointer) || box_kind(box) != storage::kResourceBox) return 0;
  uint32_t h = box_addr(box);
  return h != 0 && data::handle_live(h) ? h : 0;
}

bool bound(Value symbol) {
  Value v = symbol_value(symbol);
  return !v.is_no_value();
}

// ---- The splash ---------------------------------------------------------------------

int64_t splash_proc(WindowSystem& ws, const platform::Message& m) {
  if (m.message != platform::msg::Paint) return WindowSystem::default_proc(ws, m);
  platform::PaintScope paint(ws, m.window);
  platform::WindowDC& dc = paint.dc();
  gfx::Rect c = ws.client_rect(m.window);
  dc.dc.fill_rect(dc.client(c), gfx::Brush::solid(ws.frame().map_color(0xFFFFFF)));
  dc.dc.frame_rect(dc.client(c), gfx::Brush::solid(ws.frame().map_color(0)));
  const Splash& s = shell_state().splash;
  if (!s.picture.empty() && c.width() > 2 && c.height() > 2)
    media::draw_picture(dc.dc, s.picture, dc.client(gfx::Rect{1, 1, c.right - 1, c.bottom - 1}));
  return 0;
}

// Sleeps until the current splash picture's time is up, advancing the
// sequence, until it ends or its window is gone. A termination signal
// ends the wait.
void wait_splash() {
  ShellState& s = shell_state();
  WindowSystem* ws = media::window_system();
  while (s.splash.armed && ws && ws->alive(s.splash.window)) {
    int32_t left = int32_t(s.splash.duration) - clock_diff(clock_ms(), s.splash.since);
    while (left > 0) {
      check_signals();
      uint32_t step = uint32_t(std::min(left, 50));
      clock_wait(step);
      left -= int32_t(step);
    }
    advance_splash(true);
  }
}

// ---- The boot -------------------------------------------------------------------------

// Loads Load 0, 1, 2, ... until one is missing or comes from another file
// than `refnum`.
void load_code(int refnum) {
  Value get = intern_static("getresource");
  Value home = intern_static("homeresfile");
  Value release = intern_static("releaseresource");
  for (int32_t n = 0; n <= 32767; ++n) {
    advance_splash(false);
    Value res = call_by_name(get, {make_string("Load"), make_fixnum(n)});
    int err = storage::resource_error();
    uint32_t h = resource_handle(res);
    if (h == 0) {
      if (err == storage::kResOk || err == storage::kResNotFound) return;
      show_alert(kAlertLoadFailed);
      orderly_shutdown(kExitFailed);
    }
    Value owner = call_by_name(home, {res});
    if (!owner.is_fixnum() || owner.fixnum() != refnum) return;
    data::load_from_handle(h, make_fixnum(n));
    call_by_name(release, {res});
  }
}

void boot(int refnum) {
  ShellState& s = shell_state();
  DispatchDepthScope depth;
  Value table = call_by_name(intern_static("getresource"), {make_string("SYMB"), make_fixnum(0)});
  if (resource_handle(table) != 0) call_by_name(intern_static("set-symbols-table"), {table});
  open_splash();
  load_code(refnum);
  data::set_symbols_table(0, kNil);
  set_symbol_value(intern_static("Load-File"), kNil);
  Value init = intern_static("init-talven");
  if (bound(init)) call_by_name(init, {});
  s.boot_ms = std::clamp<int32_t>(clock_diff(clock_ms(), s.start_ms), 0, 8388606);
  Value user = intern_static("init-user");
  if (bound(user)) call_by_name(user, {});
}

// A failed part of the run: the internal-error alert unless the error's
// own report showed it, then the shutdown.
[[noreturn]] void failed(uint64_t serial_before) {
  Runtime& r = rt();
  ShellState& s = shell_state();
  if (r.error_serial == serial_before || s.internal_alert_serial != r.error_serial) show_alert(kAlertInternal);
  orderly_shutdown(kExitFailed);
}

// ---- The shutdown -------------------------------------------------------------------------

// The events that are pending, except the quit message, which stays.
void step_pending_events(int) {
  WindowSystem* ws = media::window_system();
  if (!ws) return;
  platform::Message m;
  for (int guard = 0; guard < 10000 && ws->peek(m); ++guard) {
    if (m.message == platform::msg::Quit) {
      ws->post_quit(int(m.wparam));
      return;
    }
    ws->translate(m);
    ws->dispatch(m);
  }
}

void step_frame(int status) { media::close_frame(status); }

void step_processes(int) { process::destroy_scheduler(); }

void step_databases(int) { storage::close_all_databases(); }

// Processes every event up to the quit message.
void step_drain(int) {
  WindowSystem* ws = media::window_system();
  if (!ws) return;
  platform::Message m;
  for (int guard = 0; guard < 100000 && ws->peek(m); ++guard) {
    if (m.message == platform::msg::Quit) return;
    ws->translate(m);
    ws->dispatch(m);
  }
}

void step_final(int) {
  if (WindowSystem* ws = media::window_system()) ws->set_cursor(platform::CursorShape::Arrow);
}

// The steps of the folders below the shell, in the order they run.
const ShutdownStep kDefaultSteps[] = {
    {kStepPendingEvents, "pending events", step_pending_events},
    {kStepFrame, "frame", step_frame},
    {kStepProcesses, "processes", step_processes},
    {kStepDatabases, "databases", step_databases},
    {kStepDrain, "events up to the quit message", step_drain},
    {kStepFinal, "final clean-ups", step_final},
};

[[noreturn]] void finish(int status) {
  ShellState& s = shell_state();
  shutdown_modules(rt());
  data::flush_terminal();
  std::fflush(nullptr);
  s.exit_process(status);
  std::exit(status);
}

void reap_children() {
  auto& kids = shell_state().children;
  kids.erase(std::remove_if(kids.begin(), kids.end(),
                            [](pid_t pid) {
                              int st = 0;
                              pid_t r = waitpid(pid, &st, WNOHANG);
                              return r == pid || r < 0;
                            }),
             kids.end());
}

// The poll of a running application: a termination signal starts the
// shutdown.
void poll() {
  check_signals();
  reap_children();
  implicit_poll();
}

// ---- Primitives -----------------------------------------------------------------------------

Value prim_boot_time() { return make_fixnum(shell_state().boot_ms); }
Value prim_get_menubar() { return kNil; }

Value prim_wait_boot_time() {
  wait_splash();
  return kNoValue;
}

Value prim_test_wait_dlg() {
  advance_splash(false);
  return kNoValue;
}

// (quit [STATUS]): the orderly shutdown, the process ending with STATUS
// (0 to 255; 0 when not given).
Value prim_quit(Value* rest) {
  int status = kExitQuit;
  if (!rest[0].is_end()) {
    if (!is_integer(rest[0]) || read_integer(rest[0]) < 0 || read_integer(rest[0]) > 255) error(Err::WrongType, rest[0]);
    status = read_integer(rest[0]);
  }
  orderly_shutdown(status);
}

// Starts the program directly, no shell reading its path: a path with a
// separator is taken as it is, a bare name is looked up in PATH.
Value prim_launch_application(Value path, Value then_quit) {
  std::string program = storage::posix_of(path);
  if (program.empty()) return make_fixnum(-1);
  char* argv[] = {program.data(), nullptr};
  pid_t pid = 0;
  bool bare = program.find('/') == std::string::npos;
  int rc = bare ? posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv, environ)
                : posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ);
  if (rc != 0) return make_fixnum(-1);
  shell_state().children.push_back(pid);
  if (then_quit.truthy()) orderly_shutdown(kExitQuit);
  return make_fixnum(0);
}

Value prim_set_language(Value language) {
  rt().ui_language = arg_fixnum(language) == 1 ? 1 : 0;
  return kNoValue;
}

// Whether a debugger is attached: TracerPid in /proc/self/status.
bool debugger_attached() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("TracerPid:", 0) == 0) return std::atol(line.c_str() + 10) != 0;
  return false;
}

Value prim_debugger(Value v) {
  if (debugger_attached()) raise(SIGTRAP);
  return v;
}

Value prim_screen_width() { return make_fixnum(media::frame_state().screen.x); }
Value prim_screen_height() { return make_fixnum(media::frame_state().screen.y); }
Value prim_desktop_frame_width() { return make_fixnum(media::window_system() ? media::frame_state().client.x : 0); }
Value prim_desktop_frame_height() { return make_fixnum(media::window_system() ? media::frame_state().client.y : 0); }
Value prim_get_appl_creator() { error(Err::NotAvailable, kNil); }

const NativeRow kShellNatives[] = {
    TV_PRIM("boot-time", prim_boot_time, "(boot-time) the milliseconds from the start of the process to the end of code loading"),
    TV_PRIM("get-menubar?", prim_get_menubar, "(get-menubar?) always nil"),
    TV_PRIM("wait-boot-time", prim_wait_boot_time, "(wait-boot-time) while the splash window shows and a picture is pending, sleeps until its time is up and shows the next; no value"),
    TV_PRIM("test-wait-dlg", prim_test_wait_dlg, "(test-wait-dlg) shows the next splash picture when the current one's time is up; no value"),
    TV_PRIM("quit", prim_quit, "(quit [STATUS]) ends the program in order, the process exiting with STATUS (0 to 255, default 0); never returns"),
    TV_PRIM("do-quit", prim_quit, "(do-quit [STATUS]) the same as quit"),
    TV_PRIM("launch-application", prim_launch_application, "(launch-application PATHNAME QUIT?) starts the program PATHNAME (a bare name is looked up in PATH), then ends this one when QUIT? is true; 0, or -1 when it cannot be started"),
    TV_PRIM("set-language", prim_set_language, "(set-language LANGUAGE) the language of the alerts: 1 French, any other fixnum English; no value"),
    TV_PRIM("debugger", prim_debugger, "(debugger VALUE) breaks into an attached debugger, if any; returns VALUE"),
    TV_PRIM("debug", prim_debugger, "(debug VALUE) breaks into an attached debugger, if any; returns VALUE"),
    TV_PRIM("screen-width", prim_screen_width, "(screen-width) the width of the screen in pixels"),
    TV_PRIM("screen-height", prim_screen_height, "(screen-height) the height of the screen in pixels"),
    TV_PRIM("desktop-frame-width", prim_desktop_frame_width, "(desktop-frame-width) the width of the main window's client area in pixels, 0 without a window system"),
    TV_PRIM("desktop-frame-height", prim_desktop_frame_height, "(desktop-frame-height) the height of the main window's client area in pixels, 0 without a window system"),
    TV_PRIM("get-appl-creator", prim_get_appl_creator, "(get-appl-creator) not available here: error 47 with nil"),
};

std::unique_ptr<ModuleState> make_state(Runtime&) { return std::make_unique<ShellState>(); }

void install(Runtime&) {
  register_natives(kShellNatives);
  for (const ShutdownStep& step : kDefaultSteps) add_shutdown_step(step.order, step.name, step.run);
}

}  // namespace

ShellState::ShellState() : exit_process(exit_now) {}

ShellState::~ShellState() = default;

const Module kShellModule{"shell", make_state, install};

ShellState& shell_state() { return state_of<ShellState>(kShellModule); }

namespace {

// The frame's own procedure (its client area is the window system's
// desktop). Its close box asks the application first: `do-quit` sent to
// the value of TALVEN, unless a quit is under way; the answer no-value
// keeps the frame, any other closes it. With flag 0x20 of the preferences
// the desktop area is painted black.
int64_t frame_proc(WindowSystem& ws, const platform::Message& m) {
  int64_t result = 0;
  if (desktop_area_message(ws, m, result)) return result;
  if (m.message == platform::msg::Close) {
    // A modal window hears the close request first.
    if (WindowRecord* desk = record(windows_state().desktop); desk && desk->modal)
      if (WindowRecord* modal = record(desk->modal); modal && modal->native) ws.send(modal->native, platform::msg::Close);
    if (symbol_value(intern_static("InQuit?")).truthy()) return 0;
    Value answer = media::callback_send(symbol_value(intern_static("TALVEN")), intern_static("do-quit"));
    if (!answer.is_no_value()) ws.post_quit(kExitQuit);
    return 0;
  }
  if (cursor_message(ws, m)) return 0;
  if (m.message == platform::msg::Command) {
    if (menu_command(uint32_t(m.wparam))) return 0;
  } else if (m.message == platform::msg::InitMenuPopup) {
    menu_opening(platform::Handle(m.wparam));
    return 0;
  }
  if (m.message == platform::msg::EraseBackground && (shell_state().prefs.flags & kFlagPaintDesktop)) {
    platform::WindowDC dc = ws.window_dc(m.window);
    dc.dc.fill_rect(dc.client(ws.client_rect(m.window)), gfx::Brush::solid(ws.frame().map_color(0)));
    return 1;
  }
  return WindowSystem::default_proc(ws, m);
}

}  // namespace

void open_frame(std::unique_ptr<platform::Backend> backend, const AppPrefs& prefs, const std::string& fallback_title) {
  ShellState& s = shell_state();
  s.prefs = prefs;
  gfx::Pt screen = backend->screen_size();
  s.layout = layout_frame(prefs, screen);
  // A frame with a menu bar grows by its row, so that the desktop area is
  // the size asked for.
  gfx::Pt frame = s.layout.client;
  if (s.layout.menu_bar) frame.y += WindowSystem::kMenuBarHeight;
  media::open_frame(std::move(backend), prefs.has_title ? prefs.title : fallback_title, frame, screen);
  media::frame_state().client = s.layout.client;
  WindowSystem& ws = *media::window_system();
  if (s.layout.menu_bar) ws.set_menu_bar(ws.desktop(), ws.create_menu());
  ws.set_window_proc(ws.desktop(), frame_proc);
  ws.invalidate(ws.desktop(), std::nullopt, true);
  ws.update_all();
  s.start_ms = clock_ms();
}

void run_application(int refnum) {
  Runtime& r = rt();
  uint64_t serial = r.error_serial;
  bool ok = caught([&] { boot(refnum); });
  close_splash();
  if (ok) {
    ok = caught([&] {
      Value appl = symbol_value(intern_static("Appl"));
      if (appl.is_nil() || appl.is_no_value()) return;
      DispatchDepthScope depth;
      Value none[1] = {kEndArgs};
      objects::native_send(appl, intern_static("start-appl"), none);
    });
  }
  if (!ok) failed(serial);
  serial = r.error_serial;
  ok = caught([&] {
    DispatchDepthScope depth;
    call_by_name(intern_static("toplevel-loop"), {});
  });
  if (!ok) failed(serial);
  orderly_shutdown(kExitLoopReturned);
}

void orderly_shutdown(int status) {
  ShellState& s = shell_state();
  if (s.shutting_down) throw ShutdownReentry{};
  s.shutting_down = true;
  std::vector<ShutdownStep> steps = s.steps;
  for (const ShutdownStep& step : steps) {
    try {
      step.run(status);
    } catch (...) {
      // An exit or an error of a clean-up ends that step only.
    }
    // A pending exit met during the shutdown is dropped.
    rt().pending_tag = kNoValue;
    rt().pending_value = kNil;
  }
  finish(status);
}

void add_shutdown_step(int order, const char* name, void (*run)(int status)) {
  auto& steps = shell_state().steps;
  auto at = std::upper_bound(steps.begin(), steps.end(), order,
                             [](int o, const ShutdownStep& s) { return o < s.order; });
  steps.insert(at, ShutdownStep{order, name, run});
}

void install_signal_handlers() {
  struct sigaction sa {};
  sa.sa_handler = on_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
  rt().hooks.poll = poll;
}

void check_signals() {
  if (g_signal != 0) orderly_shutdown(128 + g_signal);
}

void open_splash() {
  ShellState& s = shell_state();
  s.splash = Splash{};
  WindowSystem* ws = media::window_system();
  if (!ws) return;
  std::vector<uint8_t> pict;
  if (!resource("PICT", 501, pict)) return;
  std::optional<gfx::Rect> frame = splash_frame(pict);
  if (!frame) return;
  ws->register_class({"#splash", splash_proc, 0, std::nullopt});
  int32_t w = frame->width() + 2, h = frame->height() + 2;
  gfx::Rect desk = ws->client_rect(ws->desktop());
  gfx::Rect r{(desk.width() - w) / 2, (desk.height() - h) / 2, 0, 0};
  r.right = r.left + w, r.bottom = r.top + h;
  s.splash.window = ws->create({"#splash", "", platform::kChild | platform::kVisible, 0, r, ws->desktop(), 0});
  if (s.splash.window == 0) return;
  s.splash.picture = std::move(pict);
  s.splash.since = clock_ms();
  std::vector<uint8_t> wait;
  std::optional<uint32_t> duration = resource("wait", 501, wait) ? wait_duration(wait) : std::nullopt;
  if (duration && has_resource("PICT", 502)) {
    s.splash.armed = true;
    s.splash.duration = *duration;
    s.splash.next = 502;
  }
  ws->update_all();
}

void close_splash() {
  ShellState& s = shell_state();
  WindowSystem* ws = media::window_system();
  if (ws && s.splash.window != 0 && ws->alive(s.splash.window)) {
    ws->destroy(s.splash.window);
    ws->update_all();
  }
  s.splash = Splash{};
}

void advance_splash(bool force) {
  ShellState& s = shell_state();
  Splash& sp = s.splash;
  WindowSystem* ws = media::window_system();
  if (!sp.armed || !ws || !ws->alive(sp.window)) return;
  uint32_t now = clock_ms();
  if (!force && clock_diff(now, sp.since) < int32_t(sp.duration)) return;
  sp.current = sp.next;
  std::vector<uint8_t> bytes;
  if (resource("PICT", sp.current, bytes)) sp.picture = std::move(bytes);
  ws->invalidate(sp.window, std::nullopt, true);
  ws->update_all();
  sp.since = now;
  std::optional<uint32_t> duration = resource("wait", sp.current, bytes) ? wait_duration(bytes) : std::nullopt;
  if (duration) {
    sp.duration = *duration;
    sp.next = sp.current + 1;
    sp.armed = has_resource("PICT", sp.next);
  } else {
    sp.armed = false;
  }
}

}  // namespace shell
