// Grammar — the shapes of the command lines, read from their syntax strings,
// and what a line typed so far may take next.
//
// OVERVIEW
//   Each command has a syntax string such as
//     "map vlan V [group G] [route S G2 [tunnel T]]"
//   Lower-case words are keywords, words starting with an upper-case letter
//   are values (any word), `a|b` offers either keyword, `[...]` is optional,
//   and `X ...` after a value repeats it. The Grammar turns the syntax strings
//   of a command table into one automaton and walks lines through it: to
//   resolve abbreviated keywords (a unique prefix stands for the keyword; an
//   exact keyword always wins over a value), and to list what may come next
//   (for completion and `?`). Checking the values themselves is the command
//   builders' business (Parser.cpp), which also give the messages of lines
//   that do not fit.
//
// GUARANTEES
//   - Pure: a Grammar does not change once built; every query is const.
//   - `resolve` never changes a word it cannot match: words after the first
//     one that fits no shape are returned as they came.
//
// TYPICAL USAGE
//   Grammar g({"show joins", "show changeset", "step [N]"});
//   g.resolve({"sh", "jo"}, true).words;   // {"show", "joins"}
//   g.next({"show"}, true);                // the keywords joins, changeset
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Mcinject {

class Grammar {
 public:
  explicit Grammar(std::vector<std::string> const& syntaxes);

  struct Resolved {
    std::vector<std::string> words;  // keywords spelt out in full
    std::size_t matched = 0;         // words that fit a shape
    // Set when word `matched` is a prefix of several keywords: those keywords.
    std::vector<std::string> ambiguous;
    // The commands (indices into the syntaxes) whose shape the whole line fits.
    std::vector<std::size_t> complete;
  };
  Resolved resolve(std::vector<std::string> const& words, bool abbreviations) const;

  // One thing that may come next.
  struct Next {
    enum class Kind { keyword, value, end };
    Kind kind = Kind::end;
    std::string text;                   // the keyword or the value's name; empty for the end
    std::vector<std::size_t> commands;  // the commands it leads on to (the end: those complete here)
  };
  // What may follow `words` (all of them whole words), in the order of the
  // syntaxes, each keyword or value once; empty when `words` fit no shape.
  std::vector<Next> next(std::vector<std::string> const& words, bool abbreviations) const;

  // The keyword path of command `i`: its leading keywords ("no map", "expect
  // no join"), `a|b` as written.
  std::vector<std::string> const& path(std::size_t i) const { return paths_[i]; }
  std::size_t size() const noexcept { return paths_.size(); }

 private:
  struct Edge {
    enum class Kind { keyword, value, epsilon };
    Kind kind;
    std::string text;
    std::size_t to;
  };
  struct Node {
    std::vector<Edge> edges;
    std::optional<std::size_t> accepts;  // the command that ends here
  };
  using States = std::vector<std::size_t>;

  std::size_t node();
  std::size_t compile(std::vector<std::string> const& tokens, std::size_t& pos, std::size_t from, bool nested);
  States closure(States states) const;
  // The states after `words`; nullopt when one does not fit.
  std::optional<States> walk(std::vector<std::string> const& words, bool abbreviations, Resolved* resolved) const;
  // The command each state belongs to.
  std::size_t owner(std::size_t state) const { return owner_[state]; }

  std::vector<Node> nodes_;
  std::vector<std::size_t> owner_;
  std::vector<std::size_t> starts_;
  std::vector<std::vector<std::string>> paths_;
};

}  // namespace Mcinject
