// The packer and the unpacker of application resource files.
//
// The manifest is one Lisp datum, read here by a small reader of its own
// that keeps the line of every element for the reports:
//
//   (application "Title" :output "app.RI" :load ("main.lsp" ...)
//     :frame (640 480) :flags (menu-bar) :language english
//     :memory (:nodes 400000 :heap 4194304 ... :size 33554432)
//     :splash (("logo.pict" 1500) ...)
//     :resources (("PICT" 128 "art/title.pict" "title") ("STR#" 128 ("Yes" "No"))))
//
// The output is deterministic byte for byte: the symbols table lists the
// names by how often the code uses them (most used first, ties by name),
// resources are written in a fixed order, and the header carries no time.
// It is written to a temporary file beside the output and renamed over it,
// never over one of the files it was made from.
#include "app/pack.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <unordered_map>

#include "core/bytes.hpp"
#include "core/runtime.hpp"
#include "data/console.hpp"
#include "data/encoded.hpp"
#include "data/reader.hpp"
#include "media/pict.hpp"
#include "storage/fork.hpp"
#include "storage/outputs.hpp"
#include "text/codec.hpp"

namespace app {

const char kPackHelp[] =
    "usage: talven pack MANIFEST [-o OUTPUT]\n"
    "Builds an application resource file from the manifest, a Lisp datum:\n"
    "  (application \"Title\"                      ; PREF 258: the frame's title\n"
    "    :output \"app.RI\"                        ; default: the manifest's name with .RI;\n"
    "                                            ; -o OUTPUT overrides both\n"
    "    :load (\"main.lsp\" \"ui.lsp\")             ; Load 0, 1, ...: each file encoded\n"
    "    :frame (640 480)                        ; PREF 257: width and height\n"
    "    :flags (menu-bar)                       ; menu-bar frameless-if-too-big topmost\n"
    "                                            ; quicktime paint-desktop maximized, or numbers\n"
    "    :language english                       ; english, french, spanish or 0 to 2\n"
    "    :memory (:nodes 500000 :heap 4194304)   ; VPRF 256 and SIZE -1; absent fields keep\n"
    "                                            ; their defaults (:symbols :lisp-stack\n"
    "                                            ; :prolog-stack :nodes :heap :reserve\n"
    "                                            ; :native-stack :node-percent\n"
    "                                            ; :reserve-percent :size)\n"
    "    :splash ((\"logo.pict\" 1500))            ; PICT 501, 502, ... and wait (milliseconds)\n"
    "    :resources ((\"PICT\" 128 \"title.pict\" \"name\") (\"STR#\" 128 (\"Yes\" \"No\"))\n"
    "                (\"snd \" 1 \"boom.snd\" :attributes 32)))   ; the map entry's attributes byte\n"
    "SYMB 0 holds every symbol the code uses. Paths are relative to the manifest.\n"
    "Sources are code page 1252 unless their first line is ; -*- coding: utf-8 -*-.\n"
    "Faults are reported as FILE:LINE: message, with status 1; no output is left\n"
    "half-written. Building twice gives identical files.\n";

const char kUnpackHelp[] =
    "usage: talven unpack APP.RI DIR\n"
    "Writes the application in APP.RI back out into DIR (made when missing):\n"
    "the decoded Load resources under their sources' names (load-N.lsp for\n"
    "code that names none) with the sources' lines, every other resource as\n"
    "TYPE-ID.bin, and manifest.lsp, which `talven pack` turns into the same\n"
    "application file again.\n";

namespace {

// ---- Files -------------------------------------------------------------------------

// Reads a regular file whole; false with the reason in `why`.
bool read_file(const std::string& path, std::string& out, std::string& why) {
  std::vector<uint8_t> bytes;
  if (!storage::read_input(path, bytes, why)) return false;
  out.assign(bytes.begin(), bytes.end());
  return true;
}

std::string directory_of(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string resolve(const std::string& base_dir, const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return base_dir + path;
}

// Machine text (code page 1252) as a file name or message for the outside.
std::string outside(const std::string& text) { return data::console_encode(text, false); }

// ---- The manifest's reader ----------------------------------------------------------

struct Fault {
  std::string file;
  int line;
  std::string message;
};

struct Datum {
  enum Kind { Symbol, Keyword, String, Integer, List } kind = Symbol;
  std::string text;  // symbol, keyword (without the colon) and string text
  int64_t number = 0;
  std::vector<Datum> items;
  int line = 0;
};

class ManifestReader {
 public:
  ManifestReader(std::string file, std::string_view text) : file_(std::move(file)), s_(text) {}

  Datum read_top() {
    skip();
    if (p_ >= s_.size()) fail(line_, "the manifest is empty");
    Datum d = read();
    skip();
    if (p_ < s_.size()) fail(line_, "text after the manifest's datum");
    return d;
  }

 private:
  [[noreturn]] void fail(int line, const std::string& message) { throw Fault{file_, line, message}; }
  char take() {
    char c = s_[p_++];
    if (c == '\n' || (c == '\r' && (p_ >= s_.size() || s_[p_] != '\n'))) ++line_;
    return c;
  }
  void skip() {
    while (p_ < s_.size()) {
      char c = s_[p_];
      if (c == ';') {
        while (p_ < s_.size() && s_[p_] != '\n' && s_[p_] != '\r') take();
      } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
        take();
      } else {
        break;
      }
    }
  }
  static bool delimiter(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '(' || c == ')' || c == '[' || c == ']' ||
           c == '"' || c == ';';
  }
  Datum read() {
    Datum d;
    d.line = line_;
    char c = s_[p_];
    if (c == '(' || c == '[') {
      take();
      d.kind = Datum::List;
      for (;;) {
        skip();
        if (p_ >= s_.size()) fail(d.line, "a list is still open at the end of the manifest");
        if (s_[p_] == ')' || s_[p_] == ']') {
          take();
          return d;
        }
        d.items.push_back(read());
      }
    }
    if (c == ')' || c == ']') fail(line_, std::string("unexpected '") + c + "'");
    if (c == '"') {
      take();
      d.kind = Datum::String;
      for (;;) {
        if (p_ >= s_.size()) fail(d.line, "a string is still open at the end of the manifest");
        char ch = take();
        if (ch == '"') return d;
        if (ch == '\\') {
          if (p_ >= s_.size()) continue;
          ch = take();
        }
        d.text.push_back(ch);
      }
    }
    std::string word;
    while (p_ < s_.size() && !delimiter(s_[p_])) word.push_back(take());
    if (word.size() > 1 && word[0] == ':') {
      d.kind = Datum::Keyword;
      d.text = word.substr(1);
      return d;
    }
    size_t digits = word[0] == '-' ? 1 : 0;
    if (word.size() > digits && word.size() - digits <= 10 &&
        word.find_first_not_of("0123456789", digits) == std::string::npos) {
      d.kind = Datum::Integer;
      d.number = std::stoll(word);
      return d;
    }
    d.kind = Datum::Symbol;
    d.text = word;
    return d;
  }

  std::string file_;
  std::string_view s_;
  size_t p_ = 0;
  int line_ = 1;
};

// ---- Building -----------------------------------------------------------------------

struct Resource {
  uint32_t type;
  int32_t id;
  std::string name;
  bool named = false;
  std::vector<uint8_t> data;
  uint8_t attrs = 0;
};

void put_be16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x >> 8));
  v.push_back(uint8_t(x));
}
void put_be32(std::vector<uint8_t>& v, uint32_t x) {
  put_be16(v, x >> 16);
  put_be16(v, x & 0xFFFF);
}

