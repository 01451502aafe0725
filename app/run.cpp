// Running an application file from the command line.
#include "app/run.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/toplevel.hpp"
#include "core/alert.hpp"
#include "core/runtime.hpp"
#include "data/console.hpp"
#include "data/state.hpp"
#include "media/frame.hpp"
#include "platform/gfx/region.hpp"
#include "shell/start.hpp"
#include "storage/outputs.hpp"
#include "storage/resources.hpp"

namespace app {

const char kRunHelp[] =
    "usage: talven [run] [OPTIONS] APP.RI [ARGS]\n"
    "Runs the application in the application resource file APP.RI (built by\n"
    "talven pack): its code resources are loaded in order, then init-talven,\n"
    "init-user, start-appl sent to Appl, and toplevel-loop. An executable or\n"
    "symbolic link named NAME runs NAME.RI beside it the same way.\n"
    "options:\n"
    "  --screen WxH        the size of the screen (default 1024x768)\n"
    "  --headless          no window on the desktop (the frame lives in memory)\n"
    "  --screenshot FILE   write the frame as a PNG when the application quits\n"
    "  --input SCRIPT      drive the run from an input script (implies --headless):\n"
    "                      one action a line, each given when the application\n"
    "                      waits for input with nothing left to do:\n"
    "                        move X Y, press/release/click X Y [right|middle]\n"
    "                        [shift] [ctrl] [alt], double X Y, drag X1 Y1 X2 Y2,\n"
    "                        key NAME [shift] [ctrl] [alt], type TEXT, wait MS,\n"
    "                        screenshot FILE.png, screenshot-frame FILE.png,\n"
    "                        menu TITLE ITEM [SUBITEM...], alert N, close, quit,\n"
    "                        chooser R G B, chooser cancel, cursor, audio FILE.wav\n"
    "                      points are in the desktop area; NAME is a letter, a\n"
    "                      digit, F1-F15, Return, Enter, Escape, Tab, Backspace,\n"
    "                      Space, Delete, Insert, Home, End, PageUp, PageDown,\n"
    "                      Left, Up, Right, Down, Num0-Num9, Alt; # starts a comment\n"
    "  --seed N            the first seed of the random generator (default 1)\n"
    "  --depth 8|32        the bits per pixel of the screen (default 32; 8 implies\n"
    "                      --headless: colours go through the 256-colour palette)\n"
    "exit status: 0 quit, 1 toplevel-loop returned, 2 a bad option or input\n"
    "script line (SCRIPT:LINE: message), 3 the application failed (an error\n"
    "while loading or starting, an unreadable code resource), 4 the input\n"
    "script was used up and the application waited 60 s (virtual) for more, 255 no\n"
    "application file or not enough memory, 128+N ended by signal N (after the\n"
    "orderly shutdown: databases and files are closed).\n"
    "Alerts are shown in the frame; without a desktop they are written on\n"
    "standard error as one line and answered with their first button.\n";

namespace {

bool ends_with_ri(const std::string& w) {
  return w.size() > 3 && w[w.size() - 3] == '.' && (w[w.size() - 2] | 0x20) == 'r' && (w[w.size() - 1] | 0x20) == 'i';
}

// A console that answers alerts: a scripted answer when there is one,
// else the alert's line on standard error and its first button.
class ConsoleHeadless : public platform::HeadlessBackend {
 public:
  using HeadlessBackend::HeadlessBackend;
  std::optional<int> answer_alert(std::string_view text) override {
    if (std::optional<int> scripted = HeadlessBackend::answer_alert(text)) return scripted;
    return core::console_alert(std::string(text), media::frame_state().alert_buttons);
  }
};

// Alerts before the machine exists: their line, converted for the terminal.
int early_alert(const std::string& text, const std::vector<std::string>& buttons) {
  std::fflush(stdout);
  data::console_write(stderr, core::alert_console_line(text, buttons) + '\r');
  std::fflush(stderr);
  return 0;
}

// An error that no Error-Handler of the application takes: its report on
// standard error for whoever runs the application from a terminal, then
// the internal-error alert.
void error_report() {
  std::fflush(stdout);
  const core::LastError& e = core::rt().last_error;
  std::string text = "talven: ";
  if (!e.file.empty()) text += e.file + ":" + std::to_string(e.line) + ": ";
  text += readable_error();
  for (const std::string& b : e.backtrace) text += "\r  " + b;
  data::console_write(stderr, text + '\r');
  std::fflush(stderr);
  core::show_alert(core::kAlertInternal);
  shell::shell_state().internal_alert_serial = core::rt().error_serial;
}

void raise_file_limit() {
  struct rlimit lim;
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < 70 && (lim.rlim_max == RLIM_INFINITY || lim.rlim_max >= 70)) {
    lim.rlim_cur = 70;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
}

// Reads the preferences from the file, mapped rather than read: only the
// map and the few resources the start-up needs are touched.
bool read_prefs(const std::string& path, shell::AppPrefs& prefs, std::string& why) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO does not hold the start-up
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  why = "not an application resource file";
  struct stat st;
  bool ok = false;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    size_t size = size_t(st.st_size);
    void* map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      ok = shell::read_app_prefs({static_cast<const uint8_t*>(map), size}, prefs);
      munmap(map, size);
    }
  }
  ::close(fd);
  return ok;
}

