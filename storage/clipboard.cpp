// The clipboard store and its primitives.
#include "storage/clipboard.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "core/bytes.hpp"
#include "core/errors.hpp"
#include "core/memory.hpp"
#include "core/natives.hpp"
#include "core/runtime.hpp"
#include "data/handles.hpp"
#include "data/strings.hpp"

namespace storage {
using namespace core;

namespace {

using Block = std::vector<uint8_t>;

struct ClipState : ModuleState {
  std::array<std::optional<Block>, size_t(ClipFormat::Count)> blocks;
};

ClipState& clipboard_state() { return state_of<ClipState>(kClipboardModule); }

// The one connection to the desktop's clipboard.
TextMirror g_mirror;

std::optional<Block>& slot(ClipFormat f) { return clipboard_state().blocks[size_t(f)]; }

Value boolean(bool b) { return b ? rt().sym.t : kNil; }

enum class Scrap { Text, Pict, Movie, Lisp };

// The scrap type of a type argument; error 47 with nil for any other.
Scrap scrap_arg(Value type) {
  std::string s = data::text_of(type);
  if (s == "TEXT") return Scrap::Text;
  if (s == "PICT") return Scrap::Pict;
  if (s == "tlmv") return Scrap::Movie;
  if (s == "LISP") return Scrap::Lisp;
  error(Err::NotAvailable, kNil);
}

// The blocks of the size-prefixed formats carry their length first.
bool size_prefixed(ClipFormat f) { return f == ClipFormat::MacPict || f == ClipFormat::Lisp; }
bool zero_ended(ClipFormat f) { return f == ClipFormat::Text || f == ClipFormat::Movie; }

Block block_data(ClipFormat f, const Block& b) { return clipboard_block_data(f, b); }

void text_changed() {
  if (!g_mirror.text_changed) return;
  const std::optional<Block>& t = slot(ClipFormat::Text);
  if (!t) {
    g_mirror.text_changed(nullptr);
    return;
  }
  Block data = block_data(ClipFormat::Text, *t);
  std::string text(data.begin(), data.end());
  g_mirror.text_changed(&text);
}

void empty_store() {
  bool had_text = slot(ClipFormat::Text).has_value();
  for (auto& b : clipboard_state().blocks) b.reset();
  if (had_text) text_changed();
}

// Text another program put on the desktop replaces what the store holds.
void pull_desktop_text() {
  std::string text;
  if (!g_mirror.desktop_text || !g_mirror.desktop_text(text)) return;
  const std::optional<Block>& t = slot(ClipFormat::Text);
  if (t && block_data(ClipFormat::Text, *t) == Block(text.begin(), text.end())) return;
  for (auto& b : clipboard_state().blocks) b.reset();
  Block block(text.begin(), text.end());
  block.push_back(0);
  slot(ClipFormat::Text) = std::move(block);
}

// The bytes of put-scrap's data: a string's characters or all the bytes of
// a handle (a record's or resource's too).
Block data_arg(Value data) {
  if (data.is(Tag::String)) {
    size_t n = std::strlen(string_text(data));
    if (n > 65535) error(Err::WrongType, data);
    const char* p = string_text(data);
    return Block(p, p + n);
  }
  uint32_t h = data::handle_arg(data);
  uint32_t n = data::handle_size(h);
  if (n == 0) return {};
  const uint8_t* p = rt().region.ptr(data::handle_memory(h));
  return Block(p, p + n);
}

ClipFormat format_of(Scrap s, const Block& data) {
  switch (s) {
    case Scrap::Text: return ClipFormat::Text;
    case Scrap::Movie: return ClipFormat::Movie;
    case Scrap::Lisp: return ClipFormat::Lisp;
    case Scrap::Pict: break;
  }
  return packed_bitmap(data) ? ClipFormat::Bitmap : ClipFormat::MacPict;
}

// The format get-scrap reads for a scrap type, when one is there.
std::optional<ClipFormat> available(Scrap s) {
  if (s == Scrap::Text) pull_desktop_text();
  ClipFormat f = s == Scrap::Text ? ClipFormat::Text : s == Scrap::Movie ? ClipFormat::Movie
               : s == Scrap::Lisp ? ClipFormat::Lisp : ClipFormat::MacPict;
  if (slot(f)) return f;
  if (s == Scrap::Pict && slot(ClipFormat::Bitmap)) return ClipFormat::Bitmap;
  return std::nullopt;
}

Value prim_put_scrap(Value type, Value data, Value keep) {
  Scrap s = scrap_arg(type);
  Block bytes = data_arg(data);
  ClipFormat f = format_of(s, bytes);
  if (!keep.truthy()) empty_store();
  size_t prefix = size_prefixed(f) ? 4 : 0;
  Block block(prefix + bytes.size() + (zero_ended(f) ? 1 : 0), 0);
  if (prefix) store_le32(block.data(), uint32_t(bytes.size()));
  if (!bytes.empty()) std::memcpy(block.data() + prefix, bytes.data(), bytes.size());
  slot(f) = std::move(block);
  if (f == ClipFormat::Text) text_changed();
  return kNoValue;
}

Value prim_get_scrap(Value type) {
  std::optional<ClipFormat> f = available(scrap_arg(type));
  if (!f) return kNil;
  Block data = block_data(*f, *slot(*f));
  uint32_t h = data::new_handle(uint32_t(data.size()));
  if (h == 0) error(Err::NativeMemory, kNil);
  if (!data.empty()) std::memcpy(rt().region.ptr(data::handle_memory(h)), data.data(), data.size());
  return data::box_handle(h);
}

Value prim_scrap_available_p(Value type) { return boolean(available(scrap_arg(type)).has_value()); }

const NativeRow kClipboardNatives[] = {
    TV_PRIM("put-scrap", prim_put_scrap, "(put-scrap TYPE DATA KEEP?) puts a string's text or a handle's bytes on the clipboard as TYPE (\"TEXT\", \"PICT\", \"tlmv\" or \"LISP\"), emptying it first unless KEEP? is true; no value; error 2 with a string over 65535 characters"),
    TV_PRIM("get-scrap", prim_get_scrap, "(get-scrap TYPE) a new handle of the clipboard's data of TYPE (\"TEXT\", \"PICT\", \"tlmv\" or \"LISP\"), nil when there is none; error 47 with another TYPE"),
    TV_PRIM("scrap-available?", prim_scrap_available_p, "(scrap-available? TYPE) t when the clipboard holds data of TYPE, otherwise nil"),
};

}  // namespace

bool packed_bitmap(std::span<const uint8_t> b) {
  return b.size() >= 16 && load_le32(b.data()) == 40 && load_le16(b.data() + 12) == 1 && load_le16(b.data() + 14) < 33;
}

std::vector<uint8_t> clipboard_block_data(ClipFormat f, std::span<const uint8_t> b) {
  if (size_prefixed(f)) {
    if (b.size() < 4) return {};
    size_t n = std::min<size_t>(load_le32(b.data()), b.size() - 4);
    return Block(b.begin() + 4, b.begin() + 4 + long(n));
  }
  if (zero_ended(f)) return Block(b.begin(), std::find(b.begin(), b.end(), uint8_t(0)));
  return Block(b.begin(), b.end());
}

const char* clip_format_name(ClipFormat f) {
  switch (f) {
    case ClipFormat::MacPict: return "CF_MACPICT";
    case ClipFormat::Movie: return "CF_TALVEN_MOVIE";
    case ClipFormat::Lisp: return "CF_TALVEN_LISP";
    default: return nullptr;
  }
}

void set_text_mirror(const TextMirror& mirror) { g_mirror = mirror; }

bool clipboard_text(std::string& out) {
  std::optional<ClipFormat> f = available(Scrap::Text);
  if (!f) return false;
  Block data = block_data(*f, *slot(*f));
  out.assign(data.begin(), data.end());
  return true;
}

void put_clipboard_text(std::string_view text) {
  empty_store();
  Block block(text.begin(), text.end());
  block.push_back(0);
  slot(ClipFormat::Text) = std::move(block);
  text_changed();
}

const Module kClipboardModule{
    "clipboard",
    [](Runtime&) -> std::unique_ptr<ModuleState> { return std::make_unique<ClipState>(); },
    [](Runtime&) { register_natives(kClipboardNatives); },
    nullptr,
    nullptr,
};

}  // namespace storage
