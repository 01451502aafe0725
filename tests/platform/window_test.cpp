// The window system driven headless: scripted input, pumped queues, and the
// messages each window procedure received, in order.
#include <gtest/gtest.h>

#include <climits>

#include "tests/platform/window_world.hpp"

namespace platform {
namespace {
using scenario::Logged;
using scenario::World;

TEST(WindowSystem, CreateActivateClickKeysAndClose) {
  World w;
  Handle a = w.make("log", {10, 10, 110, 90});
  ASSERT_NE(a, 0u);
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::Create, msg::Size, msg::ShowWindow}));
  EXPECT_EQ(w.log[1].lparam, (80 << 16) | 100);
  w.log.clear();
  w.pump();  // the first paint
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::Paint}));
  w.log.clear();

  // A press on an inactive window asks, activates, focuses, then delivers.
  w.backend.click({20, 30});
  w.pump();
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::MouseActivate, msg::Activate, msg::SetFocus,
                                                  msg::LButtonDown, msg::LButtonUp}));
  EXPECT_EQ(w.log[1].wparam, uint64_t(kClickActive));
  EXPECT_EQ(w.log[3].lparam, (20 << 16) | 10);  // client coordinates
  EXPECT_EQ(w.ws.active(), a);
  EXPECT_EQ(w.ws.focus(), a);

  // A second click soon after at the same place is a double click; a third
  // starts over.
  w.log.clear();
  w.backend.advance(100);
  w.backend.click({21, 30});
  w.backend.advance(100);
  w.backend.click({21, 30});
  w.pump();
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::LButtonDblClk, msg::LButtonUp, msg::LButtonDown,
                                                  msg::LButtonUp}));

  // Keys go to the focus with their extended flag; translate adds the char.
  w.log.clear();
  w.backend.key('A', kShift);
  w.backend.key(0x2E, 0, true);  // delete: extended, no character
  w.pump();
  ASSERT_EQ(w.messages(a), (std::vector<uint32_t>{msg::KeyDown, msg::Char, msg::KeyUp, msg::KeyDown, msg::KeyUp}));
  EXPECT_EQ(w.log[1].wparam, uint64_t('A'));
  EXPECT_EQ(w.log[0].lparam & (1 << 24), 0);
  EXPECT_NE(w.log[3].lparam & (1 << 24), 0);
  EXPECT_NE(w.log[4].lparam & (1ll << 31), 0);

  // Close, by default, destroys a window.
  w.log.clear();
  w.ws.post(a, msg::Close);
  w.pump();
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::Close, msg::Destroy}));
  EXPECT_FALSE(w.ws.alive(a));
  EXPECT_EQ(w.ws.focus(), 0u);
  EXPECT_EQ(w.ws.active(), 0u);
}

// The host's close request is the frame's: it goes to the desktop, whose
// default ends the run with quit; a desktop procedure may refuse it.
TEST(WindowSystem, TheHostsCloseRequestGoesToTheFrame) {
  World w;
  Handle a = w.make("log", {10, 10, 110, 90});
  w.ws.activate(a);
  w.pump();
  w.backend.request_close();
  Message m;
  ASSERT_TRUE(w.ws.peek(m));
  EXPECT_EQ(m.window, w.ws.desktop());
  EXPECT_EQ(m.message, uint32_t(msg::Close));
  w.ws.dispatch(m);
  ASSERT_TRUE(w.ws.peek(m));
  EXPECT_EQ(m.message, uint32_t(msg::Quit));
  EXPECT_EQ(m.wparam, 0u);
  EXPECT_TRUE(w.ws.alive(a));
  int refused = 0;
  w.ws.set_window_proc(w.ws.desktop(), [&](WindowSystem& ws, const Message& msg) -> int64_t {
    if (msg.message == msg::Close) return ++refused, 0;
    return WindowSystem::default_proc(ws, msg);
  });
  w.backend.request_close();
  auto seen = w.pump();
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(std::count(seen.begin(), seen.end(), uint32_t(msg::Quit)), 0);
}

TEST(WindowSystem, DoubleClickNeedsTheClassStyleAndTheTime) {
  World w;
  w.ws.register_class({"plain", nullptr, 0, std::nullopt});
  Handle a = w.make("log", {0, 0, 50, 50});
  Handle b = w.make("plain", {100, 0, 150, 50});
  w.pump();
  std::vector<Message> got;
  auto collect = [&] {
    Message m;
    while (w.ws.peek(m)) {
      if (m.message >= msg::FirstMouse && m.message <= msg::LastMouse && m.message != msg::MouseMove) got.push_back(m);
      w.ws.dispatch(m);
    }
  };
  w.ws.activate(a);
  w.backend.click({10, 10});
  w.backend.advance(501);
  w.backend.click({10, 10});  // too late
  collect();
  w.ws.activate(b);
  w.backend.click({110, 10});
  w.backend.click({110, 10});  // no double clicks for this class
  collect();
  // A press on the caption between two clicks keeps them apart.
  Handle framed = w.ws.create({"log", "", kVisible | kCaption, 0, {0, 60, 80, 140}, 0, 0});
  w.ws.activate(framed);
  w.pump();
  w.backend.click({10, 80});
  w.backend.click({10, 65});
  w.backend.click({10, 80});
  collect();
  ASSERT_EQ(got.size(), 12u);
  for (auto& m : got) EXPECT_NE(m.message, uint32_t(msg::LButtonDblClk));
  EXPECT_EQ(got[2].time - got[0].time, 501u);
}

TEST(WindowSystem, FilteredPeekLeavesTheRestInOrder) {
  World w;
  Handle a = w.make("log", {0, 0, 100, 100});
  w.pump();
  w.ws.activate(a);
  w.ws.set_timer(a, 7, 10);
  w.backend.move({5, 5});
  w.backend.press({6, 6});
  w.backend.key('K');
  w.ws.invalidate(a, Rect{0, 0, 10, 10}, false);
  w.backend.advance(20);

  Message m;
  WindowSystem::Range keys{msg::FirstKey, msg::LastKey};
  ASSERT_TRUE(w.ws.peek(m, 0, std::span(&keys, 1), true));
  EXPECT_EQ(m.message, uint32_t(msg::KeyDown));
  ASSERT_TRUE(w.ws.peek(m, 0, std::span(&keys, 1), true));
  EXPECT_EQ(m.message, uint32_t(msg::KeyUp));
  EXPECT_FALSE(w.ws.peek(m, 0, std::span(&keys, 1), true));

  // Looking without removing changes nothing.
  ASSERT_TRUE(w.ws.peek(m, 0, {}, false));
  EXPECT_EQ(m.message, uint32_t(msg::MouseMove));
  std::vector<uint32_t> rest;
  while (w.ws.peek(m)) {
    rest.push_back(m.message);
    if (m.message == msg::Paint) w.ws.validate(a);
    if (m.message == msg::Timer) w.ws.kill_timer(a, 7);
  }
  EXPECT_EQ(rest, (std::vector<uint32_t>{msg::MouseMove, msg::LButtonDown, msg::Paint, msg::Timer}));

  // A window filter takes only that window's messages (and its children's).
  Handle b = w.make("log", {100, 0, 200, 100});
  Handle child = w.make("log", {0, 0, 10, 10}, kVisible | kChild, b);
  w.pump();
  w.ws.post(a, msg::User);
  w.ws.post(child, msg::User + 1);
  ASSERT_TRUE(w.ws.peek(m, b));
  EXPECT_EQ(m.message, uint32_t(msg::User + 1));
  ASSERT_TRUE(w.ws.peek(m));
  EXPECT_EQ(m.message, uint32_t(msg::User));
}

