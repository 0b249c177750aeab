#include "model/Wirl.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>
#include <deque>
#include <limits>
#include <unordered_map>

#include "model/Hash.h"

namespace Wirl {

namespace {

// Longest IPv6 text form ("ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255").
constexpr std::size_t kMaxAddrText = INET6_ADDRSTRLEN - 1;

std::string ntop(int family, void const* bytes) {
  char buf[INET6_ADDRSTRLEN];
  char const* s = ::inet_ntop(family, bytes, buf, sizeof buf);
  assert(s != nullptr && "inet_ntop cannot fail on a valid buffer");
  return s;
}

}  // namespace

std::ostream& operator<<(std::ostream& os, AddressFamily af) {
  switch (af) {
    case AddressFamily::none: return os << "none";
    case AddressFamily::ipv4: return os << "ipv4";
    case AddressFamily::ipv6: return os << "ipv6";
  }
  return os << "AddressFamily(" << static_cast<unsigned>(af) << ")";
}

std::string IpAddr::stringValue() const { return ntop(AF_INET, bytes_.data()); }

std::string Ip6Addr::stringValue() const { return ntop(AF_INET6, bytes_.data()); }

std::optional<IpGenAddr> IpGenAddr::fromString(std::string_view text) {
  // inet_pton wants a NUL-terminated string; an embedded NUL would make it
  // silently ignore the rest, so reject that up front.
  if (text.empty() || text.size() > kMaxAddrText) return std::nullopt;
  if (text.find('\0') != std::string_view::npos) return std::nullopt;
  char buf[INET6_ADDRSTRLEN];
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';

  Bytes bytes{};
  if (text.find(':') != std::string_view::npos) {
    if (::inet_pton(AF_INET6, buf, bytes.data()) != 1) return std::nullopt;
    return IpGenAddr(AddressFamily::ipv6, bytes);
  }
  if (::inet_pton(AF_INET, buf, bytes.data()) != 1) return std::nullopt;
  return IpGenAddr(AddressFamily::ipv4, bytes);
}

std::string IpGenAddr::stringValue() const {
  switch (af_) {
    case AddressFamily::ipv4: return ntop(AF_INET, bytes_.data());
    case AddressFamily::ipv6: return ntop(AF_INET6, bytes_.data());
    case AddressFamily::none: break;
  }
  return "none";
}

std::size_t IpGenAddr::hash(unsigned int seed) const noexcept {
  std::uint64_t lo;
  std::uint64_t hi;
  std::memcpy(&lo, bytes_.data(), sizeof lo);
  std::memcpy(&hi, bytes_.data() + sizeof lo, sizeof hi);
  std::size_t h = Hashing::mix(lo + (std::uint64_t{seed} * Hashing::kGolden) + static_cast<std::uint64_t>(af_));
  return Hashing::combine(h, hi);
}

std::ostream& operator<<(std::ostream& os, IpAddr const& a) { return os << a.stringValue(); }
std::ostream& operator<<(std::ostream& os, Ip6Addr const& a) { return os << a.stringValue(); }
std::ostream& operator<<(std::ostream& os, IpGenAddr const& a) { return os << a.stringValue(); }

// --- interface names -----------------------------------------------------------

namespace {

struct IntfEntry {
  std::string name;
  bool mcastTunnel;
};

// The process-wide name table. A deque keeps entries in place as it grows, so
// the index can key on views of the stored names and stringValue() can hand out
// references.
class IntfTable {
 public:
  IntfTable() { entries_.push_back({std::string(), false}); }  // id 0: ""

  std::uint32_t intern(std::string_view name) {
    if (auto it = index_.find(name); it != index_.end()) return it->second;
    assert(entries_.size() < std::numeric_limits<std::uint32_t>::max() && "interface id space exhausted");
    auto const id = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back({std::string(name), name.starts_with("Vxlan")});
    index_.emplace(entries_.back().name, id);
    return id;
  }

  IntfEntry const& entry(std::uint32_t id) const {
    assert(id < entries_.size() && "IntfId not from this table");
    return entries_[id];
  }

 private:
  std::deque<IntfEntry> entries_;
  std::unordered_map<std::string_view, std::uint32_t> index_;
};

IntfTable& intfTable() {
  static IntfTable table;
  return table;
}

}  // namespace

IntfId IntfId::fromName(std::string_view name) {
  if (name.empty()) return IntfId();
  assert(validName(name) && "interface name must be printable ASCII, no blanks or '#', at most 64 chars");
  return IntfId(intfTable().intern(name));
}

bool IntfId::validName(std::string_view name) noexcept {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  for (char c : name) {
    // Printable ASCII without the blank: '!' .. '~'.
    if (c <= ' ' || c > '~' || c == '#') return false;
  }
  return true;
}

std::string const& IntfId::stringValue() const { return intfTable().entry(id_).name; }

bool IntfId::isMcastTunnel() const { return id_ != 0 && intfTable().entry(id_).mcastTunnel; }

std::size_t IntfId::hash(unsigned int seed) const noexcept {
  return Hashing::mix(id_ + (std::uint64_t{seed} * Hashing::kGolden));
}

std::ostream& operator<<(std::ostream& os, IntfId intf) { return os << intf.stringValue(); }

namespace VlanIntfId {

Wirl::IntfId vlanIdToIntfId(unsigned short vlan) {
  static std::array<Wirl::IntfId, 4096> cache{};  // empty id = not interned yet
  if (vlan >= cache.size()) return Wirl::IntfId::fromName("Vlan" + std::to_string(vlan));
  Wirl::IntfId& slot = cache[vlan];
  if (slot.isEmpty()) slot = Wirl::IntfId::fromName("Vlan" + std::to_string(vlan));
  return slot;
}

}  // namespace VlanIntfId

}  // namespace Wirl
