// The alert table: every copy in its language with the English fallback,
// the parameters substituted in one pass within the control's limit, the
// display hook and the console line, and the end of the process.
#include <gtest/gtest.h>

#include "core/alert.hpp"

namespace core::testing {
namespace {

TEST(AlertTable, EachLanguageHasItsCopyOrTheEnglishOne) {
  const int bases[] = {kAlertNoMemory, kAlertProtectedMode, kAlertFileNotFound, kAlertBadType, kAlertQuickTime,
                       kAlertInternal, kAlertOutOfMemory, kAlertLoadFailed, kAlertQuickTimeInstall};
  for (int base : bases) {
    const AlertTemplate* english = alert_template(base, 0);
    ASSERT_NE(english, nullptr) << base;
    EXPECT_EQ(english->id, base);
    for (int language : {1, 2, 3, 99, -1})
      ASSERT_NE(alert_template(base, language), nullptr) << base << " in " << language;
  }
  EXPECT_STREQ(alert_template(kAlertFileNotFound, 1)->text, "Le fichier ^0 n'est pas pr\xE9sent!");
  EXPECT_STREQ(alert_template(kAlertFileNotFound, 2)->text, "El archivo ^0 no se encontr\xF3!");
  // Copies that a language lacks: English.
  EXPECT_EQ(alert_template(kAlertQuickTime, 2)->id, kAlertQuickTime);
  EXPECT_EQ(alert_template(kAlertQuickTime, 1)->id, kAlertQuickTime + 1);
  EXPECT_EQ(alert_template(kAlertLoadFailed, 1)->id, kAlertLoadFailed);
  EXPECT_EQ(alert_template(kAlertLoadFailed, 2)->id, kAlertLoadFailed + 2);
  EXPECT_EQ(alert_template(kAlertInternal, 7)->id, kAlertInternal);
  EXPECT_EQ(alert_template(4242, 0), nullptr);
  // The memory alerts that let the user quit have two buttons everywhere.
  EXPECT_EQ(alert_template(kAlertOutOfMemory, 0)->buttons, (std::vector<std::string>{"OK", "Quit"}));
  EXPECT_EQ(alert_template(kAlertOutOfMemory, 1)->buttons, (std::vector<std::string>{"OK", "Quitter"}));
  EXPECT_EQ(alert_template(kAlertOutOfMemory, 2)->buttons, (std::vector<std::string>{"OK", "Salir"}));
  EXPECT_EQ(alert_template(kAlertLoadFailed, 0)->buttons.size(), 1u);
}

TEST(AlertTable, ParametersAreSubstitutedInOneForwardPass) {
  const std::string p[] = {"zero", "one", "two", "three"};
  EXPECT_EQ(substitute_alert("^3 ^2 ^1 ^0 ^0", p), "three two one zero zero");
  EXPECT_EQ(substitute_alert("^4 ^ ^x ^^0 end^", p), "^4 ^ ^x ^zero end^");
  // A parameter holding a marker is not substituted again.
  const std::string tricky[] = {"^1", "X"};
  EXPECT_EQ(substitute_alert("<^0>", tricky), "<^1>");
  // Missing parameters are empty.
  EXPECT_EQ(substitute_alert("a^2b", std::span<const std::string>(tricky, 2)), "ab");
  EXPECT_EQ(substitute_alert("", p), "");
}

TEST(AlertTable, TheTextStaysWithinItsLimit) {
  std::string big(1000, 'p');
  const std::string params[] = {big};
  // Fits: the parameter in, the rest after it.
  std::string fits = substitute_alert(std::string(20, 'a') + "^0" + "tail", params);
  EXPECT_EQ(fits.size(), 20u + 1000u + 4u);
  // Would pass 1024: skipped, the marker kept; a later one that fits goes in.
  const std::string two[] = {big, "ok"};
  std::string skipped = substitute_alert(std::string(30, 'a') + "^0 ^1", two);
  EXPECT_EQ(skipped, std::string(30, 'a') + "^0 ok");
  // A text longer than the limit is cut to it.
  EXPECT_EQ(substitute_alert(std::string(5000, 'z'), params).size(), kAlertTextLimit);
}

struct Shown {
  std::string text;
  std::vector<std::string> buttons;
  int answer = 0;
};
Shown* g_shown = nullptr;

int record(const std::string& text, const std::vector<std::string>& buttons) {
  g_shown->text = text;
  g_shown->buttons = buttons;
  return g_shown->answer;
}

TEST(AlertTable, AlertsGoToTheDisplayWithTheirButtonsAndAnswer) {
  Shown shown;
  g_shown = &shown;
  AlertDisplay previous = set_alert_display(record);
  EXPECT_EQ(show_alert(kAlertFileNotFound, {"/home/u/game.RI"}, 0), 0);
  EXPECT_EQ(shown.text, "The file /home/u/game.RI was not found!");
  EXPECT_EQ(shown.buttons, (std::vector<std::string>{"OK"}));
  shown.answer = 1;
  EXPECT_EQ(show_alert(kAlertOutOfMemory, {}, 2), 1);
  EXPECT_EQ(shown.text, "Memoria interna insuficiente.");
  // An answer the alert has no button for is its first button.
  shown.answer = 5;
  EXPECT_EQ(show_alert(kAlertInternal, {}, 0), 0);
  shown.answer = 1;
  EXPECT_EQ(alert("made", AlertButtons::OkQuit), AlertAnswer::Quit);
  EXPECT_EQ(shown.buttons, (std::vector<std::string>{"OK", "Quit"}));
  set_alert_display(previous);
  g_shown = nullptr;
}

TEST(AlertTable, TheConsoleLineIsOneLine) {
  EXPECT_EQ(alert_console_line("A.  \n \nB.", {"OK", "Quit"}), "alert: A.     B. [OK] [Quit]");
  EXPECT_EQ(alert_console_line("x\r", {}), "alert: x ");
}

TEST(AlertTable, EndingTheProcessGoesThroughTheInstalledEnd) {
  struct Ended {
    int code;
  };
  ProcessEnd previous = set_process_end([](int code) { throw Ended{code}; });
  int code = -1;
  try {
    end_process(3);
  } catch (const Ended& e) {
    code = e.code;
  }
  EXPECT_EQ(code, 3);
  set_process_end(previous);
}

}  // namespace
}  // namespace core::testing
