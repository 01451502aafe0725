// The toplevel loops of the command line.
#include "app/toplevel.hpp"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <langinfo.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#ifdef TALVEN_EDITLINE
#include <editline/readline.h>
#endif

#include "app/reference.hpp"
#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/symbols.hpp"
#include "data/console.hpp"
#include "data/encoded.hpp"
#include "data/loader.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"
#include "platform/host_library.hpp"
#include "storage/settings.hpp"

namespace app {
using namespace core;

namespace {

// Where the form being evaluated came from, for the readable reports, and
// the serial of the last error the debugging handler reported.
struct Place {
  std::string file;
  int line = 0;
  bool to_stdout = false;
  uint64_t reported_serial = 0;
};
Place g_place;

// Set by Ctrl-C; the prompt abandons its input, a running form is
// interrupted at the next poll.
volatile sig_atomic_t g_interrupted = 0;

// Writes a report line on standard error, or through the printer on
// standard output; both pass the console boundary.
void report(const std::string& text, bool to_stdout) {
  if (to_stdout) {
    data::set_terminal_output();
    data::put_text(text);
    data::print_newline();
    data::flush_terminal();
  } else {
    // On one terminal, the report starts a line of its own after what the
    // program wrote without ending its line.
    data::DataState& d = data::data_state();
    if (d.term_line_open && d.term_out == stdout && isatty(STDOUT_FILENO) && isatty(STDERR_FILENO)) {
      std::fputc('\n', stdout);
      d.term_line_open = false;
    }
    std::fflush(stdout);
    data::console_write(stderr, text + '\r');
    std::fflush(stderr);
  }
}

// The command line's debugging handler: one line per error, with its place.
void debug_report() {
  const LastError& e = rt().last_error;
  std::string line = readable_error();
  if (!e.file.empty())
    line = e.file + ":" + std::to_string(e.line) + ": " + line;
  else if (!g_place.file.empty())
    line = g_place.file + ":" + std::to_string(g_place.line) + ": " + line;
  for (const std::string& b : e.backtrace) line += "\r  " + b;
  report(line, g_place.to_stdout);
  g_place.reported_serial = rt().error_serial;
}

// The interrupt poll: Ctrl-C while a form runs is an error at the next poll.
void interrupt_poll() {
  if (!g_interrupted) return;
  g_interrupted = 0;
  // The report starts a line of its own.
  data::DataState& d = data::data_state();
  if (d.term_line_open) {
    std::fputc('\n', d.term_out);
    d.term_line_open = false;
  }
  error_text("interrupted");
}

// Drops the rest of a form that the reader left unfinished (out of nodes,
// or an error inside a list), up to the end of the lists that were open,
// so that none of its remaining elements is taken as a form of its own.
// Strings, escapes, character literals and comments are skipped whole, so
// that the brackets inside them do not count.
void skip_open_lists() {
  uint32_t open = data::data_state().broken_lists;
  data::data_state().broken_lists = 0;
  // At the prompt the typed lines of an abandoned form are gone already;
  // skipping would wait for more.
  if (data::data_state().in.kind != data::InputKind::Memory) return;
  int c = data::data_state().lookahead;
  while (open > 0 && c != data::kEndOfInput) {
    switch (data::char_class(c)) {
      case data::kOpen:
      case data::kOpenBrace:
        ++open;
        break;
      case data::kClose:
      case data::kAlternateClose:
      case data::kCloseBrace:
        --open;
        break;
      case data::kStringQuote:
        do {
          c = data::fetch();
          if (c != data::kEndOfInput && data::char_class(c) == data::kEscape) c = data::fetch();
        } while (c != data::kEndOfInput && data::char_class(c) != data::kStringQuote);
        break;
      case data::kEscape:
        data::fetch();
        break;
      case data::kComment:
        while (c != data::kEndOfInput && data::char_class(c) != data::kLineEnd) c = data::fetch();
        continue;
      default:
        // #\ followed by any character is one character literal.
        if (c == '#') {
          c = data::fetch();
          if (c != '\\') continue;
          data::fetch();  // the character itself, passed below
        }
        break;
    }
    c = data::fetch();
  }
}

// The outcome of one form of a loop.
enum class Step { Value, Done, Error };

// Prints the reports of the errors whose exits an unwind-protect clean-up
// replaced with exits of its own, oldest first (the debugging handler of
// the readable reports has seen them already); whether there were any.
bool report_replaced(const LoopOptions& o) {
  std::vector<std::string> reports = std::move(rt().replaced_reports);
  rt().replaced_reports.clear();
  if (!o.readable_errors)
    for (const std::string& text : reports) report(text, o.errors_to_stdout);
  return !reports.empty();
}

// Reads one form from the current source, evaluates it and, if asked,
// prints its value. Exits of the form are caught here.
Step step(const LoopOptions& o, bool& read_error) {
  uint64_t serial = rt().error_serial;
  bool reading = true;
  data::data_state().broken_lists = 0;
  rt().replaced_reports.clear();
  // An error the debugging handler has not reported (the transcript's
  // loop, or an error that bypassed the handler) is reported here.
  auto report_error = [&] {
    if (!o.readable_errors)
      report(rt().error_message, o.errors_to_stdout);
    else if (g_place.reported_serial != rt().error_serial && rt().error_message == "Unprintable error")
      report(rt().error_message, o.errors_to_stdout);
  };
  try {
    data::fetch();
    Value form = data::read_token();
    if (data::is_signal(form)) {
      uint32_t n = form.payload();
      if (n == data::kSignalEnd) return Step::Done;
      if (n == data::kSignalNothing) return Step::Value;
      if (n == data::kSignalClose) rt().error_hint = ErrorHint{"unexpected ')'", true, g_place.file, uint32_t(g_place.line)};
      error(Err::EndOfInput, kNil);
    }
    reading = false;
    // Inside a catch of `toplevel`, so that Lisp code may throw there too.
    Value v;
    bool finished = eval_toplevel(form, &v);
    bool replaced = report_replaced(o);
    if (!finished) {
      if (rt().error_serial == serial) return replaced ? Step::Error : Step::Value;
      report_error();
      return Step::Error;
    }
    if (o.print_values && !v.is_no_value()) {
      data::set_terminal_output();
      data::print_value(v, data::Style::Display);
      data::print_newline();
      data::flush_terminal();
    }
    return replaced ? Step::Error : Step::Value;
  } catch (const Thrower& t) {
    read_error = reading;
    if (reading) skip_open_lists();
    if (report_replaced(o) && t.tag == rt().sym.toplevel && rt().error_serial == serial) return Step::Error;
    if (rt().error_serial != serial) {
      report_error();
      return Step::Error;
    }
    // A throw to toplevel without an error only ends the form.
    if (t.tag == rt().sym.toplevel) return Step::Value;
    report(o.readable_errors ? "error 17 (" + std::string(error_meaning(kErrorKindMachine, 17)) +
                                   "): " + data::value_text(t.tag)
                             : "Error: 17, " + data::value_text(t.tag),
           o.errors_to_stdout);
    return Step::Error;
  } catch (const ErrorPrinting&) {
    read_error = reading;
    if (reading) skip_open_lists();
    report_replaced(o);
    report("Unprintable error", o.errors_to_stdout);
    return Step::Error;
  }
}

// Drops the rest of the line that a reading error stopped in, so that one
// malformed line gives one report.
void skip_line() {
  int c = data::data_state().lookahead;
  while (c != data::kEndOfInput && c != 10 && c != 13) c = data::fetch();
}

// Line numbers of positions in a text, counted forward as a loop moves on.
class LineCounter {
 public:
  explicit LineCounter(std::string_view text) : text_(text) {}
  // The line of the first character of the next form at or after `pos`:
  // blanks and comments before it are stepped over.
  int line_of_form(size_t pos) {
    while (pos < text_.size()) {
      char c = text_[pos];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f') {
        ++pos;
      } else if (c == ';') {
        while (pos < text_.size() && text_[pos] != '\r' && text_[pos] != '\n') ++pos;
      } else {
        break;
      }
    }
    if (pos < counted_) counted_ = 0, line_ = 1;
    for (; counted_ < pos && counted_ < text_.size(); ++counted_) {
      char c = text_[counted_];
      if (c == '\n' || (c == '\r' && (counted_ + 1 >= text_.size() || text_[counted_ + 1] != '\n'))) ++line_;
    }
    return line_;
  }

