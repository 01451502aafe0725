// The back-end: the only code that meets the host. It shows finished pixels,
// hands over input events, keeps time, and holds the OS clipboard and cursor.
// The window system above it never asks it to draw anything.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/surface.hpp"
#include "platform/input_script.hpp"

namespace platform {

class WindowSystem;
using gfx::Pt;
using gfx::Rect;
// Milliseconds on a 32-bit clock that wraps; compare only as int32_t(a - b).
using Tick = uint32_t;
inline bool tick_reached(Tick now, Tick due) { return int32_t(now - due) >= 0; }

// Modifier and button state carried by every input message.
enum Keys : uint32_t {
  kLeftButton = 0x01, kRightButton = 0x02, kShift = 0x04, kControl = 0x08,
  kMiddleButton = 0x10, kAlt = 0x20,
};

struct InputEvent {
  enum class Kind : uint8_t { MouseMove, ButtonDown, ButtonUp, KeyDown, KeyUp, Close };
  Kind kind = Kind::MouseMove;
  Pt at;                 // frame coordinates, for mouse events
  uint8_t button = 0;    // 0 left, 1 right, 2 middle
  uint16_t vk = 0;       // desktop virtual-key code
  bool extended = false; // the extended-key flag
  uint32_t keys = 0;     // Keys after the event
  std::string text;      // code page 1252 characters the key produces, if the host says
  Tick time = 0;
};

enum class CursorShape : uint8_t {
  Arrow, IBeam, Wait, Cross, Hand, SizeAll, No, SizeWE, SizeNS, SizeNWSE, SizeNESW, Custom, Hidden,
};

// A 1-bit cursor: AND and XOR masks, rows of ((width + 15) / 16) * 2 bytes,
// most significant bit leftmost, as cursor resources hold them.
struct CursorImage {
  int32_t width = 16, height = 16;
  Pt hot;
  std::vector<uint8_t> and_mask, xor_mask;
  size_t row_bytes() const { return size_t((width + 15) / 16) * 2; }
  bool valid() const {
    return width > 0 && height > 0 && width <= 256 && height <= 256 &&
           and_mask.size() == row_bytes() * size_t(height) && xor_mask.size() == and_mask.size();
  }
};

// Sound as the mixer finished it: unsigned 8-bit or signed 16-bit
// little-endian samples, channels interleaved.
struct WaveFormat {
  uint32_t rate = 22050;
  uint16_t channels = 1;
  uint16_t bits = 8;
  bool valid() const { return rate >= 1000 && rate <= 192000 && (channels == 1 || channels == 2) && (bits == 8 || bits == 16); }
  uint32_t frame_bytes() const { return uint32_t(channels) * (bits / 8u); }
  uint64_t bytes_per_second() const { return uint64_t(rate) * frame_bytes(); }
};

class Backend {
 public:
  virtual ~Backend() = default;
  virtual Pt screen_size() = 0;
  virtual int screen_depth() { return 32; }
  virtual bool open_frame(std::string_view title, Pt client) = 0;
  virtual void set_title(std::string_view title) = 0;
  virtual void present(const gfx::Surface& frame, std::span<const Rect> dirty) = 0;
  virtual void close_frame() = 0;
  virtual void poll(std::vector<InputEvent>& out) = 0;  // never blocks
  virtual void wait_input(Tick max_ms) = 0;
  virtual Tick now() = 0;
  virtual void sleep_until(Tick t) = 0;
  virtual void set_cursor(CursorShape shape) = 0;
  virtual void set_cursor_image(const CursorImage&) { set_cursor(CursorShape::Custom); }
  // Audio is polled, never called back: the loop keeps the queue fed and
  // asks how much is still to play.
  virtual bool audio_open(const WaveFormat& format) = 0;
  virtual bool audio_queue(std::span<const uint8_t> pcm) = 0;
  virtual size_t audio_pending() = 0;  // bytes queued and not yet played
  virtual void audio_close() = 0;
  virtual std::optional<std::string> clipboard_text() = 0;
  virtual void set_clipboard_text(std::string_view cp1252) = 0;
  // An answer for an alert, when the host answers alerts itself (the
  // headless script); none lets the user answer it on screen.
  virtual std::optional<int> answer_alert(std::string_view) { return std::nullopt; }
  // An answer for the colour chooser the same way: a colour (0xRRGGBB) or
  // a cancel (an empty answer); none lets the user answer it on screen.
  virtual std::optional<std::optional<uint32_t>> answer_chooser() { return std::nullopt; }
  // No more input will ever come (the end of a script): modal loops give up.
  virtual bool input_exhausted() { return false; }
  // A run driven by an input script: the script is used up and the
  // application has waited on for a minute without it.
  virtual bool script_finished() { return false; }
};

// Every test, and users who ask for no display: the frame lives in memory,
// input is scripted, and the clock moves only when told or when something
// sleeps, so every run is the same.
class HeadlessBackend : public Backend {
 public:
  explicit HeadlessBackend(Pt screen = {1024, 768}, Tick start = 0) : screen_(screen), clock_(start) {}
  // The bits per pixel of the screen: 32, or 8 (a palette screen).
  int screen_depth() override { return depth_; }
  void set_screen_depth(int depth) { depth_ = depth == 8 ? 8 : 32; }

