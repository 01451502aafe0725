// `talven rsrc`: the resource file inspector.
#pragma once
#include <string>
#include <vector>

namespace app {
// Runs `talven rsrc ARGS...`; answers the exit status.
int rsrc_command(const std::vector<std::string>& args);
}  // namespace app
