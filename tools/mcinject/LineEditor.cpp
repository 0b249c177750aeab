#include "LineEditor.h"

#include <histedit.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <vector>

#include "Completion.h"

namespace Mcinject {

namespace {

LineEditor* editorOf(EditLine* el) {
  void* data = nullptr;
  el_get(el, EL_CLIENTDATA, &data);
  return static_cast<LineEditor*>(data);
}

std::string beforeCursor(EditLine* el) {
  LineInfo const* li = el_line(el);
  return std::string(li->buffer, static_cast<std::size_t>(li->cursor - li->buffer));
}

// A line of the history format libedit wrote before: octal escapes (\040).
std::string unvis(std::string const& line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    bool const octal = line[i] == '\\' && i + 3 < line.size() && line.find_first_not_of("01234567", i + 1) >= i + 4;
    if (octal) {
      out.push_back(static_cast<char>(std::strtol(line.substr(i + 1, 3).c_str(), nullptr, 8)));
      i += 3;
    } else if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == '\\') {
      out.push_back('\\');
      ++i;
    } else {
      out.push_back(line[i]);
    }
  }
  return out;
}

}  // namespace

LineEditor::LineEditor(std::string historyFile) : historyFile_(std::move(historyFile)) {
  HistEvent ev;
  hist_ = history_init();
  history(hist_, &ev, H_SETSIZE, kHistoryLines);
  el_ = el_init("mcinject", stdin, stdout, stderr);
  el_set(el_, EL_CLIENTDATA, this);
  el_set(el_, EL_EDITOR, "emacs");
  el_set(el_, EL_HIST, history, hist_);
  el_set(el_, EL_PROMPT, &LineEditor::promptText);
  el_set(el_, EL_SIGNAL, 1);
  // Ctrl-C reaches the editor as a key while a line is edited.
  el_set(el_, EL_SETTY, "-d", "-isig", nullptr);
  // The wide form: the narrow one keeps copies of the names it never frees.
  el_wset(el_, EL_ADDFN, L"mcinject-complete", L"complete a keyword", &LineEditor::onTab);
  el_set(el_, EL_BIND, "^I", "mcinject-complete", nullptr);
  el_wset(el_, EL_ADDFN, L"mcinject-help", L"list what may come next", &LineEditor::onHelp);
  el_set(el_, EL_BIND, "?", "mcinject-help", nullptr);
  el_wset(el_, EL_ADDFN, L"mcinject-cancel", L"abandon the line", &LineEditor::onCancel);
  el_set(el_, EL_BIND, "^C", "mcinject-cancel", nullptr);
  loadHistory();
}

LineEditor::~LineEditor() {
  el_end(el_);
  history_end(hist_);
}

void LineEditor::loadHistory() {
  if (historyFile_.empty()) return;
  std::vector<std::string> lines;
  {
    std::ifstream in(historyFile_);
    std::string line;
    bool old = false;
    while (std::getline(in, line)) {
      if (lines.empty() && !old && line == "_HiStOrY_V2_") {
        old = true;
        continue;
      }
      lines.push_back(old ? unvis(line) : line);
    }
    if (!old && lines.size() < 2 * static_cast<std::size_t>(kHistoryLines)) {
      for (auto const& l : lines) {
        HistEvent ev;
        history(hist_, &ev, H_ENTER, l.c_str());
      }
      return;
    }
  }
  // Cut back (or rewrite an old-format file) through a new file.
  if (lines.size() > static_cast<std::size_t>(kHistoryLines)) {
    lines.erase(lines.begin(), lines.end() - kHistoryLines);
  }
  std::string const staging = historyFile_ + ".new";
  {
    std::ofstream out(staging, std::ios::trunc);
    for (auto const& l : lines) out << l << '\n';
  }
  std::rename(staging.c_str(), historyFile_.c_str());
  for (auto const& l : lines) {
    HistEvent ev;
    history(hist_, &ev, H_ENTER, l.c_str());
  }
}

void LineEditor::remember(std::string const& line) {
  HistEvent ev;
  history(hist_, &ev, H_ENTER, line.c_str());
  if (historyFile_.empty()) return;
  std::ofstream out(historyFile_, std::ios::app);
  out << line << '\n';
}

std::optional<std::string> LineEditor::readLine(char const* prompt) {
  prompt_ = prompt;
  cancelled_ = false;
  int count = 0;
  char const* raw = el_gets(el_, &count);
  if (cancelled_) return std::string();
  if (!raw) return std::nullopt;
  std::string line(raw);
  if (!line.empty() && line.back() == '\n') line.pop_back();
  if (line.find_first_not_of(" \t") != std::string::npos) remember(line);
  return line;
}

char* LineEditor::promptText(EditLine* el) { return editorOf(el)->prompt_.data(); }

unsigned char LineEditor::onTab(EditLine* el, int) {
  Completion const c = completeLine(beforeCursor(el));
  if (!c.insert.empty()) {
    el_insertstr(el, c.insert.c_str());
    return CC_REFRESH;
  }
  if (c.choices.empty()) return CC_REFRESH_BEEP;
  std::string list = "\n";
  for (auto const& choice : c.choices) list += choice + "  ";
  list += "\n";
  std::fputs(list.c_str(), stdout);
  std::fflush(stdout);
  return CC_REDISPLAY;
}

unsigned char LineEditor::onHelp(EditLine* el, int) {
  std::string const text = "?\n" + describeNext(beforeCursor(el));
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return CC_REDISPLAY;
}

unsigned char LineEditor::onCancel(EditLine* el, int) {
  editorOf(el)->cancelled_ = true;
  // The terminal's cursor is at the line's: write the rest of the line to
  // get to its end, mark the cancel there and leave the line.
  LineInfo const* li = el_line(el);
  std::string const rest(li->cursor, static_cast<std::size_t>(li->lastchar - li->cursor));
  std::fputs((rest + "^C\n").c_str(), stdout);
  std::fflush(stdout);
  return CC_NEWLINE;
}

std::string LineEditor::defaultHistoryFile() {
  char const* home = std::getenv("HOME");
  if (!home || !*home) return {};
  return std::string(home) + "/.mcinject_history";
}

}  // namespace Mcinject
