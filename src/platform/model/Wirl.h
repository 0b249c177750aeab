// Wirl — network address and interface value types.
//
// IpAddr / Ip6Addr are plain IPv4 / IPv6 addresses (bytes in network order).
// IpGenAddr holds either family, or none: an address family byte followed by
// 16 address bytes, IPv4 using the first 4 and the rest always zero, so ==, <
// and hash work on the raw bytes. All three are trivially copyable and
// ordered family first, then numerically.
//
// IntfId is an interned interface name: a 4-byte id into a process-wide name
// table (id 0 is the empty name). Interning is NOT thread-safe: the table is
// owned by the single event thread; intern and read names from that thread
// only. Ids are handed out in order of first use, so `<` orders by interning
// order, not alphabetically. Interned names live for the whole process.
//
//   auto g = Wirl::IpGenAddr::fromString("239.1.1.1");   // optional
//   if (g && g->isMulticast()) use(*g);
//   Wirl::IntfId vlan10 = Wirl::VlanIntfId::vlanIdToIntfId(10);  // "Vlan10"
#pragma once

#include <array>
#include <bit>
#include <cassert>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace Wirl {

enum class AddressFamily : std::uint8_t { none = 0, ipv4 = 1, ipv6 = 2 };

std::ostream& operator<<(std::ostream& os, AddressFamily af);

// An IPv4 address.
class IpAddr {
 public:
  using Bytes = std::array<std::uint8_t, 4>;

  constexpr IpAddr() noexcept = default;  // 0.0.0.0
  constexpr explicit IpAddr(Bytes const& networkOrder) noexcept : bytes_(networkOrder) {}
  constexpr explicit IpAddr(std::uint32_t hostOrder) noexcept
      : bytes_{static_cast<std::uint8_t>(hostOrder >> 24), static_cast<std::uint8_t>(hostOrder >> 16),
               static_cast<std::uint8_t>(hostOrder >> 8), static_cast<std::uint8_t>(hostOrder)} {}

  constexpr Bytes const& bytes() const noexcept { return bytes_; }
  constexpr std::uint32_t value() const noexcept {  // host order
    return (std::uint32_t{bytes_[0]} << 24) | (std::uint32_t{bytes_[1]} << 16) |
           (std::uint32_t{bytes_[2]} << 8) | std::uint32_t{bytes_[3]};
  }
  constexpr bool isAny() const noexcept { return value() == 0; }
  constexpr bool isMulticast() const noexcept { return (bytes_[0] & 0xf0) == 0xe0; }  // 224/4
  std::string stringValue() const;

  constexpr bool operator==(IpAddr const&) const noexcept = default;
  constexpr auto operator<=>(IpAddr const&) const noexcept = default;

 private:
  Bytes bytes_{};
};

// An IPv6 address.
class Ip6Addr {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  constexpr Ip6Addr() noexcept = default;  // ::
  constexpr explicit Ip6Addr(Bytes const& networkOrder) noexcept : bytes_(networkOrder) {}

  constexpr Bytes const& bytes() const noexcept { return bytes_; }
  constexpr bool isUnspecified() const noexcept {
    for (auto b : bytes_) {
      if (b != 0) return false;
    }
    return true;
  }
  constexpr bool isMulticast() const noexcept { return bytes_[0] == 0xff; }  // ff00::/8
  std::string stringValue() const;

  constexpr bool operator==(Ip6Addr const&) const noexcept = default;
  constexpr auto operator<=>(Ip6Addr const&) const noexcept = default;

 private:
  Bytes bytes_{};
};

// An IPv4 or IPv6 address, or no address (family none).
class IpGenAddr {
 public:
  using Bytes = std::array<std::uint8_t, 16>;

  // Family none, all bytes zero: "no address".
  constexpr IpGenAddr() noexcept = default;
  // The all-zero address of `af` (0.0.0.0, ::, or no address).
  constexpr explicit IpGenAddr(AddressFamily af) noexcept : af_(af) {
    assert(af <= AddressFamily::ipv6 && "unknown address family");
  }
  // From raw bytes (network order). For IPv4 only the first 4 bytes are used,
  // for family none none are: the unused bytes are stored as zero.
  constexpr IpGenAddr(AddressFamily af, Bytes const& bytes) noexcept : af_(af) {
    assert(af <= AddressFamily::ipv6 && "unknown address family");
    std::size_t const n = af == AddressFamily::ipv6 ? 16 : af == AddressFamily::ipv4 ? 4 : 0;
    for (std::size_t i = 0; i < n; ++i) bytes_[i] = bytes[i];
  }
  constexpr explicit IpGenAddr(IpAddr a) noexcept : af_(AddressFamily::ipv4) {
    for (std::size_t i = 0; i < 4; ++i) bytes_[i] = a.bytes()[i];
  }
  constexpr explicit IpGenAddr(Ip6Addr a) noexcept : af_(AddressFamily::ipv6), bytes_(a.bytes()) {}

  static constexpr IpGenAddr v4(std::uint32_t hostOrder) noexcept { return IpGenAddr(IpAddr(hostOrder)); }

  // Parses dotted-quad IPv4 ("10.0.0.1") or IPv6 text ("ff3e::1",
  // "::ffff:1.2.3.4"). Anything else — empty, blanks, trailing characters,
  // missing or out-of-range octets, leading zeros in an octet, zone ids —
  // gives nullopt.
  static std::optional<IpGenAddr> fromString(std::string_view text);

