// Reading input scripts.
#include "platform/input_script.hpp"

#include <cctype>
#include <charconv>
#include <optional>

#include "platform/backend.hpp"
#include "text/codec.hpp"

namespace platform {

namespace {

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

// The words of a line: runs of non-blanks, or text in double quotes.
bool split(std::string_view line, std::vector<std::string>& words, std::string& why) {
  size_t i = 0;
  while (true) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size()) return true;
    std::string word;
    if (line[i] == '"') {
      size_t end = line.find('"', i + 1);
      if (end == std::string_view::npos) {
        why = "unterminated quoted word";
        return false;
      }
      word = std::string(line.substr(i + 1, end - i - 1));
      i = end + 1;
    } else {
      size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
      word = std::string(line.substr(i, end - i));
      i = end;
    }
    words.push_back(std::move(word));
  }
}

std::optional<int32_t> integer(const std::string& w, int64_t lo, int64_t hi) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(w.data(), w.data() + w.size(), v);
  if (ec != std::errc() || end != w.data() + w.size() || v < lo || v > hi) return std::nullopt;
  return int32_t(v);
}

struct KeyName {
  const char* name;
  uint16_t vk;
  bool extended;
};
const KeyName kKeys[] = {
    {"Return", 0x0D, false}, {"Enter", 0x0D, true},     {"Escape", 0x1B, false}, {"Tab", 0x09, false},
    {"Backspace", 0x08, false}, {"Space", 0x20, false}, {"Delete", 0x2E, true},  {"Insert", 0x2D, true},
    {"Home", 0x24, true},    {"End", 0x23, true},       {"PageUp", 0x21, true},  {"PageDown", 0x22, true},
    {"Left", 0x25, true},    {"Up", 0x26, true},        {"Right", 0x27, true},   {"Down", 0x28, true},
    {"Alt", 0x12, false},
};

bool key_named(const std::string& w, ScriptAction& a) {
  if (w.size() == 1 && std::isalnum(uint8_t(w[0]))) {
    a.vk = uint16_t(std::toupper(uint8_t(w[0])));
    return true;
  }
  for (const KeyName& k : kKeys)
    if (same_word(w, k.name)) {
      a.vk = k.vk, a.extended = k.extended;
      return true;
    }
  if (w.size() >= 2 && (w[0] == 'F' || w[0] == 'f'))
    if (auto n = integer(w.substr(1), 1, 15)) {
      a.vk = uint16_t(0x70 + *n - 1);
      return true;
    }
  if (w.size() == 4 && same_word(w.substr(0, 3), "Num") && std::isdigit(uint8_t(w[3]))) {
    a.vk = uint16_t(0x60 + (w[3] - '0'));
    return true;
  }
  return false;
}

// The modifiers (and, where allowed, the button) after the fixed words.
bool modifiers(const std::vector<std::string>& words, size_t from, bool buttons, ScriptAction& a, std::string& why) {
  for (size_t i = from; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (same_word(w, "shift")) a.keys |= kShift;
    else if (same_word(w, "ctrl")) a.keys |= kControl;
    else if (same_word(w, "alt")) a.keys |= kAlt;
    else if (buttons && same_word(w, "right")) a.button = 1;
    else if (buttons && same_word(w, "middle")) a.button = 2;
    else {
      why = "unknown word '" + w + "'" + (buttons ? " (right, middle, shift, ctrl or alt)" : " (shift, ctrl or alt)");
      return false;
    }
  }
  return true;
}

// UTF-8 from the script as the machine's code page 1252.
bool machine_text(std::string_view utf8, std::string& out, std::string& why) {
  text::Cp1252Report report = text::utf8_to_cp1252(utf8, out);
  if (report.complete) return true;
  why = report.malformed ? "not UTF-8" : "a character code page 1252 does not have";
  return false;
}

