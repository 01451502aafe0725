// The resource file inspector: lists a fork (plain or wrapped) and writes
// one resource's data to a file. It reads through the same parser as the
// resource manager and never writes the file it inspects.
#include "app/rsrc_tool.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "storage/commit.hpp"
#include "storage/outputs.hpp"
#include "storage/resfile.hpp"

namespace app {

const char kRsrcHelp[] =
    "usage: talven rsrc list FILE\n"
    "       talven rsrc extract FILE TYPE ID OUT\n"
    "  list     one header line, then one tab-separated line per resource in map order:\n"
    "           type, id, name, attributes, data length, SHA-256 of the data\n"
    "  extract  writes the data of resource TYPE ID to OUT (TYPE as listed, \\xNN escapes allowed)\n"
    "FILE may be a resource file, an AppleDouble file or a MacBinary file; it is only read.\n";

namespace {

const char* reason(int code) {
  switch (code) {
    case storage::kResReadErr:
      return "cannot be read: short header, a damaged header copy or data running outside the data area (-36)";
    case storage::kResBadFile:
      return "not a resource file: cannot be opened, or its header or map is out of bounds (-37)";
    case storage::kResNotFound:
      return "no such resource (-192)";
    default:
      return "failed";
  }
}

int fail(const std::string& file, int code) {
  std::fprintf(stderr, "talven rsrc: %s: %s\n", file.c_str(), reason(code));
  return 1;
}

// TYPE as written in a listing: printable bytes, `\\` and `\xNN`.
bool parse_type(const std::string& s, uint32_t& code) {
  std::string bytes;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      bytes += s[i];
    } else if (i + 1 < s.size() && s[i + 1] == '\\') {
      bytes += '\\';
      ++i;
    } else if (i + 3 < s.size() && s[i + 1] == 'x') {
      char hex[3] = {s[i + 2], s[i + 3], 0};
      char* end = nullptr;
      long v = std::strtol(hex, &end, 16);
      if (*end) return false;
      bytes += char(v);
      i += 3;
    } else {
      return false;
    }
  }
  if (bytes.size() != 4) return false;
  code = storage::fourcc(bytes.c_str());
  for (int i = 0; i < 4; ++i)
    if (bytes[size_t(i)] == 0) code &= ~(0xFFu << (8 * (3 - i)));
  return true;
}

}  // namespace

int rsrc_command(const std::vector<std::string>& args) {
  if (!args.empty() && (args.back() == "--help" || args.back() == "-h")) {
    std::fputs(kRsrcHelp, stdout);
    return 0;
  }
  if (args.empty()) return 2;
  const std::string& cmd = args[0];
  if (!((cmd == "list" && args.size() == 2) || (cmd == "extract" && args.size() == 5))) return 2;
  std::unique_ptr<storage::ResFile> f;
  // Read, never written: an interrupted change is not rolled back here, but
  // what it rolls back to is what is shown.
  bool pending = false;
  std::string why;
  int view = storage::committed_view(args[1], pending, why);
  if (view < 0) {
    std::fprintf(stderr, "talven rsrc: %s: %s\n", args[1].c_str(), why.c_str());
    return 1;
  }
  if (pending)
    std::fprintf(stderr, "talven rsrc: %s: an interrupted change is pending; showing the state it rolls back to\n",
                 args[1].c_str());
  if (int e = storage::ResFile::attach(view, false, args[1], f)) {
    close(view);
    return fail(args[1], e);
  }
  if (cmd == "list") {
    std::string out;
    if (int e = storage::list_fork(*f, out)) return fail(args[1], e);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return std::fflush(stdout) == 0 ? 0 : 1;
  }
  uint32_t type = 0;
  if (!parse_type(args[2], type)) {
    std::fprintf(stderr, "talven rsrc: %s: a type is four bytes, not \"%s\"\n", args[1].c_str(), args[2].c_str());
    return 2;
  }
  char* end = nullptr;
  errno = 0;
  long id = std::strtol(args[3].c_str(), &end, 10);
  if (args[3].empty() || *end || errno || id < -32768 || id > 32767) {
    std::fprintf(stderr, "talven rsrc: %s: an ID is a number from -32768 to 32767, not \"%s\"\n", args[1].c_str(),
                 args[3].c_str());
    return 2;
  }
  for (const storage::ForkType& t : f->map.types) {
    if (t.code != type) continue;
    for (const storage::ForkRef& r : t.refs) {
      if (r.id != id) continue;
      std::vector<uint8_t> data;
      if (int e = f->read_data(r, data)) return fail(args[1], e);
      if (!storage::write_output(args[4], data, {&args[1], 1}, why)) {
        std::fprintf(stderr, "talven rsrc: %s: cannot write: %s\n", args[4].c_str(), why.c_str());
        return 1;
      }
      return 0;
    }
  }
  return fail(args[1], storage::kResNotFound);
}

}  // namespace app
