// The file dialogs: the scripted and the child-process back-ends, and the
// dialog primitives.
#include "storage/dialogs.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "core/alert.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "data/strings.hpp"
#include "storage/file_natives.hpp"
#include "storage/file_state.hpp"
#include "storage/paths.hpp"
#include "storage/settings.hpp"

extern char** environ;

namespace storage {
using namespace core;

namespace {

// ---- Back-ends ----------------------------------------------------------------------

class ScriptedDialogs : public DialogBackend {
 public:
  explicit ScriptedDialogs(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      answers_.push_back(line);
    }
  }
  std::optional<std::string> ask(const DialogRequest&) override {
    if (next_ >= answers_.size()) return std::nullopt;
    const std::string& a = answers_[next_++];
    if (a == "CANCEL" || a.empty()) return std::nullopt;
    return a;
  }

 private:
  std::vector<std::string> answers_;
  size_t next_ = 0;
};

class NoDialogs : public DialogBackend {
 public:
  std::optional<std::string> ask(const DialogRequest&) override { return std::nullopt; }
};

// Runs a program and answers its standard output when it exits with 0.
std::optional<std::string> run_for_output(const std::vector<std::string>& argv) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return std::nullopt;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int r = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  if (r != 0) {
    close(pipe_fds[0]);
    return std::nullopt;
  }
  std::string out;
  char buf[4096];
  for (;;) {
    ssize_t n = read(pipe_fds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, size_t(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  if (out.empty()) return std::nullopt;
  return out;
}

bool on_path(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::string_view rest = path;
  while (!rest.empty()) {
    size_t colon = rest.find(':');
    std::string dir(rest.substr(0, colon));
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
    if (colon == std::string_view::npos) break;
    rest.remove_prefix(colon + 1);
  }
  return false;
}

std::string spaced(std::string patterns) {
  for (char& c : patterns)
    if (c == ';') c = ' ';
  return patterns;
}

class ZenityDialogs : public DialogBackend {
 public:
  std::optional<std::string> ask(const DialogRequest& q) override {
    std::vector<std::string> argv = {"zenity", "--file-selection"};
    if (!q.title.empty()) argv.push_back("--title=" + q.title);
    std::string start = q.start_dir.empty() ? std::string() : q.start_dir + "/";
    if (q.kind == DialogRequest::Kind::Save) {
      argv.push_back("--save");
      argv.push_back("--confirm-overwrite");
      start += q.default_name;
    } else if (q.kind == DialogRequest::Kind::Folder) {
      argv.push_back("--directory");
    }
    if (!start.empty()) argv.push_back("--filename=" + start);
    for (const DialogFilter& f : q.filters) argv.push_back("--file-filter=" + f.description + " | " + spaced(f.pattern));
    return run_for_output(argv);
  }
};

class KdialogDialogs : public DialogBackend {
 public:
  std::optional<std::string> ask(const DialogRequest& q) override {
    std::vector<std::string> argv = {"kdialog"};
    std::string start = q.start_dir.empty() ? std::string(".") : q.start_dir;
    std::string filter;
    for (const DialogFilter& f : q.filters) {
      if (!filter.empty()) filter += "\n";
      filter += spaced(f.pattern) + "|" + f.description;
    }
    switch (q.kind) {
      case DialogRequest::Kind::Open: argv.insert(argv.end(), {"--getopenfilename", start, filter}); break;
      case DialogRequest::Kind::Save:
        argv.insert(argv.end(), {"--getsavefilename", start + "/" + q.default_name, filter});
        break;
      case DialogRequest::Kind::Folder: argv.insert(argv.end(), {"--getexistingdirectory", start}); break;
    }
    if (!q.title.empty()) argv.insert(argv.end(), {"--title", q.title});
    return run_for_output(argv);
  }
};

}  // namespace

std::unique_ptr<DialogBackend> make_scripted_dialogs(const std::string& script_path) {
  return std::make_unique<ScriptedDialogs>(script_path);
}

std::unique_ptr<DialogBackend> make_dialog_backend() {
  const char* script = std::getenv("TALVEN_DIALOG_SCRIPT");
  if (script && *script) return make_scripted_dialogs(script);
  const char* x = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x && *x) || (wayland && *wayland)) {
    if (on_path("zenity")) return std::make_unique<ZenityDialogs>();
    if (on_path("kdialog")) return std::make_unique<KdialogDialogs>();
  }
  return std::make_unique<NoDialogs>();
}

// ---- The dialog primitives ----------------------------------------------------------

