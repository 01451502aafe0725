// Alerts: a modal window with a text and a row of buttons.
#include <algorithm>

#include "platform/window_internal.hpp"

namespace platform {

using namespace chrome;

namespace {
// The text of an alert in lines: broken at line ends (CR, LF or both) and
// between words to fit `width` pixels; a word longer than that is cut.
std::vector<std::string> wrap_text(std::string_view text, int32_t width) {
  size_t per_line = size_t(std::max<int32_t>(width / gfx::FontMetrics::kAdvance, 1));
  std::vector<std::string> lines;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find_first_of("\r\n", at);
    std::string_view para = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
    do {
      std::string_view line = para.substr(0, std::min(para.size(), per_line));
      if (para.size() > per_line) {
        size_t space = line.rfind(' ');
        if (space != std::string_view::npos && space > 0) line = line.substr(0, space);
      }
      lines.emplace_back(line);
      para.remove_prefix(line.size());
      if (!para.empty() && para.front() == ' ') para.remove_prefix(1);
    } while (!para.empty());
    if (end == std::string_view::npos) break;
    at = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return lines;
}
}  // namespace

int WindowSystem::alert(const std::string& title, const std::string& text, const std::vector<std::string>& buttons) {
  constexpr int32_t kButtonH = 18, kPad = 8, kLineH = gfx::FontMetrics::kHeight + 2;
  int count = std::max<int>(int(buttons.size()), 1);
  std::vector<std::string> labels = buttons;
  if (labels.empty()) labels.push_back("OK");
  int32_t button_w = 60;
  for (auto& l : labels) button_w = std::max(button_w, std::min<int32_t>(label_width(l) + 16, 200));
  Rect area = client_of(find(desktop_));
  int32_t most = std::max<int32_t>(std::min<int32_t>(area.width() - 2 * kPad - 2 * kBorderWidth, 480), 60);
  std::vector<std::string> lines = wrap_text(text, most);
  int32_t widest = 0;
  for (auto& l : lines) widest = std::max(widest, gfx::DC::text_width(l));
  int32_t width = std::max<int32_t>(widest + 2 * kPad, count * (button_w + kPad) + kPad) + 2 * kBorderWidth;
  width = std::min(width, area.width());
  int32_t height = kCaptionHeight + 2 * kBorderWidth + 3 * kPad + int32_t(lines.size()) * kLineH + kButtonH;
  height = std::min(height, area.height());
  Rect r{std::max((area.width() - width) / 2, 0), std::max((area.height() - height) / 2, 0), 0, 0};
  r.right = r.left + width, r.bottom = r.top + height;
  // The buttons in a row from the left, at the bottom.
  auto button = [&](int i, Rect c) {
    int32_t x = kPad + i * (button_w + kPad);
    return Rect{x, c.bottom - kPad - kButtonH, x + button_w, c.bottom - kPad};
  };
  Handle previous = active_;
  Handle h = create({"#alert", title, kVisible | kCaption | kPopup, kTopmost, r, 0, previous});
  if (!h) return count - 1;
  int answer = -1, focused = 0;  // the button Enter and Space press
  set_window_proc(h, [&](WindowSystem& ws, const Message& m) -> int64_t {
    switch (m.message) {
      case msg::Paint: {
        PaintScope paint(ws, m.window);
        WindowDC& dc = paint.dc();
        Rect c = ws.client_rect(m.window);
        dc.dc.fill_rect(dc.client(c), gfx::Brush::solid(frame_.map_color(kFace)));
        dc.dc.set_text_color(frame_.map_color(kText));
        dc.dc.set_background(0, gfx::BackgroundMode::Transparent);
        for (size_t i = 0; i < lines.size(); ++i) dc.dc.text(dc.client(Pt{kPad, kPad + int32_t(i) * kLineH}), lines[i]);
        for (int i = 0; i < count; ++i) {
          Rect b = button(i, c);
          draw_button(dc.dc, dc.client(b), labels[size_t(i)], frame_.map_color(kFrame), frame_.map_color(kText));
          if (i == focused)
            dc.dc.frame_rect(dc.client(Rect{b.left + 1, b.top + 1, b.right - 1, b.bottom - 1}),
                             gfx::Brush::solid(frame_.map_color(kFrame)));
        }
        return 0;
      }
      case msg::LButtonUp: {
        Pt p = param_point(m.lparam);
        for (int i = 0; i < count; ++i)
          if (button(i, ws.client_rect(m.window)).contains(p)) answer = i;
        return 0;
      }
      case msg::KeyDown:
        // Enter or Space takes the focused button (the first unless Tab or
        // an arrow moved it), Escape the last.
        if (m.wparam == 0x0D || m.wparam == 0x20) answer = focused;
        if (m.wparam == 0x1B) answer = count - 1;
        if (m.wparam == 0x09 || m.wparam == 0x25 || m.wparam == 0x27) {
          bool back = m.wparam == 0x25 || (m.wparam == 0x09 && (m.keys & kShift));
          focused = (focused + (back ? count - 1 : 1)) % count;
          ws.invalidate(m.window, std::nullopt, false);
        }
        return 0;
      case msg::Close:
        return 0;
      default:
        return default_proc(ws, m);
    }
  });
  {
    DialogScope dialog(*this, h, previous);
    activate(h);
    update_all();
    if (auto scripted = backend_.answer_alert(text)) answer = std::clamp(*scripted, 0, count - 1);
    ModalWaits waits;
    waits.idle = [&] {
      if (alive(previous)) send(previous, msg::EnterIdle, 0, h);  // the owner may look at the alert
    };
    waits.still = [&] { return answer < 0 && alive(h); };
    Message m;
    while (waits.still() && modal_message(m, waits)) {
      translate(m);
      dispatch(m);
    }
  }
  return answer < 0 ? count - 1 : answer;
}

}  // namespace platform
