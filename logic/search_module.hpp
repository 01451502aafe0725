// The search module: structural search in source text (`search-symbolic`,
// `unify-expr`), buffer search (`search-buffer-subr`, `search-not-ascii`)
// and line comparison (`compare-buffers`). It keeps no state between calls:
// each search holds its own tables for its extent, and the Values it shares
// with Lisp live in the globals `Search-Match` and `Symbolic-Token`.
#pragma once
#include "core/module.hpp"

namespace logic {

extern const core::Module kSearchModule;

}  // namespace logic
