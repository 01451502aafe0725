// The printer's entry points for native code.
#pragma once
#include <string>

#include "core/value.hpp"

namespace data {

// The printed text of a value, as text primitives and error reports use it.
std::string value_text(core::Value v);

}  // namespace data