namespace {

DialogBackend& dialogs() {
  FileState& s = files_state();
  if (!s.dialogs) s.dialogs = make_dialog_backend();
  return *s.dialogs;
}

// The starting directory: set-open-directory's, else the last one chosen
// (LastDir), else the configuration folder.
std::string& open_dir() {
  FileState& s = files_state();
  if (s.open_dir.empty()) {
    std::string last;
    if (settings_read("QZ", "LastDir", last) && !last.empty())
      s.open_dir = name_from_utf8(last);
    else
      s.open_dir = text_of_posix(config_dir());
  }
  return s.open_dir;
}

// Descriptions and patterns: two strings, or two lists walked in step.
std::vector<DialogFilter> filters_of(Value descriptions, Value patterns) {
  std::vector<DialogFilter> out;
  if (descriptions.is_pair() || patterns.is_pair()) {
    for (; descriptions.is_pair() && patterns.is_pair(); descriptions = cdr(descriptions), patterns = cdr(patterns))
      out.push_back({name_to_utf8(data::text_of(car(descriptions))), name_to_utf8(data::text_of(car(patterns)))});
  } else if (!descriptions.is_nil() && !patterns.is_nil()) {
    out.push_back({name_to_utf8(data::text_of(descriptions)), name_to_utf8(data::text_of(patterns))});
  }
  for (DialogFilter& f : out) f.description += " (" + f.pattern + ")";
  return out;
}

// Asks the back-end; a cancel throws to `cancel`. Answers the chosen path
// as a backslash text.
std::string ask(DialogRequest& q) {
  q.start_dir = posix_path(open_dir());
  std::optional<std::string> answer = dialogs().ask(q);
  if (!answer) throw_to(rt().sym.cancel, kNil);
  if ((*answer)[0] == '/') return text_of_posix(*answer);
  return name_from_utf8(*answer);
}

// Remembers the folder of a chosen file for the next dialog and in the
// settings file.
void remember_folder(const std::string& text) {
  size_t cut = text.find_last_of('\\');
  std::string dir = cut == std::string::npos ? text
                    : cut == 0                ? std::string("\\")
                                              : text.substr(0, cut == 2 && text[1] == ':' ? 3 : cut);
  files_state().open_dir = dir;
  settings_write("QZ", "LastDir", name_to_utf8(dir));
}

bool type_allowed(Value types, const std::string& text) {
  if (types.is_nil()) return true;
  Value s = data::new_string(text);
  std::string type = data::text_of(call_by_name(intern_static("file-get-type"), {s}));
  auto same = [&](Value t) {
    std::string want = data::text_of(t);
    want.resize(4, ' ');
    return want == type;
  };
  if (!types.is_pair()) return same(types);
  for (; types.is_pair(); types = cdr(types))
    if (same(car(types))) return true;
  return false;
}

}  // namespace

Value prim_talven_choose_file(Value callback, Value types, Value, Value, Value title, Value descriptions,
                              Value patterns, Value) {
  DialogRequest q;
  q.kind = DialogRequest::Kind::Open;
  q.title = title.is_nil() ? std::string() : name_to_utf8(data::text_of(title));
  q.filters = filters_of(descriptions, patterns);
  std::string chosen = ask(q);
  if (!type_allowed(types, chosen)) {
    show_alert(kAlertBadType);
    return kNoValue;
  }
  remember_folder(chosen);
  call_by_name(callback, {path_text_list(chosen)});
  return kNoValue;
}

Value prim_talven_choose_new_file(Value callback, Value title, Value default_name, Value descriptions,
                                  Value patterns) {
  DialogRequest q;
  q.kind = DialogRequest::Kind::Save;
  q.title = title.is_nil() ? std::string() : name_to_utf8(data::text_of(title));
  q.default_name = default_name.is_nil() ? std::string() : name_to_utf8(data::text_of(default_name));
  q.filters = filters_of(descriptions, patterns);
  std::string chosen = ask(q);
  remember_folder(chosen);
  call_by_name(callback, {path_text_list(chosen)});
  return kNoValue;
}

Value prim_talven_choose_directory(Value callback) {
  DialogRequest q;
  q.kind = DialogRequest::Kind::Folder;
  std::string chosen = ask(q);
  call_by_name(callback, {path_text_list(chosen)});
  return kNoValue;
}

Value prim_set_open_directory(Value pathname) {
  files_state().open_dir = pathname_text(pathname);
  return kNoValue;
}

}  // namespace storage
