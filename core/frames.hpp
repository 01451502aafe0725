// Frames: records on the native stack, linked into one chain from the
// current frame, that mirror the nesting of Lisp calls.
//
// A frame is a C++ object whose destructor undoes what its constructor did:
// it restores the Lisp stack pointer, the current environment, the current
// object and the current frame. Because a throw is a C++ exception, the same
// destructors run while an exit unwinds, so every way out of a frame leaves
// the machine as the frame found it.
//
// Primitive and special calls only need the Lisp stack pointer restored; they
// use a StackMark and stay out of the chain, which then holds just the frames
// that someone looks for: environments (closures and environment references
// find them by depth), catch frames (throw looks for its tag) and self frames.
#pragma once
#include <string>

#include "core/memory.hpp"

namespace core {

enum class FrameKind : uint8_t {
  Environment = 0,
  NativeCall = 1,
  Self = 2,
  Catch = 3,
  Protect = 4,
  Stack = 7,
};

struct Frame {
  // The link first: a derived frame's first small field then fills the
  // padding after the kind, and environment frames (one per Lisp call on
  // the native stack) stay small.
  Frame* previous;
  FrameKind kind;

  explicit Frame(FrameKind k) : previous(rt().current_frame), kind(k) {}
  ~Frame() { rt().current_frame = previous; }
  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  void make_current() { rt().current_frame = this; }
};

// The frame of a function call: its slots are the Lisp stack words from
// `slots` up, parameters first, then the rest list, captured values and
// locals. `parent` is the environment a `lexical` closure captured, or null.
//
// A `lexical` closure names the frame it closes over by depth and serial.
// A frame takes a serial, and its place in the runtime's table of frames by
// depth, only when the first such closure is made in it (`enlist`); the
// place is cleared when the frame is left. A call that makes no closure
// only counts its depth.
struct EnvFrame : Frame {
  uint32_t slot_count = 0;
  Value* slots;
  uint32_t depth;
  uint32_t serial = 0;
  EnvFrame* parent = nullptr;
  EnvFrame* saved_env;
  // The function whose body runs in the frame: kept here, where the
  // collector's scan of the native stack sees it, so that the function and
  // its analysed body live as long as the call.
  Value function = kNil;

  EnvFrame() : Frame(FrameKind::Environment) {
    Runtime& r = rt();
    slots = r.zones.sp;
    saved_env = r.env;
    depth = r.env_depth;
    r.env_depth = depth + 1;
  }
  ~EnvFrame() {
    Runtime& r = rt();
    r.zones.sp = slots;
    r.env = saved_env;
    r.env_depth = depth;
    if (serial != 0) [[unlikely]]
      r.env_table[depth] = nullptr;
  }
  // Makes the frame the current frame and environment once its slots are
  // pushed.
  void make_current() {
    Runtime& r = rt();
    slot_count = uint32_t(r.zones.sp - slots);
    r.current_frame = this;
    r.env = this;
  }
  // Gives the frame its serial and its place in the table, once.
  void enlist() {
    if (serial != 0) return;
    Runtime& r = rt();
    if (++r.env_serial == 0) ++r.env_serial;
    serial = r.env_serial;
    if (depth >= r.env_table.size()) r.env_table.resize(depth * 2 + 64);
    r.env_table[depth] = this;
  }
};
// One of these lies on the native stack for every Lisp call in progress.
static_assert(sizeof(EnvFrame) <= 56);

// The live environment frame at a depth whose serial is `serial`, or null
// when that frame has been left.
inline EnvFrame* live_env(uint32_t depth, uint32_t serial) {
  Runtime& r = rt();
  if (depth >= r.env_depth || depth >= r.env_table.size()) return nullptr;
  EnvFrame* e = r.env_table[depth];
  return e && e->serial == serial ? e : nullptr;
}

// A catch frame: the target of throws to its tag.
struct CatchFrame : Frame {
  Value tag;
  int dispatch_depth;
  explicit CatchFrame(Value t) : Frame(FrameKind::Catch), tag(t), dispatch_depth(rt().dispatch_depth) {}
};

// Raises the event-dispatch depth by one for its extent, so that no
// implicit poll handles events meanwhile; the depth it found comes back
// however the extent is left.
class DispatchDepthScope {
 public:
  DispatchDepthScope() : saved_(rt().dispatch_depth) { ++rt().dispatch_depth; }
  ~DispatchDepthScope() { rt().dispatch_depth = saved_; }
  DispatchDepthScope(const DispatchDepthScope&) = delete;
  DispatchDepthScope& operator=(const DispatchDepthScope&) = delete;

 private:
  int saved_;
};

// Makes an object current for its extent.
struct SelfFrame : Frame {
  Value saved_object;
  explicit SelfFrame(Value object) : Frame(FrameKind::Self), saved_object(rt().current_object) {
    rt().current_object = object;
    make_current();
  }
  ~SelfFrame() { rt().current_object = saved_object; }
};

// Made by a clean-up that runs while an exit unwinds. When that exit is an
// error's and the clean-up leaves by an exit of its own, the error's report
// is kept in Runtime::replaced_reports so that it is not lost (errors.cpp).
class ReplacedReport {
 public:
  explicit ReplacedReport(uint64_t serial_at_entry);
  ~ReplacedReport();
  ReplacedReport(const ReplacedReport&) = delete;
  ReplacedReport& operator=(const ReplacedReport&) = delete;

 private:
  int exits_;
  bool error_ = false;
  std::string message_;
};

// Runs `body`, then `cleanup`, whether body returns or is left by an exit.
// An exit raised by the clean-up itself replaces the one that was unwinding.
template <typename Body, typename Cleanup>
Value protect(Body&& body, Cleanup&& cleanup) {
  Value result;
  uint64_t serial = rt().error_serial;
  try {
    result = body();
  } catch (...) {
    {
      ReplacedReport replaced(serial);
      cleanup();
    }
    throw;
  }
  cleanup();
  return result;
}

}  // namespace core