class Packer {
 public:
  Packer(std::string manifest_path) : manifest_(std::move(manifest_path)), dir_(directory_of(manifest_)) {}

  // Builds the file's bytes; the output path in `output`.
  std::vector<uint8_t> build(std::string& output) {
    std::string raw;
    if (!read(manifest_, raw)) fail(0, "cannot be read: " + why_);
    std::string text;
    int bad = 0;
    if (!data::source_text(raw, text, bad)) fail(bad, "a character without a code page 1252 counterpart, or bad UTF-8");
    Datum top = ManifestReader(manifest_, text).read_top();
    if (top.kind != Datum::List || top.items.empty() || top.items[0].kind != Datum::Symbol ||
        top.items[0].text != "application")
      fail(top.line, "the manifest must be (application \"Title\" :key value ...)");
    if (top.items.size() < 2 || top.items[1].kind != Datum::String)
      fail(top.line, "the application's title must follow 'application' as a string");
    title_ = top.items[1].text;
    size_t stem_start = manifest_.rfind('/') == std::string::npos ? 0 : manifest_.rfind('/') + 1;
    std::string stem = manifest_.substr(stem_start);
    if (stem.find('.') != std::string::npos) stem = stem.substr(0, stem.rfind('.'));
    output = dir_ + stem + ".RI";
    std::map<std::string, bool> seen;
    for (size_t i = 2; i < top.items.size(); i += 2) {
      const Datum& key = top.items[i];
      if (key.kind != Datum::Keyword) fail(key.line, "a keyword such as :load was expected here");
      if (i + 1 >= top.items.size()) fail(key.line, ":" + key.text + " has no value");
      if (seen[key.text]) fail(key.line, ":" + key.text + " is given twice");
      seen[key.text] = true;
      const Datum& v = top.items[i + 1];
      if (key.text == "output") output = resolve(dir_, outside(string_of(v)));
      else if (key.text == "load") load_files(v);
      else if (key.text == "frame") frame(v);
      else if (key.text == "flags") flags(v);
      else if (key.text == "language") language(v);
      else if (key.text == "memory") memory(v);
      else if (key.text == "splash") splash(v);
      else if (key.text == "resources") resources(v);
      else
        fail(key.line, "unknown key :" + key.text +
                           " (the keys: :output :load :frame :flags :language :memory :splash :resources)");
    }
    // An application without code would start only to end in an alert.
    if (!seen["load"]) fail(top.line, "no :load: an application needs at least one source file");
    preferences();
    encode_code();
    return fork_bytes(output);
  }
  // Every file the build read: the output may be none of them.
  const std::vector<std::string>& inputs() const { return inputs_; }

