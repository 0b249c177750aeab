// Text — how the program shows words it was given, and small wording helpers.
//
// Input echoed in a message is shown quoted, with every control byte (and
// every byte that is not part of valid UTF-8) written as \xHH, and cut after
// kMaxEchoed characters with "...": a 10 MB word, an escape sequence or the
// bytes of a binary file then cannot flood or drive the terminal. Pure
// functions, safe anywhere.
//
//   quoted("map\x1b[2J")   // "'map\x1b[2J'" with the escape spelt out
//   plural(1, "item", "items")   // "1 item"
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Mcinject {

inline constexpr std::size_t kMaxEchoed = 64;

// `text` with control and invalid bytes as \xHH; not cut, not quoted.
std::string escaped(std::string_view text);
// 'text', escaped and cut after kMaxEchoed characters ("..." marks the cut).
std::string quoted(std::string_view text);

std::string plural(std::uint64_t n, char const* one, char const* many);
// "a", "a or b", "a, b or c".
std::string alternativesText(std::vector<std::string> const& items, char const* last = " or ");

// The candidate closest to `word` when it is close enough to be a slip of
// the keyboard (at most two edits, and fewer than half the word's length).
std::optional<std::string> closestTo(std::string_view word, std::vector<std::string> const& candidates);

}  // namespace Mcinject
