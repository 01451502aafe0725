// Line comparison of two texts (`compare-buffers`): the greedy shortest
// edit script over lines ended by carriage returns, turned into change
// records that delete byte ranges of the first text and insert byte ranges
// of the second.
//
// The comparison runs on native copies of nothing: it reads the two texts
// in place and allocates only native memory, so it holds their addresses
// until the script is found; the Lisp result is built afterwards.
#pragma once
#include <cstdint>
#include <vector>

#include "core/value.hpp"

namespace logic {

// The largest line count that can be compared.
constexpr uint32_t kMaxCompareLines = 8191;

struct LineChange {
  enum Kind : int { Deletion = 0, Insertion = 1 };
  int kind;
  uint32_t position;  // offset in the first text
  uint32_t start;     // byte range in the first text (deletion) or the second
  uint32_t end;
};

struct LineDiff {
  // Change runs, a deletion run followed by an insertion run at the same
  // position (a replacement) counting once.
  uint32_t count = 0;
  std::vector<LineChange> changes;  // in text order
};

// Compares two texts line by line. More than kMaxCompareLines lines in
// either is error 2 with the would-be script element count (2N + 1).
LineDiff compare_lines(const uint8_t* a, uint32_t na, const uint8_t* b, uint32_t nb);

void register_line_diff_natives();

}  // namespace logic