 private:
  bool read(const std::string& path, std::string& out) {
    inputs_.push_back(path);
    return read_file(path, out, why_);
  }
  [[noreturn]] void fail(int line, const std::string& message) { throw Fault{manifest_, line, message}; }

  std::string string_of(const Datum& d) {
    if (d.kind != Datum::String) fail(d.line, "a string was expected here");
    return d.text;
  }
  int64_t integer_of(const Datum& d, int64_t low, int64_t high) {
    if (d.kind != Datum::Integer) fail(d.line, "an integer was expected here");
    if (d.number < low || d.number > high)
      fail(d.line, std::to_string(d.number) + " lies outside " + std::to_string(low) + " to " + std::to_string(high));
    return d.number;
  }
  const std::vector<Datum>& list_of(const Datum& d) {
    if (d.kind != Datum::List) fail(d.line, "a list was expected here");
    return d.items;
  }
  std::vector<uint8_t> file_bytes(const Datum& d) {
    std::string path = resolve(dir_, outside(string_of(d)));
    std::string bytes;
    if (!read(path, bytes)) fail(d.line, path + " cannot be read: " + why_);
    return {bytes.begin(), bytes.end()};
  }
  void add(uint32_t type, int32_t id, std::vector<uint8_t> bytes, int line, const std::string* name = nullptr) {
    for (const Resource& r : resources_)
      if (r.type == type && r.id == id)
        fail(line, "resource " + storage::fourcc_text(type) + " " + std::to_string(id) + " is given twice");
    Resource r{type, id, name ? *name : "", name != nullptr, std::move(bytes)};
    if (r.name.size() > 255) fail(line, "a resource name is longer than 255 characters");
    resources_.push_back(std::move(r));
  }

