// Running an application: the frame, the boot from the application file,
// the splash sequence, the primitives of the start-up, and the orderly
// shutdown that ends every run.
//
// The boot runs in this order: the symbols table from SYMB 0, the splash
// sequence, the code resources Load 0, 1, 2, ... through the code loader,
// the table removed, `init-talven`, the boot time taken, `init-user`, the
// splash gone; then `start-appl` is sent to `Appl` and `toplevel-loop` is
// called. Everything up to `start-appl` runs inside a catch of `toplevel`:
// an error there shows the internal-error alert and shuts down.
//
// The orderly shutdown (`quit`, a termination signal, the toplevel loop
// returning, a failed boot) runs its steps in a fixed order, then the
// modules' own shutdowns, then ends the process with its status. It never
// returns.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "platform/backend.hpp"
#include "platform/window.hpp"
#include "shell/appfile.hpp"

namespace shell {

// The exit statuses of a run.
enum ExitStatus : int {
  kExitQuit = 0,            // `quit`, `do-quit`
  kExitLoopReturned = 1,    // `toplevel-loop` returned
  kExitFailed = 3,          // the boot failed, a code resource could not be read, Quit after a memory alert
  kExitScriptExhausted = 4, // the input script was used up and the application waited on
  kExitNoApplication = 255, // no application file, or not enough memory for the machine
  kExitNoLibrary = 70,      // a library every frame needs cannot be loaded (a broken installation)
};
// A termination signal ends the run with 128 + its number.

// The steps of the orderly shutdown, in the order they run. Pieces of the
// shell register their own clean-up with add_shutdown_step; those of the
// folders below it are named in the shell's own table (start.cpp).
enum ShutdownOrder : int {
  kStepMovies = 100,          // close every open movie
  kStepPendingEvents = 200,   // process what is pending
  kStepFrame = 300,           // destroy the frame: its windows, then the quit message
  kStepProcesses = 400,       // the cooperative processes
  kStepStyledText = 500,      // the styled-text resource file
  kStepPrinting = 600,        // the printing module's drawing objects
  kStepDatabases = 700,       // every open database
  kStepDrain = 800,           // every event up to the quit message
  kStepFinal = 900,           // the final clean-ups: cursor, native objects, handles
};

struct ShutdownStep {
  int order;
  const char* name;
  void (*run)(int status);
};

// The splash sequence: the pictures PICT 501, 502, ... each shown for the
// duration of its `wait` resource.
struct Splash {
  platform::Handle window = 0;
  std::vector<uint8_t> picture;  // the picture shown
  int32_t current = 501;         // its id
  int32_t next = 502;
  uint32_t duration = 0;         // milliseconds the current picture stays
  uint32_t since = 0;            // clock reading of the last change
  bool armed = false;
};

struct ShellState : core::ModuleState {
  ShellState();
  ~ShellState() override;

  // The preferences the frame was opened with, and where it lies on the
  // screen (the frame itself, its back-end and window system belong to
  // the frame module, media/frame.hpp).
  AppPrefs prefs;
  FrameLayout layout;

  // The clock's reading as the frame opened, and the boot time once the
  // code is loaded.
  uint32_t start_ms = 0;
  int32_t boot_ms = 0;
  Splash splash;

  std::vector<ShutdownStep> steps;  // by order
  bool shutting_down = false;
  // The error serial whose report showed the internal-error alert already.
  uint64_t internal_alert_serial = UINT64_MAX;
  std::vector<pid_t> children;  // programs started by launch-application

  // Ends the process (std::exit; tests replace it).
  void (*exit_process)(int status);
};

extern const core::Module kShellModule;
ShellState& shell_state();

// Opens the frame (media/frame.hpp) on a back-end: its title (PREF 258,
// else `fallback_title`), its layout on the back-end's screen, the desktop
// area; alerts are shown in it from now on.
void open_frame(std::unique_ptr<platform::Backend> backend, const AppPrefs& prefs, const std::string& fallback_title);

// Runs the application whose file is open as resource file `refnum` (the
// current one): the boot, `start-appl`, `toplevel-loop`, then the orderly
// shutdown. Never returns.
[[noreturn]] void run_application(int refnum);

// The orderly shutdown with the exit status `status`. Called again while
// it runs (a `quit` from a clean-up), it leaves the step that called it.
[[noreturn]] void orderly_shutdown(int status);

// Adds a step to the orderly shutdown of the current machine.
void add_shutdown_step(int order, const char* name, void (*run)(int status));

// Makes SIGINT, SIGTERM and SIGHUP start the orderly shutdown at the next
// poll (a second one before then ends the process at once), and installs
// the poll that looks.
void install_signal_handlers();
// Starts the shutdown when a termination signal has arrived.
void check_signals();

// The splash: opens its window when the current resource file has PICT
// 501 with a frame; advances the sequence when the current picture's time
// is up (or at once with `force`); closes the window.
void open_splash();
void advance_splash(bool force);
void close_splash();

}  // namespace shell
