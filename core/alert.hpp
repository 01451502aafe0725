// Alerts: the runtime's own messages to the user (memory shortage, internal
// errors). Until the window system exists an alert writes its text on
// standard error and answers its default button.
#pragma once
#include <string>

namespace core {

enum class AlertButtons { Ok, OkQuit };
enum class AlertAnswer { Ok, Quit };

// Shows the text; "OK" is the default answer.
AlertAnswer alert(const std::string& text, AlertButtons buttons = AlertButtons::Ok);

// The alert text of an internal error.
inline constexpr const char* kGenericErrorText =
    "An error has occured.  You should save your file, quit and reload the software.";

}  // namespace core
