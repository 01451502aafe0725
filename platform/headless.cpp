#include <cstdio>
#include <unistd.h>

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
  auto between = [&](int32_t a, int32_t b, int i) { return int32_t(a + (int64_t(b) - a) * i / steps); };
  for (int i = 1; i <= steps; ++i) move({between(from.x, to.x, i), between(from.y, to.y, i)}, kLeftButton);
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

// Audio plays in virtual time: what was queued drains at the format's byte
// rate as the clock moves.
bool HeadlessBackend::audio_open(const WaveFormat& format) {
  if (!format.valid()) return false;
  if (audio_open_ && (format.rate != audio_format_.rate || format.channels != audio_format_.channels ||
                      format.bits != audio_format_.bits))
    audio_log_.clear();
  audio_format_ = format;
  audio_open_ = true;
  audio_queued_ = 0;
  return true;
}

bool HeadlessBackend::audio_queue(std::span<const uint8_t> pcm) {
  if (!audio_open_ || pcm.size() % audio_format_.frame_bytes() != 0) return false;
  if (audio_pending() == 0) audio_queued_ = 0, audio_start_ = clock_;
  audio_queued_ += pcm.size();
  audio_log_.insert(audio_log_.end(), pcm.begin(), pcm.end());
  return true;
}

size_t HeadlessBackend::audio_pending() {
  if (!audio_open_) return 0;
  uint64_t played = uint64_t(uint32_t(clock_ - audio_start_)) * audio_format_.bytes_per_second() / 1000;
  played -= played % audio_format_.frame_bytes();
  return played >= audio_queued_ ? 0 : size_t(audio_queued_ - played);
}

void HeadlessBackend::audio_close() {
  audio_open_ = false;
  audio_queued_ = 0;
}

static void put_le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// The log as a RIFF WAVE file, written beside the target and renamed over it.
bool HeadlessBackend::write_wav(const std::string& path, std::string* error) const {
  auto fail = [&](const std::string& why) {
    if (error) *error = path + ": " + why;
    return false;
  };
  if (audio_log_.size() > 0xFFFFFF00u - 44) return fail("audio log too long for a wave file");
  const WaveFormat& f = audio_format_;
  std::vector<uint8_t> out;
  out.reserve(44 + audio_log_.size());
  for (char c : std::string_view("RIFF")) out.push_back(uint8_t(c));
  put_le(out, uint32_t(36 + audio_log_.size()), 4);
  for (char c : std::string_view("WAVEfmt ")) out.push_back(uint8_t(c));
  put_le(out, 16, 4);
  put_le(out, 1, 2);  // PCM
  put_le(out, f.channels, 2);
  put_le(out, f.rate, 4);
  put_le(out, uint32_t(f.bytes_per_second()), 4);
  put_le(out, f.frame_bytes(), 2);
  put_le(out, f.bits, 2);
  for (char c : std::string_view("data")) out.push_back(uint8_t(c));
  put_le(out, uint32_t(audio_log_.size()), 4);
  out.insert(out.end(), audio_log_.begin(), audio_log_.end());
  std::string tmp = path + ".tmp";
  FILE* fp = std::fopen(tmp.c_str(), "wb");
  if (!fp) return fail("cannot write");
  bool ok = std::fwrite(out.data(), 1, out.size(), fp) == out.size();
  ok = std::fflush(fp) == 0 && ok;
  ok = fsync(fileno(fp)) == 0 && ok;
  ok = std::fclose(fp) == 0 && ok;
  if (!ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return fail("cannot write");
  }
  return true;
}

}  // namespace platform