  void load_files(const Datum& v) {
    for (const Datum& f : list_of(v)) {
      std::string path = resolve(dir_, outside(string_of(f)));
      std::string raw;
      if (!read(path, raw)) fail(f.line, path + " cannot be read: " + why_);
      std::string text;
      int bad = 0;
      if (!data::source_text(raw, text, bad))
        throw Fault{path, bad, "a character without a code page 1252 counterpart, or bad UTF-8"};
      std::string warning = data::undeclared_utf8_warning(path, raw);
      if (!warning.empty()) std::fprintf(stderr, "talven: %s\n", warning.c_str());
      sources_.push_back({path, text});
    }
  }
  void frame(const Datum& v) {
    const auto& items = list_of(v);
    if (items.size() != 2) fail(v.line, ":frame takes (WIDTH HEIGHT)");
    width_ = uint16_t(integer_of(items[0], 1, 32767));
    height_ = uint16_t(integer_of(items[1], 1, 32767));
  }
  void flags(const Datum& v) {
    static const std::pair<const char*, uint8_t> names[] = {
        {"menu-bar", 0x01},  {"frameless-if-too-big", 0x02}, {"topmost", 0x04},
        {"quicktime", 0x10}, {"paint-desktop", 0x20},        {"maximized", 0x80}};
    for (const Datum& f : list_of(v)) {
      if (f.kind == Datum::Integer) {
        flags_ |= uint8_t(integer_of(f, 0, 255));
        continue;
      }
      bool found = false;
      for (const auto& [name, bit] : names)
        if (f.kind == Datum::Symbol && f.text == name) flags_ |= bit, found = true;
      if (!found) fail(f.line, "unknown flag (menu-bar frameless-if-too-big topmost quicktime paint-desktop maximized)");
    }
  }
  void language(const Datum& v) {
    if (v.kind == Datum::Integer) {
      language_ = uint8_t(integer_of(v, 0, 2));
      return;
    }
    static const char* names[] = {"english", "french", "spanish"};
    for (int i = 0; i < 3; ++i)
      if (v.kind == Datum::Symbol && v.text == names[i]) {
        language_ = uint8_t(i);
        return;
      }
    fail(v.line, "unknown language (english, french, spanish or a number)");
  }
  void memory(const Datum& v) {
    const auto& items = list_of(v);
    for (size_t i = 0; i < items.size(); i += 2) {
      const Datum& key = items[i];
      if (key.kind != Datum::Keyword || i + 1 >= items.size()) fail(key.line, ":memory takes (:field number ...)");
      const Datum& n = items[i + 1];
      if (key.text == "size") {
        preferred_ = uint32_t(integer_of(n, 1, 0xFFFFFFFFll));
        continue;
      }
      bool found = false;
      for (const core::MemoryWord& w : core::memory_words())
        if (key.text == w.name) {
          // Below the least a machine starts with: its start-up would only
          // end in the memory alert.
          if (n.kind == Datum::Integer && n.number >= 0 && n.number < w.least)
            fail(n.line, ":" + key.text + " " + std::to_string(n.number) + " is below " + std::to_string(w.least) +
                             ", the least a machine starts with");
          prefs_.*w.field = uint32_t(integer_of(n, 0, w.most));
          found = true;
        }
      if (!found) fail(key.line, "unknown memory field :" + key.text);
    }
  }
  void splash(const Datum& v) {
    int32_t id = 501;
    for (const Datum& s : list_of(v)) {
      const auto& items = list_of(s);
      if (items.empty() || items.size() > 2) fail(s.line, "a splash picture is (\"file.pict\" MILLISECONDS)");
      std::vector<uint8_t> picture = file_bytes(items[0]);
      // A picture file's 512-byte header is left out: the resource holds
      // the picture itself.
      std::span<const uint8_t> bare = media::strip_file_header(picture);
      if (!media::is_picture(bare))
        fail(items[0].line, "the splash " + string_of(items[0]) + " is not a picture");
      add(storage::fourcc("PICT"), id, std::vector<uint8_t>(bare.begin(), bare.end()), s.line);
      if (items.size() == 2) {
        std::vector<uint8_t> wait;
        put_be16(wait, uint32_t(integer_of(items[1], 0, 65535)));
        add(storage::fourcc("wait"), id, wait, s.line);
      }
      ++id;
    }
  }
  void resources(const Datum& v) {
    for (const Datum& r : list_of(v)) {
      std::vector<Datum> items = list_of(r);
      // The attributes byte of its map entry, when the entry ends with
      // :attributes N (what unpack writes for resources that carry one).
      int attributes = 0;
      if (items.size() >= 2 && items[items.size() - 2].kind == Datum::Keyword &&
          items[items.size() - 2].text == "attributes") {
        attributes = int(integer_of(items.back(), 0, 255));
        items.resize(items.size() - 2);
      }
      if (items.size() < 3 || items.size() > 4)
        fail(r.line, "a resource is (\"TYPE\" ID \"file\" [\"name\"] [:attributes N])");
      std::string type = string_of(items[0]);
      if (type.size() != 4) fail(items[0].line, "a resource type has four characters");
      int32_t id = int32_t(integer_of(items[1], -32768, 32767));
      std::vector<uint8_t> bytes;
      if (items[2].kind == Datum::List) {
        if (type != "STR#") fail(items[2].line, "a list of strings makes a STR# resource only");
        put_be16(bytes, uint32_t(items[2].items.size()));
        if (items[2].items.size() > 65535) fail(items[2].line, "too many strings");
        for (const Datum& s : items[2].items) {
          std::string text = string_of(s);
          if (text.size() > 255) fail(s.line, "a string of a STR# holds at most 255 characters");
          bytes.push_back(uint8_t(text.size()));
          bytes.insert(bytes.end(), text.begin(), text.end());
        }
      } else {
        bytes = file_bytes(items[2]);
      }
      std::string name;
      if (items.size() == 4) name = string_of(items[3]);
      add(storage::fourcc(type.c_str()), id, std::move(bytes), r.line, items.size() == 4 ? &name : nullptr);
      resources_.back().attrs = uint8_t(attributes);
    }
  }