TEST(WindowSystem, PostedBeforeInputBeforePaintAndMovesCoalesce) {
  World w;
  Handle a = w.make("log", {0, 0, 100, 100});
  w.pump();
  w.ws.activate(a);
  w.pump();
  w.ws.invalidate(a, std::nullopt, true);
  w.backend.move({1, 1});
  w.backend.advance(5);
  w.backend.move({2, 2}, kShift);
  w.backend.advance(5);
  w.backend.move({3, 3}, kShift);
  w.ws.post(a, msg::User);
  Message m;
  std::vector<Message> seen;
  while (w.ws.peek(m)) {
    seen.push_back(m);
    w.ws.dispatch(m);
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].message, uint32_t(msg::User));
  EXPECT_EQ(seen[1].message, uint32_t(msg::MouseMove));
  EXPECT_EQ(seen[1].lparam, (3 << 16) | 3);  // the last position
  EXPECT_EQ(seen[1].time, 10u);
  EXPECT_EQ(seen[2].message, uint32_t(msg::Paint));
  // Key state is the snapshot of the message being handled; the state
  // now is the latest input's, taken or not.
  EXPECT_EQ(w.ws.keys(), uint32_t(kShift));
  w.backend.press({40, 30}, 0, kShift);
  EXPECT_EQ(w.ws.keys(), uint32_t(kShift));
  EXPECT_EQ(w.ws.keys_now(), uint32_t(kShift | kLeftButton));
  EXPECT_EQ(w.ws.pointer_now(), (Pt{40, 30}));
  EXPECT_EQ(w.ws.cursor(), (Pt{3, 3}));
  WindowSystem::Range up{msg::LButtonUp, msg::LButtonUp};
  EXPECT_FALSE(w.ws.peek(m, 0, std::span(&up, 1), false)) << "still down: no release waiting";
  w.backend.release({40, 30});
  EXPECT_TRUE(w.ws.peek(m, 0, std::span(&up, 1), false));
  EXPECT_EQ(w.ws.keys_now(), 0u);
}

TEST(WindowSystem, HandlesOfDestroyedWindowsAreDead) {
  World w;
  Handle a = w.make("log", {0, 0, 10, 10});
  Handle c = w.make("log", {0, 0, 5, 5}, kVisible | kChild, a);
  w.ws.post(c, msg::User);
  w.ws.set_timer(c, 1, 5);
  ASSERT_TRUE(w.ws.destroy(a));
  w.backend.advance(10);
  Message left;
  WindowSystem::Range theirs[] = {{msg::Timer, msg::Timer}, {msg::User, msg::User}};
  EXPECT_FALSE(w.ws.peek(left, 0, theirs)) << "their queued messages and timers went with them";
  EXPECT_FALSE(w.ws.alive(a));
  EXPECT_FALSE(w.ws.alive(c));
  EXPECT_EQ(w.ws.send(a, msg::User), 0);
  EXPECT_FALSE(w.ws.post(c, msg::User));
  EXPECT_FALSE(w.ws.destroy(a));
  EXPECT_EQ(w.messages(c).back(), uint32_t(msg::Destroy));
  Handle b = w.make("log", {0, 0, 10, 10});
  EXPECT_NE(b, a);
  EXPECT_NE(b, c);
  EXPECT_TRUE(w.ws.alive(b));
  EXPECT_FALSE(w.ws.alive(a));
  EXPECT_FALSE(w.ws.set_property(a, "x", 1));
  EXPECT_TRUE(w.ws.set_property(b, "x", 1));
  EXPECT_EQ(w.ws.property(b, "x"), 1u);
  EXPECT_EQ(w.ws.property(b, "y"), std::nullopt);
  EXPECT_TRUE(w.ws.remove_property(b, "x"));
  EXPECT_FALSE(w.ws.property(b, "x"));
  EXPECT_FALSE(w.ws.alive(0));
  EXPECT_FALSE(w.ws.alive(0xFFFFFFFF));
}

// Whatever message a window's own procedure destroys it in, the system
// goes on safely and the handle answers dead.
TEST(WindowSystem, AWindowDestroyedByItsOwnProcedureInAnyMessageIsDead) {
  struct Case {
    const char* name;
    uint32_t message;
    std::function<void(World&, Handle)> script;
  };
  auto click = [](Pt p) { return [p](World& w, Handle) { w.backend.click(p); }; };
  // The window: (10,10)-(110,110) with a caption, close box and a vertical
  // bar at x 97..109 from y 25 (arrow) with the thumb at y 37..49.
  std::vector<Case> cases{
      {"paint", msg::Paint, [](World&, Handle) {}},
      {"posted", msg::User, [](World& w, Handle h) { w.ws.post(h, msg::User); }},
      {"mouse activate", msg::MouseActivate, click({50, 50})},
      {"activate", msg::Activate, click({50, 50})},
      {"focus", msg::SetFocus, click({50, 50})},
      {"press with capture", msg::LButtonDown, [](World& w, Handle) { w.backend.drag({50, 50}, {150, 150}, 2); }},
      {"key", msg::KeyDown, [](World& w, Handle h) { w.ws.activate(h); w.backend.key('K'); }},
      {"char", msg::Char, [](World& w, Handle h) { w.ws.activate(h); w.backend.key('K'); }},
      {"timer", msg::Timer, [](World& w, Handle h) { w.ws.set_timer(h, 1, 10); w.backend.advance(20); }},
      {"scroll arrow", msg::VScroll, click({103, 30})},
      {"thumb drag", msg::VScroll, [](World& w, Handle) { w.backend.drag({103, 40}, {103, 80}, 2); }},
      {"caption drag", msg::PosChanging, [](World& w, Handle) { w.backend.drag({30, 15}, {60, 45}, 2); }},
      {"close box", msg::Close, click({103, 17})},
      {"close", msg::Close, [](World& w, Handle h) { w.ws.post(h, msg::Close); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World w(0, {200, 200});
    bool done = false;
    w.ws.register_class({"selfish",
                         [&](WindowSystem& ws, const Message& m) -> int64_t {
                           if (m.message != c.message || done) return WindowSystem::default_proc(ws, m);
                           done = true;
                           PaintScope paint(ws, m.window);
                           WindowDC& dc = paint.dc();
                           ASSERT_TRUE(ws.destroy(m.window)), 0;
                           dc.dc.fill_rect({0, 0, 200, 200}, gfx::Brush::solid(0x123456));  // still a live surface
                           // Everything on the dead handle is refused or empty.
                           EXPECT_EQ(ws.send(m.window, msg::User), 0);
                           EXPECT_FALSE(ws.post(m.window, msg::User));
                           EXPECT_FALSE(ws.set_property(m.window, "x", 1));
                           EXPECT_TRUE(ws.window_rect(m.window).empty());
                           EXPECT_FALSE(ws.set_timer(m.window, 2, 5));
                           ws.set_capture(m.window);
                           EXPECT_NE(ws.capture(), m.window);
                           ws.invalidate(m.window, std::nullopt, true);
                           PaintScope dead(ws, m.window);
                           EXPECT_TRUE(dead->clip() && dead->clip()->empty());
                           return 0;
                         },
                         0, gfx::rgb(255, 255, 255)});
    Handle h = w.ws.create({"selfish", "", kVisible | kCaption | kSysMenu | kVScroll, 0, {10, 10, 110, 110}, 0, 0});
    ASSERT_NE(h, 0u);
    c.script(w, h);
    w.pump();
    EXPECT_TRUE(done);
    EXPECT_FALSE(w.ws.alive(h));
    EXPECT_NE(w.ws.capture(), h);
    EXPECT_NE(w.ws.focus(), h);
    EXPECT_NE(w.ws.active(), h);
    // What was below shows again, and the system still works.
    EXPECT_EQ(w.backend.shown().color(50, 50), gfx::rgb(0x3A, 0x6E, 0xA5));
    Handle other = w.make("log", {0, 0, 40, 40});
    w.pump();
    w.log.clear();
    w.backend.click({5, 5});
    w.pump();
    EXPECT_EQ(w.messages(other).back(), uint32_t(msg::LButtonUp));
  }
  // Destroyed while being created: no window.
  for (uint32_t message : {uint32_t(msg::Create), uint32_t(msg::Size), uint32_t(msg::ShowWindow)}) {
    World w;
    w.ws.register_class({"brief",
                         [message](WindowSystem& ws, const Message& m) -> int64_t {
                           if (m.message == message) ws.destroy(m.window);
                           return WindowSystem::default_proc(ws, m);
                         },
                         0, std::nullopt});
    EXPECT_EQ(w.ws.create({"brief", "", kVisible, 0, {0, 0, 10, 10}, 0, 0}), 0u) << message;
    EXPECT_TRUE(w.ws.children(w.ws.desktop()).empty());
  }
}

// Which window input goes to is settled as it is taken: a press handler
// that takes the capture gets the rest of the drag, and a key handler that
// moves the focus sends the next key there, though both were queued first.
TEST(WindowSystem, InputGoesWhereThePreviousMessageSentIt) {
  World w;
  Handle a = w.make("log", {0, 0, 50, 50});
  Handle b = w.make("log", {60, 0, 110, 50});
  w.ws.activate(a);
  w.pump();
  w.hook = [&](const Message& m) {
    if (m.message == msg::LButtonDown && m.window == a) w.ws.set_capture(a);
    if (m.message == msg::LButtonUp) w.ws.release_capture();
    if (m.message == msg::KeyDown && m.wparam == 'X') w.ws.set_focus(b);
  };
  w.log.clear();
  w.ignore.push_back(msg::CaptureChanged);
  w.ignore.push_back(msg::Paint);
  w.backend.drag({10, 10}, {80, 20}, 1);
  w.backend.key('X');
  w.backend.key('Y');
  w.pump();
  // The character of X was posted to where its key went.
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::LButtonDown, msg::MouseMove, msg::LButtonUp, msg::KeyDown,
                                                  msg::Activate, msg::KillFocus, msg::Char}));
  EXPECT_EQ(w.messages(b), (std::vector<uint32_t>{msg::Activate, msg::SetFocus, msg::KeyUp, msg::KeyDown, msg::Char,
                                                  msg::KeyUp}));
}

