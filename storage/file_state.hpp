// The file layer's mutable state: the reference-number table, the drive
// table, the dialogs' starting directory and back-end, the temporary
// folder's instance lock. One FileState per runtime.
#pragma once
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/module.hpp"
#include "storage/dialogs.hpp"
#include "storage/files.hpp"

namespace storage {

struct RefSlot {
  OpenFile file;
  FileUse use = FileUse::Free;
  uint32_t generation = 1;  // never 0, so that a file box is never null
};

struct FileState : core::ModuleState {
  // kRefnumSlots slots, made when the first file is opened (a program that
  // opens none never touches their memory).
  std::vector<RefSlot> slots;
  int cursor = 0;  // where the next allocation starts looking

  std::array<std::string, 26> drives;  // POSIX roots by letter, "" unmapped
  bool drives_loaded = false;

  std::string open_dir;  // the starting directory of the next file dialog
  std::unique_ptr<DialogBackend> dialogs;

  int instance_lock = -1;  // shared lock on the temporary folder's lock file
  bool temp_cleaned = false;

  FileState();
  ~FileState() override;
  FileState(const FileState&) = delete;
  FileState& operator=(const FileState&) = delete;
};

FileState& files_state();

}  // namespace storage
