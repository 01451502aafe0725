// The scheduler from native code: the queue invariant under a random mix of
// every operation (including operations made from inside runs and clock
// readings across the 32-bit wrap), reclamation of unreachable processes,
// errors in runs, and the replaceable clock.
#include <random>
#include <stdexcept>

#include "core/clock.hpp"
#include "core/collector.hpp"
#include "data/printer.hpp"
#include "process/processes.hpp"
#include "tests/data/calls.hpp"

namespace core::testing {
namespace {

using process::Process;

// What the process functions registered below do; set by each test.
struct RunScript {
  std::mt19937* random = nullptr;
  int runs = 0;
  Process* last = nullptr;
  bool raise_native = false;
};
RunScript* g_script = nullptr;

Process* running_process() {
  Process* found = nullptr;
  process::scheduler().table.for_each([&](uint32_t, std::unique_ptr<Process>& p) {
    if (p->running) {
      EXPECT_EQ(found, nullptr) << "two processes running at once";
      found = p.get();
    }
  });
  return found;
}

class SchedulerTest : public NativeCallTest {
 protected:
  void SetUp() override {
    NativeCallTest::SetUp();
    g_script = &script_;
    register_native("unit-run", &native_entry<unit_run>, 0, Tag::Primitive);
    register_native("unit-tick", &native_entry<unit_tick>, 1, Tag::Primitive);
    register_native("unit-mark", &native_entry<unit_mark>, 0, Tag::Primitive);
    kept_ = intern_static("unit-kept", kNil);
  }
  void TearDown() override {
    g_script = nullptr;
    NativeCallTest::TearDown();
  }

 public:
  // A plain process's function: records the run, and under a random
  // script acts on the queue from inside the run.
  static Value unit_run() {
    RunScript& s = *g_script;
    Process* me = running_process();
    EXPECT_NE(me, nullptr);
    ++s.runs;
    s.last = me;
    if (s.raise_native) throw std::runtime_error("native failure");
    if (s.random == nullptr || me == nullptr) return kNoValue;
    Value self = me->handle;
    auto call1 = [](const char* name, Value a) {
      Value args[] = {a, kNil, kEndArgs};
      return native_function(symbol_value(find_symbol(name)))(args);
    };
    switch ((*s.random)() % 10) {
      case 0: call1("kill-process", self); break;
      case 1: call1("reset-process", self); break;
      case 2: call1("wake-up-process", self); break;
      case 3: call1("run-process", self); break;
      case 4: {
        Value args[] = {self, make_fixnum(int32_t((*s.random)() % 40)), kEndArgs};
        native_function(symbol_value(find_symbol("set-process-quantum")))(args);
        break;
      }
      case 5: process::give_time(); break;       // nested: does nothing
      case 6: process::cleanup_processes(); break;  // inside a step: does nothing
      case 7: error(Err::WrongType, self);
      default: break;
    }
    EXPECT_EQ(process::check_queue(), "") << "inside a run";
    return kNoValue;
  }
  static Value quiet(Value*) { return kNoValue; }
  static Value unit_mark() {
    g_script->last = running_process();
    return kNoValue;
  }
  static Value unit_tick(Value elapsed) {
    ++g_script->runs;
    g_script->last = running_process();
    return kNoValue;
  }

