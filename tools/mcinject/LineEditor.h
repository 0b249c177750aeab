// LineEditor — the interactive prompt: line editing and history (libedit).
//
// Used only when standard input is a terminal. History is kept for the
// session and, when a history file is given, loaded from it at start and
// written back (at most kHistoryLines lines) when the editor goes.
//
// Not thread-safe; one per process (libedit's readline interface is global).
//
//   LineEditor editor(LineEditor::defaultHistoryFile());
//   while (auto line = editor.readLine("mcinject> ")) handle(*line);
#pragma once

#include <optional>
#include <string>

namespace Mcinject {

class LineEditor {
 public:
  static constexpr int kHistoryLines = 1000;

  // "" keeps the history for the session only.
  explicit LineEditor(std::string historyFile);
  ~LineEditor();
  LineEditor(LineEditor const&) = delete;
  LineEditor& operator=(LineEditor const&) = delete;

  // The next line typed, or nothing at end of input (Ctrl-D).
  std::optional<std::string> readLine(char const* prompt);

  // $HOME/.mcinject_history, or "" without a home directory.
  static std::string defaultHistoryFile();

 private:
  std::string historyFile_;
};

}  // namespace Mcinject
