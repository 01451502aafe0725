#include "platform/backend.hpp"
#include "platform/gfx/png.hpp"

namespace platform {

bool HeadlessBackend::open_frame(std::string_view title, Pt client) {
  title_ = title;
  open_ = true;
  shown_ = gfx::Surface(std::clamp(client.x, 0, gfx::Surface::kMaxSide), std::clamp(client.y, 0, gfx::Surface::kMaxSide));
  return true;
}

void HeadlessBackend::present(const gfx::Surface& frame, std::span<const Rect> dirty) {
  ++presents_;
  if (shown_.width() != frame.width() || shown_.height() != frame.height() || shown_.format() != frame.format()) {
    shown_ = frame;
    return;
  }
  for (Rect r : dirty) {
    r = gfx::intersect(r, frame.bounds());
    if (r.empty()) continue;
    size_t bpp = size_t(frame.bytes_per_pixel());
    for (int32_t y = r.top; y < r.bottom; ++y)
      std::copy_n(frame.row_bytes(y) + size_t(r.left) * bpp, size_t(r.width()) * bpp,
                  shown_.row_bytes(y) + size_t(r.left) * bpp);
  }
  shown_.palette() = frame.palette();
}

void HeadlessBackend::poll(std::vector<InputEvent>& out) {
  while (!script_.empty()) {
    InputEvent e = std::move(script_.front());
    script_.pop_front();
    out.push_back(std::move(e));
  }
}

// Nothing can arrive while waiting: the wait is the time passing.
void HeadlessBackend::wait_input(Tick max_ms) {
  if (script_.empty()) clock_ += max_ms;
}

void HeadlessBackend::move(Pt at, uint32_t keys) {
  InputEvent e;
  e.kind = InputEvent::Kind::MouseMove, e.at = at, e.keys = keys;
  e.time = clock_;
  script_.push_back(e);
}

static uint32_t button_bit(uint8_t button) {
  return button == 0 ? kLeftButton : button == 1 ? kRightButton : kMiddleButton;
}

void HeadlessBackend::press(Pt at, uint8_t button, uint32_t keys) {
  InputEvent e;
  e.kind = InputEvent::Kind::ButtonDown, e.at = at, e.button = button, e.keys = keys | button_bit(button);
  e.time = clock_;
  script_.push_back(e);
}

void HeadlessBackend::release(Pt at, uint8_t button, uint32_t keys) {
  InputEvent e;
  e.kind = InputEvent::Kind::ButtonUp, e.at = at, e.button = button, e.keys = keys & ~button_bit(button);
  e.time = clock_;
  script_.push_back(e);
}

void HeadlessBackend::click(Pt at, uint8_t button, uint32_t keys) {
  press(at, button, keys);
  release(at, button, keys);
}

void HeadlessBackend::drag(Pt from, Pt to, int steps) {
  press(from);
  steps = std::max(steps, 1);
  for (int i = 1; i <= steps; ++i)
    move({from.x + (to.x - from.x) * i / steps, from.y + (to.y - from.y) * i / steps}, kLeftButton);
  release(to);
}

void HeadlessBackend::key_down(uint16_t vk, uint32_t keys, bool extended, std::string text) {
  InputEvent e;
  e.kind = InputEvent::Kind::KeyDown, e.vk = vk, e.keys = keys, e.extended = extended, e.text = std::move(text);
  e.time = clock_;
  script_.push_back(std::move(e));
}

void HeadlessBackend::key_up(uint16_t vk, uint32_t keys, bool extended) {
  InputEvent e;
  e.kind = InputEvent::Kind::KeyUp, e.vk = vk, e.keys = keys, e.extended = extended;
  e.time = clock_;
  script_.push_back(e);
}

void HeadlessBackend::key(uint16_t vk, uint32_t keys, bool extended, std::string text) {
  key_down(vk, keys, extended, std::move(text));
  key_up(vk, keys, extended);
}

void HeadlessBackend::request_close() {
  InputEvent e;
  e.kind = InputEvent::Kind::Close;
  e.time = clock_;
  script_.push_back(e);
}

bool HeadlessBackend::screenshot(const std::string& path, std::string* error) const {
  return gfx::write_png(shown_, path, error);
}

}  // namespace platform
