// The frame: the one host window an application lives in, the back-end
// that shows it and brings its input, and the window system inside it.
//
// This module owns the three for the machine's life: start-up opens the
// frame here, the shell's event loop and every drawing, effect, sound,
// colour and cursor module reach the window system through it, and the
// orderly shutdown closes it here. The read-eval-print loop and scripts
// run without a frame; `window_system()` is then null.
//
// Lisp is entered from the window system only through `callback_send`:
// a protected send, so that a `throw` or an error leaving a Lisp method
// never unwinds through the window system's own code. The exit is kept as
// the machine's pending exit, and the loop that dispatched the message
// raises it again with `raise_pending_exit` once the dispatch is over.
// The Lisp objects that native windows stand for are held here as roots.
#pragma once
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "core/native_table.hpp"
#include "core/value.hpp"
#include "platform/backend.hpp"
#include "platform/window.hpp"
#include "media/window_record.hpp"

namespace media {

struct FrameState : core::ModuleState {
  ~FrameState() override;

  std::unique_ptr<platform::Backend> backend;
  std::unique_ptr<platform::WindowSystem> ws;  // null while no frame is open
  gfx::Pt screen{1024, 768};  // the screen the frame was laid out on
  gfx::Pt client;             // the desktop area: the size the application draws in
  std::string title;          // code page 1252
  std::string screenshot;     // a PNG of the frame written as it closes, when set
  // The buttons of the alert on screen, for back-ends that answer alerts
  // on a console.
  std::vector<std::string> alert_buttons;
  int alert_depth = 0;  // alerts on screen now
  // Lisp objects the window system stands for (the receivers of its
  // messages): kept alive while held.
  std::vector<core::Value> held;
  // The native halves of the window objects; their instances, titles and
  // effects are roots while the records live.
  core::NativeTable<WindowRecord> windows;
};

extern const core::Module kFrameModule;
FrameState& frame_state();

// The window system of the open frame, or null when there is none.
platform::WindowSystem* window_system();

// Opens the frame on a back-end, with its desktop area `client` wide and
// high on a screen of `screen`; alerts are shown in it from now on.
void open_frame(std::unique_ptr<platform::Backend> backend, const std::string& title, gfx::Pt client, gfx::Pt screen);

// Closes the frame, if one is open: the screenshot when one is asked, every
// window of the desktop area, the host window; then posts the quit message
// with `status`, for the loop that drains the queue to find.
void close_frame(int status);

// Keeps a Lisp object alive for the window system, and lets it go (every
// hold of it).
void hold(core::Value object);
void let_go(core::Value object);

// Sends `message` to `receiver` with `args` from inside a window-system
// callback: a non-local exit leaving the method becomes the pending exit
// (the first one of a dispatch is kept), and the answer is then no-value.
core::Value callback_send(core::Value receiver, core::Value message, std::initializer_list<core::Value> args = {});

// Raises the pending exit again, if there is one, after the dispatch that
// caught it: to its catch, or error 17 when none is there.
void raise_pending_exit();

}  // namespace media
