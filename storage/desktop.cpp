// Program groups and shortcuts as desktop entries: a group is a folder of
// $XDG_DATA_HOME/applications (by default ~/.local/share/applications), a
// shortcut a NAME.desktop file in it that launches the target.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "core/memory.hpp"
#include "data/strings.hpp"
#include "storage/file_natives.hpp"
#include "storage/paths.hpp"
#include "storage/settings.hpp"

namespace storage {
using namespace core;

namespace {

std::string applications_dir() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/applications";
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') return {};
  return std::string(home) + "/.local/share/applications";
}

bool make_dirs(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(path.substr(0, slash))) return false;
  return mkdir(path.c_str(), 0755) == 0 || errno == EEXIST;
}

// A group or item name as a single file name, or "" when it cannot be one.
std::string leaf_name(Value name) {
  std::string text = name_to_utf8(data::text_of(name));
  if (text.empty() || text == "." || text == ".." || text.find_first_of("/\\") != std::string::npos) return {};
  return text;
}

// A value of a desktop entry: line breaks and backslashes escaped.
std::string entry_value(std::string_view s) {
  std::string out;
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += c;
  }
  return out;
}

// The Exec key: the path as one quoted argument, then escaped as a value.
std::string exec_value(std::string_view path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    if (c == '%') quoted += '%';
    quoted += c;
  }
  quoted += '"';
  return entry_value(quoted);
}

}  // namespace

Value prim_add_program_group(Value name) {
  std::string apps = applications_dir(), leaf = leaf_name(name);
  if (apps.empty() || leaf.empty()) return kNil;
  return boolean(make_dirs(apps + "/" + leaf));
}

Value prim_add_program_item(Value target, Value group, Value name) {
  std::string apps = applications_dir(), dir_leaf = leaf_name(group), leaf = leaf_name(name);
  if (apps.empty() || dir_leaf.empty() || leaf.empty()) return kNil;
  std::string path = posix_of(target);
  if (!path.empty() && path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return kNil;
    path = std::string(cwd) + "/" + path;
  }
  std::string dir = apps + "/" + dir_leaf;
  if (!make_dirs(dir)) return kNil;
  std::string entry = "[Desktop Entry]\nType=Application\nName=" + entry_value(leaf) + "\nExec=" + exec_value(path) + "\n";
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) entry += "Path=" + entry_value(path.substr(0, slash)) + "\n";
  return boolean(replace_file_atomically(dir + "/" + leaf + ".desktop", entry, 0644));
}

}  // namespace storage
