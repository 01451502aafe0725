// Fuzz target for the outside data the file layer reads: settings files,
// path texts (backslash notation, POSIX paths, names in any bytes) and the
// 256-byte headers that type and creator are peeked from. A crash, a
// sanitizer report, or an update of the settings that a lookup then misses,
// is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz/machine.hpp"
#include "core/memory.hpp"
#include "storage/files.hpp"
#include "storage/paths.hpp"
#include "storage/settings.hpp"
#include "text/codec.hpp"

namespace {
using namespace core;

Runtime& machine() { return fuzzing::machine(); }

void settings(std::string_view text) {
  std::string value;
  storage::settings_lookup(text, "QZ", "LastDir", value);
  std::string updated = storage::settings_update(text, "QZ", "LastDir", "C:\\x");
  if (!storage::settings_lookup(updated, "qz", "lastdir", value) || value != "C:\\x") __builtin_trap();
  // A section named by the input itself, when it may be written.
  std::string_view name = text.substr(0, std::min<size_t>(text.size(), 12));
  if (storage::settings_writable(name, "k", "v")) {
    updated = storage::settings_update(text, name, "k", "v");
    if (!storage::settings_lookup(updated, name, "K", value) || value != "v") __builtin_trap();
  }
}

void paths(std::string_view text) {
  std::vector<std::string> parts = storage::split_path_text(text);
  storage::posix_path_as_written(text);
  storage::text_of_posix(text);
  std::string out;
  if (text::utf8_to_cp1252(text, out).complete && text::cp1252_to_utf8(out) != text) __builtin_trap();
  Value list = storage::path_text_list(text.substr(0, 300));
  try {
    storage::pathname_text(list);
  } catch (const Thrower&) {
  }
}

void header(std::string_view bytes) {
  int fd = memfd_create("header", MFD_CLOEXEC);
  if (fd < 0) return;
  storage::OpenFile f;
  f.fd = fd;
  if (write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size())) {
    std::string type, creator;
    storage::peek_kind(f, &type, &creator);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 70000) return 0;
  RuntimeScope scope(machine());
  std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  try {
    switch (data[0] % 3) {
      case 0: settings(text); break;
      case 1: paths(text); break;
      default: header(text); break;
    }
  } catch (const Thrower&) {
  }
  return 0;
}