  void preferences() {
    if (title_.size() > 255) fail(1, "the title holds at most 255 characters");
    std::vector<uint8_t> title{uint8_t(title_.size())};
    title.insert(title.end(), title_.begin(), title_.end());
    add(storage::fourcc("PREF"), 258, title, 1);
    std::vector<uint8_t> pref{0, 0, flags_, language_};
    put_be16(pref, width_);
    put_be16(pref, height_);
    add(storage::fourcc("PREF"), 257, pref, 1);
    std::vector<uint8_t> vprf;
    for (const core::MemoryWord& w : core::memory_words()) put_be32(vprf, prefs_.*w.field);
    add(storage::fourcc("VPRF"), 256, vprf, 1);
    std::vector<uint8_t> size{0, 0};
    put_be32(size, preferred_);
    put_be32(size, preferred_);
    add(storage::fourcc("SIZE"), -1, size, 1);
  }

  // The symbols table orders names by use, most used first, so that the
  // common ones take two bytes; then each file is encoded.
  void encode_code() {
    std::unordered_map<std::string, uint32_t> counts;
    for (const auto& [path, text] : sources_) data::count_symbols(text, counts);
    std::vector<std::pair<std::string, uint32_t>> order(counts.begin(), counts.end());
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
      return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    data::SymbolNames table;
    for (const auto& [name, count] : order) table.add(name);
    int32_t id = 0;
    std::vector<std::pair<int32_t, std::vector<uint8_t>>> code;
    for (const auto& [path, text] : sources_) {
      std::string encoded;
      data::CodecError err;
      if (!data::encode_source(text, table, encoded, err)) throw Fault{path, err.line, err.message};
      // The source's name leads, so that errors in the code can name it.
      std::string name = path.substr(path.find_last_of('/') + 1);
      if (name.find_first_of("\r\n") == std::string::npos && name.size() < 200)
        encoded.insert(0, std::string(data::kSourceNameMark) + name + '\r');
      code.push_back({id++, std::vector<uint8_t>(encoded.begin(), encoded.end())});
    }
    if (table.names().size() > 65535) fail(1, "the code uses more than 65535 symbols");
    add(storage::fourcc("SYMB"), 0, table.resource(), 1);
    for (auto& [n, bytes] : code) add(storage::fourcc("Load"), n, std::move(bytes), 1);
  }

