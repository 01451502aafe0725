// The database inspector: lists the records of a database through the same
// parser as the database primitives. It never writes the file it inspects
// (an interrupted commit is not rolled back: the listing shows the state the
// rollback will restore).
#include "app/db_tool.hpp"

#include <unistd.h>

#include <cstdio>

#include "storage/commit.hpp"
#include "storage/database.hpp"

namespace app {

const char kDbHelp[] =
    "usage: talven db list FILE\n"
    "  list  one header line, then one tab-separated line per record in map order:\n"
    "        type, id (signed decimal), name, attributes, data length, SHA-256 of the data;\n"
    "        bytes outside 0x20-0x7E in types and names are written \\xNN, \\ as \\\\\n"
    "FILE is a record database; it is only read.\n";

namespace {

const char* reason(int code) {
  switch (code) {
    case storage::kDbNotDatabase:
      return "not a database: cannot be opened, or its header or map is out of bounds (storage error 1)";
    case storage::kDbNoMemory:
      return "its map is too large to hold (storage error 2)";
    case storage::kDbShortRead:
      return "a header or record cannot be read completely (storage error 3)";
    default:
      return "failed";
  }
}

}  // namespace

int db_command(const std::vector<std::string>& args) {
  if (!args.empty() && (args.back() == "--help" || args.back() == "-h")) {
    std::fputs(kDbHelp, stdout);
    return 0;
  }
  if (args.size() != 2 || args[0] != "list") return 2;
  // Read, never written: an interrupted commit is not rolled back here, but
  // what it rolls back to is what is listed.
  bool pending = false;
  std::string why;
  int view = storage::committed_view(args[1], pending, why);
  if (view < 0) {
    std::fprintf(stderr, "talven db: %s: %s\n", args[1].c_str(), why.c_str());
    return 1;
  }
  if (pending)
    std::fprintf(stderr, "talven db: %s: an interrupted change is pending; listing the state it rolls back to\n",
                 args[1].c_str());
  std::unique_ptr<storage::DbFile> db;
  std::string out;
  int e = storage::DbFile::attach(view, false, args[1], db);
  if (e == 0) e = storage::list_database(*db, out);
  close(view);
  if (e != 0) {
    std::fprintf(stderr, "talven db: %s: %s\n", args[1].c_str(), reason(e));
    return 1;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace app
