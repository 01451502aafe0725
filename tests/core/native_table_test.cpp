// The native object table: ids with generations.
#include "core/native_table.hpp"

#include <string>

#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

class NativeTableTest : public MachineTest {};

TEST_F(NativeTableTest, StaleIdsAreRefusedAfterTheSlotIsReused) {
  NativeTable<std::string> t;
  uint32_t a = t.add("first");
  uint32_t b = t.add("second");
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  EXPECT_EQ(*t.find(a), "first");
  EXPECT_TRUE(t.remove(a));
  EXPECT_FALSE(t.remove(a));  // twice is refused, not a double free
  uint32_t c = t.add("third");
  // The slot is reused under a new generation: the old id names nothing.
  EXPECT_EQ(c & NativeTable<std::string>::kIndexMask, a & NativeTable<std::string>::kIndexMask);
  EXPECT_NE(c, a);
  EXPECT_EQ(t.find(a), nullptr);
  EXPECT_EQ(*t.find(c), "third");
  EXPECT_EQ(t.live_count(), 2u);
  Value culprit = make_fixnum(7);
  EXPECT_EQ(error_of([&] { t.get(a, culprit); }), 2);
  EXPECT_EQ(rt().last_error.culprit, culprit);
  EXPECT_EQ(t.get(c, culprit), "third");
  // Ids never handed out.
  EXPECT_EQ(t.find(0), nullptr);
  EXPECT_EQ(t.find(12345), nullptr);
  EXPECT_EQ(t.find(b | (5u << NativeTable<std::string>::kIndexBits)), nullptr);
}

TEST_F(NativeTableTest, ASlotIsRetiredBeforeItsGenerationWraps) {
  NativeTable<int> t;
  uint32_t first = t.add(0);
  uint32_t id = first;
  for (uint32_t g = 0; g < NativeTable<int>::kLastGeneration; ++g) {
    t.remove(id);
    id = t.add(int(g));
    ASSERT_EQ(id & NativeTable<int>::kIndexMask, first);
  }
  t.remove(id);
  uint32_t next = t.add(1);
  EXPECT_NE(next & NativeTable<int>::kIndexMask, first);
  EXPECT_EQ(t.find(first), nullptr);
  EXPECT_EQ(t.find(id), nullptr);
}

TEST_F(NativeTableTest, ForEachVisitsLiveEntriesAndMayRemove) {
  NativeTable<int> t;
  uint32_t ids[5];
  for (int i = 0; i < 5; ++i) ids[i] = t.add(i);
  t.remove(ids[1]);
  int sum = 0;
  t.for_each([&](uint32_t id, int& v) {
    sum += v;
    if (v == 2) t.remove(id);
  });
  EXPECT_EQ(sum, 0 + 2 + 3 + 4);
  EXPECT_EQ(t.live_count(), 3u);
  EXPECT_EQ(t.find(ids[2]), nullptr);
}

}  // namespace
}  // namespace core::testing