  std::vector<uint8_t> fork_bytes(const std::string& output) {
    // A fixed order: types by code, ids ascending within a type.
    std::sort(resources_.begin(), resources_.end(),
              [](const Resource& a, const Resource& b) { return a.type != b.type ? a.type < b.type : a.id < b.id; });
    std::vector<uint8_t> data_area;
    storage::ForkMap map;
    for (const Resource& r : resources_) {
      if (data_area.size() + 4 + r.data.size() >= storage::kMaxDataArea) fail(1, "the resources exceed 16 MB of data");
      storage::ForkType* t = storage::find_type(map, r.type);
      if (t == nullptr) {
        map.types.push_back(storage::ForkType{r.type, {}});
        t = &map.types.back();
      }
      storage::ForkRef ref;
      ref.id = r.id;
      ref.named = r.named;
      ref.name = r.name;
      ref.attrs = r.attrs;
      ref.data_offset = uint32_t(data_area.size());
      t->refs.push_back(ref);
      put_be32(data_area, uint32_t(r.data.size()));
      data_area.insert(data_area.end(), r.data.begin(), r.data.end());
    }
    size_t slash = output.rfind('/');
    std::string name = output.substr(slash == std::string::npos ? 0 : slash + 1);
    std::vector<uint8_t> out =
        storage::new_fork_header(name, storage::fourcc("rsrc"), storage::fourcc("TLVN"), 0);
    storage::ForkHeader h;
    h.data_offset = storage::kForkHeaderSize;
    h.data_length = uint32_t(data_area.size());
    h.map_offset = storage::kForkHeaderSize + h.data_length;
    std::vector<uint8_t> map_bytes;
    if (storage::serialize_map(map, h, map_bytes) != storage::kResOk) fail(1, "the resource map is too large");
    storage::put_header_fields(out.data(), h);
    out.insert(out.end(), data_area.begin(), data_area.end());
    out.insert(out.end(), map_bytes.begin(), map_bytes.end());
    return out;
  }

  std::string manifest_, dir_;
  std::vector<std::string> inputs_;
  std::string why_;
  std::string title_;
  std::vector<std::pair<std::string, std::string>> sources_;
  std::vector<Resource> resources_;
  uint16_t width_ = 640, height_ = 480;
  uint8_t flags_ = 0, language_ = 0;
  core::MemoryPrefs prefs_ = core::default_prefs();
  uint32_t preferred_ = core::kDefaultPreferred;
};

void report(const Fault& f) {
  if (f.line > 0)
    std::fprintf(stderr, "talven: %s:%d: %s\n", f.file.c_str(), f.line, outside(f.message).c_str());
  else
    std::fprintf(stderr, "talven: %s: %s\n", f.file.c_str(), outside(f.message).c_str());
}

// ---- Unpacking ----------------------------------------------------------------------

// A Lisp string literal of machine text.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

// Source text for a file outside: UTF-8 with its declaration when it holds
// characters beyond ASCII, as it is otherwise. Its line ends stay as they
// are, so that carriage returns inside strings stay.
std::string source_file_text(const std::string& text) {
  bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return uint8_t(c) < 0x80; });
  if (ascii) return text;
  return "; -*- coding: utf-8 -*-\n" + text::cp1252_to_utf8(text);
}

// A resource type as part of a file name: letters, digits and '#' as they
// are, every other byte as %XX, so that two types never share a file (the
// name reads back to the type) and none climbs out of the folder.
std::string file_safe(const std::string& type) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (char c : type) {
    uint8_t b = uint8_t(c);
    if ((b < 0x80 && std::isalnum(b)) || c == '#') {
      out.push_back(c);
    } else {
      out.push_back('%');
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
    }
  }
  return out;
}

