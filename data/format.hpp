// Formatted output: `format` and its directives.
//
// The directive state (parameters, flags, the argument cursor, the open
// conditional and the output buffer) belongs to one call: a nested call,
// from a print-self method for example, has its own, so nothing needs to be
// saved or restored, on the normal path or while an error unwinds. With `t`
// as the stream the output is collected and answered as a string; for any
// other stream it is written to the stream in batches, and what was produced
// before an error is written before the error goes on.
#pragma once
#include <string>

#include "core/value.hpp"

namespace data {

// Runs a control string over the arguments (a marker-ended vector in their
// written order) and appends the output to `out`. Errors are error 2.
void format_text(std::string& out, const std::string& control, core::Value* args);

void register_format_natives();

}  // namespace data
