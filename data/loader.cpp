// The code loader and the symbols table primitives.
#include "data/loader.hpp"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <span>

#include "core/eval.hpp"
#include "core/frames.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/symbols.hpp"
#include "data/encoded.hpp"
#include "data/handles.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"

namespace data {
using namespace core;

namespace {

// Binds Load-File for its extent (when asked to).
class LoadFileGuard {
 public:
  LoadFileGuard(bool bind, Value file) : bind_(bind), symbol_(intern_static("Load-File")) {
    if (!bind_) return;
    saved_ = symbol_value(symbol_);
    set_symbol_value(symbol_, file);
  }
  ~LoadFileGuard() {
    if (bind_) set_symbol_value(symbol_, saved_);
  }
  LoadFileGuard(const LoadFileGuard&) = delete;
  LoadFileGuard& operator=(const LoadFileGuard&) = delete;

 private:
  bool bind_;
  Value symbol_;
  Value saved_ = kNoValue;
};

// A private handle holding a copy of loaded bytes, freed on every path.
class PrivateText {
 public:
  explicit PrivateText(uint32_t length) : handle_(new_handle(length)) {
    if (handle_ == 0) error(Err::NativeMemory, make_integer(int32_t(length)));
    base_ = lock_handle(handle_);
  }
  ~PrivateText() { dispose_handle(handle_); }
  PrivateText(const PrivateText&) = delete;
  PrivateText& operator=(const PrivateText&) = delete;
  Addr base() const { return base_; }
  uint8_t* bytes() const { return rt().region.ptr(base_); }

 private:
  uint32_t handle_;
  Addr base_ = 0;
};

// Unlocks a handle on every path.
class UnlockGuard {
 public:
  explicit UnlockGuard(uint32_t h) : h_(h) {}
  ~UnlockGuard() { unlock_handle(h_); }
  UnlockGuard(const UnlockGuard&) = delete;
  UnlockGuard& operator=(const UnlockGuard&) = delete;

 private:
  uint32_t h_;
};

}  // namespace

SymbolsTablePin::SymbolsTablePin() : saved_(data_state().symbols_table) {
  DataState& d = data_state();
  d.symbols_table = d.symbols_installed;
  ++d.load_depth;
}

SymbolsTablePin::~SymbolsTablePin() {
  DataState& d = data_state();
  if (--d.load_depth == 0)
    d.symbols_table = d.symbols_installed;
  else
    d.symbols_table = std::move(saved_);
}

void load_region(Addr base, uint32_t length, bool bind_file, Value file, const std::string& source) {
  InputGuard input;
  if (length == 0) return;
  set_memory_input(base, length);
  // Encoded code may name its source in its first line, which then counts
  // as line 0: the source's lines follow it.
  std::string name = source;
  uint32_t first_line = 1;
  const char* text = reinterpret_cast<const char*>(rt().region.ptr(base));
  std::string_view head(text, std::min<size_t>(length, 512));
  if (head.starts_with(kSourceNameMark)) {
    size_t end = head.find_first_of("\r\n");
    if (end != std::string_view::npos) {
      name = std::string(head.substr(kSourceNameMark.size(), end - kSourceNameMark.size()));
      first_line = 0;
    }
  }
  if (name.empty() && file.is_fixnum()) name = "Load " + std::to_string(file.fixnum());
  if (name.empty() && file.is(Tag::String)) name = string_text(file);
  SourcePositionsScope positions(name, first_line);
  core::DispatchDepthScope depth;
  LoadFileGuard load_file(bind_file, file);
  SelfFrame outside(kNoObject);
  SymbolsTablePin table;
  DataState& d = data_state();
  // Every reading primitive puts back the source it found; should anything
  // leave another one current, the load ends rather than read from it.
  const uint32_t serial = d.in.serial;
  while (d.in.serial == serial && d.in.pos < length) {
    fetch();
    Value t = read_token();
    if (is_signal(t)) {
      if (t.payload() == kSignalClose) {
        if (!name.empty()) rt().error_hint = ErrorHint{"unexpected ')'", true, name, source_line()};
        error(Err::EndOfInput, kNil);
      }
      continue;
    }
    eval_top_form(t);
  }
}

void load_from_handle(uint32_t h, Value file) {
  uint32_t length = handle_size(h);
  if (length == 0) return;
  Addr a = lock_handle(h);
  UnlockGuard unlock(h);
  // The text is read from a private copy: a form being loaded may resize or
  // dispose of the handle it comes from.
  PrivateText text(length);
  std::memcpy(text.bytes(), rt().region.ptr(a), length);
  load_region(text.base(), length, true, file);
}

void load_source(const std::string& bytes, const std::string& name) {
  std::string text;
  int bad_line = 0;
  if (!source_text(bytes, text, bad_line)) {
    std::string message =
        name + ":" + std::to_string(bad_line) + ": a character without a code page 1252 counterpart, or bad UTF-8";
    error(Err::WrongType, make_string(message.data(), message.size()));
  }
  if (text.empty()) return;
  if (text.size() > 0x7FFFFFF0u) error(Err::NativeMemory, kNil);
  PrivateText copy(uint32_t(text.size()));
  std::memcpy(copy.bytes(), text.data(), text.size());
  load_region(copy.base(), uint32_t(text.size()), false, kNil, name);
}

void set_symbols_table(uint32_t h, Value culprit) {
  if (h == 0) {
    remove_symbols_table();
    return;
  }
  std::vector<std::string> names;
  bool ok;
  {
    Addr a = lock_handle(h);
    UnlockGuard unlock(h);
    ok = parse_symbols_resource(std::span<const uint8_t>(rt().region.ptr(a), handle_size(h)), names);
  }
  if (!ok) error(Err::WrongType, culprit);
  std::vector<Value> symbols;
  symbols.reserve(names.size());
  for (const std::string& n : names) symbols.push_back(intern_copy(n));
  install_symbols_table(symbols);
}

// ---- Primitives -------------------------------------------------------------------

// The handle of a handle box or of a loaded resource; error 2 otherwise.
static uint32_t code_handle_arg(Value box) {
  if (box.is(Tag::Pointer) && box_kind(box) == kBoxResource) {
    uint32_t h = box_addr(box);
    if (!handle_live(h)) error(Err::WrongType, box);
    return h;
  }
  return handle_arg(box);
}

static Value prim_load_from_handle(Value box, Value file) {
  load_from_handle(code_handle_arg(box), file);
  return kNoValue;
}

static Value prim_set_symbols_table(Value box) {
  if (box.is_nil()) {
    set_symbols_table(0, kNil);
    return kNoValue;
  }
  set_symbols_table(code_handle_arg(box), box);
  // A table read from a resource is released, which empties the caller's
  // box; a plain handle stays the caller's.
  if (box_kind(box) == kBoxResource) {
    Value release = intern_static("releaseresource");
    if (!symbol_value(release).is_no_value()) call_by_name(release, {box});
  }
  return kNoValue;
}

static const NativeRow kLoaderNatives[] = {
    TV_PRIM2("load-from-handle", prim_load_from_handle, "(load-from-handle HANDLE FILE) reads and evaluates every form of the text in HANDLE, with Load-File bound to FILE, outside any object; no value"),
    TV_PRIM2("set-symbols-table", prim_set_symbols_table, "(set-symbols-table [HANDLE]) installs the encoded code's symbols table read from HANDLE, or removes it for nil; no value"),
};

static void install_module(Runtime&) { register_natives(kLoaderNatives); }

extern const core::Module kLoaderModule{"loader", nullptr, install_module};

}  // namespace data
