// AddressText — IPv4 and IPv6 literals read straight from a word.
//
// Accepts and rejects exactly what Wirl::IpGenAddr::fromString does (the
// strict dotted quad and the IPv6 text forms of inet_pton: no leading zero in
// an octet, at most four hex digits a group, one "::", a dotted quad only as
// the last 32 bits, no zone id), with the same result, but without copying
// the word or calling into the C library: a scenario of 100K lines reads
// several addresses a line. A word holding ':' is IPv6, any other IPv4.
// Pure function, safe anywhere.
//
//   auto a = Mcinject::addressOf("ff3e::1");   // optional<IpGenAddr>
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "model/Wirl.h"

namespace Mcinject {

std::optional<Wirl::IpGenAddr> addressOf(std::string_view text) noexcept;

// The dotted quad [p, end) starts with: its four bytes into out[0..3] and
// where it stops; nullptr when the text does not start with one. What comes
// after is not looked at (a word "1.2.3.4x" starts with a dotted quad and
// is no address): the caller checks that the word ends there.
char const* dottedQuadPrefix(char const* p, char const* end, std::uint8_t* out) noexcept;

}  // namespace Mcinject
