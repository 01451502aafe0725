// Menus and the colour chooser tracked by scripted input, headless.
//
// Geometry of the menu scenes: the window "Menus" at (10,10)-(300,200)
// with a caption has its bar at y 25..43, the titles File at x 13..49 and
// Edit at 49..85. File opens at (13,42): rows Open y 44..60, a separator,
// Recent 67..83, Save 83..99, 128 wide; Recent's menu opens beside it at
// x 139, its rows one 67..83, two 83..99.
#include <gtest/gtest.h>

#include <random>

#include "tests/platform/window_world.hpp"

namespace platform {
namespace {
using scenario::World;
using Seen = std::vector<std::pair<uint32_t, uint64_t>>;
using MI = WindowSystem::MenuItem;

struct MenuScene {
  World w{0, {320, 240}};
  WindowSystem& ws = w.ws;
  Handle a = 0, bar = 0, file = 0, recent = 0, edit = 0;

  MenuScene() {
    a = w.make("log", {10, 10, 300, 200}, kVisible | kCaption | kSysMenu, 0, "Menus");
    recent = ws.create_menu();
    ws.append_menu(recent, MI{"one", 10002});
    ws.append_menu(recent, MI{"two", 10005});
    file = ws.create_menu();
    ws.append_menu(file, MI{"&Open\tCtrl+O", 10000});
    ws.append_menu(file, MI{"", 0, WindowSystem::kMenuSeparator});
    ws.append_menu(file, MI{"&Recent", 0, 0, recent});
    ws.append_menu(file, MI{"&Save", 10003, WindowSystem::kMenuDisabled});
    edit = ws.create_menu();
    ws.append_menu(edit, MI{"Cu&t", 10004, WindowSystem::kMenuChecked});
    bar = ws.create_menu();
    ws.append_menu(bar, MI{"&File", 0, 0, file});
    ws.append_menu(bar, MI{"&Edit", 0, 0, edit});
  }
  // The menu messages and presses the window received since last asked.
  Seen seen() {
    Seen out;
    for (auto& l : w.log)
      if (l.message == msg::InitMenuPopup || l.message == msg::Command || l.message == msg::LButtonDown)
        out.push_back({l.message, l.wparam});
    w.log.clear();
    return out;
  }
  // Moves in a row coalesce; a key between keeps them apart.
  void move(Pt p, uint32_t keys = kLeftButton) {
    w.backend.move(p, keys);
    w.backend.key_up(0x10);
  }
};

TEST(Menus, TheBarTrackedByClicks) {
  MenuScene s;
  Rect before = s.ws.client_rect(s.a);
  ASSERT_TRUE(s.ws.set_menu_bar(s.a, s.bar));
  EXPECT_EQ(s.ws.client_rect(s.a).height(), before.height() - WindowSystem::kMenuBarHeight);
  EXPECT_EQ(s.w.log.back().message, uint32_t(msg::Size));
  s.ws.activate(s.a);
  s.w.pump();
  s.seen();
  auto& b = s.w.backend;

  // A click on a title opens its menu; a click on an item chooses it and
  // the window is posted its command.
  b.click({20, 30});
  b.click({30, 52});
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::Command, 10000}}));
  EXPECT_EQ(s.ws.children(s.ws.desktop()).size(), 1u) << "the pop-up is gone";

  // Escape, a click outside every menu (not passed on to the window), a
  // click on the title again: nothing chosen.
  b.click({20, 30});
  b.key(0x1B);
  b.click({20, 30});
  b.click({250, 150});
  b.click({20, 30});
  b.click({20, 30});
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.file}}));

  // A disabled item or a separator keeps the menu open; the owner enables
  // Save while the menu is about to open, so then it can be chosen.
  b.click({20, 30});
  b.click({30, 90});
  b.click({30, 63});
  b.key(0x1B);
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}}));
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::InitMenuPopup && m.wparam == s.file) s.ws.enable_menu_item(s.file, 3, true);
  };
  b.click({20, 30});
  b.click({30, 90});
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::Command, 10003}}));

  // Pressed on File, dragged over Recent (its menu opens, with its
  // position in File), released on "one".
  b.press({20, 30});
  s.move({30, 75});
  s.move({150, 75});
  b.release({150, 75});
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.recent}, {msg::Command, 10002}}));

  // Sliding along the bar opens the next title's menu.
  b.press({20, 30});
  s.move({60, 30});
  s.move({60, 52});
  b.release({60, 52});
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.edit}, {msg::Command, 10004}}));
}

