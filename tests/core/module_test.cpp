// Module descriptors: state before installation, list order, roots marked
// at every collection, shutdown in reverse order, once.
#include <string>

#include "core/collector.hpp"
#include "core/module.hpp"
#include "tests/core/fixture.hpp"

namespace core::testing {
namespace {

std::string g_log;  // what the test modules did, in order

struct HolderState : ModuleState {
  Value held = kNil;
  ~HolderState() override { g_log += "~holder "; }
};

extern const Module kHolder;
const Module kHolder{
    "holder",
    [](Runtime&) -> std::unique_ptr<ModuleState> {
      g_log += "state-holder ";
      return std::make_unique<HolderState>();
    },
    [](Runtime&) {
      g_log += "install-holder ";
      state_of<HolderState>(kHolder).held = cons(make_integer(7), make_string("kept", 4));
    },
    [](Runtime&) { mark_value(state_of<HolderState>(kHolder).held); },
    [](Runtime&) { g_log += "down-holder "; }};

const Module kLater{"later",
                    [](Runtime&) -> std::unique_ptr<ModuleState> {
                      g_log += "state-later ";
                      return nullptr;
                    },
                    [](Runtime&) {
                      // A later module sees the earlier one installed.
                      g_log += module_installed(kHolder) ? "install-later " : "install-later-alone ";
                    },
                    nullptr,
                    [](Runtime&) {
                      g_log += "down-later ";
                      throw 1;  // a failing shutdown never stops the others
                    }};

TEST(Modules, OrderRootsAndShutdown) {
  g_log.clear();
  {
    auto r = make_runtime(small_prefs(), 16u << 20);
    const Module* list[] = {&kHolder, &kLater};
    install_modules(*r, list);
    EXPECT_EQ(g_log, "state-holder state-later install-holder install-later ");
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 20000; ++j) cons(kNil, kNil);  // garbage to reclaim
      collect();
    }
    Value held = state_of<HolderState>(kHolder).held;
    EXPECT_EQ(car(held).fixnum(), 7);
    EXPECT_STREQ(string_text(cdr(held)), "kept");
    g_log.clear();
    shutdown_modules(*r);
    shutdown_modules(*r);
    EXPECT_EQ(g_log, "down-later down-holder ");
    g_log.clear();
  }
  EXPECT_EQ(g_log, "~holder ");
}

}  // namespace
}  // namespace core::testing