TEST(WindowSystem, CaptionsDragWindowsAndCloseBoxesClose) {
  World w(0, {300, 200});
  Handle a = w.make("log", {10, 10, 110, 90}, kVisible | kCaption | kSysMenu, 0, "A");
  w.ws.activate(a);
  w.pump();
  w.log.clear();
  w.backend.drag({30, 15}, {130, 65}, 2);  // the caption is y 11..25
  w.pump();
  EXPECT_EQ(w.ws.window_rect(a), (Rect{110, 60, 210, 140}));
  EXPECT_EQ(w.messages(a).front(), uint32_t(msg::NcLButtonDown));
  EXPECT_EQ(w.log.front().wparam, uint64_t(kHtCaption));
  // Dragged far out, a corner of the caption stays on the desktop.
  w.backend.drag({130, 65}, {-500, -500}, 1);
  w.pump();
  EXPECT_EQ(w.ws.window_rect(a), (Rect{-84, 0, 16, 80}));
  EXPECT_EQ(w.ws.hit_test(a, {8, 8}), kHtClose);
  EXPECT_EQ(w.ws.hit_test(a, {0, 8}), kHtCaption);
  EXPECT_EQ(w.ws.hit_test(a, {0, 0}), kHtBorder);
  EXPECT_EQ(w.ws.hit_test(a, {5, 40}), kHtClient);
  EXPECT_EQ(w.ws.hit_test(a, {50, 40}), kHtNowhere);
  // The close box closes only when the button comes up on it.
  w.backend.press({8, 8});
  w.backend.release({8, 40});
  w.pump();
  EXPECT_TRUE(w.ws.alive(a));
  w.log.clear();
  w.backend.click({8, 8});
  w.pump();
  EXPECT_FALSE(w.ws.alive(a));
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::NcLButtonDown, msg::Close, msg::Destroy}));
}

// Rectangles from anywhere (the far ends of 32 bits, inverted) make
// windows that exist, draw and answer hits without overflow.
TEST(WindowSystem, ExtremeRectanglesAreHeldInRange) {
  World w;
  constexpr int32_t lo = INT32_MIN, hi = INT32_MAX;
  Handle a = w.make("paint", {lo, lo, hi, hi}, kVisible | kCaption | kSizeBox | kVScroll | kHScroll);
  Handle b = w.make("log", {hi, hi, lo, lo}, kVisible | kBorder);
  Handle c = w.make("log", {0, 0, 50, 50}, kVisible | kCaption);
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  w.ws.set_scroll(a, WindowSystem::kVertical, {lo, hi, hi, 0});
  w.ws.move(c, {hi - 5, lo, lo, hi});
  w.ws.scroll_window(c, hi, lo);
  w.ws.invalidate(a, Rect{lo, lo, hi, hi}, true);
  w.pump();
  EXPECT_TRUE(w.ws.window_rect(b).empty());
  EXPECT_GT(w.ws.window_rect(a).width(), 0);
  for (Pt p : {Pt{0, 0}, Pt{199, 149}, Pt{lo, hi}})
    w.ws.hit_test(a, p), w.ws.hit_test(c, p), w.ws.window_at(p);
  Handle m = w.ws.create_menu();
  w.ws.append_menu(m, {std::string(10000, 'W'), 1});
  EXPECT_EQ(w.ws.track_popup(m, {lo, hi}, a), 0u);
  // Input from the far ends too, on the frames being dragged.
  Handle d = w.make("log", {20, 20, 120, 120}, kVisible | kCaption | kSizeBox | kVScroll);
  w.ws.activate(d);
  w.pump();
  for (Pt from : {Pt{60, 30}, Pt{119, 119}, Pt{115, 60}, Pt{115, 40}}) {
    w.backend.drag(from, {lo, hi}, 1);
    w.backend.drag(w.ws.window_rect(d).left < 0 ? Pt{0, 0} : from, {hi, lo}, 1);
  }
  w.pump();
  EXPECT_TRUE(w.ws.alive(d));
}

TEST(WindowSystem, AProcedureThatIgnoresPaintIsNotAskedForever) {
  World w;
  int paints = 0;
  w.ws.register_class({"lazy",
                       [&](WindowSystem&, const Message& m) -> int64_t {
                         paints += m.message == msg::Paint;
                         return 0;
                       },
                       0, std::nullopt});
  Handle a = w.make("lazy", {0, 0, 10, 10});
  w.pump();
  EXPECT_EQ(paints, 1);
  EXPECT_FALSE(w.ws.has_update(a));
}