 private:
  std::string_view text_;
  size_t counted_ = 0;
  int line_ = 1;
};

// Sets the place of the readable reports for its extent.
class PlaceScope {
 public:
  PlaceScope(const std::string& file, bool to_stdout) : saved_(g_place) {
    g_place.file = file;
    g_place.line = 0;
    g_place.to_stdout = to_stdout;
  }
  ~PlaceScope() {
    uint64_t serial = g_place.reported_serial;
    g_place = saved_;
    g_place.reported_serial = serial;
  }
  PlaceScope(const PlaceScope&) = delete;
  PlaceScope& operator=(const PlaceScope&) = delete;

 private:
  Place saved_;
};

}  // namespace

std::string readable_error() {
  const LastError& e = rt().last_error;
  if (e.text_only) return "error: " + e.culprit_text;
  if (e.hint_replaces) return e.hint + " (error " + std::to_string(e.number) + ")";
  std::string line = (e.kind == kErrorKindStorage ? "storage error " : "error ") + std::to_string(e.number);
  if (const char* meaning = error_meaning(e.kind, e.number)) line += std::string(" (") + meaning + ")";
  line += ": ";
  line += rt().error_message == "Unprintable error" ? "(a culprit that cannot be printed)" : e.culprit_text;
  if (!e.primitive.empty()) line += ", in " + e.primitive;
  if (!e.at_top_level && !e.object_text.empty()) line += ", in " + e.object_text;
  if (!e.hint.empty()) line += "; " + e.hint;
  return line;
}