// The name of the file without its folder and extension.
std::string stem_of(const std::string& path) {
  size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

bool names_application(const std::string& word) { return ends_with_ri(word); }

bool is_run_option(const std::string& w) {
  return w == "--screen" || w == "--headless" || w == "--screenshot" || w == "--input" || w == "--seed" ||
         w == "--depth";
}

int parse_run_args(const std::vector<std::string>& args, RunOptions& out) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool has_value = i + 1 < args.size();
    if (a == "--headless") {
      out.headless = true;
    } else if (a == "--screen") {
      unsigned w = 0, h = 0;
      char extra;
      if (!has_value || std::sscanf(args[i + 1].c_str(), "%ux%u%c", &w, &h, &extra) != 2 || w == 0 || h == 0 ||
          w > 16384 || h > 16384) {
        std::fprintf(stderr, "talven: --screen %s: not a size WxH (1 to 16384 each)\n",
                     has_value ? args[i + 1].c_str() : "");
        return 2;
      }
      out.screen = {int32_t(w), int32_t(h)};
      ++i;
    } else if (a == "--screenshot") {
      if (!has_value || args[i + 1].empty()) {
        std::fprintf(stderr, "talven: --screenshot needs a file name\n");
        return 2;
      }
      out.screenshot = args[++i];
    } else if (a == "--input") {
      if (!has_value || args[i + 1].empty()) {
        std::fprintf(stderr, "talven: --input needs a script file\n");
        return 2;
      }
      out.input = args[++i];
      out.headless = true;
    } else if (a == "--seed") {
      unsigned long long n = 0;
      char extra;
      if (!has_value || std::sscanf(args[i + 1].c_str(), "%llu%c", &n, &extra) != 1 || n > 0xFFFFFFFFull) {
        std::fprintf(stderr, "talven: --seed %s: not a whole number from 0 to 4294967295\n",
                     has_value ? args[i + 1].c_str() : "");
        return 2;
      }
      out.seed = uint32_t(n);
      ++i;
    } else if (a == "--depth") {
      if (!has_value || (args[i + 1] != "8" && args[i + 1] != "32")) {
        std::fprintf(stderr, "talven: --depth %s: the depth is 8 or 32\n", has_value ? args[i + 1].c_str() : "");
        return 2;
      }
      out.depth = std::atoi(args[++i].c_str());
      if (out.depth == 8) out.headless = true;
    } else if (out.app.empty() && !a.empty() && a[0] != '-') {
      out.app = a;
    } else if (!out.app.empty()) {
      out.app_args.push_back(a);
    } else {
      std::fprintf(stderr, "talven: unknown option %s (talven run --help)\n", a.c_str());
      return 2;
    }
  }
  if (out.app.empty()) {
    std::fprintf(stderr, "talven: no application file given (talven run --help)\n");
    return 2;
  }
  return 0;
}