int unpack(const std::string& input, const std::string& dir) {
  std::string raw, why;
  if (!read_file(input, raw, why)) {
    std::fprintf(stderr, "talven: %s: cannot be read: %s\n", input.c_str(), why.c_str());
    return 1;
  }
  std::span<const uint8_t> fork(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
  storage::ForkMap map;
  if (storage::parse_fork(fork, storage::kResourceFork, map) != storage::kResOk) {
    std::fprintf(stderr, "talven: %s: not a resource file, or a damaged one\n", input.c_str());
    return 1;
  }
  auto data_of = [&](uint32_t type, int32_t id, std::span<const uint8_t>& out) {
    for (const storage::ForkType& t : map.types)
      if (t.code == type)
        for (const storage::ForkRef& r : t.refs)
          if (r.id == id) return storage::fork_data(fork, map, r, out) == storage::kResOk;
    return false;
  };
  if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "talven: %s: cannot make the folder: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }
  std::string base = dir.empty() || dir.back() == '/' ? dir : dir + "/";
  std::string err;
  auto write = [&](const std::string& name, const std::string& bytes) {
    std::span<const uint8_t> out(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!storage::write_output(base + name, out, {&input, 1}, err)) {
      std::fprintf(stderr, "talven: %s%s: %s\n", base.c_str(), name.c_str(), err.c_str());
      return false;
    }
    return true;
  };

  std::vector<std::string> names;
  std::span<const uint8_t> bytes;
  if (data_of(storage::fourcc("SYMB"), 0, bytes) && !data::parse_symbols_resource(bytes, names)) {
    std::fprintf(stderr, "talven: %s: SYMB 0 is damaged\n", input.c_str());
    return 1;
  }
  std::string manifest = "(application ";
  std::string title;
  if (data_of(storage::fourcc("PREF"), 258, bytes) && !bytes.empty())
    title.assign(reinterpret_cast<const char*>(bytes.data()) + 1, std::min<size_t>(bytes[0], bytes.size() - 1));
  size_t slash = input.rfind('/');
  std::string original = data::console_decode(input.substr(slash == std::string::npos ? 0 : slash + 1));
  manifest += quoted(title) + "\n  :output " + quoted(original);
  manifest += "\n  :load (";
  std::vector<std::string> loads;
  for (int32_t n = 0; data_of(storage::fourcc("Load"), n, bytes); ++n) {
    std::string decoded;
    data::CodecError ce;
    std::string code(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!data::decode_code(code, names, decoded, ce)) {
      std::fprintf(stderr, "talven: %s: Load %d: %s\n", input.c_str(), n, ce.message.c_str());
      return 1;
    }
    std::string file = "load-" + std::to_string(n) + ".lsp";
    // Code that names its source kept the source's lines: it is written
    // back under that name, without the naming line, as it was.
    bool lines_kept = decoded.starts_with(data::kSourceNameMark);
    if (lines_kept) {
      size_t end = decoded.find('\n');
      std::string name = decoded.substr(data::kSourceNameMark.size(), end == std::string::npos ? std::string::npos : end - data::kSourceNameMark.size());
      decoded.erase(0, end == std::string::npos ? decoded.size() : end + 1);
      bool fits = !name.empty() && name.size() < 100 && name[0] != '.' && name != "manifest.lsp" &&
                  name.find_first_of("/\\:") == std::string::npos && name.ends_with(".lsp") &&
                  std::find(loads.begin(), loads.end(), name) == loads.end();
      if (fits) file = name;
    }
    loads.push_back(file);
    // With the lines kept, the coding line goes where the source had its
    // own (the first line, left empty by the encoder); a source without one
    // was code page 1252 and is written back as it was.
    std::string out = source_file_text(decoded + "\n");
    if (lines_kept) {
      bool ascii = std::all_of(decoded.begin(), decoded.end(), [](char c) { return uint8_t(c) < 0x80; });
      out = ascii || !decoded.starts_with('\n') ? decoded : source_file_text(decoded.substr(1));
    }
    if (!write(file, out)) return 1;
    manifest += (n ? " " : "") + quoted(file);
  }
  manifest += ")";
  if (data_of(storage::fourcc("PREF"), 257, bytes) && bytes.size() >= 8) {
    manifest += "\n  :frame (" + std::to_string((bytes[4] << 8) | bytes[5]) + " " +
                std::to_string((bytes[6] << 8) | bytes[7]) + ") :flags (" + std::to_string(bytes[2]) +
                ") :language " + std::to_string(bytes[3]);
  }
  if (data_of(storage::fourcc("VPRF"), 256, bytes) && bytes.size() >= 36) {
    manifest += "\n  :memory (";
    core::ByteReader words(bytes);
    for (const core::MemoryWord& w : core::memory_words())
      manifest += std::string(words.pos() ? " :" : ":") + w.name + " " + std::to_string(words.be32());
    std::span<const uint8_t> size;
    if (data_of(storage::fourcc("SIZE"), -1, size) && size.size() >= 6)
      manifest += " :size " + std::to_string((uint32_t(size[2]) << 24) | (size[3] << 16) | (size[4] << 8) | size[5]);
    manifest += ")";
  }
  std::string splash;
  std::string others;
  for (const storage::ForkType& t : map.types) {
    std::string type = storage::fourcc_text(t.code);
    for (const storage::ForkRef& r : t.refs) {
      if (type == "Load" || type == "SYMB" || type == "VPRF" || (type == "SIZE" && r.id == -1) ||
          (type == "PREF" && (r.id == 257 || r.id == 258)))
        continue;
      if (type == "wait" && r.id >= 501) continue;
      std::span<const uint8_t> d;
      if (storage::fork_data(fork, map, r, d) != storage::kResOk) {
        std::fprintf(stderr, "talven: %s: %s %d is damaged\n", input.c_str(), type.c_str(), r.id);
        return 1;
      }
      std::string file = file_safe(type) + "-" + std::to_string(r.id) + ".bin";
      if (!write(file, std::string(reinterpret_cast<const char*>(d.data()), d.size()))) return 1;
      if (type == "PICT" && r.id >= 501) {
        splash += "(" + quoted(file);
        std::span<const uint8_t> w;
        if (data_of(storage::fourcc("wait"), r.id, w) && w.size() >= 2) splash += " " + std::to_string((w[0] << 8) | w[1]);
        splash += ") ";
        continue;
      }
      others += "\n    (" + quoted(type) + " " + std::to_string(r.id) + " " + quoted(file);
      if (r.named) others += " " + quoted(r.name);
      if (r.attrs != 0) others += " :attributes " + std::to_string(r.attrs);
      others += ")";
    }
  }
  if (!splash.empty()) manifest += "\n  :splash (" + splash.substr(0, splash.size() - 1) + ")";
  if (!others.empty()) manifest += "\n  :resources (" + others + ")";
  manifest += ")\n";
  if (!write("manifest.lsp", source_file_text(manifest))) return 1;
  return 0;
}

}  // namespace

int pack_command(const std::vector<std::string>& args) {
  if (args.size() != 1 && !(args.size() == 3 && args[1] == "-o")) return 2;
  try {
    std::string output;
    Packer packer(args[0]);
    std::vector<uint8_t> bytes = packer.build(output);
    if (args.size() == 3) output = args[2];
    std::string err;
    if (!storage::write_output(output, bytes, packer.inputs(), err)) {
      std::fprintf(stderr, "talven: %s: %s\n", output.c_str(), err.c_str());
      return 1;
    }
    return 0;
  } catch (const Fault& f) {
    report(f);
    return 1;
  }
}

int unpack_command(const std::vector<std::string>& args) {
  if (args.size() != 2) return 2;
  return unpack(args[0], args[1]);
}

}  // namespace app