  Pt screen_size() override { return screen_; }
  bool open_frame(std::string_view title, Pt client) override;
  void set_title(std::string_view title) override { title_ = title; }
  void present(const gfx::Surface& frame, std::span<const Rect> dirty) override;
  void close_frame() override { open_ = false; }
  void poll(std::vector<InputEvent>& out) override;
  void wait_input(Tick max_ms) override;
  Tick now() override { return clock_; }
  void sleep_until(Tick t) override {
    if (!tick_reached(clock_, t)) clock_ = t;
  }
  // The log keeps the latest cursors (a run may set one for every
  // collection).
  void set_cursor(CursorShape shape) override {
    if (cursor_log_.size() >= 4096) cursor_log_.erase(cursor_log_.begin(), cursor_log_.begin() + 2048);
    cursor_log_.push_back(shape);
  }
  bool audio_open(const WaveFormat& format) override;
  bool audio_queue(std::span<const uint8_t> pcm) override;
  size_t audio_pending() override;
  void audio_close() override;
  std::optional<std::string> clipboard_text() override { return clipboard_; }
  void set_clipboard_text(std::string_view text) override { clipboard_ = std::string(text); }

  // The script. Events are stamped with the clock as it is when scripted.
  void advance(Tick ms) { clock_ += ms; }
  void move(Pt at, uint32_t keys = 0);
  void press(Pt at, uint8_t button = 0, uint32_t keys = 0);
  void release(Pt at, uint8_t button = 0, uint32_t keys = 0);
  void click(Pt at, uint8_t button = 0, uint32_t keys = 0);
  void drag(Pt from, Pt to, int steps = 4);
  void key(uint16_t vk, uint32_t keys = 0, bool extended = false, std::string text = {});
  void key_down(uint16_t vk, uint32_t keys = 0, bool extended = false, std::string text = {});
  void key_up(uint16_t vk, uint32_t keys = 0, bool extended = false);
  void request_close();
  bool script_empty() const { return script_.empty(); }
  bool input_exhausted() override;

  // Drives the run from an input script: each action is given when the
  // application waits for input with nothing left in its queue (in
  // wait_input), so it has handled the one before; `wait` lets virtual time
  // pass while it goes on waiting. Points are placed in the desktop area of
  // `ws`, the window system the frame shows, and screenshots are taken of
  // it. Faults met on the way (a file that cannot be written, a menu that
  // is not there) are said on standard error as SCRIPT:LINE: message.
  void run_script(InputScript script, WindowSystem& ws);
  bool script_finished() override;

