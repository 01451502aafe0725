// File dialogs: the open, save and folder dialogs behind one interface.
//
// Back-ends:
//  - scripted: TALVEN_DIALOG_SCRIPT names a file of answers, one line per
//    dialog, in order: a path (POSIX, or in the backslash notation) or
//    CANCEL; a dialog past the last line is cancelled. Tests and unattended
//    runs use it.
//  - zenity or kdialog, run as a child process, when a display is present.
//  - none: every dialog is cancelled.
// The runtime's own window system adds its back-end through the same seam.
#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace storage {

// One line of a file type filter: "Texts (*.txt)" and "*.txt".
struct DialogFilter {
  std::string description;
  std::string pattern;  // patterns separated by ';'
};

struct DialogRequest {
  enum class Kind { Open, Save, Folder } kind = Kind::Open;
  std::string title;         // UTF-8
  std::string start_dir;     // POSIX, may be empty
  std::string default_name;  // UTF-8, save dialogs
  std::vector<DialogFilter> filters;
};

class DialogBackend {
 public:
  virtual ~DialogBackend() = default;
  // The chosen path (POSIX, UTF-8), or nothing when the user cancelled.
  virtual std::optional<std::string> ask(const DialogRequest& request) = 0;
};

// The back-end for this process's environment (see above).
std::unique_ptr<DialogBackend> make_dialog_backend();
std::unique_ptr<DialogBackend> make_scripted_dialogs(const std::string& script_path);

}  // namespace storage
