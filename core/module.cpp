// Installing modules into a runtime, finding their states, shutting down.
#include "core/module.hpp"

#include <algorithm>

#include "core/runtime.hpp"

namespace core {

ModuleState* module_state(const Module& m) {
  auto& list = rt().modules;
  // The place found last time is tried first: a module's state is looked up
  // on every use, and runtimes built from the same list agree on places.
  if (m.place < list.size() && list[m.place].module == &m) return list[m.place].state.get();
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].module == &m) {
      m.place = i;
      return list[i].state.get();
    }
  return nullptr;
}

bool module_installed(const Module& m) {
  const auto& list = rt().modules;
  return std::any_of(list.begin(), list.end(), [&](const InstalledModule& im) { return im.module == &m; });
}

void install_modules(Runtime& r, std::span<const Module* const> modules) {
  size_t first = r.modules.size();
  for (const Module* m : modules) {
    r.modules.push_back(InstalledModule{m, nullptr});
    if (m->make_state != nullptr) r.modules.back().state = m->make_state(r);
  }
  for (size_t i = first; i < r.modules.size(); ++i)
    if (r.modules[i].module->install != nullptr) {
      r.installing_module = r.modules[i].module->name;
      r.modules[i].module->install(r);
    }
  r.installing_module = "";
}

void shutdown_modules(Runtime& r) {
  if (r.modules_shut_down) return;
  r.modules_shut_down = true;
  // One module failing to shut down never stops the others.
  for (auto it = r.modules.rbegin(); it != r.modules.rend(); ++it) {
    if (it->module->shutdown == nullptr) continue;
    try {
      it->module->shutdown(r);
    } catch (...) {
    }
  }
}

}  // namespace core