  // The alert script: answers given in turn (button indexes), and the
  // texts of every alert shown.
  void script_alert_answer(int button) { alert_answers_.push_back(button); }
  std::optional<int> answer_alert(std::string_view text) override {
    alert_texts_.emplace_back(text);
    if (alert_answers_.empty()) return std::nullopt;
    int a = alert_answers_.front();
    alert_answers_.pop_front();
    return a;
  }
  const std::vector<std::string>& alert_texts() const { return alert_texts_; }
  void script_chooser_answer(std::optional<uint32_t> colour) { chooser_answers_.push_back(colour); }
  std::optional<std::optional<uint32_t>> answer_chooser() override {
    if (chooser_answers_.empty()) return std::nullopt;
    std::optional<uint32_t> a = chooser_answers_.front();
    chooser_answers_.pop_front();
    return a;
  }

  // What was shown: the last presented frame (a copy), written as PNG.
  const gfx::Surface& shown() const { return shown_; }
  bool screenshot(const std::string& path, std::string* error = nullptr) const;
  const std::string& title() const { return title_; }
  bool frame_open() const { return open_; }
  const std::vector<CursorShape>& cursor_log() const { return cursor_log_; }
  size_t presents() const { return presents_; }
  // The audio log: every byte queued since the device was first opened,
  // in the format it was opened with (a reopen in another format starts a
  // new log). The virtual clock plays it.
  const std::vector<uint8_t>& audio_log() const { return audio_log_; }
  const WaveFormat& audio_format() const { return audio_format_; }
  bool audio_is_open() const { return audio_open_; }
  bool write_wav(const std::string& path, std::string* error = nullptr) const;

 private:
  Pt screen_;
  Tick clock_;
  bool open_ = false;
  std::string title_;
  std::deque<InputEvent> script_;
  gfx::Surface shown_;
  std::vector<CursorShape> cursor_log_;
  std::optional<std::string> clipboard_;
  size_t presents_ = 0;
  bool audio_open_ = false;
  WaveFormat audio_format_;
  std::vector<uint8_t> audio_log_;
  uint64_t audio_queued_ = 0;  // bytes queued since the queue last ran dry
  uint32_t held_ = 0;          // the mouse buttons the script holds down
  Tick audio_start_ = 0;       // when it began playing them
  std::deque<int> alert_answers_;
  std::vector<std::string> alert_texts_;
  std::deque<std::optional<uint32_t>> chooser_answers_;
  int depth_ = 32;

  // The input script, when one drives the run.
  void step_script(Tick max_ms);
  bool perform(const ScriptAction& a);  // true: it gave input to handle first
  void script_fault(const ScriptAction& a, const std::string& what) const;
  Pt on_frame(Pt desktop_point) const;
  std::optional<InputScript> input_;
  WindowSystem* ws_ = nullptr;
  size_t next_action_ = 0;
  bool waiting_ = false;
  Tick wait_left_ = 0;
  Tick idle_after_ = 0;  // virtual time waited since the script ran out
  // A menu being chosen: the action, and how far down its path the clicks
  // have gone.
  const ScriptAction* menu_action_ = nullptr;
  size_t menu_depth_ = 0;
  uint32_t menu_open_ = 0;  // the pop-up the next click chooses from
};

// The back-end for this run: a desktop window when one was built and a
// display is there (DISPLAY or WAYLAND_DISPLAY), headless otherwise or when
// asked. When a display was there but no window could be had, *note says
// why the run is headless.
struct BackendOptions {
  bool headless = false;
  Pt screen = {1024, 768};  // the headless screen
  Tick start = 0;           // the headless clock's first reading
  // The headless back-end to make, when the caller has its own kind (one
  // that answers alerts at the console, say); none: a HeadlessBackend.
  std::function<std::unique_ptr<Backend>(Pt screen, Tick start)> make_headless;
};
std::unique_ptr<Backend> make_backend(const BackendOptions& options, std::string* note = nullptr);
// Whether this build has the desktop back-end, and whether the
// environment names a display.
bool desktop_built();
bool display_available();

}  // namespace platform
