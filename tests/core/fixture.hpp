// A fresh machine for each native unit test.
#pragma once
#include <gtest/gtest.h>

#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace core::testing {

inline MemoryPrefs small_prefs() {
  MemoryPrefs p = default_prefs();
  p.symbol_slots = 4096;
  p.nodes = 20000;
  p.heap = 1u << 20;
  p.reserve = 0;
  p.node_percent = 0;
  p.lisp_words = 16384;
  return p;
}

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override { machine_ = make_runtime(prefs(), preferred()); }
  void TearDown() override { machine_.reset(); }
  virtual MemoryPrefs prefs() { return small_prefs(); }
  virtual uint32_t preferred() { return 16u << 20; }

  // Calls a registered primitive by name with the given arguments.
  template <typename... A>
  Value call(const char* name, A... args) {
    Value f = symbol_value(find_symbol(name));
    EXPECT_TRUE(f.is(Tag::Primitive)) << name;
    return call_by_name(f, {args...});
  }
  // The error number a callable raises, or -1 when it returns.
  template <typename F>
  int error_of(F f) {
    try {
      f();
    } catch (const Thrower&) {
      return rt().last_error.number;
    }
    return -1;
  }
  Value sym(const char* text) { return intern_static(text); }

  std::unique_ptr<Runtime> machine_;
};

}  // namespace core::testing
