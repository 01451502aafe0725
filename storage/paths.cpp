// The pathname notation and the POSIX boundary.
#include "storage/paths.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "core/eval.hpp"
#include "core/memory.hpp"
#include "data/strings.hpp"
#include "storage/file_state.hpp"
#include "storage/settings.hpp"
#include "text/codec.hpp"

namespace storage {
using namespace core;

namespace {

constexpr int kMaxDepth = 64;          // nesting of lists and symbols
constexpr uint32_t kMaxSteps = 65536;  // elements visited (a cycle ends here)

bool is_separator(char c) { return c == '\\' || c == '/'; }

struct Joiner {
  Value whole;
  std::string text;
  uint32_t steps = 0;

  [[noreturn]] void bad() { error(Err::WrongType, whole); }

  void add(std::string_view component) {
    // One backslash before each component, except before the first
    // non-empty one and after a text that already ends in a separator.
    bool skip = (text.empty() && !component.empty()) || (!text.empty() && text.back() == '\\');
    if (!skip) text += '\\';
    text += component;
    if (text.size() > kMaxPathText + 1) bad();
  }

  void walk(Value p, int depth) {
    if (depth > kMaxDepth || ++steps > kMaxSteps) bad();
    if (p.is_nil()) return;
    if (p.is(Tag::String)) return add(string_text(p));
    if (p.is_symbol()) {
      Value v = lookup(p);
      if (v.is_no_value()) error(Err::Unbound, p);
      return walk(v, depth + 1);
    }
    if (p.is_pair()) {
      for (; p.is_pair(); p = cdr(p)) {
        if (++steps > kMaxSteps) bad();
        walk(car(p), depth + 1);
      }
      if (!p.is_nil()) bad();
      return;
    }
    bad();
  }
};

// The upper-case form of a code page 1252 name, for comparisons.
std::string folded(std::string_view name) {
  std::string out(name);
  for (char& c : out) c = char(data::map_char(data::CharTable::Upper, uint8_t(c)));
  return out;
}

bool exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

// The entry of `dir` that the code page 1252 name `want` means: the entry
// of that exact name, else the first (in byte order) equal to it without
// regard to case. Empty when there is none.
std::string find_entry(const std::string& dir, std::string_view want) {
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return {};
  std::string want_folded = folded(want), best;
  while (dirent* e = readdir(d)) {
    std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string lisp = name_from_utf8(name);
    if (lisp == want) {
      best = name;
      break;
    }
    if (folded(lisp) == want_folded && (best.empty() || name < best)) best = name;
  }
  closedir(d);
  return best;
}

struct PosixParts {
  std::string root;  // "/", a drive's root, or "" for a relative path
  std::vector<std::string> components;  // code page 1252
  bool unmapped = false;  // a drive letter without a root
};

PosixParts parse(std::string_view text) {
  PosixParts out;
  size_t i = 0;
  if (text.size() >= 2 && text[1] == ':' && std::isalpha(uint8_t(text[0]))) {
    out.root = drive_root(text[0]);
    if (out.root.empty()) out.unmapped = true;
    i = 2;
  } else if (!text.empty() && is_separator(text[0])) {
    out.root = "/";
  }
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && !is_separator(text[j])) ++j;
    if (j > i) out.components.emplace_back(text.substr(i, j - i));
    i = j + 1;
  }
  return out;
}

std::string join(const std::string& prefix, const std::string& name) {
  if (prefix.empty()) return name;
  if (prefix.back() == '/') return prefix + name;
  return prefix + '/' + name;
}

std::string assemble(const PosixParts& p, bool resolve) {
  if (p.unmapped) return {};
  std::string path = p.root;
  for (const std::string& c : p.components) path = join(path, name_to_utf8(c));
  if (!resolve || path.empty() || exists(path)) return path;
  // Walk from the root, taking at each step the entry the name means.
  std::string cur = p.root;
  for (size_t k = 0; k < p.components.size(); ++k) {
    const std::string& c = p.components[k];
    std::string next = join(cur, name_to_utf8(c));
    if (c == "." || c == ".." || exists(next)) {
      cur = next;
      continue;
    }
    std::string found = find_entry(cur, c);
    if (found.empty()) {
      // The rest does not exist: it keeps the case it was given.
      for (; k < p.components.size(); ++k) cur = join(cur, name_to_utf8(p.components[k]));
      return cur;
    }
    cur = join(cur, found);
  }
  return cur;
}

void ensure_drives() {
  FileState& s = files_state();
  if (!s.drives_loaded) {
    s.drives_loaded = true;
    load_drive_table();
  }
}

}  // namespace

std::string name_to_utf8(std::string_view cp1252) { return text::cp1252_to_utf8(cp1252); }

