// The files the command-line tools read and write (pict render, rsrc
// extract, pack, unpack): an input is a regular file read whole; an output
// is written whole or not at all, through a temporary beside it that is
// flushed and renamed over it. An output never replaces one of the inputs
// it is made from, nor a device or a FIFO named as the output (those are
// written straight into), and a symbolic link named as the output keeps
// pointing where it did: its target is replaced.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace storage {

// Reads the regular file at `path` whole. False with a reason (the
// system's text, or "not a regular file") in `why`.
bool read_input(const std::string& path, std::vector<uint8_t>& out, std::string& why);

// Writes `bytes` as the file at `path`. `inputs` are the files the output
// was made from: an output that is one of them (the same device and inode,
// whatever the name) is refused. False with a reason in `why`; a refused or
// failed write leaves the output as it was and no temporary behind.
bool write_output(const std::string& path, std::span<const uint8_t> bytes, std::span<const std::string> inputs,
                  std::string& why);

}  // namespace storage
