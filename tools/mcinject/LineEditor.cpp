#include "LineEditor.h"

#include <editline/readline.h>

#include <cstdlib>

namespace Mcinject {

LineEditor::LineEditor(std::string historyFile) : historyFile_(std::move(historyFile)) {
  using_history();
  stifle_history(kHistoryLines);
  if (!historyFile_.empty()) read_history(historyFile_.c_str());
}

LineEditor::~LineEditor() {
  if (!historyFile_.empty()) write_history(historyFile_.c_str());
}

std::optional<std::string> LineEditor::readLine(char const* prompt) {
  char* raw = readline(prompt);
  if (!raw) return std::nullopt;
  std::string line(raw);
  std::free(raw);
  if (line.find_first_not_of(" \t") != std::string::npos) add_history(line.c_str());
  return line;
}

std::string LineEditor::defaultHistoryFile() {
  char const* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::string(home) + "/.mcinject_history";
}

}  // namespace Mcinject