int read_input_script(RunOptions& o) {
  if (o.input.empty()) return 0;
  std::vector<uint8_t> bytes;
  std::string error;
  if (!storage::read_input(o.input, bytes, error)) {
    std::fprintf(stderr, "talven: %s: %s\n", o.input.c_str(), error.c_str());
    return 2;
  }
  std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (!platform::parse_input_script(text, o.input, o.script, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  return 0;
}

std::string executable_path(const char* argv0) {
  std::string name = argv0 != nullptr ? argv0 : "";
  if (name.find('/') != std::string::npos) return name;
  if (!name.empty()) {
    const char* path = std::getenv("PATH");
    std::string dirs = path != nullptr ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
      size_t end = dirs.find(':', start);
      if (end == std::string::npos) end = dirs.size();
      std::string dir = dirs.substr(start, end - start);
      std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
      start = end + 1;
    }
  }
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, size_t(n)) : name;
}

std::unique_ptr<platform::Backend> make_frame_backend(const RunOptions& o) {
  // A desktop window when the selector has one to give; otherwise the
  // headless frame, whose alerts are answered on the console.
  if (!o.headless) {
    platform::BackendOptions options;
    options.screen = o.screen;
    std::string note;
    std::unique_ptr<platform::Backend> chosen = platform::make_backend(options, &note);
    if (!note.empty()) std::fprintf(stderr, "talven: %s\n", note.c_str());
    if (chosen && dynamic_cast<platform::HeadlessBackend*>(chosen.get()) == nullptr) return chosen;
  }
  auto headless = std::make_unique<ConsoleHeadless>(o.screen);
  headless->set_screen_depth(o.depth);
  return headless;
}

int run_application_file(const RunOptions& o) {
  // Every frame draws through regions: a missing region library is a broken
  // installation, said before anything starts.
  std::string missing;
  if (!gfx::load_regions(&missing)) {
    std::fprintf(stderr, "talven: cannot load the region library: %s\n", missing.c_str());
    return shell::kExitNoLibrary;
  }
  core::AlertDisplay previous = core::set_alert_display(early_alert);
  raise_file_limit();
  // The path as the alerts show it: file names are UTF-8, alert texts code
  // page 1252.
  const std::string shown = data::console_decode(o.app);
  shell::AppPrefs prefs;
  if (std::string why; !read_prefs(o.app, prefs, why)) {
    // The alert says what it always said; the terminal says why.
    std::fprintf(stderr, "talven: %s: %s\n", o.app.c_str(), why.c_str());
    core::show_alert(core::kAlertFileNotFound, {shown}, 0);
    core::set_alert_display(previous);
    return shell::kExitNoApplication;
  }
  if (prefs.language < 0 || prefs.language > 2) prefs.language = 0;
  std::unique_ptr<core::Runtime> machine;
  try {
    machine = core::make_runtime(prefs.memory, prefs.preferred);
  } catch (const core::MemoryShortage& e) {
    core::show_alert(core::kAlertNoMemory, {std::to_string(e.kb)}, prefs.language);
    core::set_alert_display(previous);
    return shell::kExitNoApplication;
  }
  core::rt().ui_language = prefs.language;
  data::data_state().term_raw = o.raw_output;
  install_startup_globals();
  int refnum = storage::open_resource_file(o.app);
  if (refnum <= 0) {
    core::show_alert(core::kAlertFileNotFound, {shown}, 0);
    core::set_alert_display(previous);
    return shell::kExitNoApplication;
  }
  media::frame_state().screenshot = o.screenshot;
  if (o.seed) data::data_state().random_seed = *o.seed;
  shell::open_frame(make_frame_backend(o), prefs, stem_of(o.app));
  if (!o.input.empty())
    if (auto* headless = dynamic_cast<platform::HeadlessBackend*>(media::frame_state().backend.get()))
      headless->run_script(o.script, *media::window_system());
  core::set_process_end(shell::orderly_shutdown);
  core::rt().hooks.debug_report = error_report;
  shell::install_signal_handlers();
  shell::run_application(refnum);
}

}  // namespace app
