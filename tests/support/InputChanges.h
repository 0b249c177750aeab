// InputChanges — random changes to the inputs of an inject path, drawn from a
// ChoiceSource: a seeded PRNG for the randomized tests, the bytes of an input
// for the fuzzers. The same source gives the same changes, so a seed (or a
// byte string) replays exactly.
//
// InputWorld holds the inputs of one path:
//   L3:  one local membership status ("local") and the tunnel VLAN group status;
//   VPN: a membership status collection (local statuses "local", "local2",
//        peer statuses "peer1", "peer2", each present or not), the tunnel VLAN
//        group status and the IRB status (vlanToSbd).
// A change is one of: an in-place edit of a membership tree at any depth
// (VLAN entry, group incl. 0.0.0.0 / :: / IPv6, source, interface incl. the
// tunnel interfaces "Vxlan1"/"Vxlan2"); the replacement of a VLAN entry, group
// entry, source entry or whole status by another object with the same key;
// mapping edits (routes in place, mappings keyed by a specific group, a
// wildcard or no group, replacement of a mapping or of the whole tunnel
// status); SBD assignments of any VLAN and the replacement of an SBD VLAN
// state. Replacements the path sees only through its own API go through the
// hooks, which the harness points at the running path.
//
// Not thread-safe; entities are changed on the calling thread.
//
//   TestSupport::SeededChoices choices(7);
//   TestSupport::InputWorld world(TestSupport::PathKind::l3);
//   std::string what = world.change(choices);   // e.g. "local local vlan 10 group 239.1.1.1"
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <random>
#include <span>
#include <string>

#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"
#include "model/IpTunnelVlanGroupStatus.h"
#include "model/McastIrbStatus.h"
#include "model/MembershipJoinStatus.h"

namespace TestSupport {

// Where the choices of a change sequence come from.
class ChoiceSource {
 public:
  virtual ~ChoiceSource() = default;
  // A number in [0, n). Precondition: 0 < n <= 256.
  virtual unsigned below(unsigned n) = 0;
  bool percent(unsigned p) { return below(100) < p; }
};

// A seeded PRNG: the same seed gives the same choices on every run.
class SeededChoices final : public ChoiceSource {
 public:
  explicit SeededChoices(std::uint64_t seed) : rng_(seed) {}
  unsigned below(unsigned n) override;

 private:
  std::mt19937_64 rng_;
};

// The bytes of a fuzz input, one byte per choice. Once they run out every
// choice is 0 and exhausted() is true.
class ByteChoices final : public ChoiceSource {
 public:
  explicit ByteChoices(std::span<std::uint8_t const> bytes) : bytes_(bytes) {}
  unsigned below(unsigned n) override;
  bool exhausted() const noexcept { return pos_ >= bytes_.size(); }

 private:
  std::span<std::uint8_t const> bytes_;
  std::size_t pos_ = 0;
};

enum class PathKind { l3, vpn };

class InputWorld {
 public:
  using StatusPtr = Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus>;
  using StatusMap = std::map<std::string, StatusPtr>;

  explicit InputWorld(PathKind kind);

  PathKind kind() const noexcept { return kind_; }

  // L3: the status the path observes. VPN: the collection's "local" status,
  // or null while it is not in the collection.
  StatusPtr local() const;
  // Statuses present, by name (VPN: as in the collection).
  StatusMap const& locals() const noexcept { return locals_; }
  StatusMap const& peers() const noexcept { return peers_; }

  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> const& tunnel() const noexcept { return tunnel_; }
  // VPN only (null for L3).
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> const& coll() const noexcept { return coll_; }
  Vorn::Ptr<Irb::Multicast::McastIrbStatus> const& irb() const noexcept { return irb_; }

  // Re-points of whole inputs that the L3 path learns through its own API;
  // unset while no path runs.
  std::function<void(Vorn::Ptr<Irb::Multicast::Gmp::MembershipJoinStatus const> const&)> membershipStatusRepointed;
  std::function<void(Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus const> const&)> tunnelStatusRepointed;
  // The SBD-to-VLAN status a running VPN path keeps (null when none).
  std::function<Vorn::Ptr<Irb::Multicast::SbdToVlanStatus>()> sbdToVlanStatus;

  // Applies one change drawn from `choices` and says what it did, in words
  // close to the scenario language.
  std::string change(ChoiceSource& choices);

 private:
  std::string membershipEdit(ChoiceSource& c, bool adding);
  std::string replaceInMembership(ChoiceSource& c, int level);
  std::string replaceStatus(ChoiceSource& c);
  std::string collectionEdit(ChoiceSource& c);
  std::string mappingEdit(ChoiceSource& c, int what);
  std::string replaceTunnelStatus(ChoiceSource& c);
  std::string sbdEdit(ChoiceSource& c, int what);
  std::string replaceSbdState(ChoiceSource& c);

  // Picks a present status (local or peer); null when none is present.
  StatusPtr pickStatus(ChoiceSource& c, std::string* name);

  PathKind kind_;
  StatusMap locals_;
  StatusMap peers_;
  Vorn::Ptr<Routing::Multicast::IpTunnelVlanGroupStatus> tunnel_;
  Vorn::Ptr<Irb::Multicast::Egress::MembershipJoinStatusColl> coll_;
  Vorn::Ptr<Irb::Multicast::McastIrbStatus> irb_;
};

}  // namespace TestSupport
