// The files the command-line tools read and write.
#include "storage/outputs.hpp"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "storage/commit.hpp"

namespace storage {

bool read_input(const std::string& path, std::vector<uint8_t>& out, std::string& why) {
  // Opened without waiting, so that a FIFO is refused rather than waited on.
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  struct stat st;
  bool ok = fstat(fd, &st) == 0;
  if (!ok) {
    why = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    why = "not a regular file";
    ok = false;
  } else if (uint64_t(st.st_size) >= (uint64_t(1) << 32)) {
    why = "larger than 4 GB";
    ok = false;
  } else {
    out.resize(size_t(st.st_size));
    ok = read_all(fd, 0, out.data(), out.size());
    if (!ok) why = errno ? std::strerror(errno) : "shorter than its size";
  }
  close(fd);
  return ok;
}

namespace {

// Where a chain of symbolic links ends: the path itself when it is not a
// link (or no longer resolves), so that the output replaces the file the
// link names and the link stays.
std::string link_target(std::string path) {
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char buf[PATH_MAX];
    ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    if (n <= 0) return path;
    std::string target(buf, size_t(n));
    size_t slash = path.rfind('/');
    if (target[0] != '/' && slash != std::string::npos) target = path.substr(0, slash + 1) + target;
    path = std::move(target);
  }
  return path;
}

bool write_stream(int fd, std::span<const uint8_t> bytes) {
  const uint8_t* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    ssize_t k = write(fd, p, left);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    p += k;
    left -= size_t(k);
  }
  return true;
}

}  // namespace

bool write_output(const std::string& path, std::span<const uint8_t> bytes, std::span<const std::string> inputs,
                  std::string& why) {
  auto fail = [&](int e) {
    why = std::strerror(e);
    return false;
  };
  std::string target = link_target(path);
  struct stat st;
  bool exists = stat(target.c_str(), &st) == 0;
  if (exists) {
    for (const std::string& input : inputs) {
      struct stat in;
      if (stat(input.c_str(), &in) == 0 && in.st_dev == st.st_dev && in.st_ino == st.st_ino) {
        why = "is the input " + input + "; refusing to write over it";
        return false;
      }
    }
    if (!S_ISREG(st.st_mode)) {
      // A device, a FIFO or a terminal takes the bytes as they come; a
      // folder refuses the open.
      int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
      if (fd < 0) return fail(errno);
      bool ok = write_stream(fd, bytes);
      int e = errno;
      if (close(fd) != 0 && ok) ok = false, e = errno;
      return ok || fail(e);
    }
  }
  std::string tmp = target + ".tmp-" + std::to_string(getpid());
  unlink(tmp.c_str());
  int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return fail(errno);
  bool ok = write_stream(fd, bytes) && (!exists || fchmod(fd, st.st_mode & 07777) == 0) && flush_file(fd);
  int e = errno;
  if (close(fd) != 0 && ok) ok = false, e = errno;
  if (ok && rename(tmp.c_str(), target.c_str()) != 0) ok = false, e = errno;
  if (!ok) {
    unlink(tmp.c_str());
    return fail(e);
  }
  return true;
}

}  // namespace storage
