// The logic module: clauses, logic variables, unification and the search
// (`defclause`, `asserte`, `clause?`, `logvar?`, `free`, the predicate
// application handler and the `new-clause` compiler).
#pragma once
#include "core/module.hpp"

namespace logic {

extern const core::Module kLogicModule;

}  // namespace logic
