// ChangeSetProbe — what the change trackers recorded since the last look.
//
// Reads an OverlayChangeSet the way its consumer does: the keys present and
// how often `changed` moved. `take()` empties the set and restarts the count,
// so a test can check one event at a time.
//
//   ChangeSetProbe probe(changeSet);
//   ... change an input ...
//   EXPECT_EQ(probe.keys(), (ChangeSetProbe::Keys{key(10, "239.1.1.1")}));
//   EXPECT_EQ(probe.bumps(), 1u);
#pragma once

#include <cstdint>
#include <set>

#include "Pim/vpn/OverlayMembershipChangeSm.h"
#include "Pim/vpn/SbdVlanChangeSm.h"

namespace TestSupport {

class ChangeSetProbe {
 public:
  using Keys = std::set<Routing::Multicast::OverlayVlanGroup>;

  explicit ChangeSetProbe(Vorn::Ptr<Irb::Multicast::Egress::OverlayChangeSet> changeSet)
      : changeSet_(std::move(changeSet)), base_(changeSet_->changed()) {}

  Keys keys() const {
    Keys out;
    for (auto const& k : changeSet_->vlanGroup()) out.insert(k);
    return out;
  }
  // Increments of `changed` since construction or the last take().
  std::uint32_t bumps() const { return changeSet_->changed() - base_; }
  // Empties the set and restarts the count.
  void take() {
    changeSet_->vlanGroupDelAll();
    base_ = changeSet_->changed();
  }

 private:
  Vorn::Ptr<Irb::Multicast::Egress::OverlayChangeSet> changeSet_;
  std::uint32_t base_;
};

}  // namespace TestSupport