void install_startup_globals() {
  struct Global {
    const char* name;
    Value value;
  };
  const Global globals[] = {
      {"nil", kNil},
      {"Machine", intern_static("ibm")},
      {"Development-Stage", intern_static("release")},
      {"Environment", intern_static("standalone")},
      {"Rainbow?", kNil},
      {"Load-File", kNil},
      {"TALVEN", kNoObject},
      {"Compare-Vector", kNil},
      {"Appl", kNil},
      {"InQuit?", kNil},
  };
  // The application's init functions are interned without a value.
  intern_static("init-talven");
  intern_static("init-user");
  for (const Global& g : globals) intern_static(g.name, g.value);
}

void install_console_handlers() {
  rt().hooks.debug_report = debug_report;
  rt().hooks.poll = interrupt_poll;
}

int run_text(const std::string& text, const LoopOptions& options) {
  if (text.size() > 0x7FFFFFF0u) return 2;
  uint32_t n = uint32_t(text.size());
  Addr block = n ? rt().region.allocate(n) : 0;
  if (n && block == 0) return 2;
  if (n) std::memcpy(rt().region.ptr(block), text.data(), n);
  int status = 0;
  {
    PlaceScope place(options.place, options.errors_to_stdout);
    LineCounter lines(text);
    data::InputGuard guard;
    data::set_memory_input(block, n);
    data::SourcePositionsScope positions(options.place);
    for (;;) {
      bool read_error = false;
      g_place.line = lines.line_of_form(data::data_state().in.pos);
      Step s = step(options, read_error);
      if (s == Step::Done) break;
      if (s == Step::Error) {
        status = 1;
        if (options.stop_on_error) break;
        if (read_error) skip_line();
      }
    }
  }
  data::flush_terminal();
  std::fflush(stdout);
  if (block) rt().region.release(block);
  return status;
}

