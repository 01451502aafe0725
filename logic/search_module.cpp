#include "logic/search_module.hpp"

#include "logic/buffer_search.hpp"
#include "logic/line_diff.hpp"
#include "logic/symbolic.hpp"

namespace logic {

const core::Module kSearchModule{
    "search",
    nullptr,
    [](core::Runtime&) {
      register_symbolic_natives();
      register_buffer_search_natives();
      register_line_diff_natives();
    },
    nullptr,
    nullptr,
};

}  // namespace logic
