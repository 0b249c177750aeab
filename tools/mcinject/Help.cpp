#include "Help.h"

#include <string>
#include <vector>

#include "Parser.h"

namespace Mcinject {

namespace {

void indented(std::ostream& out, std::string const& text, char const* indent) {
  out << indent;
  for (char c : text) {
    out << c;
    if (c == '\n') out << indent;
  }
  out << '\n';
}

bool startsWithTopic(std::string_view syntax, std::string const& topic) {
  std::string_view first = syntax.substr(0, syntax.find(' '));
  while (!first.empty()) {
    std::size_t const bar = first.find('|');
    if (first.substr(0, bar) == topic) return true;
    first = bar == std::string_view::npos ? std::string_view() : first.substr(bar + 1);
  }
  return false;
}

}  // namespace

bool printHelp(std::ostream& out, std::string const& topic) {
  bool any = false;
  char const* section = nullptr;
  for (CommandSpec const& e : commandTable()) {
    if (e.section) section = e.section;
    if (!topic.empty() && !startsWithTopic(e.syntax, topic)) continue;
    if (!any || e.section) {
      if (any) out << '\n';
      if (topic.empty()) out << section << ":\n";
    }
    any = true;
    indented(out, e.syntax, "  ");
    indented(out, e.text, "      ");
  }
  if (!any) return false;
  if (!topic.empty()) return true;
  out << "\nValues:\n";
  for (ValueSpec const& v : valueTable()) {
    std::string name = v.name;
    name.resize(10, ' ');
    std::string text = v.text;
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
      text.insert(at + 1, std::string(12, ' '));
    }
    out << "  " << name << text << '\n';
  }
  out << "One command a line; '#' starts a comment. Unless 'hold' is in force, the scheduler\n"
         "runs until idle after every command, so 'show' and 'expect' see a converged state.\n"
         "At the prompt and in -c commands a unique prefix of a keyword will do ('sh jo');\n"
         "Tab completes a keyword, '?' lists what may come next. Scenario files take\n"
         "keywords in full.\n";
  return true;
}

}  // namespace Mcinject
