// Lisp entered from the window system: a `throw` leaving a method that a
// window procedure called while painting or while an alert held the frame
// modal. Through the protected send the exit waits as the pending exit and
// is raised again after the dispatch; unprotected, it unwinds through the
// window system, which must come out with its paired state as it was.
#include <gtest/gtest.h>

#include "core/errors.hpp"
#include "core/frames.hpp"
#include "core/memory.hpp"
#include "media/frame.hpp"
#include "tests/objects/fixture.hpp"

namespace core::testing {
namespace {

using platform::Handle;
using platform::Message;
using platform::WindowSystem;
namespace msg = platform::msg;

enum class Call { None, Protected, Unprotected };

class FrameTest : public ObjectTest {
 protected:
  void SetUp() override {
    ObjectTest::SetUp();
    auto backend = std::make_unique<platform::HeadlessBackend>(gfx::Pt{320, 200});
    backend_ = backend.get();
    media::open_frame(std::move(backend), "frame test", {320, 200}, {320, 200});
    ws_ = media::window_system();
    run("(define Leaver (new-class 'Leaver)) (Leaver (define (leave) (throw 'out 5)))");
    receiver_ = run("(make-instance Leaver)");
    media::hold(receiver_);
    // Paint and timer messages call Lisp as `call_` says, with the window
    // painting while they do.
    ws_->register_class({"lisp",
                         [this](WindowSystem& ws, const Message& m) -> int64_t {
                           if (m.message != msg::Paint && m.message != msg::Timer) return WindowSystem::default_proc(ws, m);
                           if (m.message == msg::Paint) ++paints_;
                           if (m.message == msg::Paint && call_ == Call::None) return 0;  // left unpainted
                           std::optional<platform::PaintScope> paint;
                           if (m.message == msg::Paint) paint.emplace(ws, m.window);
                           ws.kill_timer(m.window, 1);
                           Value none[] = {kEndArgs};
                           if (call_ == Call::Protected) media::callback_send(receiver_, sym("leave"));
                           else objects::native_send(receiver_, sym("leave"), none);
                           return 0;
                         },
                         0, std::nullopt});
    window_ = ws_->create({"lisp", "", platform::kVisible | platform::kCaption, 0, {10, 10, 110, 90}, 0, 0});
    other_ = ws_->create({"lisp", "", platform::kVisible | platform::kCaption, 0, {150, 10, 250, 90}, 0, 0});
    call_ = Call::None;
    ws_->update_all();
    paints_ = 0;
  }
  void TearDown() override {
    media::let_go(receiver_);
    ObjectTest::TearDown();
  }

  // The tag and value of the exit that `f` raises, "none" when it returns.
  template <class F>
  std::string exit_of(F f) {
    try {
      f();
    } catch (const Thrower& t) {
      return show(t.tag) + " " + show(t.value);
    }
    return "none";
  }

  platform::HeadlessBackend* backend_ = nullptr;
  WindowSystem* ws_ = nullptr;
  Value receiver_ = kNil;
  Handle window_ = 0, other_ = 0;
  Call call_ = Call::None;
  int paints_ = 0;
};

TEST_F(FrameTest, AnExitLeavingAPaintHandlerLeavesThePaintStateRight) {
  StackMark mark;
  CatchFrame out(sym("out"));
  out.make_current();

  call_ = Call::Protected;
  ws_->invalidate(window_, std::nullopt, true);
  EXPECT_EQ(exit_of([&] { ws_->update_all(); }), "none") << "the window system's own work completes";
  EXPECT_EQ(paints_, 1);
  EXPECT_FALSE(ws_->has_update(window_));
  EXPECT_EQ(show(rt().pending_tag), "out");
  EXPECT_EQ(exit_of([] { media::raise_pending_exit(); }), "out 5") << "raised again after the dispatch";
  EXPECT_TRUE(rt().pending_tag.is_no_value());
  EXPECT_EQ(exit_of([] { media::raise_pending_exit(); }), "none") << "once";

  call_ = Call::Unprotected;
  ws_->invalidate(window_, std::nullopt, true);
  EXPECT_EQ(exit_of([&] { ws_->update_all(); }), "out 5");
  // The paint ended with the exit: a window that then leaves its update
  // unpainted is validated once, not asked again and again.
  call_ = Call::None;
  paints_ = 0;
  ws_->invalidate(window_, std::nullopt, true);
  ws_->update_all();
  EXPECT_EQ(paints_, 1);
  EXPECT_FALSE(ws_->has_update(window_));
  EXPECT_EQ(rt().current_object, kNoObject);
}

TEST_F(FrameTest, AnExitLeavingAMethodDuringAnAlertLeavesTheModalStateRight) {
  StackMark mark;
  CatchFrame out(sym("out"));
  out.make_current();
  ws_->activate(other_);
  auto during_alert = [&](Call how) {
    call_ = how;
    ws_->set_timer(window_, 1, 10);
    backend_->advance(20);  // due as the alert starts
    return exit_of([&] { ws_->alert("t", "text", {"OK", "Cancel"}); });
  };

  EXPECT_EQ(during_alert(Call::Protected), "none");
  EXPECT_EQ(show(rt().pending_tag), "out") << "kept for the loop outside the alert";
  rt().pending_tag = kNoValue;
  EXPECT_EQ(during_alert(Call::Unprotected), "out 5");
  call_ = Call::None;

  // Either way the alert is gone and the windows it held are free again.
  EXPECT_EQ(ws_->children(ws_->desktop()).size(), 2u);
  EXPECT_TRUE(ws_->enabled(window_));
  EXPECT_TRUE(ws_->enabled(other_));
  backend_->click({60, 50});
  Message m;
  bool pressed = false;
  while (ws_->peek(m)) {
    pressed |= m.message == msg::LButtonDown && m.window == window_;
    ws_->dispatch(m);
  }
  EXPECT_TRUE(pressed) << "a press reaches the window the alert had disabled";
}

// The native halves of window objects keep their instances, titles and
// effects through collections for as long as the records live.
TEST_F(FrameTest, WindowRecordsAreRootsWhileTheyLive) {
  auto add_record = [this]() __attribute__((noinline)) {
    media::WindowRecord r;
    r.instance = run("(make-instance Leaver)");
    r.title = make_string("Untitled window");
    r.effect = run("(list 'blinds 3)");
    return media::frame_state().windows.add(r);
  };
  uint32_t id = add_record();
  for (int i = 0; i < 3; ++i) {
    collect();
    for (int k = 0; k < 2000; ++k) make_string("garbage that takes the freed places");
  }
  media::WindowRecord* r = media::frame_state().windows.find(id);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(std::string(string_text(r->title)), "Untitled window");
  EXPECT_EQ(show(r->effect), "(blinds 3)");
  StackMark mark;
  CatchFrame out(sym("out"));
  out.make_current();
  EXPECT_EQ(exit_of([&] { media::callback_send(r->instance, sym("leave")); media::raise_pending_exit(); }), "out 5");
  media::frame_state().windows.remove(id);
  EXPECT_EQ(media::frame_state().windows.find(id), nullptr) << "a dead record is not found";
}

}  // namespace
}  // namespace core::testing
