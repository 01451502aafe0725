// The settings file and atomic replacement.
#include "storage/settings.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <vector>

namespace storage {

namespace {

constexpr const char* kSettingsName = "TALVEN.INI";

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(uint8_t(a[i])) != std::tolower(uint8_t(b[i]))) return false;
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

// A line's section name when it is a section header.
bool section_of(std::string_view line, std::string_view& name) {
  line = trim(line);
  if (line.size() < 2 || line.front() != '[' || line.back() != ']') return false;
  name = trim(line.substr(1, line.size() - 2));
  return true;
}

// A line's key and value when it is a "key=value" line.
bool entry_of(std::string_view line, std::string_view& key, std::string_view& value) {
  std::string_view t = trim(line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return false;
  key = trim(t.substr(0, eq));
  value = trim(t.substr(eq + 1));
  return true;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    size_t nl = text.find('\n');
    lines.push_back(text.substr(0, nl));
    if (nl == std::string_view::npos) break;
    text.remove_prefix(nl + 1);
  }
  return lines;
}

std::string read_file(const std::string& path) {
  std::string bytes;
  if (!read_whole_file(path, bytes)) bytes.clear();
  return bytes;
}

bool make_dirs(const std::string& path, mode_t mode) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !make_dirs(path.substr(0, slash), mode)) return false;
  return mkdir(path.c_str(), mode) == 0 || errno == EEXIST;
}

}  // namespace

bool read_whole_file(const std::string& path, std::string& bytes) {
  bytes.clear();
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char chunk[65536];
  for (;;) {
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int saved = errno;
      close(fd);
      errno = saved;
      return false;
    }
    if (n == 0) break;
    bytes.append(chunk, size_t(n));
  }
  close(fd);
  return true;
}

std::string config_dir(bool create) {
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return {};
    base = std::string(home) + "/.config";
  }
  std::string dir = base + "/talven";
  if (create) make_dirs(dir, 0700);
  return dir;
}

std::string settings_path() {
  std::string dir = config_dir();
  return dir.empty() ? std::string() : dir + "/" + kSettingsName;
}

bool settings_lookup(std::string_view contents, std::string_view section, std::string_view key, std::string& value) {
  bool in_section = false;
  for (std::string_view line : split_lines(contents)) {
    std::string_view name, k, v;
    if (section_of(line, name)) {
      in_section = same_word(name, section);
    } else if (in_section && entry_of(line, k, v) && same_word(k, key)) {
      value = v;
      return true;
    }
  }
  return false;
}

bool settings_writable(std::string_view section, std::string_view key, std::string_view value) {
  auto one_line = [](std::string_view s) { return s.find_first_of("\r\n") == std::string_view::npos; };
  return one_line(section) && one_line(key) && one_line(value) && !trim(section).empty() && !trim(key).empty() &&
         key.find('=') == std::string_view::npos && section.find(']') == std::string_view::npos &&
         trim(key) == key && trim(section) == section && trim(value) == value && key[0] != ';' && key[0] != '#' &&
         key[0] != '[';
}

std::string settings_update(std::string_view contents, std::string_view section, std::string_view key,
                            std::string_view value) {
  std::vector<std::string> lines;
  for (std::string_view l : split_lines(contents)) lines.emplace_back(l);
  std::string entry = std::string(key) + "=" + std::string(value);
  // Replace the key in the first matching section, or add it at the end of
  // that section, or add the section.
  bool in_section = false, found_section = false, done = false;
  size_t section_end = 0;
  for (size_t i = 0; i < lines.size() && !done; ++i) {
    std::string_view name, k, v;
    if (section_of(lines[i], name)) {
      if (found_section && in_section) break;
      in_section = same_word(name, section);
      if (in_section) found_section = true, section_end = i + 1;
    } else if (in_section) {
      if (entry_of(lines[i], k, v) && same_word(k, key)) {
        lines[i] = entry;
        done = true;
      } else if (!trim(lines[i]).empty()) {
        section_end = i + 1;
      }
    }
  }
  if (!done) {
    if (found_section) {
      lines.insert(lines.begin() + ptrdiff_t(section_end), entry);
    } else {
      if (!lines.empty() && !trim(lines.back()).empty()) lines.emplace_back();
      lines.push_back("[" + std::string(section) + "]");
      lines.push_back(entry);
    }
  }
  std::string bytes;
  for (const std::string& l : lines) bytes += l + "\n";
  return bytes;
}

bool settings_read(std::string_view section, std::string_view key, std::string& value) {
  std::string path = settings_path();
  return !path.empty() && settings_lookup(read_file(path), section, key, value);
}

std::string settings_text() {
  std::string path = settings_path();
  return path.empty() ? std::string() : read_file(path);
}

bool settings_write(std::string_view section, std::string_view key, std::string_view value) {
  if (!settings_writable(section, key, value)) return false;
  std::string dir = config_dir(true);
  if (dir.empty()) return false;
  std::string path = dir + "/" + kSettingsName;
  return replace_file_atomically(path, settings_update(read_file(path), section, key, value), 0600);
}

bool replace_file_atomically(const std::string& path, std::string_view bytes, unsigned mode) {
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back(0);
  int fd = mkstemp(name.data());
  if (fd < 0) return false;
  struct stat old;
  mode_t wanted = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : mode_t(mode);
  bool ok = fchmod(fd, wanted) == 0;
  for (size_t done = 0; ok && done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      ok = false;
      break;
    }
    done += size_t(n);
  }
  ok = ok && fsync(fd) == 0;
  int saved = errno;
  if (close(fd) != 0 && ok) ok = false, saved = errno;
  if (ok && rename(name.data(), path.c_str()) != 0) ok = false, saved = errno;
  if (!ok) {
    unlink(name.data());
    errno = saved;
    return false;
  }
  int dfd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    close(dfd);
  }
  return true;
}

}  // namespace storage
