// `talven rsrc`: the resource file inspector.
#pragma once
#include <string>
#include <vector>

namespace app {
// The help text of `talven rsrc`.
extern const char kRsrcHelp[];
// Runs `talven rsrc ARGS...`; answers the exit status (2 for a usage error,
// with nothing printed: the caller shows the help).
int rsrc_command(const std::vector<std::string>& args);
}  // namespace app
