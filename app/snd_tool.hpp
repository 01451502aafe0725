// `talven snd`: the sound inspector.
#pragma once
#include <string>
#include <vector>

namespace app {
// The help text of `talven snd`.
extern const char kSndHelp[];
// Runs `talven snd ARGS...`; answers the exit status (2 for a usage error,
// with nothing printed: the caller shows the help).
int snd_command(const std::vector<std::string>& args);
}  // namespace app