TEST(Menus, TheBarTrackedByKeys) {
  MenuScene s;
  s.ws.set_menu_bar(s.a, s.bar);
  s.ws.activate(s.a);
  s.w.pump();
  s.seen();
  auto& b = s.w.backend;
  std::vector<int64_t> positions;
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::InitMenuPopup) positions.push_back(m.lparam);
  };
  // F10 opens the first menu with its first item lit; down skips the
  // separator to Recent, right opens it, Enter chooses its first item.
  b.key(0x79);
  b.key(0x28);
  b.key(0x27);
  b.key(0x0D);
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.recent}, {msg::Command, 10002}}));
  EXPECT_EQ(positions, (std::vector<int64_t>{0, 2}));
  // Alt and a title's marked letter open that menu; an item's letter
  // chooses it.
  b.key('E', kAlt);
  b.key('T');
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.edit}, {msg::Command, 10004}}));
  // Left and right go round the titles; Escape leaves a submenu first.
  b.key(0x79);
  b.key(0x25);  // to Edit
  b.key(0x25);  // round to File
  b.key(0x28);  // Recent
  b.key(0x27);  // opens it
  b.key(0x1B);  // closes it
  b.key(0x1B);  // and the menu
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.edit},
                            {msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.recent}}));
}

TEST(Menus, PopUpsAnswerTheChosenId) {
  MenuScene s;
  s.ws.activate(s.a);
  s.w.pump();
  s.seen();
  auto& b = s.w.backend;
  Handle pop = s.ws.create_menu();
  s.ws.append_menu(pop, MI{"Alpha", 20001});
  s.ws.append_menu(pop, MI{"Beta", 20002});
  // Rows at y 102..118 and 118..134 for a pop-up at (200,100). Called
  // while the button is down, a release on an item chooses it.
  b.release({210, 125});
  EXPECT_EQ(s.ws.track_popup(pop, {200, 100}, s.a), 20002u);
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, pop}})) << "answered, not posted";
  b.click({210, 110});
  EXPECT_EQ(s.ws.track_popup(pop, {200, 100}, s.a, true), 20001u);
  s.w.pump();
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, pop}, {msg::Command, 20001}}));
  // With no input at all, nothing; a pop-up at the frame's corner is
  // moved to fit.
  Rect shown;
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::EnterIdle) shown = s.ws.window_rect(Handle(m.lparam));
  };
  EXPECT_EQ(s.ws.track_popup(pop, {310, 230}, s.a), 0u);
  EXPECT_FALSE(shown.empty());
  // Timers go on while a menu is open.
  int ticks = 0;
  s.w.hook = [&](const Message& m) { ticks += m.message == msg::Timer && s.ws.tracking_menu(); };
  s.ws.set_timer(s.a, 9, 20);
  b.advance(100);
  b.move({210, 125});
  EXPECT_EQ(s.ws.track_popup(pop, {200, 100}, s.a), 0u);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(gfx::intersect(shown, Rect{0, 0, 320, 240}), shown);
  EXPECT_EQ(s.ws.children(s.ws.desktop()).size(), 1u);
}

