// Fuzz target for resource forks: find the fork (plain or wrapped), parse
// header and map, load every resource's data, and check that the map the
// serializer writes parses back to the same model. Every input must end in
// a result code; a crash, a sanitizer report or a read outside the input
// is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "storage/fork.hpp"
#include "storage/sha256.hpp"

namespace {
using namespace storage;

bool same(const ForkMap& a, const ForkMap& b) {
  std::vector<const ForkType*> ta, tb;
  for (const ForkType& t : a.types)
    if (!t.refs.empty()) ta.push_back(&t);
  for (const ForkType& t : b.types) tb.push_back(&t);
  if (ta.size() != tb.size() || a.attrs != b.attrs) return false;
  for (size_t i = 0; i < ta.size(); ++i) {
    if (ta[i]->code != tb[i]->code || ta[i]->refs.size() != tb[i]->refs.size()) return false;
    for (size_t j = 0; j < ta[i]->refs.size(); ++j) {
      const ForkRef &x = ta[i]->refs[j], &y = tb[i]->refs[j];
      if (x.id != y.id || x.named != y.named || x.name != y.name || x.data_offset != y.data_offset ||
          (x.attrs & ~kResChanged) != y.attrs)
        return false;
    }
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::span<const uint8_t> file(data, size);
  std::span<const uint8_t> fork = file;
  ForkMap m;
  int e = parse_fork(fork, kResourceFork, m);
  if (e != 0) {
    ForkPlace place;
    if (!find_wrapped_fork(file.first(std::min<size_t>(size, 4096)), size, place)) return 0;
    if (place.offset > size || place.length > size - place.offset) std::abort();
    fork = file.subspan(size_t(place.offset), size_t(place.length));
    if (parse_fork(fork, kResourceFork, m) != 0) return 0;
  }
  for (const ForkType& t : m.types)
    for (const ForkRef& r : t.refs) {
      std::span<const uint8_t> bytes;
      if (fork_data(fork, m, r, bytes) == 0) (void)sha256_hex(bytes);
    }
  ForkHeader h = m.header;
  std::vector<uint8_t> map;
  if (serialize_map(m, h, map) != 0) return 0;
  ForkMap back;
  if (parse_map(map, h, kResourceFork, back) != 0 || !same(m, back)) std::abort();
  return 0;
}
