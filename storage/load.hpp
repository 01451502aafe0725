// `load`: the file layer's half of code loading. The loading itself is the
// code loader's (data/loader.hpp); this module opens, reads and closes the
// file through the file layer, whose errors it raises.
#pragma once
#include "core/module.hpp"

namespace storage {

extern const core::Module kLoadModule;

}  // namespace storage