// A pop-up taller than the frame shows the rows that fit between two
// arrow strips: the keyboard scrolls to the row it lights, the pointer
// on a strip scrolls a row at a time.
TEST(Menus, TallPopUpsScroll) {
  World w(0, {200, 150});
  Handle a = w.make("log", {0, 0, 200, 150});
  w.ws.activate(a);
  w.pump();
  Handle tall = w.ws.create_menu();
  for (uint32_t i = 0; i < 40; ++i) w.ws.append_menu(tall, MI{"Row " + std::to_string(i), 100 + i});
  gfx::Surface shot;
  w.hook = [&](const Message& m) {
    if (m.message == msg::EnterIdle) shot = w.backend.shown();
  };
  // Placed at the top: the strip is y 0..8, rows of 16 from y 8.
  for (int i = 0; i < 20; ++i) w.backend.key(0x28);
  EXPECT_EQ(w.ws.track_popup(tall, {10, 0}, a), 0u);
  ASSERT_GT(shot.width(), 0);
  EXPECT_TRUE(gfx::testing::matches_golden(shot, "menu_tall"));
  for (int i = 0; i < 20; ++i) w.backend.key(0x28);
  w.backend.key(0x0D);
  EXPECT_EQ(w.ws.track_popup(tall, {10, 0}, a), 119u);
  // Five moves onto the lower strip, then a click on the first row shown.
  for (int i = 0; i < 5; ++i) {
    w.backend.move({30, 146});
    w.backend.key_up(0x10);
  }
  w.backend.click({30, 12});
  EXPECT_EQ(w.ws.track_popup(tall, {10, 0}, a), 105u);
  // Right-button context menus: released on a row, it is chosen.
  w.backend.release({30, 30}, 1);
  EXPECT_EQ(w.ws.track_popup(tall, {10, 0}, a), 101u);
}

TEST(Menus, WhatTheOwnerDoesWhileAMenuOpensIsSafe) {
  MenuScene s;
  s.ws.set_menu_bar(s.a, s.bar);
  s.ws.activate(s.a);
  s.w.pump();
  auto& b = s.w.backend;
  // The menu destroyed as it is about to open: nothing chosen.
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::InitMenuPopup) s.ws.destroy_menu(s.file);
  };
  b.click({20, 30});
  b.click({30, 52});
  s.w.pump();
  EXPECT_FALSE(s.ws.menu_alive(s.file));
  EXPECT_FALSE(s.ws.menu_alive(s.recent)) << "its submenu went with it";
  EXPECT_TRUE(s.ws.menu_alive(s.bar));
  EXPECT_EQ(s.ws.menu_item(s.bar, 0)->submenu, s.file) << "a dead handle in the bar opens nothing";
  b.click({20, 30});
  s.w.pump();
  // The owner emptying the bar as a menu opens: the keys that go round
  // the titles find none.
  Handle bar2 = s.ws.create_menu();
  Handle sub = s.ws.create_menu();
  s.ws.append_menu(sub, MI{"x", 5});
  s.ws.append_menu(bar2, MI{"&A", 0, 0, sub});
  s.ws.set_menu_bar(s.a, bar2);
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::InitMenuPopup) s.ws.remove_menu_item(bar2, 0);
  };
  b.key(0x79);
  b.key(0x27);
  b.key(0x25);
  b.key(0x0D);
  s.w.pump();
  EXPECT_EQ(s.ws.menu_item_count(bar2), 0u);
  s.ws.set_menu_bar(s.a, s.bar);
  // The owner destroying itself as a menu opens.
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::InitMenuPopup) s.ws.destroy(m.window);
  };
  b.click({60, 30});
  b.click({60, 52});
  s.w.pump();
  EXPECT_FALSE(s.ws.alive(s.a));
  EXPECT_TRUE(s.ws.children(s.ws.desktop()).empty());
  Handle pop = s.ws.create_menu();
  s.ws.append_menu(pop, MI{"x", 1});
  Handle b2 = s.w.make("log", {0, 0, 50, 50});
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::InitMenuPopup) s.ws.destroy(m.window);
  };
  b.click({5, 5});
  EXPECT_EQ(s.ws.track_popup(pop, {0, 0}, b2, true), 0u);
  EXPECT_FALSE(s.ws.alive(b2));
}

