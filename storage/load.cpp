// `load`: reads a source or encoded file whole and loads it as code.
#include "storage/load.hpp"

#include <cerrno>
#include <string>

#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "data/loader.hpp"
#include "storage/files.hpp"

namespace storage {
using namespace core;

namespace {

// The file is read whole and closed before its first form runs, so that
// nested loads hold no descriptor.
Value prim_load(Value pathname) {
  std::string bytes, name;
  {
    OpenFile f = open_pathname(pathname, OpenMode::Read);
    int64_t size = file_size(f);
    if (size < 0) raise_errno(errno, pathname);
    if (size > 0x7FFFFFF0) error(Err::NativeMemory, pathname);
    bytes.resize(size_t(size));
    int64_t got = size > 0 ? read_bytes(f, bytes.data(), bytes.size()) : 0;
    if (got < 0) raise_errno(errno, pathname);
    bytes.resize(size_t(got));
    name = f.name;
  }
  data::load_source(bytes, name);
  return kNoValue;
}

const NativeRow kLoadNatives[] = {
    TV_PRIM("load", prim_load, "(load PATHNAME) reads the source or encoded file whole, then evaluates its forms in order; no value; a file error when it cannot be read"),
};

void install_module(Runtime&) { register_natives(kLoadNatives); }

}  // namespace

extern const core::Module kLoadModule{"load", nullptr, install_module};

}  // namespace storage
