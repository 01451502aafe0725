// libFuzzer target: arbitrary bytes as a packer's manifest, packed
// in-process against a folder holding one good source. Every input ends in
// a packed file or a fault reported with its line; a crash, a hang or a
// sanitizer report is a finding.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/pack.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = [] {
    char name[] = "/tmp/talven-manifest-fuzz-XXXXXX";
    std::string d = mkdtemp(name) ? name : "/tmp";
    if (FILE* f = std::fopen((d + "/ok.lsp").c_str(), "wb")) {
      std::fputs("(define (toplevel-loop) (quit))\n", f);
      std::fclose(f);
    }
    return d;
  }();
  std::string manifest = dir + "/m.app", out = dir + "/out.RI";
  FILE* f = std::fopen(manifest.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  // The faults it reports go nowhere; a sanitizer's report still shows.
  static const int quiet = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::fflush(stderr);
  int saved = ::dup(2);
  ::dup2(quiet, 2);
  app::pack_command({manifest, "-o", out});
  std::fflush(stderr);
  ::dup2(saved, 2);
  ::close(saved);
  return 0;
}
