// The platform layer never includes the core.
#include "core/value.hpp"
