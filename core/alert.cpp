// The alert table and the showing of alerts.
#include "core/alert.hpp"

#include <cstdio>
#include <cstdlib>

#include "core/runtime.hpp"

namespace core {

namespace {

// Every alert in every language, written as the runtime has always shown
// them (their spelling included). Texts are code page 1252.
const std::vector<AlertTemplate>& alert_table() {
  static const std::vector<AlertTemplate> table = {
      // English
      {5000, "There is not enougth RAM memory : ^0 K", {"OK"}},
      {5100, "You must be in protected mode to run this software.", {"OK"}},
      {5200, "The file ^0 was not found!", {"OK"}},
      {5300, "The file is not of a good type.", {"OK"}},
      {5400, "This program contains QuickTime movies.  \n \nTo be able to play them, execute setup.exe.", {"OK"}},
      {5500, "An error has occured.  You should save your file, quit and reload the software.", {"OK"}},
      {5600, "Out of Memory", {"OK", "Quit"}},
      {5700, "Out of Memory", {"OK"}},
      {5900,
       "This program contains QuickTime\x99 movies.  \n \nTo be able to play them, install QuickTime\x99 3.0.2.",
       {"OK"}},
      // French
      {5001, "Il n'y a pas assez de m\xE9moire RAM : ^0 K", {"OK"}},
      {5201, "Le fichier ^0 n'est pas pr\xE9sent!", {"OK"}},
      {5301, "Fichier incorrect.", {"OK"}},
      {5401,
       "Ce logiciel contient des films QuickTime. \n \nPour pouvoir les faire jouer, ex\xE9""cuter installe.exe.",
       {"OK"}},
      {5501,
       "Une erreur interne s'est produite, nous vous sugg\xE9rons, dans la mesure du possible, de sauver vos "
       "fichiers et de red\xE9marrer!",
       {"OK"}},
      {5601, "Manque de m\xE9moire", {"OK", "Quitter"}},
      // Spanish
      {5002, "La memoria viva para la aplicaci\xF3n es insuficiente: se necesitan ^0 K m\xE1s.", {"OK"}},
      {5202, "El archivo ^0 no se encontr\xF3!", {"OK"}},
      {5302, "El fichero no es del tipo correcto.", {"OK"}},
      {5502,
       "Se ha producido un error interno.  Le sugerimos que, si es posible, salvaguarde sus ficheros y "
       "reinicialice.",
       {"OK"}},
      {5602, "Memoria interna insuficiente.", {"OK", "Salir"}},
      {5702, "Memoria insuficiente.", {"OK"}},
  };
  return table;
}

const AlertTemplate* find_template(int id) {
  for (const AlertTemplate& t : alert_table())
    if (t.id == id) return &t;
  return nullptr;
}

// The display and the end of the process are the program's, one per
// process like the screen it shows on.
AlertDisplay g_display = nullptr;
ProcessEnd g_end = nullptr;

}  // namespace

int console_alert(const std::string& text, const std::vector<std::string>& buttons) {
  std::string line = alert_console_line(text, buttons);
  if (g_runtime != nullptr && rt().write_error_line != nullptr) {
    rt().write_error_line(line);
  } else {
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
  }
  return 0;
}

namespace {

int display(const std::string& text, const std::vector<std::string>& buttons) {
  int answer = g_display != nullptr ? g_display(text, buttons) : console_alert(text, buttons);
  return answer < 0 || size_t(answer) >= buttons.size() ? 0 : answer;
}

}  // namespace

const AlertTemplate* alert_template(int base, int language) {
  if (language > 0 && language < 100)
    if (const AlertTemplate* t = find_template(base + language)) return t;
  return find_template(base);
}

std::string substitute_alert(const std::string& text, std::span<const std::string> params) {
  std::string out;
  size_t end = text.size() < kAlertTextLimit ? text.size() : kAlertTextLimit;
  for (size_t i = 0; i < end; ++i) {
    char c = text[i];
    if (c == '^' && i + 1 < end && text[i + 1] >= '0' && text[i + 1] <= '3') {
      size_t n = size_t(text[i + 1] - '0');
      const std::string empty;
      const std::string& param = n < params.size() ? params[n] : empty;
      // What follows the marker must still fit after the replacement.
      if (out.size() + param.size() + (end - i - 2) <= kAlertTextLimit) {
        out += param;
        ++i;
        continue;
      }
    }
    out += c;
  }
  return out;
}

int show_alert(int base, std::initializer_list<std::string> params, int language) {
  if (language < 0) language = g_runtime != nullptr ? rt().ui_language : 0;
  const AlertTemplate* t = alert_template(base, language);
  if (t == nullptr) t = find_template(kAlertInternal);
  std::span<const std::string> p(params.begin(), params.size());
  std::vector<std::string> buttons;
  for (const std::string& b : t->buttons) buttons.push_back(substitute_alert(b, p));
  return display(substitute_alert(t->text, p), buttons);
}

void alert_text_only(const std::string& text) { display(text, {"OK"}); }

AlertAnswer alert(const std::string& text, AlertButtons buttons) {
  if (buttons == AlertButtons::OkQuit) return display(text, {"OK", "Quit"}) == 1 ? AlertAnswer::Quit : AlertAnswer::Ok;
  display(text, {"OK"});
  return AlertAnswer::Ok;
}

AlertDisplay set_alert_display(AlertDisplay d) {
  AlertDisplay old = g_display;
  g_display = d;
  return old;
}

std::string alert_console_line(const std::string& text, const std::vector<std::string>& buttons) {
  std::string line = "alert: ";
  for (char c : text) line += c == '\n' || c == '\r' ? ' ' : c;
  for (const std::string& b : buttons) line += " [" + b + "]";
  return line;
}

ProcessEnd set_process_end(ProcessEnd end) {
  ProcessEnd old = g_end;
  g_end = end;
  return old;
}

void end_process(int code) {
  if (g_end != nullptr) g_end(code);
  std::fflush(nullptr);
  std::exit(code);
}

}  // namespace core