TEST(WindowSystem, CaptureTakesTheMouseWherever) {
  World w;
  Handle a = w.make("log", {0, 0, 50, 50});
  Handle b = w.make("log", {60, 0, 110, 50});
  w.pump();
  w.ws.activate(a);
  w.pump();
  w.log.clear();
  w.ws.set_capture(a);
  w.backend.drag({10, 10}, {80, 20}, 2);
  w.pump();
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::LButtonDown, msg::MouseMove, msg::LButtonUp}));
  EXPECT_EQ(w.log.back().lparam, (20 << 16) | 80);  // outside, in a's client coordinates
  EXPECT_TRUE(w.messages(b).empty());
  w.ws.set_capture(b);
  EXPECT_EQ(w.messages(a).back(), uint32_t(msg::CaptureChanged));
  w.ws.release_capture();
  EXPECT_EQ(w.ws.capture(), 0u);
}

TEST(WindowSystem, FocusActivationAndTopmost) {
  World w;
  Handle a = w.make("log", {0, 0, 50, 50});
  Handle top = w.ws.create({"log", "", kVisible, kTopmost, {0, 0, 20, 20}, 0, 0});
  Handle b = w.make("log", {10, 10, 60, 60});
  Handle tool = w.ws.create({"log", "", kVisible, 0, {5, 5, 15, 15}, 0, a});
  Handle child = w.make("log", {0, 0, 10, 10}, kVisible | kChild, b);
  w.log.clear();
  w.ws.activate(a);
  // The topmost stays in front, the owned window in front of its owner.
  auto z = w.ws.children(w.ws.desktop());
  ASSERT_EQ(z.size(), 4u);
  EXPECT_EQ(z[0], top);
  EXPECT_EQ(z[1], tool);
  EXPECT_EQ(z[2], a);
  w.log.clear();
  w.ignore.erase(w.ignore.begin());  // hear non-client activation too
  w.ws.set_focus(child);  // activates b first
  EXPECT_EQ(w.log, (std::vector<Logged>{{a, msg::NcActivate, 0, int64_t(b)},
                                         {a, msg::Activate, kInactive, int64_t(b)},
                                         {b, msg::NcActivate, 1, int64_t(a)},
                                         {b, msg::Activate, kActive, int64_t(a)},
                                         {a, msg::KillFocus, b, 0},
                                         {b, msg::SetFocus, a, 0},
                                         {b, msg::KillFocus, child, 0},
                                         {child, msg::SetFocus, b, 0}}));
  EXPECT_EQ(w.ws.active(), b);
  w.ws.enable(child, false);
  EXPECT_EQ(w.ws.focus(), 0u);
  EXPECT_EQ(w.ws.set_focus(child), 0u);
  EXPECT_EQ(w.ws.focus(), 0u);
}

TEST(WindowSystem, NestedModalsRestoreWhatTheyFound) {
  World w;
  Handle a = w.make("log", {0, 0, 50, 50});
  Handle off = w.make("log", {50, 0, 100, 50});
  w.ws.enable(off, false);
  w.log.clear();
  Handle alert1 = w.make("log", {10, 10, 40, 40});
  w.ws.begin_modal(alert1);
  EXPECT_FALSE(w.ws.enabled(a));
  EXPECT_TRUE(w.ws.enabled(alert1));
  Handle alert2 = w.make("log", {20, 20, 30, 30});
  EXPECT_FALSE(w.ws.enabled(alert2)) << "created under the first modal";
  w.ws.end_modal(alert1);
  w.ws.begin_modal(alert1);
  w.ws.enable(alert2, true);
  EXPECT_FALSE(w.ws.enabled(alert2)) << "its own flag does not lift a modal";
  w.ws.end_modal(alert1);
  EXPECT_TRUE(w.ws.enabled(alert2));

  w.ws.begin_modal(alert1);
  w.ws.begin_modal(alert2);
  EXPECT_FALSE(w.ws.enabled(alert1));
  w.ws.end_modal(alert2);
  EXPECT_TRUE(w.ws.enabled(alert1));
  EXPECT_FALSE(w.ws.enabled(a));
  w.ws.end_modal(alert1);
  EXPECT_TRUE(w.ws.enabled(a));
  EXPECT_FALSE(w.ws.enabled(off)) << "disabled before the modals, disabled after";
  EXPECT_EQ(w.messages(off), std::vector<uint32_t>{});
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::Enable, msg::Enable, msg::Enable, msg::Enable,
                                                  msg::Enable, msg::Enable}));
  // Clicks on a disabled window go nowhere.
  w.pump();
  w.log.clear();
  w.backend.click({60, 10});
  w.pump();
  EXPECT_TRUE(w.messages(off).empty());
}

TEST(WindowSystem, TimersAcrossTheClockWrap) {
  World w(0xFFFFFFFFu - 25);
  Handle a = w.make("log", {0, 0, 10, 10});
  w.ws.set_timer(a, 3, 20);
  w.pump();
  w.log.clear();
  for (int i = 0; i < 10; ++i) {
    w.backend.advance(10);
    w.pump();
  }
  auto got = w.messages(a);
  EXPECT_EQ(std::count(got.begin(), got.end(), uint32_t(msg::Timer)), 5);
  EXPECT_TRUE(w.ws.kill_timer(a, 3));
  EXPECT_FALSE(w.ws.kill_timer(a, 3));
  w.backend.advance(100);
  w.log.clear();
  w.pump();
  EXPECT_TRUE(w.messages(a).empty());
}

TEST(WindowSystem, KeyTranslationToCodePage1252) {
  World w;
  Handle a = w.make("log", {0, 0, 10, 10});
  w.ws.activate(a);
  w.pump();
  w.log.clear();
  w.backend.key('Q');
  w.backend.key('1', kShift);
  w.backend.key(0xBA, kShift);  // ;:
  w.backend.key('C', kControl);
  w.backend.key(0x0D);
  w.backend.key(0xDE, 0, false, "\xE9");  // the host says this key gives é
  w.backend.key(0x70);                   // F1: no character
  w.pump();
  w.ws.set_caps_lock(true);
  w.backend.key('Z');
  w.backend.key('Z', kShift);
  w.backend.key('X', kAlt);
  w.pump();
  std::string chars;
  uint32_t sys = 0;
  for (auto& l : w.log) {
    if (l.message == msg::Char) chars += char(l.wparam);
    if (l.message == msg::SysChar) sys = uint32_t(l.wparam);
  }
  EXPECT_EQ(chars, std::string("q!:\x03\r\xE9Zz"));
  EXPECT_EQ(sys, uint32_t('X'));
}

