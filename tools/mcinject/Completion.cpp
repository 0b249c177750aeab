#include "Completion.h"

#include <algorithm>

#include "Lexer.h"
#include "Parser.h"
#include "Text.h"
#include "ToggleFile.h"

namespace Mcinject {

namespace {

struct Typed {
  std::vector<std::string> words;  // whole words before the cursor
  std::string partial;             // the word under the cursor
  bool inComment = false;
};

Typed typed(std::string_view before) {
  Typed t;
  t.inComment = before.find('#') != std::string_view::npos;
  t.words = splitWords(before);
  bool const endsInBlank = before.empty() || before.back() == ' ' || before.back() == '\t';
  if (!endsInBlank && !t.words.empty()) {
    t.partial = std::move(t.words.back());
    t.words.pop_back();
  }
  return t;
}

// The words a value may be completed with: toggle names, command words.
std::vector<std::string> valueWords(std::string const& value) {
  if (value == "TOGGLE") return knownToggleNames();
  if (value == "COMMAND") return commandWords();
  return {};
}

struct Item {
  std::string word;
  std::string text;
};

std::string describe(Grammar::Next const& n) {
  auto const& table = commandTable();
  if (n.kind == Grammar::Next::Kind::value) {
    for (auto const& v : valueTable()) {
      if (n.text == v.name) {
        std::string const text = v.text;
        return text.substr(0, text.find_first_of(";\n"));
      }
    }
    return {};
  }
  // A keyword of one command's path (not one of alternatives): its summary.
  if (n.commands.size() == 1) {
    auto const& path = commandGrammar().path(n.commands.front());
    if (std::find(path.begin(), path.end(), n.text) != path.end()) return table[n.commands.front()].summary;
  }
  if (char const* text = keywordText(n.text)) return text;
  return n.commands.size() == 1 ? table[n.commands.front()].summary : std::string();
}

std::vector<Item> nextItems(Typed const& t) {
  std::vector<Item> items;
  for (Grammar::Next const& n : commandGrammar().next(t.words, true)) {
    switch (n.kind) {
      case Grammar::Next::Kind::keyword:
        if (n.text.starts_with(t.partial)) items.push_back({n.text, describe(n)});
        break;
      case Grammar::Next::Kind::value: {
        std::vector<std::string> const words = valueWords(n.text);
        bool any = false;
        for (auto const& w : words) {
          if (!w.starts_with(t.partial)) continue;
          items.push_back({w, describe(n)});
          any = true;
        }
        if (!any) items.push_back({n.text, describe(n)});
        break;
      }
      case Grammar::Next::Kind::end:
        if (t.partial.empty()) items.push_back({"<cr>", "run the line"});
        break;
    }
  }
  return items;
}

}  // namespace

Completion completeLine(std::string_view beforeCursor) {
  Typed const t = typed(beforeCursor);
  Completion c;
  if (t.inComment) return c;
  std::vector<std::string> matches;
  for (Grammar::Next const& n : commandGrammar().next(t.words, true)) {
    std::vector<std::string> words;
    if (n.kind == Grammar::Next::Kind::keyword) words.push_back(n.text);
    if (n.kind == Grammar::Next::Kind::value) words = valueWords(n.text);
    for (auto const& w : words) {
      if (w.starts_with(t.partial) && std::find(matches.begin(), matches.end(), w) == matches.end()) {
        matches.push_back(w);
      }
    }
  }
  if (matches.empty()) return c;
  if (matches.size() == 1) {
    c.insert = matches.front().substr(t.partial.size()) + " ";
    return c;
  }
  std::string common = matches.front();
  for (auto const& m : matches) {
    std::size_t i = 0;
    while (i < common.size() && i < m.size() && common[i] == m[i]) ++i;
    common.resize(i);
  }
  c.insert = common.substr(t.partial.size());
  c.choices = matches;
  return c;
}

std::string describeNext(std::string_view beforeCursor) {
  Typed const t = typed(beforeCursor);
  if (t.inComment) return "  (a comment)\n";
  std::vector<Item> const items = nextItems(t);
  if (items.empty()) {
    Grammar::Resolved const r = commandGrammar().resolve(t.words, true);
    if (!r.ambiguous.empty()) return "  % ambiguous " + quoted(t.words[r.matched]) + "\n";
    if (r.matched < t.words.size()) return "  % nothing fits " + quoted(t.words[r.matched]) + "\n";
    return "  % nothing starts with " + quoted(t.partial) + " here\n";
  }
  std::size_t width = 0;
  for (auto const& i : items) width = std::max(width, i.word.size());
  std::string out;
  for (auto const& i : items) {
    std::string word = i.word;
    word.resize(width, ' ');
    out += "  " + word + "  " + i.text + "\n";
  }
  return out;
}

}  // namespace Mcinject
