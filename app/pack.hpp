// `talven pack MANIFEST` builds an application resource file from its
// sources; `talven unpack APP.RI DIR` writes a packed application back out
// as readable sources, resources and a manifest that packs it again.
#pragma once
#include <string>
#include <vector>

namespace app {

extern const char kPackHelp[];
extern const char kUnpackHelp[];

// Each answers the exit status: 0, 1 for a fault in the input (reported on
// standard error as FILE:LINE: message), 2 for a usage error with nothing
// printed (the caller shows the help).
int pack_command(const std::vector<std::string>& args);
int unpack_command(const std::vector<std::string>& args);

}  // namespace app