TEST(Menus, HandlesItemsAndBars) {
  MenuScene s;
  auto& ws = s.ws;
  EXPECT_FALSE(ws.menu_alive(0));
  EXPECT_FALSE(ws.menu_alive(s.a)) << "a window is not a menu";
  EXPECT_FALSE(ws.alive(s.bar)) << "a menu is not a window";
  // A menu may not hold itself, directly or through a submenu.
  EXPECT_FALSE(ws.append_menu(s.recent, MI{"loop", 0, 0, s.file}));
  EXPECT_FALSE(ws.append_menu(s.file, MI{"self", 0, 0, s.file}));
  EXPECT_FALSE(ws.set_menu_item(s.recent, 0, MI{"loop", 0, 0, s.bar}));
  EXPECT_FALSE(ws.insert_menu(s.file, 9, MI{"far", 1}));
  EXPECT_TRUE(ws.insert_menu(s.file, 0, MI{"first", 1}));
  EXPECT_EQ(ws.menu_item_count(s.file), 5u);
  EXPECT_TRUE(ws.check_menu_item(s.file, 0, true));
  EXPECT_EQ(ws.menu_item(s.file, 0)->flags, uint32_t(WindowSystem::kMenuChecked));
  EXPECT_TRUE(ws.remove_menu_item(s.file, 0));
  EXPECT_FALSE(ws.remove_menu_item(s.file, 4));
  EXPECT_FALSE(ws.menu_item(s.file, 4));
  EXPECT_EQ(ws.menu_item(s.file, 0)->id, 10000u);
  // Ids are 32 bits.
  EXPECT_TRUE(ws.set_menu_item(s.recent, 1, MI{"big", 0xFFFFFFF0u}));
  EXPECT_EQ(ws.menu_item(s.recent, 1)->id, 0xFFFFFFF0u);

  // Bars go on top-level windows and the desktop, not on children.
  Handle child = s.w.make("log", {0, 0, 10, 10}, kVisible | kChild, s.a);
  EXPECT_FALSE(ws.set_menu_bar(child, s.bar));
  EXPECT_FALSE(ws.set_menu_bar(s.a, s.a));
  ASSERT_TRUE(ws.set_menu_bar(s.a, s.bar));
  Rect with = ws.client_rect(s.a);
  // Destroying the bar's menu takes it off the window.
  Handle removed = s.recent;
  ws.destroy_menu(s.bar);
  EXPECT_EQ(ws.menu_bar(s.a), 0u);
  EXPECT_EQ(ws.client_rect(s.a).height(), with.height() + WindowSystem::kMenuBarHeight);
  EXPECT_FALSE(ws.menu_alive(s.file));
  EXPECT_FALSE(ws.menu_alive(removed));
  EXPECT_FALSE(ws.destroy_menu(s.bar));
  EXPECT_FALSE(ws.append_menu(s.file, MI{"late", 1}));
  EXPECT_EQ(ws.menu_item_count(s.file), 0u);
  // A new menu never has the handle of a dead one.
  Handle again = ws.create_menu();
  EXPECT_NE(again, s.bar);
  EXPECT_NE(again, s.file);
  EXPECT_EQ(ws.track_popup(s.file, {0, 0}, s.a), 0u);
  EXPECT_EQ(ws.track_menu_bar(s.a, 0, true), 0u);
}

