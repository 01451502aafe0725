// The command line's toplevel loops: reading and evaluating a text form by
// form (source files, transcripts, -e expressions) and the interactive
// read-eval-print loop on the terminal.
//
// Every loop catches the exit exception at each form: an error has already
// been reported into the runtime's message buffer (its report counter
// changes), and the loop prints that message and carries on or stops.
#pragma once
#include <string>

namespace app {

// How a text loop treats values and errors.
struct LoopOptions {
  bool print_values = false;    // print the value of each form that has one
  bool stop_on_error = true;    // stop at the first error (exit status 1)
  bool errors_to_stdout = false;
};

// Gives the globals that the start-up defines their values.
void install_startup_globals();

// Reads and evaluates each form of a text; answers the exit status.
int run_text(const std::string& text, const LoopOptions& options);
// The same over a file's contents; a file that cannot be read is status 2.
int run_file(const std::string& path, const LoopOptions& options);
// The interactive loop; answers the exit status at the end of input.
int interactive();

}  // namespace app
