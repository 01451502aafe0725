// The reference of the primitives and special forms (docs/reference.md,
// `talven doc`, the prompt's `,doc`), made from the registration tables.
#pragma once
#include <string>
#include <vector>

namespace app {

// The whole reference as Markdown, grouped by module.
std::string reference_markdown();
// One entry as text; false (and a line saying so) when no native has the name.
bool reference_entry(const std::string& name, std::string& out);
// Natives bound to a name that the reference misses (none when it is whole).
std::vector<std::string> reference_faults();
// The names whose rows carry no description yet, in alphabetical order.
std::vector<std::string> undocumented();

}  // namespace app
