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

#include <optional>
#include <string_view>

#include "model/Wirl.h"

namespace Mcinject {

std::optional<Wirl::IpGenAddr> addressOf(std::string_view text) noexcept;

}  // namespace Mcinject