TEST(WindowSystem, ClipboardAndCursorState) {
  World w;
  w.ws.clipboard_add("text", {'h', 'i'});
  w.ws.clipboard_add("picture", {1, 2, 3});
  EXPECT_EQ(w.backend.clipboard_text(), "hi");
  EXPECT_EQ(w.ws.clipboard_get("picture"), (std::vector<uint8_t>{1, 2, 3}));
  w.backend.set_clipboard_text("from the host");
  EXPECT_EQ(w.ws.clipboard_get("text")->size(), 13u);
  w.ws.clipboard_empty();
  EXPECT_FALSE(w.ws.clipboard_get("picture"));

  EXPECT_EQ(w.ws.show_cursor(false), -1);
  w.ws.set_cursor(CursorShape::Wait);  // hidden: remembered only
  EXPECT_EQ(w.ws.show_cursor(false), -2);
  EXPECT_EQ(w.ws.show_cursor(true), -1);
  EXPECT_EQ(w.ws.show_cursor(true), 0);
  EXPECT_EQ(w.backend.cursor_log(), (std::vector<CursorShape>{CursorShape::Hidden, CursorShape::Wait}));
  // A 1-bit cursor is kept while hidden and shown again as it was; a
  // malformed one shows the arrow.
  CursorImage image;
  image.and_mask.assign(32, 0xFF);
  image.xor_mask.assign(32, 0);
  w.ws.show_cursor(false);
  w.ws.set_cursor(image);
  EXPECT_EQ(w.ws.cursor_shape(), CursorShape::Custom);
  w.ws.show_cursor(true);
  EXPECT_EQ(w.backend.cursor_log().back(), CursorShape::Custom);
  image.xor_mask.pop_back();
  w.ws.set_cursor(image);
  EXPECT_EQ(w.backend.cursor_log().back(), CursorShape::Arrow);
  EXPECT_EQ(w.ws.create_cursor(image), 0u) << "malformed";

  // Cursor handles: made once, used again without being made again,
  // dead once destroyed; destroying the one shown brings the arrow back.
  image.xor_mask.push_back(0);
  Handle c = w.ws.create_cursor(image);
  Handle d = w.ws.create_cursor(image);
  ASSERT_NE(c, 0u);
  EXPECT_NE(c, d);
  EXPECT_FALSE(w.ws.alive(c));
  EXPECT_FALSE(w.ws.menu_alive(c));
  EXPECT_FALSE(w.ws.cursor_alive(w.ws.desktop()));
  EXPECT_FALSE(w.ws.cursor_alive(w.ws.create_menu()));
  size_t shown = w.backend.cursor_log().size();
  EXPECT_TRUE(w.ws.use_cursor(c));
  EXPECT_TRUE(w.ws.use_cursor(c));
  EXPECT_EQ(w.backend.cursor_log().size(), shown + 1);
  EXPECT_EQ(w.ws.current_cursor(), c);
  EXPECT_TRUE(w.ws.destroy_cursor(d));
  EXPECT_EQ(w.ws.current_cursor(), c);
  EXPECT_TRUE(w.ws.destroy_cursor(c));
  EXPECT_FALSE(w.ws.cursor_alive(c));
  EXPECT_FALSE(w.ws.use_cursor(c));
  EXPECT_FALSE(w.ws.destroy_cursor(c));
  EXPECT_EQ(w.ws.current_cursor(), 0u);
  EXPECT_EQ(w.backend.cursor_log().back(), CursorShape::Arrow);
  Handle e = w.ws.create_cursor(image);
  EXPECT_NE(e, c) << "a slot used again has a new generation";
  EXPECT_FALSE(w.ws.cursor_alive(c));
}

TEST(WindowSystem, ScrollBarsKeepTheirPositionInRangeAndAnswerClicks) {
  World w;
  // Window rect 0..100 x 0..100: client 1..87 wide, 15..99 high.
  Handle a = w.make("log", {0, 0, 100, 100}, kVisible | kCaption | kVScroll);
  w.ws.activate(a);
  w.pump();
  EXPECT_TRUE(w.ws.set_scroll(a, WindowSystem::kVertical, {0, 99, 10, 500}));
  EXPECT_EQ(w.ws.scroll(a, WindowSystem::kVertical)->pos, 90);
  w.ws.set_scroll(a, WindowSystem::kVertical, {10, 5, 50, -3});  // inverted range, page too big
  auto si = *w.ws.scroll(a, WindowSystem::kVertical);
  EXPECT_EQ(si.max, 10);
  EXPECT_EQ(si.page, 1);
  EXPECT_EQ(si.pos, 10);
  EXPECT_FALSE(w.ws.set_scroll(a, 2, {}));
  w.ws.set_scroll(a, WindowSystem::kVertical, {0, 99, 10, 0});
  w.log.clear();
  w.backend.click({93, 18});   // the upper arrow
  w.backend.click({93, 96});   // the lower arrow
  w.backend.click({93, 80});   // the track below the thumb
  w.backend.click({50, 50});   // the client
  w.pump();
  using Pairs = std::vector<std::pair<uint32_t, uint64_t>>;
  auto scrolls = [&] {
    Pairs got;
    for (auto& l : w.log)
      if (l.message == msg::VScroll || l.message == msg::LButtonDown) got.push_back({l.message, l.wparam});
    w.log.clear();
    return got;
  };
  constexpr uint64_t kEnd = WindowSystem::kEndScroll;
  EXPECT_EQ(scrolls(), (Pairs{{msg::VScroll, WindowSystem::kLineUp}, {msg::VScroll, kEnd},
                              {msg::VScroll, WindowSystem::kLineDown}, {msg::VScroll, kEnd},
                              {msg::VScroll, WindowSystem::kPageDown}, {msg::VScroll, kEnd},
                              {msg::LButtonDown, kLeftButton}}));

  // Held on an arrow, the line repeats after a pause and then steadily,
  // by the time of the input that follows.
  w.backend.press({93, 96});
  w.backend.advance(500);
  w.backend.release({93, 96});
  w.pump();
  Pairs repeated(4, {msg::VScroll, WindowSystem::kLineDown});
  repeated.push_back({msg::VScroll, kEnd});
  EXPECT_EQ(scrolls(), repeated);
  // Held on the track, pages repeat only while the thumb has not reached
  // the pointer: this window moves its thumb a page each time.
  w.ws.register_class({"scroller",
                       [&](WindowSystem& ws, const Message& m) -> int64_t {
                         if (m.message == msg::VScroll) {
                           w.log.push_back({m.window, m.message, m.wparam, m.lparam});
                           auto now = *ws.scroll(m.window, WindowSystem::kVertical);
                           uint32_t code = WindowSystem::scroll_code(m.wparam);
                           if (code == WindowSystem::kPageDown) now.pos += now.page;
                           if (code == WindowSystem::kThumbPosition) now.pos = WindowSystem::scroll_position(m.wparam);
                           ws.set_scroll(m.window, WindowSystem::kVertical, now);
                           return 0;
                         }
                         return WindowSystem::default_proc(ws, m);
                       },
                       0, std::nullopt});
  Handle s = w.ws.create({"scroller", "", kVisible | kCaption | kVScroll, 0, {100, 0, 200, 100}, 0, 0});
  w.ws.activate(s);
  w.ws.set_scroll(s, WindowSystem::kVertical, {0, 99, 10, 0});
  w.pump();
  w.log.clear();
  w.backend.press({193, 60});
  w.backend.advance(2000);
  w.backend.release({193, 60});
  w.pump();
  auto got = scrolls();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got.back(), (std::pair<uint32_t, uint64_t>{msg::VScroll, kEnd}));
  EXPECT_LT(got.size(), 12u) << "the repeat stops where the pointer is";
  int32_t stopped = w.ws.scroll(s, WindowSystem::kVertical)->pos;
  EXPECT_GT(stopped, 20);
  EXPECT_LT(stopped, 90);

  // The thumb dragged: thumb-track with each new position, then
  // thumb-position with the last and end-scroll; dragged past the end it
  // stops at the last position. (Moves in a row coalesce: a key between
  // keeps them apart.)
  w.ws.set_scroll(s, WindowSystem::kVertical, {0, 99, 10, 0});
  w.pump();
  w.log.clear();
  auto drag = [&](Pt from, std::vector<int32_t> ys) {
    w.backend.press(from);
    for (int32_t y : ys) {
      w.backend.move({from.x, y}, kLeftButton);
      w.backend.key_up(0x10);
    }
    w.backend.release({from.x, ys.back()});
  };
  drag({193, 30}, {40, 50, 60});
  drag({193, 60}, {230, 400});
  w.pump();
  got = scrolls();
  ASSERT_EQ(got.size(), 8u);
  std::vector<int32_t> track;
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(WindowSystem::scroll_code(got[i].second), uint32_t(WindowSystem::kThumbTrack));
    track.push_back(WindowSystem::scroll_position(got[i].second));
  }
  EXPECT_TRUE(std::is_sorted(track.begin(), track.end()));
  EXPECT_GT(track.front(), 0);
  EXPECT_EQ(got[3].second, WindowSystem::scroll_wparam(WindowSystem::kThumbPosition, track.back()));
  EXPECT_EQ(got[4].second, kEnd);
  EXPECT_EQ(got[5].second, WindowSystem::scroll_wparam(WindowSystem::kThumbTrack, 90));
  EXPECT_EQ(got[6].second, WindowSystem::scroll_wparam(WindowSystem::kThumbPosition, 90));
  EXPECT_EQ(w.ws.scroll(s, WindowSystem::kVertical)->pos, 90);
}