 protected:
  Value plain(int quantum, bool delayed = false, bool once = false) {
    return callv("new-process", {sym("unit-run"), kNil, fix(quantum), delayed ? t() : kNil, once ? t() : kNil, kNil});
  }
  size_t live_records() { return process::scheduler().table.live_count(); }
  size_t queued_records() {
    size_t n = 0;
    for (Process* p = process::scheduler().head; p != nullptr; p = p->next) ++n;
    return n;
  }
  // Handles the test holds, kept alive through a global list.
  void keep(Value h) { set_symbol_value(kept_, cons(h, symbol_value(kept_))); }
  Value kept_;
  RunScript script_;
};

TEST_F(SchedulerTest, QueueInvariantHoldsUnderRandomOperations) {
  std::mt19937 random(20261207);
  script_.random = &random;
  // Errors raised inside runs go to a handler that says nothing.
  register_native("unit-quiet", &native_entry<quiet>, kArityRest, Tag::Primitive);
  set_symbol_value(rt().sym.Error_Handler, symbol_value(find_symbol("unit-quiet")));
  set_stepped_clock(0xFFFFFFFFu - 3000);  // the run crosses the wrap
  std::vector<Value> handles;
  auto pick = [&]() -> Value {
    if (handles.empty() || random() % 16 == 0) return sym("no-such-name");
    return handles[random() % handles.size()];
  };
  int steps_run = 0, steps_idle = 0;
  for (int op = 0; op < 4000; ++op) {
    switch (random() % 14) {
      case 0:
      case 1: {
        Value h = random() % 4 == 0
                      ? callv("new-clock-process", {sym("unit-mark"), sym("unit-tick"), sym("unit-mark"), kNil, fix(int32_t(random() % 30)),
                                                    random() % 3 == 0 ? kNil : fix(int32_t(random() % 200)),
                                                    fix(int32_t(random() % 30)), kNil})
                      : plain(int32_t(random() % 50), random() % 2 == 0, random() % 5 == 0);
        handles.push_back(h);
        keep(h);
        break;
      }
      case 2: callv("run-process", {pick()}); break;
      case 3: callv("kill-process", {pick()}); break;
      case 4: callv("reset-process", {pick()}); break;
      case 5: callv("wake-up-process", {pick()}); break;
      case 6:
        if (random() % 3 == 0)
          callv("suspend-process", {pick()});
        else if (process::scheduler().head != nullptr && random() % 2 == 0)
          callv("resume-process", {process::scheduler().head->handle});
        else
          callv("resume-process", {pick()});
        break;
      case 7: callv("set-process-quantum", {pick(), fix(int32_t(random() % 60) - 5)}); break;
      case 8: step_clock(random() % 25); break;
      case 9:
      case 10:
      case 11: {
        // Only the head is considered, and only when it is ready.
        process::Scheduler& s = process::scheduler();
        Process* head = s.head;
        while (head != nullptr && head->killed) head = head->next;
        bool ready = head != nullptr && !head->suspended && clock_diff(clock_ms(), head->wake) >= 0;
        int before = script_.runs;
        script_.last = nullptr;
        callv("give-time", {});
        EXPECT_FALSE(s.in_step);
        if (ready) {
          EXPECT_EQ(script_.last, head) << "op " << op;
          ++steps_run;
        } else {
          EXPECT_EQ(script_.runs, before) << "op " << op;
          ++steps_idle;
        }
        break;
      }
      case 12: {
        Value list = callv("get-processes", {});
        size_t n = 0;
        for (Value l = list; l.is_pair(); l = cdr(l)) ++n;
        EXPECT_EQ(n, queued_records());
        // Reverse queue order: the last element is the head.
        if (n > 0) {
          Value last = list;
          while (cdr(last).is_pair()) last = cdr(last);
          EXPECT_EQ(car(last), process::scheduler().head->handle);
        }
        break;
      }
      case 13:
        // Forget some handles, then collect: unqueued processes nobody
        // holds go, queued ones stay.
        if (random() % 4 == 0 && !handles.empty()) {
          handles.erase(handles.begin(), handles.begin() + long(handles.size() / 2));
          Value l = kNil;
          for (Value h : handles) l = cons(h, l);
          set_symbol_value(kept_, l);
        }
        collect();
        {
          size_t held_unqueued = 0;
          for (Value h : handles) {
            Process* p = process::resolve(h);
            if (p != nullptr && !p->queued) ++held_unqueued;
          }
          // The native stack is scanned conservatively: stale words may
          // keep a few handles alive for one more collection (more in a
          // sanitizer build, whose frames are larger); a leak grows past
          // any such bound within a few collections.
          EXPECT_GE(live_records(), queued_records() + held_unqueued) << "op " << op;
          EXPECT_LE(live_records(), queued_records() + held_unqueued + 8) << "op " << op;
        }
        break;
    }
    ASSERT_EQ(process::check_queue(), "") << "after operation " << op;
  }
  // The script exercised both outcomes and crossed the wrap.
  EXPECT_GT(steps_run, 100);
  EXPECT_GT(steps_idle, 100);
  EXPECT_LT(clock_ms(), 0x80000000u);
  process::destroy_scheduler();
  EXPECT_EQ(queued_records(), 0u);
  EXPECT_EQ(process::check_queue(), "");
}

TEST_F(SchedulerTest, UnreachableUnqueuedProcessesAreReclaimed) {
  set_stepped_clock(0);
  {
    StackMark mark;
    for (int i = 0; i < 300; ++i) push(plain(10));
    EXPECT_EQ(live_records(), 300u);
  }
  Value queued = plain(10);
  callv("run-process", {queued});
  Value held = plain(10);
  keep(held);
  queued = kNil;
  collect();
  collect();
  // The queued one stays without any handle held; the held one stays. The
  // native stack is scanned conservatively, so a stale word or two may
  // keep one of the dropped ones for now.
  EXPECT_GE(live_records(), 2u);
  EXPECT_LE(live_records(), 4u);
  EXPECT_EQ(queued_records(), 1u);
  EXPECT_NE(process::resolve(held), nullptr);
  callv("give-time", {});
  EXPECT_EQ(script_.runs, 1);
  // Slots are reused with a new generation: the old handle names nothing.
  callv("kill-process", {held});
  Value again = plain(5);
  keep(again);
  EXPECT_EQ(process::resolve(held), nullptr);
  callv("suspend-process", {held});
  EXPECT_FALSE(process::resolve(again)->suspended);
  EXPECT_EQ(data::value_text(held), "<null process>");
}

TEST_F(SchedulerTest, AnErrorKillsOnlyItsProcessAndLeavesTheLastError) {
  set_stepped_clock(100);
  Value bad_args = callv("new-process", {sym("no-such-function"), kNil, fix(10), kNil, kNil, kNil});
  Value good = plain(10);
  keep(good);
  callv("run-process", {bad_args});
  callv("run-process", {good});
  rt().last_error.number = -1;
  callv("give-time", {});
  EXPECT_EQ(rt().last_error.number, int(Err::NotFunction));
  EXPECT_EQ(process::resolve(bad_args), nullptr);
  callv("give-time", {});
  EXPECT_EQ(script_.runs, 1);
  EXPECT_FALSE(process::scheduler().in_step);
  EXPECT_EQ(queued_records(), 1u);
}

TEST_F(SchedulerTest, ANativeFailureLeavesTheFlagsClear) {
  set_stepped_clock(0);
  Value h = plain(10);
  keep(h);
  callv("run-process", {h});
  script_.raise_native = true;
  EXPECT_THROW(callv("give-time", {}), std::runtime_error);
  EXPECT_FALSE(process::scheduler().in_step);
  EXPECT_FALSE(process::resolve(h)->running);
  script_.raise_native = false;
  step_clock(10);
  callv("give-time", {});
  EXPECT_EQ(script_.runs, 2);
}

// Shutdown from inside a run: the others go at once, the running one when
// its run returns; nothing reads a destroyed record (the sanitizer build).
Value shutdown_run() {
  ++g_script->runs;
  process::destroy_scheduler();
  return kNoValue;
}

TEST_F(SchedulerTest, ShutdownFromInsideARun) {
  register_native("unit-shutdown", &native_entry<shutdown_run>, 0, Tag::Primitive);
  set_stepped_clock(0);
  Value a = callv("new-process", {sym("unit-shutdown"), kNil, fix(10), kNil, kNil, kNil});
  Value b = plain(10);
  callv("run-process", {a});
  callv("run-process", {b});
  callv("give-time", {});
  EXPECT_EQ(script_.runs, 1);
  EXPECT_EQ(queued_records(), 0u);
  EXPECT_EQ(process::resolve(a), nullptr);
  EXPECT_EQ(process::resolve(b), nullptr);
}

uint32_t fixed_clock(Runtime&) { return 123456; }

TEST_F(SchedulerTest, TheClockIsOneReplaceableFunction) {
  ClockFn old = set_clock(fixed_clock);
  EXPECT_EQ(old, &steady_clock_ms);
  EXPECT_EQ(read_integer(callv("milliseconds", {})), 123456);
  set_stepped_clock(0xFFFFFFF0u);
  step_clock(0x20);
  EXPECT_EQ(clock_ms(), 0x10u);
  EXPECT_EQ(clock_diff(0x10u, 0xFFFFFFF0u), 0x20);
  EXPECT_EQ(clock_diff(0xFFFFFFF0u, 0x10u), -0x20);
  set_clock(nullptr);
  EXPECT_LT(clock_ms(), 60000u);  // the steady clock counts from start-up
}

}  // namespace
}  // namespace core::testing