int run_file(const std::string& path, const LoopOptions& options) {
  std::string raw;
  errno = 0;
  if (!storage::read_whole_file(path, raw)) {
    std::fprintf(stderr, "talven: %s: %s\n", path.c_str(), errno != 0 ? std::strerror(errno) : "cannot be read");
    return 2;
  }
  std::string text;
  int bad_line = 0;
  if (!data::source_text(raw, text, bad_line)) {
    // A fault of the file like any other: status 1 where the first error
    // stops the run; a transcript reports it and carries on (status 0).
    std::fprintf(stderr, "talven: %s:%d: a character without a code page 1252 counterpart, or bad UTF-8\n",
                 path.c_str(), bad_line);
    return options.stop_on_error ? 1 : 0;
  }
  std::string warning = data::undeclared_utf8_warning(path, raw);
  if (!warning.empty()) std::fprintf(stderr, "talven: %s\n", warning.c_str());
  LoopOptions o = options;
  if (o.place.empty()) o.place = path;
  if (o.encode) {
    // The encoded text runs with its own table; the faults of the source
    // stay in it, so that they show as they would unencoded.
    data::SymbolNames table;
    std::string code;
    data::CodecError err;
    data::EncodeOptions eo;
    eo.strict = false;
    if (!data::encode_source(text, table, code, err, eo)) {
      std::fprintf(stderr, "talven: %s:%d: %s\n", path.c_str(), err.line, err.message.c_str());
      return 2;
    }
    std::vector<Value> symbols;
    for (const std::string& n : table.names()) symbols.push_back(intern_copy(n));
    data::install_symbols_table(symbols);
    // Decoded as a load decodes: with this table, whatever its forms install.
    int status;
    {
      data::SymbolsTablePin pin;
      status = run_text(code, o);
    }
    data::remove_symbols_table();
    return status;
  }
  return run_text(text, o);
}

std::string history_path() {
  const char* state = std::getenv("XDG_STATE_HOME");
  std::string base;
  if (state != nullptr && state[0] == '/') {
    base = state;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == 0) return "";
    base = std::string(home) + "/.local/state";
  }
  return base + "/talven/history";
}