TEST(WindowSystem, AlertsAreModalAndAnsweredByScriptClickOrKey) {
  World w;
  Handle a = w.make("log", {0, 0, 100, 100});
  w.ws.activate(a);
  w.pump();
  w.backend.script_alert_answer(1);
  EXPECT_EQ(w.ws.alert("Note", "Saved?", {"Yes", "No"}), 1);
  EXPECT_EQ(w.backend.alert_texts(), std::vector<std::string>{"Saved?"});
  EXPECT_TRUE(w.ws.enabled(a));
  EXPECT_EQ(w.ws.active(), a);

  // Unscripted: the alert takes input; a click on the main window is lost,
  // the click on the second button answers. Alert 200x150 frame, centred.
  w.log.clear();
  w.backend.click({5, 50});
  w.backend.click({120, 90});
  EXPECT_EQ(w.ws.alert("Note", "Go?", {"OK", "Cancel"}), 1);
  auto got = w.messages(a);
  EXPECT_EQ(std::count(got.begin(), got.end(), uint32_t(msg::LButtonDown)), 0);
  EXPECT_EQ(std::count(got.begin(), got.end(), uint32_t(msg::Enable)), 2);
  w.backend.key(0x0D);
  EXPECT_EQ(w.ws.alert("Note", "Go?", {"OK", "Cancel"}), 0);
  // Tab and the arrows move the button Enter or Space presses.
  w.backend.key(0x09);
  w.backend.key(0x09);
  w.backend.key(0x0D);
  EXPECT_EQ(w.ws.alert("Note", "Go?", {"A", "B", "C"}), 2);
  w.backend.key(0x25);
  w.backend.key(0x20);
  EXPECT_EQ(w.ws.alert("Note", "Go?", {"A", "B", "C"}), 2) << "round from the first to the last";
  w.backend.key(0x27);
  w.backend.key(0x09, kShift);
  w.backend.key(0x09, kShift);
  w.backend.key(0x0D);
  EXPECT_EQ(w.ws.alert("Note", "Go?", {"A", "B", "C"}), 2);
  // No input at all: the last button, never a hang.
  EXPECT_EQ(w.ws.alert("Note", "Go?", {"OK", "Cancel", "Help"}), 2);
  EXPECT_EQ(w.ws.children(w.ws.desktop()).size(), 1u);
}

// The sizing frame: its edges and corners drag, within the limits the
// window gives; the window hears of its new size.
TEST(WindowSystem, SizingFramesDragWithinTheLimits) {
  World w(0, {300, 200});
  Handle a = w.make("log", {10, 10, 110, 90}, kVisible | kCaption | kSizeBox, 0, "A");
  w.hook = [&](const Message& m) {
    if (m.message == msg::GetMinMaxInfo) {
      auto* limits = reinterpret_cast<MinMaxInfo*>(m.lparam);
      limits->min_track = {60, 50};
      limits->max_track = {150, 120};
    }
  };
  w.ws.activate(a);
  w.pump();
  EXPECT_EQ(w.ws.client_rect(a), (Rect{0, 0, 92, 58})) << "four-pixel frame, caption";
  EXPECT_EQ(w.ws.hit_test(a, {109, 89}), kHtBottomRight);
  EXPECT_EQ(w.ws.hit_test(a, {11, 50}), kHtLeft);
  EXPECT_EQ(w.ws.hit_test(a, {60, 11}), kHtTop);
  EXPECT_EQ(w.ws.hit_test(a, {15, 11}), kHtTopLeft);
  EXPECT_EQ(w.ws.hit_test(a, {60, 20}), kHtCaption);
  w.log.clear();
  w.backend.drag({108, 88}, {138, 108}, 2);
  w.pump();
  EXPECT_EQ(w.ws.window_rect(a), (Rect{10, 10, 140, 110}));
  EXPECT_EQ(w.log.front().wparam, uint64_t(kHtBottomRight));
  auto got = w.messages(a);
  EXPECT_EQ(got[1], uint32_t(msg::GetMinMaxInfo));
  auto size = std::find_if(w.log.rbegin(), w.log.rend(), [](auto& l) { return l.message == msg::Size; });
  ASSERT_NE(size, w.log.rend());
  EXPECT_EQ(size->lparam, (78 << 16) | 122);
  // Past the smallest and the largest size the edge stops.
  w.backend.drag({11, 50}, {200, 50}, 1);
  w.backend.drag({110, 11}, {110, -100}, 1);
  w.pump();
  EXPECT_EQ(w.ws.window_rect(a), (Rect{80, -10, 140, 110}));
}

// Chrome as it looks: a sizing frame, caption with close box, both scroll
// bars and the corner between them.
TEST(WindowSystem, ChromeLooksLikeTheGolden) {
  World w(0, {140, 110});
  Handle a = w.make("paint", {10, 8, 130, 100}, kVisible | kCaption | kSysMenu | kSizeBox | kVScroll | kHScroll, 0,
                    "Sized, with a title too long to show");
  w.ws.set_property(a, "color", gfx::rgb(0xFF, 0xFF, 0xE0));
  w.ws.set_scroll(a, WindowSystem::kVertical, {0, 49, 10, 20});
  w.ws.set_scroll(a, WindowSystem::kHorizontal, {0, 9, 5, 0});
  w.ws.activate(a);
  w.pump();
  EXPECT_TRUE(gfx::testing::matches_golden(w.backend.shown(), "chrome"));
}

