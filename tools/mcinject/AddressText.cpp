#include "AddressText.h"

namespace Mcinject {

namespace {

using Bytes = Wirl::IpGenAddr::Bytes;

// Longest text of an address ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255").
constexpr std::size_t kMaxAddressText = 45;

int hexValue(char c) noexcept {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A dotted quad, the whole of `text`.
bool dottedQuad(std::string_view text, std::uint8_t* out) noexcept {
  char const* const end = text.data() + text.size();
  return dottedQuadPrefix(text.data(), end, out) == end;
}

// IPv6 text: groups of 1 to 4 hex digits separated by ':', at most one "::"
// standing for one or more zero groups, optionally a dotted quad as the last
// two groups. Exactly 16 bytes in all.
bool ipv6(std::string_view text, Bytes& out) noexcept {
  constexpr std::size_t kNoGap = 17;  // not a byte position: no "::" (one may stand at 16)
  std::size_t const end = text.size();
  std::size_t i = 0;
  if (text[0] == ':') {
    if (end < 2 || text[1] != ':') return false;  // a lone leading ':'
    i = 1;                                        // the second ':' opens the "::" below
  }
  Bytes bytes{};
  std::size_t at = 0;        // next byte to fill
  std::size_t gap = kNoGap;  // where "::" stood
  std::size_t token = i;     // start of the current group
  unsigned value = 0;
  unsigned digits = 0;
  while (i < end) {
    char const c = text[i++];
    int const h = hexValue(c);
    if (h >= 0) {
      if (digits == 4) return false;
      value = (value << 4) | static_cast<unsigned>(h);
      ++digits;
      continue;
    }
    if (c == ':') {
      token = i;
      if (digits == 0) {
        if (gap != kNoGap) return false;  // a second "::", or ":::"
        gap = at;
        continue;
      }
      if (i == end) return false;  // a trailing single ':'
      if (at + 2 > 16) return false;
      bytes[at++] = static_cast<std::uint8_t>(value >> 8);
      bytes[at++] = static_cast<std::uint8_t>(value);
      digits = 0;
      value = 0;
      continue;
    }
    // The digits of this group were the first octet of a dotted quad.
    if (c == '.' && at + 4 <= 16 && dottedQuad(text.substr(token), bytes.data() + at)) {
      at += 4;
      digits = 0;
      break;
    }
    return false;
  }
  if (digits > 0) {
    if (at + 2 > 16) return false;
    bytes[at++] = static_cast<std::uint8_t>(value >> 8);
    bytes[at++] = static_cast<std::uint8_t>(value);
  }
  if (gap != kNoGap) {
    if (at == 16) return false;  // "::" would stand for no group
    std::size_t const tail = at - gap;
    for (std::size_t k = 0; k < tail; ++k) out[16 - tail + k] = bytes[gap + k];
    for (std::size_t k = 0; k < 16 - tail; ++k) out[k] = k < gap ? bytes[k] : 0;
    return true;
  }
  if (at != 16) return false;
  out = bytes;
  return true;
}

// dottedQuadPrefix; `Checked`: the text may end before 16 bytes, each read
// is checked against `end` (a byte past it reads as NUL, which stops the
// quad as the end does).
template <bool Checked>
char const* quadPrefix(char const* p, char const* end, std::uint8_t* out) noexcept {
  auto const at = [end](char const* q) { return Checked && q == end ? '\0' : *q; };
  auto const digit = [](char c) { return static_cast<unsigned>(static_cast<unsigned char>(c - '0')); };
  for (unsigned k = 0; k < 4; ++k) {
    if (k > 0) {
      if (at(p) != '.') return nullptr;
      ++p;
    }
    unsigned value = digit(at(p));
    if (value > 9) return nullptr;
    ++p;
    if (unsigned const d2 = digit(at(p)); d2 <= 9) {
      if (value == 0) return nullptr;  // a leading zero
      value = value * 10 + d2;
      ++p;
      if (unsigned const d3 = digit(at(p)); d3 <= 9) {
        value = value * 10 + d3;
        ++p;
        // A fourth digit makes at least 1000.
        if (value > 255 || digit(at(p)) <= 9) return nullptr;
      }
    }
    out[k] = static_cast<std::uint8_t>(value);
  }
  return p;
}

}  // namespace

char const* dottedQuadPrefix(char const* p, char const* end, std::uint8_t* out) noexcept {
  // The longest quad and the byte after it are 16 bytes.
  if (end - p >= 16) return quadPrefix<false>(p, end, out);
  return quadPrefix<true>(p, end, out);
}

std::optional<Wirl::IpGenAddr> addressOf(std::string_view text) noexcept {
  if (text.empty() || text.size() > kMaxAddressText) return std::nullopt;
  Bytes bytes{};
  // A dotted quad holds no ':': when it reads, the word is IPv4.
  if (dottedQuad(text, bytes.data())) return Wirl::IpGenAddr(Wirl::AddressFamily::ipv4, bytes);
  if (text.find(':') == std::string_view::npos || !ipv6(text, bytes)) return std::nullopt;
  return Wirl::IpGenAddr(Wirl::AddressFamily::ipv6, bytes);
}

}  // namespace Mcinject
