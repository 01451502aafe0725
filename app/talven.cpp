// The talven command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "app/rsrc_tool.hpp"
#include "app/toplevel.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: talven [options] [FILE.lsp ...]\n"
               "  (no argument)   interactive read-eval-print loop\n"
               "  FILE.lsp ...    load each source file in order, form by form\n"
               "  -e EXPR         evaluate the forms of EXPR and print their values\n"
               "  --transcript F  evaluate F form by form, printing values and errors\n"
               "  rsrc list|extract ...  inspect a resource file (talven rsrc --help)\n"
               "  --smoke         run the built-in self check of the machine\n"
               "  --help          show this text\n"
               "  --version       show the version\n");
}

// A native self check: builds a machine, makes values, interns symbols and
// calls registered primitives.
int smoke() {
  using namespace core;
  Value list = kNil;
  for (int i = 10; i > 0; --i) list = cons(make_integer(i * 1000000), list);
  Value eq = symbol_value(find_symbol("equal?"));
  Value args[3] = {list, list, kEndArgs};
  Value same = native_function(eq)(args);
  std::printf("talven %s: %u symbol slots, %u nodes, %u heap bytes; equal? answers %s\n", TALVEN_VERSION,
              rt().zones.symbol_slots, rt().zones.node_count, rt().zones.heap_end - rt().zones.heap_start,
              symbol_text(same));
  return same == rt().sym.t ? 0 : 1;
}

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "--help") {
    usage(stdout);
    return 0;
  }
  if (!args.empty() && args[0] == "--version") {
    std::printf("talven %s\n", TALVEN_VERSION);
    return 0;
  }
  if (!args.empty() && args[0] == "rsrc") return app::rsrc_command({args.begin() + 1, args.end()});
  auto machine = core::make_runtime();
  app::install_startup_globals();
  if (args.empty()) return app::interactive();
  if (args[0] == "--smoke") return smoke();
  if (args[0] == "--transcript") {
    if (args.size() != 2) {
      usage(stderr);
      return 2;
    }
    app::LoopOptions o;
    o.print_values = true;
    o.stop_on_error = false;
    o.errors_to_stdout = true;
    int status = app::run_file(args[1], o);
    return status == 2 ? 2 : 0;
  }
  if (args[0] == "-e") {
    if (args.size() != 2) {
      usage(stderr);
      return 2;
    }
    app::LoopOptions o;
    o.print_values = true;
    return app::run_text(args[1], o);
  }
  for (const std::string& a : args) {
    if (!a.empty() && a[0] == '-') {
      usage(stderr);
      return 2;
    }
  }
  for (const std::string& path : args) {
    int status = app::run_file(path, app::LoopOptions{});
    if (status != 0) return status;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
