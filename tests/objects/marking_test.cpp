// The collector over large object graphs: marking uses bounded native stack
// however many instances, slots and slot descriptors there are.
#include <algorithm>
#include <cstdint>

#include "core/collector.hpp"
#include "fixture.hpp"
#include "objects/internal.hpp"
#include "objects/records.hpp"
#include "objects/state.hpp"

namespace core::testing {
namespace {

// The sanitizer build runs the largest case at a quarter of its size, which
// is still three times what overflowed the stack there.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kInstances = 250000;
#else
constexpr int kInstances = 1000000;
#endif

class ManyObjects : public ObjectTest {
 protected:
  MemoryPrefs prefs() override {
    MemoryPrefs p = small_prefs();
    p.symbol_slots = 32768;
    p.nodes = 2100000;
    p.heap = 40u << 20;
    return p;
  }
  uint32_t preferred() override { return 96u << 20; }
};

// A million instances in one list, each holding the one made before it in
// a slot: the list puts them all on the work list at once and each record's
// marking pushes more, the worst case for a collector that drains its work
// list from inside a record.
TEST_F(ManyObjects, AMillionInstancesInAListSurviveACollection) {
  run("(define C (new-class 'C)) (C (defslot next) (defslot n))");
  Value cls = run("C");
  Value next = objects::find_handle(cls, sym("next")), n = objects::find_handle(cls, sym("n"));
  Value all = kNil;
  {
    StressPause pause;
    for (int i = 0; i < kInstances; ++i) {
      Value o = objects::make_instance(cls);
      objects::assign_slot(o, next, all.is_nil() ? kNil : car(all));
      objects::assign_slot(o, n, make_fixnum(i));
      all = cons(o, all);
    }
  }
  set_symbol_value(sym("all"), all);
  all = kNil;
  collect();
  EXPECT_GE(heap_census().live_nodes, 2u * kInstances);
  EXPECT_EQ(num("(length all)"), kInstances);
  EXPECT_EQ(num("(send (car all) (lambda () n))"), kInstances - 1);
  EXPECT_EQ(show_run("(eq? (send (car all) (lambda () next)) (cadr all))"), "t");
}

// An owned native object that notes how deep in the native stack the
// collector was when it asked for its Values.
struct DepthProbe : OwnedObject {
  explicit DepthProbe(Value v) : held(v) {}
  void mark_values() override {
    volatile char here = 0;
    uintptr_t at = reinterpret_cast<uintptr_t>(&here);
    lowest = std::min(lowest, at);
    highest = std::max(highest, at);
    mark_value(held);
  }
  Value held;
  static inline uintptr_t lowest = UINTPTR_MAX, highest = 0;
};

Value make_probe() { return box_owned(std::make_unique<DepthProbe>(make_string("probe"))); }

// A class with as many slots as a class may hold (its member table full),
// each slot's description holding a native object as its default: the
// table leads to some 16,000 description records at once, and every probe
// must be reached at about the same native stack depth.
TEST_F(ManyObjects, AClassWithAFullMemberTableIsMarkedWithBoundedStack) {
  static const NativeRow rows[] = {TV_PRIM("make-probe", make_probe)};
  register_natives(rows);
  run("(define W (new-class 'W))");
  // Slot names take the member table indexes, given out system-wide; the
  // last index is 25 short of the largest table.
  int slots = int(objects::kMaxTableEntries) - 24 - int(objects::os().table_size);
  EXPECT_GT(slots, 16000);
  StressPause pause;
  for (int from = 0; from < slots; from += 1000) {
    std::string body = "(W";
    for (int i = from; i < from + 1000 && i < slots; ++i)
      body += " (defslot s" + std::to_string(i) + " :default (make-probe))";
    run(body + ")");
  }
  EXPECT_EQ(error_in("(W (defslot one-too-many))"), 2);
  DepthProbe::lowest = UINTPTR_MAX;
  DepthProbe::highest = 0;
  collect();
  EXPECT_LT(DepthProbe::highest - DepthProbe::lowest, 4096u);
  collect();
  for (int i : {0, slots / 2, slots - 1}) {
    auto* probe = static_cast<DepthProbe*>(owned_object(run("(send W (lambda () s" + std::to_string(i) + "))")));
    ASSERT_NE(probe, nullptr);
    EXPECT_STREQ(string_text(probe->held), "probe");
  }
}

}  // namespace
}  // namespace core::testing