namespace {

// Makes the folders above a file, as mkdir -p does; mode 0700 for new ones.
void make_parents(const std::string& path) {
  for (size_t i = 1; i < path.size(); ++i)
    if (path[i] == '/') mkdir(path.substr(0, i).c_str(), 0700);
}

#ifdef TALVEN_EDITLINE
// The line editor, loaded when an interactive loop starts on a terminal:
// scripts, applications and tools start without it and its libraries.
struct LineEditor {
  decltype(&::readline) readline = nullptr;
  decltype(&::add_history) add_history = nullptr;
  decltype(&::stifle_history) stifle_history = nullptr;
  decltype(&::read_history) read_history = nullptr;
  decltype(&::write_history) write_history = nullptr;
  decltype(&::rl_readline_name) readline_name = nullptr;
  decltype(&::rl_catch_signals) catch_signals = nullptr;
  decltype(&::rl_basic_word_break_characters) word_break_characters = nullptr;
  decltype(&::rl_completion_entry_function) completion_entry_function = nullptr;
};
LineEditor g_editor;

// True when the library and every one of its names were found; otherwise
// the loop reads plain lines.
bool load_line_editor() {
  LineEditor e;
  const platform::HostSymbol symbols[] = {
      platform::host_symbol("readline", e.readline),
      platform::host_symbol("add_history", e.add_history),
      platform::host_symbol("stifle_history", e.stifle_history),
      platform::host_symbol("read_history", e.read_history),
      platform::host_symbol("write_history", e.write_history),
      platform::host_symbol("rl_readline_name", e.readline_name),
      platform::host_symbol("rl_catch_signals", e.catch_signals),
      platform::host_symbol("rl_basic_word_break_characters", e.word_break_characters),
      platform::host_symbol("rl_completion_entry_function", e.completion_entry_function)};
  if (!platform::load_host_library(TALVEN_EDITLINE_LIBRARY, symbols, nullptr)) return false;
  g_editor = e;
  return true;
}

std::string g_history;  // the history file, or empty

// Saves the history whole into a new file and renames it over the old one,
// so that a crash leaves the old history or the new.
void save_history() {
  if (g_history.empty()) return;
  std::string tmp = g_history + ".tmp" + std::to_string(getpid());
  if (g_editor.write_history(tmp.c_str()) == 0 && std::rename(tmp.c_str(), g_history.c_str()) == 0) return;
  std::remove(tmp.c_str());
}

// Completion of symbol names: every interned name that starts with the
// typed word, in the order of the alphabet.
char* complete_symbol(const char* text, int state) {
  static std::vector<std::string> matches;
  static size_t next = 0;
  if (state == 0) {
    matches.clear();
    next = 0;
    std::string prefix = data::console_decode(text);
    Zones& z = rt().zones;
    for (uint32_t i = 0; i < z.symbol_slots; ++i) {
      const auto& rec = *reinterpret_cast<const SymbolRecord*>(z.symbols + 16ull * i);
      if (rec.name == 0 || Value(rec.value).is_no_value()) continue;  // bound names only
      const char* name = string_text(Value(rec.name));
      if (std::strncmp(name, prefix.c_str(), prefix.size()) == 0) matches.push_back(data::console_encode(name));
    }
    std::sort(matches.begin(), matches.end());
    matches.erase(std::unique(matches.begin(), matches.end()), matches.end());
  }
  if (next < matches.size()) return strdup(matches[next++].c_str());
  return nullptr;
}

// Reads a line with the line editor. Ctrl-C clears what was typed: at a
// fresh prompt the loop simply prompts again; inside an unfinished form the
// form is abandoned (a throw to toplevel without an error).
bool edit_line(std::string& line, bool continuation) {
  g_interrupted = 0;
  char* s = g_editor.readline(continuation ? "  " : "? ");
  if (s == nullptr) {
    if (!g_interrupted) return false;
    g_interrupted = 0;
    std::printf("\n");
    data::DataState& d = data::data_state();
    d.term_line.clear();
    d.term_pos = 0;
    if (continuation) throw_toplevel();
    line.clear();
    return true;
  }
  if (*s) {
    g_editor.add_history(s);
    save_history();
  }
  int unmapped = 0;
  line = data::console_decode(s, &unmapped);
  std::free(s);
  if (unmapped > 0)
    std::fprintf(stderr, "talven: warning: %d character%s without a code page 1252 counterpart read as '?'\n",
                 unmapped, unmapped == 1 ? "" : "s");
  return true;
}
#endif

// Reads the next line of the interactive loop.
bool read_line(std::string& line, bool continuation) {
  data::DataState& d = data::data_state();
  if (d.term_read_line != nullptr) return d.term_read_line(line, continuation);
  return data::console_read_line(stdin, line);
}

void on_interrupt(int) { g_interrupted = 1; }

// The prompt's own commands, which are not Lisp forms.
void prompt_command(const std::string& line) {
  size_t sp = line.find_first_of(" \t");
  std::string name = line.substr(0, sp);
  std::string arg = sp == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", sp) == std::string::npos
                                                                   ? line.size()
                                                                   : line.find_first_not_of(" \t", sp));
  LoopOptions o;
  o.errors_to_stdout = true;
  o.stop_on_error = false;
  if (name == ",help") {
    report(",help        this list\r"
           ",doc NAME    the reference entries of a syntax word, primitive, special form or method\r"
           ",load FILE   load a source file form by form\r"
           ",time FORM   evaluate FORM, then show the wall time and the collections it took\r"
           "Ctrl-C abandons the form being typed or interrupts the one running; Ctrl-D quits.\r"
           "Tab completes symbol names.",
           true);
  } else if (name == ",doc" && !arg.empty()) {
    std::string entry;
    reference_entry(arg, entry);
    if (!entry.empty() && entry.back() == '\n') entry.pop_back();
    std::string text;
    for (char c : entry) text += c == '\n' ? '\r' : c;
    report(data::console_decode(text), true);
  } else if (name == ",load" && !arg.empty()) {
    o.stop_on_error = true;
    run_file(arg, o);  // a file it cannot read, it reports itself
  } else if (name == ",time" && !arg.empty()) {
    uint64_t collections = rt().zones.collections;
    auto start = std::chrono::steady_clock::now();
    o.print_values = true;
    o.place = "";
    run_text(arg, o);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    uint64_t n = rt().zones.collections - collections;
    char buf[96];
    std::snprintf(buf, sizeof buf, "; %.3f s, %llu collection%s", s, static_cast<unsigned long long>(n),
                  n == 1 ? "" : "s");
    report(buf, true);
  } else {
    report("unknown command " + line + " (,help lists the commands)", true);
  }
}

}  // namespace