TEST(Menus, TheDesktopsBarCommandsTheDesktop) {
  World w(0, {320, 240});
  Handle bar = w.ws.create_menu();
  Handle file = w.ws.create_menu();
  w.ws.append_menu(file, MI{"&Quit", 77});
  w.ws.append_menu(bar, MI{"&File", 0, 0, file});
  w.ws.append_menu(bar, MI{"&Help", 78});  // a command on the bar itself
  std::vector<uint64_t> commands;
  ASSERT_TRUE(w.ws.set_window_proc(w.ws.desktop(), [&](WindowSystem& ws, const Message& m) {
    if (m.message == msg::Command) commands.push_back(m.wparam);
    return WindowSystem::default_proc(ws, m);
  }));
  ASSERT_TRUE(w.ws.set_menu_bar(w.ws.desktop(), bar));
  Handle a = w.make("log", {0, 0, 50, 50});
  EXPECT_EQ(w.ws.screen_client(a).top, WindowSystem::kMenuBarHeight) << "windows live below the bar";
  w.pump();
  // File at x 2..38, Help 38..74 on the bar row 0..18; Quit at y 19..35.
  w.backend.click({10, 8});
  w.backend.click({10, 25});
  w.backend.click({50, 8});
  w.pump();
  EXPECT_EQ(commands, (std::vector<uint64_t>{77, 78}));
}

// An input script's menu lines choose through the clicks a user makes, into
// submenus too; a title or item that is not there is said and ends the
// tracking.
TEST(Menus, ScriptsChooseFromTheBarByTheTitlesShown) {
  MenuScene s;
  s.ws.set_menu_bar(s.a, s.bar);
  s.ws.activate(s.a);
  s.w.pump();
  s.seen();
  InputScript script;
  std::string error;
  ASSERT_TRUE(parse_input_script("menu File Recent two\nmenu Edit Cut\nmenu Edit Paste\nmenu View Zoom\n"
                                 "menu File Open\n", "m.txt", script, error)) << error;
  s.w.backend.run_script(script, s.ws);
  testing::internal::CaptureStderr();
  for (int guard = 0; guard < 1000; ++guard) {
    s.w.pump();
    if (s.w.backend.input_exhausted()) break;
    s.ws.wait_idle(10);
  }
  std::string said = testing::internal::GetCapturedStderr();
  std::vector<uint64_t> commands;
  for (auto& [message, wparam] : s.seen())
    if (message == msg::Command) commands.push_back(wparam);
  EXPECT_EQ(commands, (std::vector<uint64_t>{10005, 10004, 10000}));
  EXPECT_EQ(said, "talven: m.txt:3: menu: no item 'Paste' open to choose\n"
                  "talven: m.txt:4: menu: no title 'View' in the menu bar\n");
  EXPECT_FALSE(s.ws.tracking_menu());
  EXPECT_EQ(s.ws.children(s.ws.desktop()).size(), 1u) << "no pop-up left";
}

