// Input scripts: an application driven from a file, as a user would drive
// it, one action a line (`talven run --headless --input SCRIPT APP.RI`).
//
// The headless back-end gives the actions one at a time, each when the
// application next waits for input with nothing left in its queue, so that
// every action is handled before the next arrives and a run repeats
// exactly. Mouse points are in the desktop area's coordinates (where
// top-level windows are placed), whatever lies above it in the frame.
//
//   move X Y                  press X Y [right|middle] [shift] [ctrl] [alt]
//   release X Y [...]         click X Y [...]        double X Y [...]
//   drag X1 Y1 X2 Y2          key NAME [shift] [ctrl] [alt]
//   type TEXT                 wait MS
//   screenshot FILE.png       screenshot-frame FILE.png
//   menu TITLE ITEM [SUBITEM...]
//   alert N                   close        quit
//   chooser R G B | cancel    cursor
//   audio FILE.wav
//
// Blank lines and lines starting with `#` are skipped; a word holding
// spaces is written in double quotes.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/gfx/surface.hpp"

namespace platform {

struct ScriptAction {
  enum class Kind : uint8_t {
    Move, Press, Release, Click, Double, Drag, Key, Type, Wait, Screenshot, ScreenshotFrame, Menu, Alert, Close, Quit,
    Chooser, Cursor, Audio,
  };
  Kind kind = Kind::Move;
  int line = 0;
  gfx::Pt at, to;                 // desktop-area points
  uint8_t button = 0;             // 0 left, 1 right, 2 middle
  uint32_t keys = 0;              // Keys: the modifiers held
  uint16_t vk = 0;                // key: its virtual-key code
  bool extended = false;
  std::string text;               // type: code page 1252; screenshots, audio: the file
  std::vector<std::string> path;  // menu: the titles, code page 1252
  uint32_t number = 0;            // wait: milliseconds; alert: the button, from 1; chooser: 0x1RRGGBB, 0 to cancel
};

struct InputScript {
  std::string name;  // as messages name it
  std::vector<ScriptAction> actions;
};

// Reads a script (UTF-8). A bad line makes it false, with
// "NAME:LINE: message" in `error`.
bool parse_input_script(std::string_view text, const std::string& name, InputScript& out, std::string& error);

}  // namespace platform
