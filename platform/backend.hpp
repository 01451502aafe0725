// The back-end: the only code that meets the host. It shows finished pixels,
// hands over input events, keeps time, and holds the OS clipboard and cursor.
// The window system above it never asks it to draw anything.
#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/surface.hpp"

namespace platform {

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

enum class CursorShape : uint8_t { Arrow, IBeam, Wait, Cross, Hand, SizeAll, No, Custom, Hidden };

class Backend {
 public:
  virtual ~Backend() = default;
  virtual Pt screen_size() = 0;
  virtual bool open_frame(std::string_view title, Pt client) = 0;
  virtual void set_title(std::string_view title) = 0;
  virtual void present(const gfx::Surface& frame, std::span<const Rect> dirty) = 0;
  virtual void close_frame() = 0;
  virtual void poll(std::vector<InputEvent>& out) = 0;  // never blocks
  virtual void wait_input(Tick max_ms) = 0;
  virtual Tick now() = 0;
  virtual void sleep_until(Tick t) = 0;
  virtual void set_cursor(CursorShape shape) = 0;
  virtual std::optional<std::string> clipboard_text() = 0;
  virtual void set_clipboard_text(std::string_view cp1252) = 0;
  // An answer for an alert, when the host answers alerts itself (the
  // headless script); none lets the user answer it on screen.
  virtual std::optional<int> answer_alert(std::string_view) { return std::nullopt; }
  // No more input will ever come (the end of a script): modal loops give up.
  virtual bool input_exhausted() { return false; }
};

// Every test, and users who ask for no display: the frame lives in memory,
// input is scripted, and the clock moves only when told or when something
// sleeps, so every run is the same.
class HeadlessBackend : public Backend {
 public:
  explicit HeadlessBackend(Pt screen = {1024, 768}, Tick start = 0) : screen_(screen), clock_(start) {}

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
  void set_cursor(CursorShape shape) override { cursor_log_.push_back(shape); }
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
  bool input_exhausted() override { return script_.empty(); }

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

  // What was shown: the last presented frame (a copy), written as PNG.
  const gfx::Surface& shown() const { return shown_; }
  bool screenshot(const std::string& path, std::string* error = nullptr) const;
  const std::string& title() const { return title_; }
  bool frame_open() const { return open_; }
  const std::vector<CursorShape>& cursor_log() const { return cursor_log_; }
  size_t presents() const { return presents_; }

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
  std::deque<int> alert_answers_;
  std::vector<std::string> alert_texts_;
};

}  // namespace platform
