// `talven db`: the database inspector.
#pragma once
#include <string>
#include <vector>

namespace app {
// The help text of `talven db`.
extern const char kDbHelp[];
// Runs `talven db ARGS...`; answers the exit status (2 for a usage error,
// with nothing printed: the caller shows the help).
int db_command(const std::vector<std::string>& args);
}  // namespace app
