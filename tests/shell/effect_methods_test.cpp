// The effect methods of obj-window on a headless frame: what reaches the
// presented frame, the clock an effect runs on, the cursor during a
// dissolve, events left alone while an effect runs, and effects used after
// they are finished.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/eval.hpp"
#include "data/reader.hpp"
#include "media/frame.hpp"
#include "shell/appfile.hpp"
#include "shell/start.hpp"
#include "shell/windows.hpp"
#include "tests/data/calls.hpp"

namespace {
using namespace core;

class EffectMethodsTest : public core::testing::NativeCallTest {
 protected:
  Value run(const std::string& text) {
    Value forms = data::parse_string(make_string(text.c_str()));
    Value v = kNoValue;
    for (; forms.is_pair(); forms = cdr(forms)) v = eval(car(forms));
    return v;
  }

  // A frame whose clock reads 1000, and a 60 x 40 window W at (10, 10) with
  // an offscreen image: red on the screen, then blue in the image only.
  platform::HeadlessBackend& open() {
    auto backend = std::make_unique<platform::HeadlessBackend>(gfx::Pt{400, 300}, 1000);
    platform::HeadlessBackend& b = *backend;
    shell::AppPrefs prefs;
    prefs.width = 200, prefs.height = 100;
    shell::open_frame(std::move(backend), prefs, "test");
    run(R"((define Win (new-class 'Win obj-window))
           (Win (defslot parent) (defslot position) (defslot size) (defslot color) (defslot erase? :default t)
                (defslot type :default 7) (defslot handles-mouse? :default t) (defslot pressed :default 0)
                (define (mouse-down-system _x _y) (set! pressed (+ pressed 1))))
           (define (mk _p _pos _size _c)
             (let ((_w (make-instance Win)))
               (_w (set! parent _p) (set! position _pos) (set! size _size) (set! color _c))
               (send _w link-object)
               _w))
           (define Sys (mk () '(0 . 0) '(0 . 0) '(0 0 0)))
           (define Desk (mk Sys '(0 . 0) '(0 . 0) '(0 0 0)))
           (define W (mk Desk '(10 . 10) '(40 . 60) '(65535 0 0)))
           (send W set-offscreen? t)
           (send W show))");
    ws().update_all();
    run("(send W set-color '(0 0 65535)) (send W update-offscreen)");
    return b;
  }
  platform::WindowSystem& ws() { return *media::frame_state().ws; }
  // A point of W's on the frame, and the colour shown there last.
  gfx::Pt at(int32_t x, int32_t y) {
    gfx::Rect sc = ws().screen_client(shell::record(shell::id_of(run("W")))->native);
    return {sc.left + x, sc.top + y};
  }
  uint32_t shown(platform::HeadlessBackend& b, int32_t x, int32_t y) {
    gfx::Pt p = at(x, y);
    return b.shown().color(p.x, p.y) & 0xFFFFFF;
  }
};

TEST_F(EffectMethodsTest, StepsReachTheScreenAndTheClockMovesOnlyWhenWaited) {
  platform::HeadlessBackend& b = open();
  EXPECT_EQ(shown(b, 5, 5), 0xFF0000u);
  // wipe-sides from the left to 128: columns 0 to 29 of 60.
  run("(define E (send W wipe-sides 4 ())) (send W action-effect E 128)");
  EXPECT_EQ(shown(b, 29, 20), 0x0000FFu);
  EXPECT_EQ(shown(b, 30, 20), 0xFF0000u);
  EXPECT_EQ(text(run("(send W get-nb-step E)")), "256");
  // The rest at 16 every 20 ms: the virtual clock passes 8 delays of 20
  // ms; a click queued meanwhile waits for the event loop.
  b.click(at(30, 20));
  platform::Tick before = b.now();
  run("(send W loop-effect E 16 20)");
  EXPECT_EQ(b.now() - before, 160u);
  EXPECT_EQ(shown(b, 59, 39), 0x0000FFu);
  EXPECT_EQ(text(run("(W pressed)")), "0") << "no event is handled during an effect";
  run("(process-events ())");
  EXPECT_EQ(text(run("(W pressed)")), "1");
  // Finished: the effect names nothing any more.
  std::string culprit;
  EXPECT_EQ(error_in([&] { run("(send W action-effect E 10)"); }, &culprit), 2);
  EXPECT_EQ(error_in([&] { run("(send W finishing-effect E)"); }), 2);
  EXPECT_EQ(error_in([&] { run("(send W get-nb-step 'E)"); }, &culprit), 2);
  EXPECT_EQ(culprit, "E");
  EXPECT_EQ(error_in([&] { run("(send W copy-mask 0 'x ())"); }, &culprit), 2);
  EXPECT_EQ(culprit, "x");
  EXPECT_EQ(error_in([&] { run("(send W zoom-in 0 '(1 2 3))"); }), 2);
  // Without a delay no time passes.
  before = b.now();
  run("(send W loop-effect (send W center-out 0 ()) 16 0)");
  EXPECT_EQ(b.now(), before);
}

TEST_F(EffectMethodsTest, TheCursorIsHiddenDuringADissolve) {
  platform::HeadlessBackend& b = open();
  run("(send W dissolve)");
  // Hidden while it ran and shown again after (the collector's watch may
  // come and go around it, never while the cursor is hidden).
  const auto& log = b.cursor_log();
  auto last_hidden = std::find(log.rbegin(), log.rend(), platform::CursorShape::Hidden);
  ASSERT_NE(last_hidden, log.rend());
  ASSERT_NE(last_hidden, log.rbegin());
  EXPECT_NE(log.back(), platform::CursorShape::Hidden);
  EXPECT_EQ(shown(b, 0, 0), 0x0000FFu);
  EXPECT_EQ(shown(b, 59, 39), 0x0000FFu);
}

}  // namespace
