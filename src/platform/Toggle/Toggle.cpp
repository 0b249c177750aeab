#include "Toggle/Toggle.h"

#include <cassert>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

std::string& toggleDirOverride() {
  static std::string dir;
  return dir;
}

// A recursive-descent reader for the one shape toggle files have.
class ToggleParser {
 public:
  explicit ToggleParser(std::string_view text) : text_(text) {}

  std::optional<ToggleValues> parse() {
    ToggleValues values;
    skipBlanks();
    if (!take('{')) return std::nullopt;
    skipBlanks();
    if (!take('}')) {
      for (;;) {
        skipBlanks();
        auto name = string();
        if (!name) return std::nullopt;
        skipBlanks();
        if (!take(':')) return std::nullopt;
        skipBlanks();
        auto value = boolean();
        if (!value) return std::nullopt;
        values.insert_or_assign(std::move(*name), *value);
        skipBlanks();
        if (take('}')) break;
        if (!take(',')) return std::nullopt;
      }
    }
    skipBlanks();
    if (pos_ != text_.size()) return std::nullopt;  // trailing garbage
    return values;
  }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }

  bool take(char c) {
    if (atEnd() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }

  bool takeWord(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    pos_ += word.size();
    return true;
  }

  void skipBlanks() {
    while (!atEnd()) {
      char const c = text_[pos_];
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return;
      ++pos_;
    }
  }

  std::optional<std::string> string() {
    if (!take('"')) return std::nullopt;
    std::string out;
    while (!atEnd()) {
      char const c = text_[pos_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;  // raw control character
      if (c != '\\') {
        out += c;
        continue;
      }
      if (atEnd()) return std::nullopt;
      switch (text_[pos_++]) {
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        default: return std::nullopt;
      }
    }
    return std::nullopt;  // unterminated
  }

  std::optional<bool> boolean() {
    if (takeWord("true")) return true;
    if (takeWord("false")) return false;
    return std::nullopt;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

std::optional<ToggleValues> parseToggleFile(std::string_view text) { return ToggleParser(text).parse(); }

void toggleDirIs(std::string dir) { toggleDirOverride() = std::move(dir); }

std::string toggleDir() {
  if (!toggleDirOverride().empty()) return toggleDirOverride();
  char const* env = std::getenv("MCINJECT_TOGGLE_DIR");
  return env ? std::string(env) : std::string();
}

bool getToggleState(char const* name, char const* file, bool defaultValue) {
  assert(name != nullptr && file != nullptr && "toggle name and file are required");
  std::string const dir = toggleDir();
  if (dir.empty() || *file == '\0') return defaultValue;

  std::ifstream in(dir + "/" + file, std::ios::binary);
  if (!in) return defaultValue;
  std::string const text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return defaultValue;

  auto const values = parseToggleFile(text);
  if (!values) return defaultValue;
  auto const it = values->find(std::string_view(name));
  return it != values->end() ? it->second : defaultValue;
}