int interactive() {
  data::DataState& d = data::data_state();
  bool tty = isatty(STDIN_FILENO) != 0;
#ifdef TALVEN_EDITLINE
  if (tty && load_line_editor()) {
    // The line editor reads UTF-8 only in a UTF-8 character type locale;
    // nothing else of the machine depends on the process locale.
    const char* ctype = std::setlocale(LC_CTYPE, "");
    if (ctype == nullptr || std::string(nl_langinfo(CODESET)) != "UTF-8") std::setlocale(LC_CTYPE, "C.UTF-8");
    d.term_read_line = edit_line;
    *g_editor.readline_name = "talven";
    *g_editor.catch_signals = 0;
    *g_editor.word_break_characters = " \t\n\"'`;()[]#,@";
    *g_editor.completion_entry_function = complete_symbol;
    g_history = history_path();
    if (!g_history.empty()) {
      make_parents(g_history);
      g_editor.stifle_history(1000);
      g_editor.read_history(g_history.c_str());
    }
  }
#endif
  struct sigaction sa {};
  struct sigaction old_sa {};
  if (tty) {
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no restart: a read at the prompt returns
    sigaction(SIGINT, &sa, &old_sa);
    std::printf("talven %s; ,help lists the prompt's commands; Ctrl-D quits.\n", TALVEN_VERSION);
  }
  LoopOptions o;
  o.print_values = true;
  o.errors_to_stdout = true;
  o.stop_on_error = false;
  PlaceScope place("", true);
  data::InputGuard guard;
  data::set_terminal_input();
  for (;;) {
    d.term_continuation = false;
    // A fresh line is read here, so that the prompt's commands are seen
    // before the reader. What is left of the last line counts only when it
    // holds more than blanks.
    if (d.term_line.find_first_not_of(" \t\r", d.term_pos) == std::string::npos) d.term_pos = d.term_line.size();
    if (d.term_pos >= d.term_line.size()) {
      std::string line;
      bool ok;
      try {
        ok = read_line(line, false);
      } catch (const Thrower&) {
        continue;
      }
      if (!ok) break;
      size_t first = line.find_first_not_of(" \t");
      if (first != std::string::npos && line[first] == ',') {
        prompt_command(line.substr(first));
        continue;
      }
      d.term_line = line + '\r';
      d.term_pos = 0;
      d.term_continuation = true;
    }
    bool read_error = false;
    Step s = step(o, read_error);
    if (s == Step::Done) break;
    // After an error the rest of the typed line is dropped.
    if (s == Step::Error) d.term_pos = d.term_line.size();
  }
  if (tty) {
    std::printf("\n");
    sigaction(SIGINT, &old_sa, nullptr);
  }
  std::fflush(stdout);
  d.term_read_line = nullptr;
  return 0;
}

}  // namespace app
