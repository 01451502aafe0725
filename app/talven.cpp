// The talven command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"

namespace {

void usage(FILE* out) {
  std::fprintf(out,
               "usage: talven [options] [FILE.lsp ...]\n"
               "  FILE.lsp ...    load each source file in order\n"
               "  -e EXPR         evaluate EXPR and print its value\n"
               "  --transcript F  evaluate F form by form, printing values and errors\n"
               "  --smoke         run the built-in self check of the machine\n"
               "  --help          show this text\n"
               "  --version       show the version\n");
}

// A native self check used until source text can be read: builds a machine,
// makes values, interns symbols and calls registered primitives.
int smoke() {
  auto r = core::make_runtime();
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

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--help") == 0) {
    usage(stdout);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("talven %s\n", TALVEN_VERSION);
    return 0;
  }
  try {
    if (argc > 1 && std::strcmp(argv[1], "--smoke") == 0) return smoke();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  usage(stderr);
  return 2;
}
