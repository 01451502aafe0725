// Source positions: where the lists of loaded code were read, so that an
// error can name the file and line of the form that failed and of the Lisp
// functions active around it.
//
// The table lies beside the Lisp zones and maps a list's first node to a
// file and line. Nodes never move, so an entry stays right for as long as
// its node lives; the collector drops the entries of the nodes it frees
// (forget_dead, after marking). A machine that never loads from a file
// has an empty table, and the collector then does no work for it.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/memory.hpp"

namespace core {

struct SourcePlace {
  std::string file;  // empty when unknown
  uint32_t line = 0;
};

class SourcePositions {
 public:
  // The number of a source name (1 and up), made on first use.
  uint16_t file_number(const std::string& name);
  // Records that the list whose first node is `list` starts at `line` of
  // file number `file`.
  void record(Value list, uint16_t file, uint32_t line);
  // The place of a list, or false when none was recorded.
  bool place_of(Value list, SourcePlace& place) const;
  // The collector's pass once marking is done: forgets the entries whose
  // node is not marked.
  void forget_dead();
  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }

 private:
  struct Slot {
    uint32_t key;  // the node offset; 0 empty, kTombstone removed
    uint32_t line;
    uint16_t file;
  };
  static constexpr uint32_t kTombstone = 0xFFFFFFFFu;
  std::vector<Slot> slots_;
  uint32_t mask_ = 0;
  size_t count_ = 0;
  size_t used_ = 0;  // entries and tombstones
  std::vector<std::string> files_;

  uint32_t hash(uint32_t key) const { return ((key >> 3) * 0x9E3779B1u >> 5) & mask_; }
  void rebuild(size_t capacity);
};

// What an error report says about where the error happened: the innermost
// place and the primitive it was in (both may be empty), and one line per
// active Lisp function, innermost first.
struct ErrorContext {
  SourcePlace place;
  std::string primitive;
  std::vector<std::string> backtrace;
  std::string hint;  // what a newcomer would want to know, or empty
};

// Works out the context of the error being reported, whose number (-1 for
// the storage family) and culprit are given, from the call form of the last
// native call, the top-level form and the chain of environment frames.
void error_context(int number, Value culprit, ErrorContext& out);

// The bound name nearest to `name` in spelling, within a distance that
// suits its length, or empty.
std::string near_name(const std::string& name);

}  // namespace core
