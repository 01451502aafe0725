// `talven APP.RI [args]`, and an executable named after its application:
// finding the application file, the options of a run, the back-end of the
// frame, and the start-up up to the boot.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/backend.hpp"

namespace app {

extern const char kRunHelp[];

struct RunOptions {
  std::string app;                // the application file
  platform::Pt screen{1024, 768}; // the screen of the headless back-end
  bool headless = false;
  std::string screenshot;         // a PNG of the frame written at quit
  std::string input;              // an input script driving the run (headless)
  platform::InputScript script;   // the script, read before the run starts
  std::optional<uint32_t> seed;   // the first seed of `random`
  int depth = 32;                 // bits per pixel of the headless screen (8 or 32)
  std::vector<std::string> app_args;
  bool raw_output = false;        // the machine's bytes to standard output unconverted
};

// Whether a command-line word names an application file (its extension
// is RI in any case) or is an option of a run.
bool names_application(const std::string& word);
bool is_run_option(const std::string& word);

// Reads the options of a run and the application file (unless `app` is
// given already). 0, or 2 after a one-line message on standard error.
int parse_run_args(const std::vector<std::string>& args, RunOptions& out);

// Reads the input script the options name, if any. 0, or 2 after
// "SCRIPT:LINE: message" (or the file's fault) on standard error.
int read_input_script(RunOptions& o);

// The executable's path as the user named it (a symbolic link keeps its
// own name): argv[0] when it holds a slash, else its place in PATH.
std::string executable_path(const char* argv0);

// The back-end of the frame. One place, so that a desktop back-end can be
// chosen here.
std::unique_ptr<platform::Backend> make_frame_backend(const RunOptions& o);

// Runs the application; answers only when it cannot start (the exit
// status), otherwise the process ends with the run.
int run_application_file(const RunOptions& o);

}  // namespace app
