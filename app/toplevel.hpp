// The command line's toplevel loops: reading and evaluating a text form by
// form (source files, transcripts, -e expressions) and the interactive
// read-eval-print loop on the terminal.
//
// Every loop catches the exit exception at each form. Errors are reported in
// one of two ways: the transcript keeps the machine's exact report line
// ("Error: 2, 5, ..."), which tests and tools read; the other loops install
// the command line's debugging handler, which prints one readable line per
// error with its place and meaning instead of the application alert (an
// application's own Error-Handler always wins).
#pragma once
#include <string>

namespace app {

// How a text loop treats values and errors.
struct LoopOptions {
  bool print_values = false;    // print the value of each form that has one
  bool stop_on_error = true;    // stop at the first error (exit status 1)
  bool errors_to_stdout = false;
  bool readable_errors = true;  // "FILE:LINE: error N (meaning): culprit"
  std::string place;            // the file name the readable reports start with
  bool encode = false;          // run the text encoded, with its symbols table installed
};

// Gives the globals that the start-up defines their values.
void install_startup_globals();

// Installs the command line's debugging handler and interrupt poll.
void install_console_handlers();

// The readable report of the runtime's last error, without its place.
std::string readable_error();

// Reads and evaluates each form of a text; answers the exit status.
int run_text(const std::string& text, const LoopOptions& options);
// The same over a file's contents; a file that cannot be read is status 2.
// A file that declares UTF-8 on its first line is converted to code page
// 1252 first.
int run_file(const std::string& path, const LoopOptions& options);
// The interactive loop; answers the exit status at the end of input.
int interactive();

// Where the interactive loop keeps its history ($XDG_STATE_HOME/talven).
std::string history_path();

}  // namespace app