std::string name_from_utf8(std::string_view utf8) {
  std::string out;
  if (text::utf8_to_cp1252(utf8, out).complete) return out;
  return std::string(utf8);
}

std::string pathname_text(Value pathname) {
  Joiner j{pathname, {}, 0};
  j.walk(pathname, 0);
  std::string& t = j.text;
  if (t.size() >= 2 && t.back() == '\\' && t[t.size() - 2] != ':') t.pop_back();
  if (t.size() > kMaxPathText) j.bad();
  return t;
}

std::vector<std::string> split_path_text(std::string_view text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  if (text[0] == '/') {
    // A POSIX absolute path: named from the drive with the longest root.
    std::string posix(text);
    std::string text_form = text_of_posix(posix);
    return split_path_text(text_form);
  }
  size_t i = 0;
  if (text.size() > 2 && text[1] == ':' && !is_separator(text[2])) {
    out.emplace_back(text.substr(0, 2));
    i = 2;
  } else if (is_separator(text[0])) {
    // A rooted path keeps its root as an empty first component.
    out.emplace_back();
    i = 1;
  }
  while (i < text.size()) {
    size_t j = i;
    while (j < text.size() && !is_separator(text[j])) ++j;
    out.emplace_back(text.substr(i, j - i));
    i = j + 1;  // a trailing separator adds no empty component
  }
  return out;
}

Value path_text_list(std::string_view text) {
  std::vector<std::string> parts = split_path_text(text);
  Value list = kNil;
  StackMark mark;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
    push(list);
    Value s = data::new_string(*it);
    list = cons(s, list);
  }
  return list;
}

std::string posix_path(std::string_view text) {
  ensure_drives();
  return assemble(parse(text), true);
}

std::string posix_path_as_written(std::string_view text) {
  ensure_drives();
  return assemble(parse(text), false);
}

std::string posix_of(Value pathname) { return posix_path(pathname_text(pathname)); }

std::string text_of_posix(std::string_view posix) {
  ensure_drives();
  std::string_view rest = posix;
  std::string text;
  if (!posix.empty() && posix[0] == '/') {
    // The drive whose root is the longest prefix, on a component boundary.
    size_t best_len = 0;
    int best = -1;
    // Z: first, so that it wins a tie over another drive mapped to "/".
    for (int d = 25; d >= 0; --d) {
      std::string root = files_state().drives[d];
      while (root.size() > 1 && root.back() == '/') root.pop_back();
      if (root.empty() || root.size() < best_len) continue;
      bool match = root == "/" || (posix.substr(0, root.size()) == root &&
                                   (posix.size() == root.size() || posix[root.size()] == '/'));
      if (match && (best < 0 || root.size() > best_len)) best = d, best_len = root.size();
    }
    if (best >= 0) {
      text = std::string(1, char('A' + best)) + ":\\";
      rest = posix.substr(best_len);
    } else {
      text = "\\";
    }
  }
  size_t i = 0;
  bool first = true;
  while (i < rest.size()) {
    size_t j = rest.find('/', i);
    if (j == std::string_view::npos) j = rest.size();
    if (j > i) {
      if (!first && text.back() != '\\') text += '\\';
      text += name_from_utf8(rest.substr(i, j - i));
      first = false;
    }
    i = j + 1;
  }
  if (text.size() >= 2 && text.back() == '\\' && text[text.size() - 2] != ':') text.pop_back();
  return text;
}

std::string drive_root(char letter) {
  int d = std::toupper(uint8_t(letter)) - 'A';
  if (d < 0 || d >= 26) return {};
  return files_state().drives[d];
}

void set_drive_root(char letter, std::string root) {
  int d = std::toupper(uint8_t(letter)) - 'A';
  if (d < 0 || d >= 26) return;
  files_state().drives_loaded = true;
  files_state().drives[d] = std::move(root);
}

void load_drive_table() {
  FileState& s = files_state();
  s.drives_loaded = true;
  s.drives.fill({});
  s.drives['Z' - 'A'] = "/";
  const char* home = std::getenv("HOME");
  s.drives['C' - 'A'] = home && *home == '/' ? home : "/";
  const std::string settings = settings_text();
  if (settings.empty()) return;
  for (int d = 0; d < 26; ++d) {
    char key[3] = {char('A' + d), 0, 0};
    std::string root;
    if (!settings_lookup(settings, "Drives", key, root)) {
      key[1] = ':';
      if (!settings_lookup(settings, "Drives", key, root)) continue;
    }
    // Only absolute roots; an empty value unmaps the letter.
    if (root.empty() || root[0] == '/') s.drives[d] = root;
  }
}

std::string executable_dir_text() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return text_of_posix("/");
  std::string exe(buf, size_t(n));
  size_t slash = exe.rfind('/');
  return text_of_posix(slash == 0 ? "/" : exe.substr(0, slash));
}

}  // namespace storage
