#include "Grammar.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

namespace Mcinject {

namespace {

bool isValueName(std::string_view token) { return !token.empty() && token.front() >= 'A' && token.front() <= 'Z'; }

// "[group G]" -> "[", "group", "G", "]"; `a|b` and "..." stay whole.
std::vector<std::string> syntaxTokens(std::string_view syntax) {
  std::vector<std::string> tokens;
  std::string word;
  auto flush = [&] {
    if (!word.empty()) tokens.push_back(std::move(word));
    word.clear();
  };
  for (char c : syntax) {
    if (c == ' ') {
      flush();
    } else if (c == '[' || c == ']') {
      flush();
      tokens.emplace_back(1, c);
    } else {
      word.push_back(c);
    }
  }
  flush();
  return tokens;
}

std::vector<std::string> alternatives(std::string const& token) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    std::size_t const bar = token.find('|', start);
    out.push_back(token.substr(start, bar - start));
    if (bar == std::string::npos) return out;
    start = bar + 1;
  }
}

}  // namespace

Grammar::Grammar(std::vector<std::string> const& syntaxes) {
  for (std::size_t i = 0; i < syntaxes.size(); ++i) {
    std::vector<std::string> const tokens = syntaxTokens(syntaxes[i]);
    std::vector<std::string> path;
    for (auto const& t : tokens) {
      if (t == "[" || isValueName(t)) break;
      path.push_back(t);
    }
    paths_.push_back(std::move(path));
    std::size_t const start = node();
    starts_.push_back(start);
    std::size_t pos = 0;
    std::size_t const end = compile(tokens, pos, start, false);
    nodes_[end].accepts = i;
    for (std::size_t n = start; n < nodes_.size(); ++n) owner_[n] = i;
  }
}

std::size_t Grammar::node() {
  nodes_.emplace_back();
  owner_.resize(nodes_.size());
  return nodes_.size() - 1;
}

std::size_t Grammar::compile(std::vector<std::string> const& tokens, std::size_t& pos, std::size_t from, bool nested) {
  std::size_t cur = from;
  std::string lastValue;
  while (pos < tokens.size()) {
    std::string const& tok = tokens[pos++];
    if (tok == "]") {
      if (!nested) throw std::logic_error("unbalanced ']' in a command syntax");
      return cur;
    }
    if (tok == "[") {
      std::size_t const inner = compile(tokens, pos, cur, true);
      // A fresh end node, so that a repetition at the end of the optional part
      // cannot be entered by skipping it.
      std::size_t const end = node();
      nodes_[inner].edges.push_back({Edge::Kind::epsilon, {}, end});
      nodes_[cur].edges.push_back({Edge::Kind::epsilon, {}, end});
      cur = end;
      continue;
    }
    if (tok == "...") {
      if (lastValue.empty()) throw std::logic_error("'...' after no value in a command syntax");
      nodes_[cur].edges.push_back({Edge::Kind::value, lastValue, cur});
      continue;
    }
    std::size_t const next = node();
    lastValue.clear();
    for (std::string const& alt : alternatives(tok)) {
      bool const value = isValueName(alt);
      nodes_[cur].edges.push_back({value ? Edge::Kind::value : Edge::Kind::keyword, alt, next});
      if (value) lastValue = alt;
    }
    cur = next;
  }
  if (nested) throw std::logic_error("unbalanced '[' in a command syntax");
  return cur;
}

Grammar::States Grammar::closure(States states) const {
  for (std::size_t i = 0; i < states.size(); ++i) {
    for (Edge const& e : nodes_[states[i]].edges) {
      if (e.kind == Edge::Kind::epsilon && std::find(states.begin(), states.end(), e.to) == states.end()) {
        states.push_back(e.to);
      }
    }
  }
  std::sort(states.begin(), states.end());
  return states;
}

std::optional<Grammar::States> Grammar::walk(std::vector<std::string> const& words, bool abbreviations,
                                             Resolved* resolved) const {
  States states = closure(starts_);
  for (std::size_t i = 0; i < words.size(); ++i) {
    std::string const& word = words[i];
    States exact, values;
    std::vector<std::string> prefixed;
    for (std::size_t s : states) {
      for (Edge const& e : nodes_[s].edges) {
        if (e.kind == Edge::Kind::value) values.push_back(e.to);
        if (e.kind != Edge::Kind::keyword) continue;
        if (e.text == word) exact.push_back(e.to);
        if (abbreviations && e.text.size() > word.size() && e.text.compare(0, word.size(), word) == 0 &&
            std::find(prefixed.begin(), prefixed.end(), e.text) == prefixed.end()) {
          prefixed.push_back(e.text);
        }
      }
    }
    States next;
    std::string spelt = word;
    if (!exact.empty()) {
      next = std::move(exact);
    } else if (prefixed.size() > 1) {
      if (resolved) {
        std::sort(prefixed.begin(), prefixed.end());
        resolved->ambiguous = std::move(prefixed);
      }
      return std::nullopt;
    } else if (prefixed.size() == 1) {
      spelt = prefixed.front();
      for (std::size_t s : states) {
        for (Edge const& e : nodes_[s].edges) {
          if (e.kind == Edge::Kind::keyword && e.text == spelt) next.push_back(e.to);
        }
      }
    } else {
      next = std::move(values);
    }
    if (next.empty()) return std::nullopt;
    states = closure(std::move(next));
    if (resolved) {
      resolved->words[i] = std::move(spelt);
      resolved->matched = i + 1;
    }
  }
  return states;
}

Grammar::Resolved Grammar::resolve(std::vector<std::string> const& words, bool abbreviations) const {
  Resolved r;
  r.words = words;
  if (auto states = walk(words, abbreviations, &r)) {
    for (std::size_t s : *states) {
      if (nodes_[s].accepts) r.complete.push_back(*nodes_[s].accepts);
    }
  }
  return r;
}

std::vector<Grammar::Next> Grammar::next(std::vector<std::string> const& words, bool abbreviations) const {
  std::vector<Next> out;
  auto states = walk(words, abbreviations, nullptr);
  if (!states) return out;
  auto add = [&out](Next::Kind kind, std::string const& text, std::size_t command) {
    auto it = std::find_if(out.begin(), out.end(), [&](Next const& n) { return n.kind == kind && n.text == text; });
    if (it == out.end()) {
      out.push_back({kind, text, {}});
      it = out.end() - 1;
    }
    if (std::find(it->commands.begin(), it->commands.end(), command) == it->commands.end()) {
      it->commands.push_back(command);
    }
  };
  for (std::size_t s : *states) {
    for (Edge const& e : nodes_[s].edges) {
      if (e.kind == Edge::Kind::keyword) add(Next::Kind::keyword, e.text, owner(e.to));
      if (e.kind == Edge::Kind::value) add(Next::Kind::value, e.text, owner(e.to));
    }
  }
  for (std::size_t s : *states) {
    if (nodes_[s].accepts) add(Next::Kind::end, {}, *nodes_[s].accepts);
  }
  return out;
}

}  // namespace Mcinject