  constexpr AddressFamily af() const noexcept { return af_; }
  constexpr Bytes const& bytes() const noexcept { return bytes_; }
  constexpr IpAddr v4Addr() const noexcept {
    assert(af_ == AddressFamily::ipv4 && "v4Addr of a non-IPv4 address");
    return IpAddr(IpAddr::Bytes{bytes_[0], bytes_[1], bytes_[2], bytes_[3]});
  }
  constexpr Ip6Addr v6Addr() const noexcept {
    assert(af_ == AddressFamily::ipv6 && "v6Addr of a non-IPv6 address");
    return Ip6Addr(bytes_);
  }

  // 0.0.0.0 or ::. Family none is not a wildcard.
  constexpr bool isWildcard() const noexcept { return af_ != AddressFamily::none && allZero(); }
  // A real IPv4/IPv6 address: neither a wildcard nor family none.
  constexpr bool isSpecific() const noexcept { return af_ != AddressFamily::none && !allZero(); }
  // 224.0.0.0/4 or ff00::/8.
  constexpr bool isMulticast() const noexcept {
    return af_ == AddressFamily::ipv4   ? (bytes_[0] & 0xf0) == 0xe0
           : af_ == AddressFamily::ipv6 ? bytes_[0] == 0xff
                                        : false;
  }

  // "239.1.1.1", "ff3e::1" (compressed form), "0.0.0.0", "::"; "none" for
  // family none.
  std::string stringValue() const;
  std::size_t hash(unsigned int seed = 0) const noexcept;

  // Equality needs no byte order: the raw words are compared.
  constexpr bool operator==(IpGenAddr const& o) const noexcept {
    auto const a = std::bit_cast<std::array<std::uint64_t, 2>>(bytes_);
    auto const b = std::bit_cast<std::array<std::uint64_t, 2>>(o.bytes_);
    return af_ == o.af_ && a[0] == b[0] && a[1] == b[1];
  }
  // Family first, then the bytes (numeric order within a family). Compares
  // two 64-bit words: these addresses key every hot tree of the system.
  // Always inlined: it is the comparison inside every hot tree search.
#if defined(__GNUC__) || defined(__clang__)
  [[gnu::always_inline]]
#endif
  constexpr std::strong_ordering operator<=>(IpGenAddr const& o) const noexcept {
    if (af_ != o.af_) return af_ <=> o.af_;
    if (word(0) != o.word(0)) return word(0) <=> o.word(0);
    return word(8) <=> o.word(8);
  }

 private:
  // Eight address bytes from `at` (0 or 8) as a big-endian number: one load
  // and, on a little-endian machine, one byte swap.
  constexpr std::uint64_t word(std::size_t at) const noexcept {
    std::uint64_t const w = std::bit_cast<std::array<std::uint64_t, 2>>(bytes_)[at / 8];
    if constexpr (std::endian::native == std::endian::big) return w;
    return byteSwap(w);
  }
  static constexpr std::uint64_t byteSwap(std::uint64_t w) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(w);
#else
    std::uint64_t r = 0;
    for (int i = 0; i < 8; ++i, w >>= 8) r = (r << 8) | (w & 0xff);
    return r;
#endif
  }

  constexpr bool allZero() const noexcept {
    for (auto b : bytes_) {
      if (b != 0) return false;
    }
    return true;
  }

  AddressFamily af_ = AddressFamily::none;
  Bytes bytes_{};
};

std::ostream& operator<<(std::ostream& os, IpAddr const& a);
std::ostream& operator<<(std::ostream& os, Ip6Addr const& a);
std::ostream& operator<<(std::ostream& os, IpGenAddr const& a);

// An interned interface name ("Ethernet1", "Vlan10", "Vxlan1").
class IntfId {
 public:
  static constexpr std::size_t kMaxNameLength = 64;

  constexpr IntfId() noexcept = default;  // the empty interface (id 0)

  // The id of `name`, interning it on first use. Precondition: `name` is empty
  // (giving the empty interface) or validName(name). Event thread only.
  static IntfId fromName(std::string_view name);
  // Non-empty, at most 64 characters, printable ASCII without blanks or '#'.
  static bool validName(std::string_view name) noexcept;

  std::string const& stringValue() const;
  // The name starts with "Vxlan" (decided once, when the name was interned).
  bool isMcastTunnel() const;
  constexpr std::uint32_t id() const noexcept { return id_; }
  constexpr bool isEmpty() const noexcept { return id_ == 0; }
  std::size_t hash(unsigned int seed = 0) const noexcept;

  constexpr bool operator==(IntfId const&) const noexcept = default;
  // Interning order; stable within a process, not alphabetical.
  constexpr auto operator<=>(IntfId const&) const noexcept = default;

 private:
  constexpr explicit IntfId(std::uint32_t id) noexcept : id_(id) {}
  std::uint32_t id_ = 0;
};

std::ostream& operator<<(std::ostream& os, IntfId intf);

namespace VlanIntfId {
// The VLAN interface "Vlan<vlan>". VLANs 0..4095 are cached after their first
// use, so repeated calls do not touch the name table. Event thread only.
Wirl::IntfId vlanIdToIntfId(unsigned short vlan);
}  // namespace VlanIntfId

}  // namespace Wirl

namespace Multicast::Tunnel::McastTunnelIntfId {
// True exactly for interfaces whose name starts with "Vxlan".
inline bool isMcastTunnelIntfId(Wirl::IntfId intf) { return intf.isMcastTunnel(); }
}  // namespace Multicast::Tunnel::McastTunnelIntfId

template <>
struct std::hash<Wirl::IpGenAddr> {
  std::size_t operator()(Wirl::IpGenAddr const& a) const noexcept { return a.hash(); }
};

template <>
struct std::hash<Wirl::IntfId> {
  std::size_t operator()(Wirl::IntfId i) const noexcept { return i.hash(); }
};