bool parse_line(std::string_view line, ScriptAction& a, std::string& why) {
  using K = ScriptAction::Kind;
  std::vector<std::string> words;
  if (!split(line, words, why)) return false;
  const std::string& verb = words[0];
  auto point = [&](size_t i, gfx::Pt& p) {
    auto x = i < words.size() ? integer(words[i], -32768, 32767) : std::nullopt;
    auto y = i + 1 < words.size() ? integer(words[i + 1], -32768, 32767) : std::nullopt;
    if (!x || !y) {
      why = verb + " needs a point X Y (whole numbers)";
      return false;
    }
    p = {*x, *y};
    return true;
  };
  auto exactly = [&](size_t n, const char* usage) {
    if (words.size() == n) return true;
    why = std::string("usage: ") + usage;
    return false;
  };
  static const struct { const char* word; K kind; } kPointed[] = {
      {"move", K::Move}, {"press", K::Press}, {"release", K::Release}, {"click", K::Click}, {"double", K::Double}};
  for (const auto& p : kPointed)
    if (verb == p.word) {
      a.kind = p.kind;
      if (!point(1, a.at)) return false;
      if (p.kind == K::Move) return exactly(3, "move X Y");
      return modifiers(words, 3, p.kind != K::Double, a, why);
    }
  if (verb == "drag") {
    a.kind = K::Drag;
    return point(1, a.at) && point(3, a.to) && exactly(5, "drag X1 Y1 X2 Y2");
  }
  if (verb == "key") {
    a.kind = K::Key;
    if (words.size() < 2 || !key_named(words[1], a)) {
      why = words.size() < 2 ? "usage: key NAME [shift] [ctrl] [alt]" : "unknown key '" + words[1] + "'";
      return false;
    }
    return modifiers(words, 2, false, a, why);
  }
  if (verb == "type") {
    a.kind = K::Type;
    size_t start = line.find("type") + 4;
    if (start < line.size() && (line[start] == ' ' || line[start] == '\t')) ++start;
    if (start >= line.size()) {
      why = "usage: type TEXT";
      return false;
    }
    return machine_text(line.substr(start), a.text, why);
  }
  // A verb with one number from lo to hi.
  auto counted = [&](K kind, int64_t lo, int64_t hi, const char* usage) {
    a.kind = kind;
    auto n = words.size() == 2 ? integer(words[1], lo, hi) : std::nullopt;
    if (!n) why = usage;
    else a.number = uint32_t(*n);
    return n.has_value();
  };
  if (verb == "wait") return counted(K::Wait, 0, 24 * 3600 * 1000, "usage: wait MS (0 to 86400000)");
  if (verb == "screenshot" || verb == "screenshot-frame") {
    a.kind = verb == "screenshot" ? K::Screenshot : K::ScreenshotFrame;
    if (!exactly(2, verb == "screenshot" ? "screenshot FILE.png" : "screenshot-frame FILE.png")) return false;
    a.text = words[1];
    return true;
  }
  if (verb == "audio") {
    a.kind = K::Audio;
    if (!exactly(2, "audio FILE.wav")) return false;
    a.text = words[1];
    return true;
  }
  if (verb == "menu") {
    a.kind = K::Menu;
    if (words.size() < 3) {
      why = "usage: menu TITLE ITEM [SUBITEM...]";
      return false;
    }
    for (size_t i = 1; i < words.size(); ++i) {
      a.path.emplace_back();
      if (!machine_text(words[i], a.path.back(), why)) return false;
    }
    return true;
  }
  if (verb == "alert") return counted(K::Alert, 1, 16, "usage: alert N (the button, 1 to 16)");
  if (verb == "chooser") {
    a.kind = K::Chooser;
    if (words.size() == 2 && words[1] == "cancel") return true;
    const char* usage = "usage: chooser R G B (0 to 255 each) or chooser cancel";
    if (words.size() != 4) {
      why = usage;
      return false;
    }
    uint32_t colour = 0;
    for (size_t i = 1; i < 4; ++i) {
      auto c = integer(words[i], 0, 255);
      if (!c) {
        why = usage;
        return false;
      }
      colour = (colour << 8) | uint32_t(*c);
    }
    a.number = colour | 0x1000000;  // a colour, not a cancel
    return true;
  }
  if (verb == "cursor") {
    a.kind = K::Cursor;
    return exactly(1, "cursor");
  }
  if (verb == "close" || verb == "quit") {
    a.kind = verb == "close" ? K::Close : K::Quit;
    return exactly(1, verb == "close" ? "close" : "quit");
  }
  why = "unknown action '" + verb + "'";
  return false;
}

}  // namespace

bool parse_input_script(std::string_view text, const std::string& name, InputScript& out, std::string& error) {
  out.name = name;
  out.actions.clear();
  int number = 0;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line[first] == '#') continue;
    ScriptAction a;
    a.line = number;
    std::string why;
    if (!parse_line(line.substr(first), a, why)) {
      error = name + ":" + std::to_string(number) + ": " + why;
      return false;
    }
    out.actions.push_back(std::move(a));
  }
  return true;
}

}  // namespace platform
