#include "Lexer.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Mcinject {

namespace {

// Bit i of `blank` for byte i of the 16 at `p` that is a blank or a newline,
// of `stop` for a '#' or a newline (where the words end).
struct Masks {
  std::uint32_t blank = 0;
  std::uint32_t stop = 0;
};

Masks masks16(char const* p) {
#if defined(__SSE2__)
  __m128i const v = _mm_loadu_si128(reinterpret_cast<__m128i const*>(p));
  // '\t' '\n' '\v' '\f' '\r' are 9..13: v - 9 is at most 4, unsigned.
  __m128i const low = _mm_sub_epi8(v, _mm_set1_epi8(9));
  __m128i const control = _mm_cmpeq_epi8(_mm_min_epu8(low, _mm_set1_epi8(4)), low);
  __m128i const blank = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8(' ')), control);
  __m128i const stop = _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('#')), _mm_cmpeq_epi8(v, _mm_set1_epi8('\n')));
  return {static_cast<std::uint32_t>(_mm_movemask_epi8(blank)), static_cast<std::uint32_t>(_mm_movemask_epi8(stop))};
#else
  Masks m;
  for (unsigned i = 0; i < 16; ++i) {
    if ((p[i] >= '\t' && p[i] <= '\r') || p[i] == ' ') m.blank |= 1u << i;
    if (p[i] == '#' || p[i] == '\n') m.stop |= 1u << i;
  }
  return m;
#endif
}

}  // namespace

void splitWords(std::string_view line, std::vector<std::string_view>& words) {
  // The line is looked at 64 bytes at a time: a bit per byte says whether it
  // is part of a word; a word starts where a word bit follows a blank one
  // and ends where a blank bit follows a word one. Bytes past the end, and
  // from a comment or a newline on, count as blanks.
  words.clear();
  char const* const data = line.data();
  std::size_t const n = line.size();
  bool inWord = false;
  std::size_t start = 0;
  for (std::size_t base = 0; base < n; base += 64) {
    std::uint64_t blank = 0;
    std::uint64_t stop = 0;
    for (unsigned k = 0; k < 64; k += 16) {
      std::size_t const at = base + k;
      Masks m;
      if (at + 16 <= n) {
        m = masks16(data + at);
      } else if (n >= 16) {
        // The last 16 bytes of the line, shifted to line up with `at`.
        m = masks16(data + n - 16);
        unsigned const shift = static_cast<unsigned>(at + 16 - n);
        m.blank = (m.blank >> shift) | (0xffffu << (16 - shift));
        m.stop >>= shift;
      } else {
        char tail[16];
        std::memset(tail, ' ', sizeof tail);
        if (at < n) std::memcpy(tail, data + at, n - at);
        m = masks16(tail);
      }
      blank |= std::uint64_t{m.blank} << k;
      stop |= std::uint64_t{m.stop} << k;
      if (at + 16 >= n) {
        if (k + 16 < 64) blank |= ~std::uint64_t{0} << (k + 16);
        break;
      }
    }
    if (stop) blank |= ~std::uint64_t{0} << std::countr_zero(stop);
    std::uint64_t const word = ~blank;
    std::uint64_t const before = (word << 1) | (inWord ? 1 : 0);  // bit i: byte i - 1 is a word's
    std::uint64_t starts = word & ~before;
    std::uint64_t ends = blank & before;
    // Starts and ends alternate; a word that began in an earlier block ends
    // first, and the last one may run on into the next block.
    if (inWord && ends) {
      words.emplace_back(data + start, base + static_cast<std::size_t>(std::countr_zero(ends)) - start);
      ends &= ends - 1;
      inWord = false;
    }
    while (starts) {
      start = base + static_cast<std::size_t>(std::countr_zero(starts));
      starts &= starts - 1;
      if (!ends) {
        inWord = true;
        break;
      }
      words.emplace_back(data + start, base + static_cast<std::size_t>(std::countr_zero(ends)) - start);
      ends &= ends - 1;
    }
    if (stop) return;
  }
  if (inWord) words.emplace_back(data + start, n - start);
}

std::vector<std::string> splitWords(std::string_view line) {
  std::vector<std::string_view> views;
  splitWords(line, views);
  return std::vector<std::string>(views.begin(), views.end());
}

}  // namespace Mcinject
