// Formatted output: `format` and its directives.
//
// The directive state (parameters, flags, the argument cursor and the open
// conditional) belongs to one call: a nested call, from a print-self method
// for example, has its own, so nothing needs to be saved or restored, on
// the normal path or while an error unwinds. Output goes to the selected
// stream as it is made, through the printer's output sink, which a guard
// restores on every exit; with `t` as the stream the sink is a text buffer
// answered as a string.
#pragma once
#include <string>

#include "core/module.hpp"
#include "core/value.hpp"

namespace data {

// Runs a control string over the arguments (a marker-ended vector in their
// written order) and appends the output to `out`. Errors are error 2.
void format_text(std::string& out, const std::string& control, core::Value* args);

extern const core::Module kFormatModule;

}  // namespace data
