// LineEditor — the interactive prompt: line editing, history, Tab, `?` and
// Ctrl-C the way a switch CLI has them (libedit).
//
// Used only when standard input is a terminal. Tab completes a keyword, `?`
// lists what may come next (Completion.h) and redraws the line as it was,
// Ctrl-C abandons the line being typed and gives a fresh prompt (the program
// goes on; the terminal sends no interrupt while a line is edited). Every
// line entered goes into the history at once and, when a history file is
// given, is appended to it right away, so a session that ends any way keeps
// its history. The file holds one line a line; it is cut back to the last
// kHistoryLines lines when it has grown to twice that.
//
// Not thread-safe; one per process.
//
//   LineEditor editor(LineEditor::defaultHistoryFile());
//   while (auto line = editor.readLine("mcinject> ")) handle(*line);
#pragma once

#include <optional>
#include <string>

struct editline;
struct history;

namespace Mcinject {

class LineEditor {
 public:
  static constexpr int kHistoryLines = 1000;

  // "" keeps the history for the session only.
  explicit LineEditor(std::string historyFile);
  ~LineEditor();
  LineEditor(LineEditor const&) = delete;
  LineEditor& operator=(LineEditor const&) = delete;

  // The next line typed ("" when it was cancelled with Ctrl-C), or nothing at
  // the end of input (Ctrl-D).
  std::optional<std::string> readLine(char const* prompt);

  // $HOME/.mcinject_history, or "" without a home directory.
  static std::string defaultHistoryFile();

 private:
  static char* promptText(editline* el);
  static unsigned char onTab(editline* el, int key);
  static unsigned char onHelp(editline* el, int key);
  static unsigned char onCancel(editline* el, int key);
  void loadHistory();
  void remember(std::string const& line);

  std::string historyFile_;
  editline* el_ = nullptr;
  history* hist_ = nullptr;
  std::string prompt_;
  bool cancelled_ = false;
};

}  // namespace Mcinject
