#include "Text.h"

#include <algorithm>

namespace Mcinject {

namespace {

// Length of the valid UTF-8 sequence at `text[i]` (a printable code point
// of two or more bytes), or 0.
std::size_t utf8Length(std::string_view text, std::size_t i) {
  auto const b = static_cast<unsigned char>(text[i]);
  std::size_t n = b >= 0xf0 && b <= 0xf4 ? 4 : b >= 0xe0 ? 3 : b >= 0xc2 && b <= 0xdf ? 2 : 0;
  if (n == 0 || b > 0xf4 || i + n > text.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
  }
  // C1 controls (U+0080..U+009F) are controls too.
  if (n == 2 && b == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0) return 0;
  return n;
}

std::string escapedUpTo(std::string_view text, std::size_t maxChars, bool* cut) {
  static constexpr char hex[] = "0123456789abcdef";
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size(); ++chars) {
    if (chars == maxChars) {
      *cut = true;
      return out;
    }
    auto const b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b < 0x7f) {
      out.push_back(text[i++]);
    } else if (std::size_t n = b >= 0x80 ? utf8Length(text, i) : 0) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out += "\\x";
      out.push_back(hex[b >> 4]);
      out.push_back(hex[b & 15]);
      ++i;
    }
  }
  *cut = false;
  return out;
}

}  // namespace

std::string escaped(std::string_view text) {
  bool cut = false;
  return escapedUpTo(text, text.size() + 1, &cut);
}

std::string quoted(std::string_view text) {
  bool cut = false;
  std::string body = escapedUpTo(text, kMaxEchoed, &cut);
  return "'" + body + (cut ? "...'" : "'");
}

std::string plural(std::uint64_t n, char const* one, char const* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

std::string alternativesText(std::vector<std::string> const& items, char const* last) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += i + 1 == items.size() ? last : ", ";
    out += items[i];
  }
  return out;
}

std::optional<std::string> closestTo(std::string_view word, std::vector<std::string> const& candidates) {
  if (word.size() > 32) return std::nullopt;
  std::optional<std::string> best;
  std::size_t bestDistance = 3;
  for (std::string const& c : candidates) {
    // Optimal string alignment distance: edits, with a swap of neighbours as one.
    std::size_t const n = word.size(), m = c.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
      for (std::size_t j = 1; j <= m; ++j) {
        std::size_t const cost = word[i - 1] == c[j - 1] ? 0 : 1;
        d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
        if (i > 1 && j > 1 && word[i - 1] == c[j - 2] && word[i - 2] == c[j - 1]) {
          d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
      }
    }
    std::size_t const distance = d[n][m];
    if (distance < bestDistance && 2 * distance < std::max(n, m)) {
      bestDistance = distance;
      best = c;
    }
  }
  return best;
}

}  // namespace Mcinject