// Menus built, changed, destroyed and tracked at random, with random
// input: nothing crashes, every tracking ends, and no pop-up is left.
TEST(Menus, RandomUseIsSafe) {
  World w(0, {200, 150});
  Handle a = w.make("log", {0, 0, 200, 150}, kVisible | kCaption, 0, "R");
  w.ws.activate(a);
  std::mt19937 rng(7);
  auto pick = [&](uint32_t n) { return n ? uint32_t(rng() % n) : 0u; };
  std::vector<Handle> menus;
  for (int i = 0; i < 4; ++i) {
    menus.push_back(w.ws.create_menu());
    for (uint32_t id = 1; id <= 3; ++id) w.ws.append_menu(menus.back(), MI{"&Item", id});
  }
  int opened = 0, chosen = 0;
  w.hook = [&](const Message& m) {
    opened += m.message == msg::InitMenuPopup;
    chosen += m.message == msg::Command;
    // Owners change the menu as it opens, now and then.
    if (m.message == msg::InitMenuPopup && pick(3) == 0) w.ws.append_menu(Handle(m.wparam), MI{"&late", pick(5)});
    if (m.message == msg::InitMenuPopup && pick(7) == 0) w.ws.remove_menu_item(Handle(m.wparam), pick(4));
  };
  const uint16_t keys[] = {0x25, 0x26, 0x27, 0x28, 0x0D, 0x1B, 'L', 'A', 0x79};
  for (int step = 0; step < 1500; ++step) {
    Handle m = menus[pick(uint32_t(menus.size()))];
    switch (pick(16)) {
      case 0: menus.push_back(w.ws.create_menu()); break;
      case 1: w.ws.destroy_menu(m); break;
      case 2:
      case 3:
      case 4:
      case 5: {
        MI item{pick(2) ? "&Item\tX" : "&a&&b", 1 + pick(4), pick(4) ? 0u : pick(8), pick(2) ? 0 : menus[pick(uint32_t(menus.size()))]};
        w.ws.append_menu(m, item);
        break;
      }
      case 6: w.ws.set_menu_bar(a, pick(4) ? m : 0); break;
      default: {
        for (int i = 0, n = int(pick(6)); i < n; ++i) {
          Pt p{int32_t(pick(220)) - 10, int32_t(pick(170)) - 10};
          switch (pick(5)) {
            case 0: w.backend.click(p); break;
            case 3: w.backend.key(0x28), w.backend.key(0x0D); break;
            case 1: w.backend.move(p); w.backend.key_up(0x10); break;
            case 2: w.backend.press(p); break;
            default: w.backend.key(keys[pick(9)], pick(4) == 0 ? uint32_t(kAlt) : 0u); break;
          }
        }
        if (pick(3) == 0) w.ws.track_popup(m, {int32_t(pick(200)), int32_t(pick(150))}, a, pick(2));
        w.pump();
        break;
      }
    }
    ASSERT_TRUE(w.ws.alive(a));
    ASSERT_FALSE(w.ws.tracking_menu());
    ASSERT_EQ(w.ws.children(w.ws.desktop()).size(), 1u) << "step " << step;
  }
  EXPECT_GT(opened, 20);
  EXPECT_GT(chosen, 2) << opened;
}

// The menus as they look: the bar with File open, Recent open beside it
// and "two" lit, captured while the tracking waits for input.
TEST(Menus, LookLikeTheGolden) {
  MenuScene s;
  s.ws.set_menu_bar(s.a, s.bar);
  s.ws.activate(s.a);
  s.w.pump();
  gfx::Surface shot;
  s.w.hook = [&](const Message& m) {
    if (m.message == msg::EnterIdle) shot = s.w.backend.shown();
  };
  s.w.backend.click({20, 30});
  s.move({30, 75}, 0);
  s.move({150, 91}, 0);
  s.w.pump();
  ASSERT_GT(shot.width(), 0);
  EXPECT_TRUE(gfx::testing::matches_golden(shot, "menus"));
  EXPECT_EQ(s.seen(), (Seen{{msg::InitMenuPopup, s.file}, {msg::InitMenuPopup, s.recent}}));
}

// The colour chooser: 510 x 210, centred. In a 520 x 260 frame its client
// area starts at (6,40): basic swatches at client (8 + 20 col, 20 + 16
// row), the red bar at client x 220..476, y 70..82, Add at (8,168), OK at
// (180,168), Cancel at (248,168).
struct ChooserScene {
  World w{0, {520, 260}};
  Handle a = w.make("log", {0, 0, 100, 100});
  Pt at(int32_t x, int32_t y) { return {6 + x, 40 + y}; }
  ChooserScene() {
    w.ws.activate(a);
    w.pump();
  }
};