// An alert opened from within another alert's loop: while the inner one is
// up everything else is disabled, the outer one included; afterwards every
// window is as it was found, a window disabled before staying disabled.
TEST(WindowSystem, AnAlertInsideAnAlertRestoresEveryWindow) {
  World w(0, {300, 200});
  Handle a = w.make("log", {0, 0, 100, 100});
  Handle child = w.make("log", {5, 5, 20, 20}, kVisible | kChild, a);
  Handle off = w.make("log", {150, 0, 250, 100});
  w.ws.enable(off, false);
  w.ws.enable(child, false);
  w.ws.activate(a);
  w.pump();
  w.log.clear();
  struct Seen { bool a, child, off, outer, inner; };
  std::vector<Seen> seen;
  auto look = [&](Handle outer, Handle inner) {
    seen.push_back({w.ws.enabled(a), w.ws.enabled(child), w.ws.enabled(off), w.ws.enabled(outer),
                    inner ? w.ws.enabled(inner) : false});
  };
  Handle outer = 0, inner = 0;
  int inner_answer = -1;
  w.hook = [&](const Message& m) {
    if (m.message == msg::User) {  // in the outer alert's loop
      outer = w.ws.children(w.ws.desktop()).front();
      look(outer, 0);
      w.ws.post(a, msg::User + 1);
      inner_answer = w.ws.alert("Inner", "Really?", {"Yes", "No"});
      look(outer, 0);
    }
    if (m.message == msg::User + 1) {  // in the inner one's
      inner = w.ws.children(w.ws.desktop()).front();
      look(outer, inner);
    }
  };
  w.ws.post(a, msg::User);
  w.backend.key(0x1B);  // answers the inner alert: its last button
  w.backend.key(0x0D);  // then the outer: its first
  EXPECT_EQ(w.ws.alert("Outer", "Sure?", {"OK", "Cancel"}), 0);
  EXPECT_EQ(inner_answer, 1);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_FALSE(seen[0].a || seen[0].child || seen[0].off);
  EXPECT_TRUE(seen[0].outer);
  EXPECT_FALSE(seen[1].a || seen[1].child || seen[1].off || seen[1].outer);
  EXPECT_TRUE(seen[1].inner);
  EXPECT_FALSE(seen[2].a || seen[2].child || seen[2].off);
  EXPECT_TRUE(seen[2].outer) << "the outer alert is usable again";
  EXPECT_NE(inner, outer);
  EXPECT_TRUE(w.ws.enabled(a));
  EXPECT_FALSE(w.ws.enabled(child));
  EXPECT_FALSE(w.ws.enabled(off));
  EXPECT_EQ(w.ws.active(), a);
  EXPECT_EQ(w.ws.children(w.ws.desktop()).size(), 2u);
  EXPECT_EQ(w.backend.alert_texts(), (std::vector<std::string>{"Sure?", "Really?"}));
  // One disabling and one enabling for the window that was enabled, none
  // for the ones that were not.
  auto got = w.messages(a);
  EXPECT_EQ(std::count(got.begin(), got.end(), uint32_t(msg::Enable)), 2);
  got = w.messages(off);
  EXPECT_EQ(std::count(got.begin(), got.end(), uint32_t(msg::Enable)), 0);
  got = w.messages(child);
  EXPECT_EQ(std::count(got.begin(), got.end(), uint32_t(msg::Enable)), 0);
}

// An alert as it looks, its text broken at line ends and to fit.
TEST(WindowSystem, AlertsLookLikeTheGolden) {
  World w(0, {300, 200});
  Handle a = w.make("log", {0, 0, 100, 100});
  w.ws.activate(a);
  w.pump();
  gfx::Surface shot;
  w.hook = [&](const Message& m) {
    if (m.message == msg::EnterIdle) shot = w.backend.shown();
  };
  EXPECT_EQ(w.ws.alert("Note", "The file could not be saved because the disk is full.\r\nTry again?", {"Retry", "Cancel"}), 1);
  ASSERT_GT(shot.width(), 0);
  EXPECT_TRUE(gfx::testing::matches_golden(shot, "alert"));
  // Texts of any length and no buttons at all are shown and answered.
  w.backend.key(0x0D);
  EXPECT_EQ(w.ws.alert("", std::string(5000, 'x') + "\n\n\r" + std::string(3000, ' '), {}), 0);
  EXPECT_EQ(w.ws.children(w.ws.desktop()).size(), 1u);
}

// Painting: the frame is what the windows drew, where they show.

World& paint_scene(World& w) {
  w.make("paint", {10, 10, 120, 90}, kVisible | kCaption | kSysMenu, 0, "One");
  Handle b = w.make("paint", {60, 40, 180, 130}, kVisible | kCaption | kVScroll, 0, "Two");
  Handle c = w.make("paint", {5, 5, 40, 30}, kVisible | kChild | kBorder, b);
  auto kids = w.ws.children(w.ws.desktop());
  w.ws.set_property(kids[1], "color", gfx::rgb(0xF0, 0xD0, 0x80));
  w.ws.set_property(b, "color", gfx::rgb(0x90, 0xE0, 0x90));
  w.ws.set_property(c, "color", gfx::rgb(0xE0, 0x80, 0x80));
  w.ws.set_scroll(b, WindowSystem::kVertical, {0, 9, 3, 4});
  w.ws.update_all();
  return w;
}

TEST(WindowSystem, PaintingComposesTheFrame) {
  World w;
  paint_scene(w);
  auto kids = w.ws.children(w.ws.desktop());
  // Two overlapping areas of two windows painted over in another colour.
  w.ws.set_property(kids[0], "color", gfx::rgb(0x60, 0x60, 0xF0));
  w.ws.set_property(kids[1], "color", gfx::rgb(0xF0, 0x60, 0xF0));
  w.ws.invalidate(kids[0], Rect{0, 0, 40, 30}, true);
  w.ws.invalidate(kids[1], Rect{40, 20, 100, 60}, true);
  w.ws.update_all();
  EXPECT_TRUE(gfx::testing::matches_golden(w.backend.shown(), "windows"));
  EXPECT_EQ(w.backend.shown(), w.ws.frame());
}

TEST(WindowSystem, MovedOrClosedWindowsUncoverWhatWasBelow) {
  World moved, fresh;
  paint_scene(moved);
  auto kids = moved.ws.children(moved.ws.desktop());
  moved.ws.move(kids[0], {70, 50, 190, 140});
  moved.ws.update_all();
  EXPECT_EQ(moved.backend.shown().color(65, 45), gfx::rgb(0xF0, 0xD0, 0x80)) << "uncovered part of One";
  moved.ws.move(kids[0], {60, 40, 180, 130});  // back where it was: no trace
  moved.ws.update_all();
  paint_scene(fresh);
  EXPECT_EQ(moved.backend.shown(), fresh.backend.shown());

  // Closing the front window shows the one below whole, as if alone.
  moved.ws.destroy(kids[0]);
  moved.ws.update_all();
  World alone;
  Handle one = alone.make("paint", {10, 10, 120, 90}, kVisible | kCaption | kSysMenu, 0, "One");
  alone.ws.set_property(one, "color", gfx::rgb(0xF0, 0xD0, 0x80));
  alone.ws.update_all();
  EXPECT_EQ(moved.backend.shown(), alone.backend.shown());
}

