// The toplevel loops of the command line.
#include "app/toplevel.hpp"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifdef TALVEN_EDITLINE
#include <editline/readline.h>
#endif

#include "core/errors.hpp"
#include "core/eval.hpp"
#include "core/memory.hpp"
#include "core/symbols.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"

namespace app {
using namespace core;

namespace {

// Writes a report line through the printer, or on standard error.
void report(const std::string& text, bool to_stdout) {
  if (to_stdout) {
    data::set_terminal_output();
    data::put_text(text);
    data::print_newline();
    data::flush_terminal();
  } else {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", text.c_str());
  }
}

// Drops the rest of a form that the reader left unfinished (out of nodes,
// or an error inside a list), up to the end of the lists that were open,
// so that none of its remaining elements is taken as a form of its own.
// Strings, escapes, character literals and comments are skipped whole, so
// that the brackets inside them do not count.
void skip_open_lists() {
  uint32_t open = data::ds().broken_lists;
  data::ds().broken_lists = 0;
  int c = data::ds().lookahead;
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
// replaced with exits of its own, oldest first; whether there were any.
bool report_replaced(bool to_stdout) {
  std::vector<std::string> reports = std::move(rt().replaced_reports);
  rt().replaced_reports.clear();
  for (const std::string& text : reports) report(text, to_stdout);
  return !reports.empty();
}

// Reads one form from the current source, evaluates it and, if asked,
// prints its value. Exits of the form are caught here.
Step step(bool print_values, bool errors_to_stdout, bool& read_error) {
  uint64_t serial = rt().error_serial;
  bool reading = true;
  data::ds().broken_lists = 0;
  rt().replaced_reports.clear();
  try {
    data::fetch();
    Value form = data::read_token();
    if (data::is_signal(form)) {
      uint32_t n = form.payload();
      if (n == data::kSignalEnd) return Step::Done;
      if (n == data::kSignalNothing) return Step::Value;
      error(Err::EndOfInput, kNil);
    }
    reading = false;
    // Inside a catch of `toplevel`, so that Lisp code may throw there too.
    Value v;
    bool finished = eval_toplevel(form, &v);
    bool replaced = report_replaced(errors_to_stdout);
    if (!finished) {
      if (rt().error_serial == serial) return replaced ? Step::Error : Step::Value;
      report(rt().error_message, errors_to_stdout);
      return Step::Error;
    }
    if (print_values && !v.is_no_value()) {
      data::set_terminal_output();
      data::print_value(v, data::Style::Display);
      data::print_newline();
      data::flush_terminal();
    }
    return replaced ? Step::Error : Step::Value;
  } catch (const Thrower& t) {
    read_error = reading;
    if (reading) skip_open_lists();
    if (report_replaced(errors_to_stdout) && t.tag == rt().sym.toplevel && rt().error_serial == serial)
      return Step::Error;
    if (rt().error_serial != serial) {
      report(rt().error_message, errors_to_stdout);
      return Step::Error;
    }
    // A throw to toplevel without an error only ends the form.
    if (t.tag == rt().sym.toplevel) return Step::Value;
    report("Error: 17, " + data::value_text(t.tag), errors_to_stdout);
    return Step::Error;
  } catch (const ErrorPrinting&) {
    read_error = reading;
    if (reading) skip_open_lists();
    report_replaced(errors_to_stdout);
    report("Unprintable error", errors_to_stdout);
    return Step::Error;
  }
}

// Drops the rest of the line that a reading error stopped in, so that one
// malformed line gives one report.
void skip_line() {
  int c = data::ds().lookahead;
  while (c != data::kEndOfInput && c != 10 && c != 13) c = data::fetch();
}

}  // namespace

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
  };
  for (const Global& g : globals) intern_static(g.name, g.value);
}

int run_text(const std::string& text, const LoopOptions& options) {
  if (text.size() > 0x7FFFFFF0u) return 2;
  uint32_t n = uint32_t(text.size());
  Addr block = n ? rt().region.allocate(n) : 0;
  if (n && block == 0) return 2;
  if (n) std::memcpy(rt().region.ptr(block), text.data(), n);
  int status = 0;
  {
    data::InputGuard guard;
    data::set_memory_input(block, n);
    for (;;) {
      bool read_error = false;
      Step s = step(options.print_values, options.errors_to_stdout, read_error);
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
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "talven: cannot read %s\n", path.c_str());
    return 2;
  }
  std::ostringstream text;
  text << in.rdbuf();
  return run_text(text.str(), options);
}

#ifdef TALVEN_EDITLINE
static bool edit_line(std::string& line, bool continuation) {
  char* s = readline(continuation ? "  " : "? ");
  if (s == nullptr) return false;
  if (*s) add_history(s);
  line = s;
  std::free(s);
  return true;
}
#endif

int interactive() {
  data::DataState& d = data::ds();
  bool tty = isatty(STDIN_FILENO) != 0;
#ifdef TALVEN_EDITLINE
  if (tty) d.term_read_line = edit_line;
#endif
  if (tty) std::printf("talven %s; end of input (Ctrl-D) quits.\n", TALVEN_VERSION);
  data::InputGuard guard;
  data::set_terminal_input();
  for (;;) {
    d.term_continuation = false;
    bool read_error = false;
    Step s = step(true, true, read_error);
    if (s == Step::Done) break;
    // After an error the rest of the typed line is dropped.
    if (s == Step::Error) d.term_pos = d.term_line.size();
  }
  if (tty) std::printf("\n");
  std::fflush(stdout);
  d.term_read_line = nullptr;
  return 0;
}

}  // namespace app
