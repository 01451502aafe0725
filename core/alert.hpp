// Alerts: the runtime's own messages to the user (a missing application
// file, memory shortage, internal errors), all from one table.
//
// Each alert has a base id and a copy per language (English 0, French 1,
// Spanish 2) at base id + language; a language without its own copy of an
// alert shows the English one. A text holds up to four markers "^0" to
// "^3", replaced by the parameters of the alert in one forward pass.
//
// How an alert is shown is the program's business: the shell installs a
// display that opens a modal window; until one is installed an alert is a
// line on standard error that answers its first button.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace core {

// The base ids of the alerts.
enum AlertId : int {
  kAlertNoMemory = 5000,        // the memory preferences ask for more than there is (^0: K)
  kAlertProtectedMode = 5100,   // kept in the table; nothing shows it
  kAlertFileNotFound = 5200,    // the application file cannot be opened (^0: its path)
  kAlertBadType = 5300,         // a file is not of the expected type
  kAlertQuickTime = 5400,       // movies are needed and cannot be played
  kAlertInternal = 5500,        // an internal error
  kAlertOutOfMemory = 5600,     // memory exhausted: OK continues, Quit ends the process
  kAlertLoadFailed = 5700,      // a code resource cannot be read
  kAlertQuickTimeInstall = 5900,  // kept in the table; nothing shows it
};

// The longest text a control of an alert holds.
constexpr size_t kAlertTextLimit = 1024;

struct AlertTemplate {
  int id;            // base id + language
  const char* text;  // code page 1252
  std::vector<std::string> buttons;
};

// The copy of alert `base` in `language`, or the English copy when that
// language has none; null for an id outside the table.
const AlertTemplate* alert_template(int base, int language);

// Replaces "^0" to "^3" in `text` by the parameters (missing ones are
// empty) in one forward pass: a parameter's own text is never scanned
// again. The result stays within kAlertTextLimit characters; a
// replacement that would pass it is skipped and the marker kept.
std::string substitute_alert(const std::string& text, std::span<const std::string> params);

// Shows alert `base` with its parameters in `language` (-1: the current
// runtime's language, English without a runtime) and answers the index of
// the button that closed it (0 for OK).
int show_alert(int base, std::initializer_list<std::string> params = {}, int language = -1);

// Shows a text that is already made, with an OK button.
void alert_text_only(const std::string& text);

// How alerts are shown: the text after substitution and the button labels;
// answers the index of the chosen button. Process-wide, like the screen:
// null restores the standard-error line.
using AlertDisplay = int (*)(const std::string& text, const std::vector<std::string>& buttons);
AlertDisplay set_alert_display(AlertDisplay display);

// The standard-error line of an alert (through the runtime's console
// boundary when there is a runtime); answers the first button.
int console_alert(const std::string& text, const std::vector<std::string>& buttons);

// The one-line form of an alert on a console: the text with its line ends
// made spaces, then each button in brackets.
std::string alert_console_line(const std::string& text, const std::vector<std::string>& buttons);

// Ends the process when the user chooses to (the Quit button of the
// out-of-memory alert): through the orderly shutdown the shell installs,
// or std::exit without one. Never returns.
using ProcessEnd = void (*)(int code);
ProcessEnd set_process_end(ProcessEnd end);
[[noreturn]] void end_process(int code);

// Thrown by building a machine whose memory preferences ask for more than
// is available: what() is the English text of the alert, `kb` its
// parameter.
struct MemoryShortage : std::runtime_error {
  MemoryShortage(const std::string& text, int64_t k) : std::runtime_error(text), kb(k) {}
  int64_t kb;
};

// Compatibility with the earlier calls: a plain OK alert with a made text.
enum class AlertButtons { Ok, OkQuit };
enum class AlertAnswer { Ok, Quit };
AlertAnswer alert(const std::string& text, AlertButtons buttons = AlertButtons::Ok);

}  // namespace core