// Scrolling a window's content: the pixels that move, and the strip the
// window repaints, together show what a window painted at the new offset
// shows; a part that was under another window is repainted, not copied.
TEST(WindowSystem, ScrollingTheClientMovesItsPixels) {
  auto stripes = [](World& w) {
    w.ws.register_class({"stripes",
                         [](WindowSystem& ws, const Message& m) -> int64_t {
                           if (m.message != msg::Paint) return WindowSystem::default_proc(ws, m);
                           PaintScope paint(ws, m.window);
                           WindowDC& dc = paint.dc();
                           auto shift = int32_t(ws.property(m.window, "shift").value_or(0));
                           Rect c = ws.client_rect(m.window);
                           for (int32_t x = -40; x < c.right + 40; x += 7)
                             for (int32_t y = -40; y < c.bottom + 40; y += 5)
                               dc.dc.fill_rect(dc.client(Rect{x + shift, y - shift, x + shift + 7, y - shift + 5}),
                                               gfx::Brush::solid(gfx::rgb(uint32_t(x * 3 + 120) & 255, uint32_t(y * 5 + 120) & 255, 90)));
                           return 0;
                         },
                         0, std::nullopt});
  };
  World scrolled, fresh;
  for (World* w : {&scrolled, &fresh}) stripes(*w);
  Handle b = fresh.make("stripes", {10, 10, 110, 90}, kVisible | kBorder);
  fresh.ws.set_property(b, "shift", 10);
  fresh.make("log", {80, 60, 150, 120});
  fresh.ws.update_all();
  Handle a = scrolled.make("stripes", {10, 10, 110, 90}, kVisible | kBorder);
  scrolled.make("log", {80, 60, 150, 120});  // covers a corner of a
  scrolled.ws.update_all();
  scrolled.ws.set_property(a, "shift", 10);
  scrolled.ws.scroll_window(a, 10, -10);
  // Before any repaint the moved part already shows.
  for (Pt p : {Pt{30, 20}, Pt{60, 40}, Pt{70, 60}, Pt{25, 70}})
    EXPECT_EQ(scrolled.ws.frame().color(p.x, p.y), fresh.ws.frame().color(p.x, p.y)) << p.x << "," << p.y;
  scrolled.ws.update_all();
  EXPECT_EQ(scrolled.backend.shown(), fresh.backend.shown());
  // Within an area only, and back: the rest stays as it was.
  scrolled.ws.scroll_window(a, 0, 6, Rect{0, 0, 40, 30});
  scrolled.ws.set_property(a, "shift", 10);
  scrolled.ws.scroll_window(a, 0, -6, Rect{0, 0, 40, 30});
  scrolled.ws.update_all();
  EXPECT_EQ(scrolled.backend.shown(), fresh.backend.shown());
  scrolled.ws.scroll_window(a, 100000, 0);  // all of it uncovered
  scrolled.ws.scroll_window(0, 1, 1);
  scrolled.ws.update_all();
  EXPECT_EQ(scrolled.backend.shown(), fresh.backend.shown());
}

TEST(WindowSystem, BackEndScreenshotIsAWholePng) {
  World w;
  paint_scene(w);
  std::string path = ::testing::TempDir() + "/winsys_shot.png";
  ASSERT_TRUE(w.backend.screenshot(path));
  auto back = gfx::read_png(path);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, w.backend.shown());
}

// Siblings keep their layers through every reordering: topmost in front,
// then floating windows, ordinary ones, and a bottom window behind all.
// A press on a floating window brings it forward without taking the
// activation; a press on a window a modal window holds reaches the desktop,
// whose owner can tell the modal window.
TEST(WindowSystem, LayersFloatingPressesAndPressesOutsideAModal) {
  World w(0, {300, 200});
  auto make = [&](Rect r, uint32_t ex) { return w.ws.create({"log", "", kVisible, ex, r, 0, 0}); };
  Handle bottom = make({0, 0, 300, 200}, kBackmost);
  Handle a = make({10, 10, 110, 110}, 0), b = make({20, 20, 120, 120}, 0);
  Handle f1 = make({200, 10, 260, 60}, kFloating), f2 = make({210, 20, 270, 70}, kFloating);
  Handle top = make({150, 150, 160, 160}, kTopmost);
  Handle desk = w.ws.desktop();
  auto order = [&] { return w.ws.children(desk); };
  EXPECT_EQ(order(), (std::vector<Handle>{top, f2, f1, b, a, bottom}));
  w.ws.bring_to_top(bottom);
  w.ws.bring_to_top(a);
  EXPECT_EQ(order(), (std::vector<Handle>{top, f2, f1, a, b, bottom})) << "each to the front of its layer";
  EXPECT_TRUE(w.ws.place_behind(a, b));
  EXPECT_TRUE(w.ws.place_behind(f2, b));  // a sibling of a lower layer: the back of its own
  EXPECT_TRUE(w.ws.place_behind(b, f1));  // of a higher layer: the front of its own
  EXPECT_EQ(order(), (std::vector<Handle>{top, f1, f2, b, a, bottom}));
  EXPECT_TRUE(w.ws.place_behind(b, 0));
  EXPECT_EQ(order(), (std::vector<Handle>{top, f1, f2, a, b, bottom})) << "0: the back of its layer";
  EXPECT_FALSE(w.ws.place_behind(a, a));
  EXPECT_FALSE(w.ws.place_behind(a, 0xDEAD));

  w.ws.activate(b);
  w.pump();
  w.backend.click({265, 65});  // f2 alone, floating
  w.pump();
  EXPECT_EQ(w.ws.active(), b) << "the front window stays active";
  EXPECT_EQ(order()[1], f2);
  std::vector<uint32_t> heard = w.messages(f2);
  EXPECT_NE(std::find(heard.begin(), heard.end(), msg::LButtonUp), heard.end());

  w.log.clear();
  std::vector<Logged> at_desk;
  w.ws.set_window_proc(desk, [&](WindowSystem& ws, const Message& m) {
    if (m.message >= msg::FirstMouse && m.message <= msg::LastMouse) at_desk.push_back({m.window, m.message, 0, m.lparam});
    return WindowSystem::default_proc(ws, m);
  });
  {
    ModalScope modal(w.ws, f1);
    w.backend.click({50, 50});  // a, held by the modal window
    w.backend.move({60, 60});
    w.pump();
  }
  EXPECT_EQ(w.messages(a), (std::vector<uint32_t>{msg::Enable, msg::Enable})) << "the held window hears no button";
  EXPECT_EQ(at_desk, (std::vector<Logged>{{desk, msg::LButtonDown, 0, (50 << 16) | 50},
                                          {desk, msg::LButtonUp, 0, (50 << 16) | 50}}));
}

// A script's wait lets virtual time pass only as the application waits, and
// an idle wait ends when the next timer is due: timers fire at their time,
// not before and not a step late, and nothing is left once the script ends.
TEST(WindowSystem, ScriptWaitsRunTimersOnTime) {
  World w;
  Handle a = w.make("log", {0, 0, 50, 50});
  InputScript script;
  std::string error;
  ASSERT_TRUE(parse_input_script("wait 100\nclick 5 5\n", "s", script, error)) << error;
  w.backend.run_script(script, w.ws);
  w.ws.set_timer(a, 1, 35);
  std::vector<Tick> fired;
  w.hook = [&](const Message& m) {
    if (m.message == msg::Timer) fired.push_back(w.backend.now());
  };
  for (;;) {
    w.pump();
    if (w.backend.input_exhausted()) break;
    w.ws.wait_idle(10);
  }
  EXPECT_EQ(fired, (std::vector<Tick>{35, 70}));
  EXPECT_EQ(w.backend.now(), 100u);
  std::vector<uint32_t> heard = w.messages(a);
  EXPECT_NE(std::find(heard.begin(), heard.end(), msg::LButtonUp), heard.end()) << "the click after the wait";
  EXPECT_FALSE(w.backend.script_finished());
  w.ws.kill_timer(a, 1);
  for (int i = 0; i < 6000; ++i) w.ws.wait_idle(10);
  EXPECT_TRUE(w.backend.script_finished()) << "a virtual minute after the end";
}

}  // namespace
}  // namespace platform