TEST(ColourChooser, AnswersTheColourChosenOrNone) {
  ChooserScene c;
  auto& b = c.w.backend;
  // The third row's fourth colour, then OK.
  b.click(c.at(8 + 3 * 20 + 4, 20 + 2 * 16 + 4));
  b.click(c.at(190, 175));
  EXPECT_EQ(c.w.ws.choose_color(0x123456, c.a), 0x009000u);
  // The red bar dragged to 200, Enter.
  b.press(c.at(220, 75));
  b.move(c.at(300, 75), kLeftButton);
  b.release(c.at(420, 76));
  b.key(0x0D);
  EXPECT_EQ(c.w.ws.choose_color(0x000080, c.a), 0xC80080u);
  // Escape, Cancel, the close box, no input: none.
  b.key(0x1B);
  EXPECT_EQ(c.w.ws.choose_color(0xFF, c.a), std::nullopt);
  b.click(c.at(190, 50));  // a swatch-free spot, then Cancel
  b.click(c.at(260, 175));
  EXPECT_EQ(c.w.ws.choose_color(0xFF, c.a), std::nullopt);
  b.click({6 + 508 - 8, 40 - 8});
  EXPECT_EQ(c.w.ws.choose_color(0xFF, c.a), std::nullopt);
  EXPECT_EQ(c.w.ws.choose_color(0xFF, c.a), std::nullopt);
  // OK at once answers the colour it began with.
  b.click(c.at(190, 175));
  EXPECT_EQ(c.w.ws.choose_color(0xABCDEF, c.a), 0xABCDEFu);
  EXPECT_TRUE(c.w.ws.enabled(c.a));
  EXPECT_EQ(c.w.ws.active(), c.a);
  EXPECT_EQ(c.w.ws.children(c.w.ws.desktop()).size(), 1u);
  // The system's own classes are not to be taken over.
  EXPECT_FALSE(c.w.ws.register_class({"#color", nullptr, 0, std::nullopt}));
  EXPECT_FALSE(c.w.ws.register_class({"#menu", nullptr, 0, std::nullopt}));
  // In a frame smaller than itself it still opens, and Escape answers.
  World tiny(0, {60, 40});
  tiny.backend.key(0x1B);
  EXPECT_EQ(tiny.ws.choose_color(0x10), std::nullopt);
  EXPECT_TRUE(tiny.ws.children(tiny.ws.desktop()).empty());
}

TEST(ColourChooser, CustomColoursAndModality) {
  ChooserScene c;
  auto& b = c.w.backend;
  for (uint32_t col : c.w.ws.custom_colors()) EXPECT_EQ(col, 0xFFFFFFu);
  bool disabled_inside = false;
  c.w.hook = [&](const Message& m) {
    if (m.message == msg::EnterIdle) disabled_inside = !c.w.ws.enabled(c.a);
  };
  // Add twice: the custom row fills from its start and is kept.
  b.click(c.at(50, 10 + 20));  // a basic swatch: row 0, col 2
  b.click(c.at(20, 175));
  b.click(c.at(8 + 5 * 20 + 4, 20 + 4 * 16 + 4));
  b.click(c.at(20, 175));
  EXPECT_EQ(c.w.ws.choose_color(0, c.a), std::nullopt);
  EXPECT_TRUE(disabled_inside);
  EXPECT_TRUE(c.w.ws.enabled(c.a));
  auto& custom = c.w.ws.custom_colors();
  EXPECT_EQ(custom[0], 0x484848u);
  EXPECT_EQ(custom[1], 0x7F7FFFu);
  EXPECT_EQ(custom[2], 0xFFFFFFu);
  // A custom swatch chosen.
  b.click(c.at(8 + 20 + 4, 132 + 4));
  b.key(0x0D);
  EXPECT_EQ(c.w.ws.choose_color(0, c.a), 0x7F7FFFu);
}

TEST(ColourChooser, LooksLikeTheGolden) {
  ChooserScene c;
  gfx::Surface shot;
  c.w.hook = [&](const Message& m) {
    if (m.message == msg::EnterIdle) shot = c.w.backend.shown();
  };
  c.w.ws.custom_colors()[0] = 0x336699;
  EXPECT_EQ(c.w.ws.choose_color(0x20C040, c.a), std::nullopt);
  ASSERT_GT(shot.width(), 0);
  EXPECT_TRUE(gfx::testing::matches_golden(shot, "chooser"));
}

}  // namespace
}  // namespace platform
