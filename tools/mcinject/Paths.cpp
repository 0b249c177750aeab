#include "Paths.h"

#include <cassert>

#include "Pim/l3/L3InjectSm.h"
#include "Pim/vpn/VpnInjectSm.h"

namespace Mcinject {

namespace {

class L3Path : public InjectPath {
 public:
  explicit L3Path(PathInputs const& in)
      : name_(in.localStatus->name().stdString()),
        sm_(Irb::Multicast::Egress::l3InjectSmFactory(in.localStatus, in.tunnelVlanGroupStatus, in.gmpStatus)) {}
  PathKind kind() const override { return PathKind::l3; }
  std::string const& localName() const override { return name_; }
  Vorn::Ptr<Irb::Multicast::Egress::OverlayChangeSet const> changeSet() const override { return nullptr; }
  Irb::Multicast::Egress::JoinProvenance joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const override {
    return sm_->joinProvenance(key);
  }
  Irb::Multicast::Egress::InjectCounters counters() const override { return sm_->counters(); }

 private:
  std::string name_;
  Vorn::Ptr<Irb::Multicast::Egress::L3InjectSm> sm_;
};

class VpnPath : public InjectPath {
 public:
  explicit VpnPath(PathInputs const& in)
      : sm_(Irb::Multicast::Egress::vpnInjectSmFactory(in.scheduler, in.membershipColl, in.tunnelVlanGroupStatus,
                                                       in.mcastIrbStatus, in.gmpStatus)) {}
  PathKind kind() const override { return PathKind::vpn; }
  std::string const& localName() const override { return noName_; }
  Vorn::Ptr<Irb::Multicast::Egress::OverlayChangeSet const> changeSet() const override { return sm_->changeSet(); }
  Irb::Multicast::Egress::JoinProvenance joinProvenance(Routing::Gmp::Brim::RouteIntfKey const& key) const override {
    return sm_->joinProvenance(key);
  }
  Irb::Multicast::Egress::InjectCounters counters() const override { return sm_->counters(); }

 private:
  std::string noName_;
  Vorn::Ptr<Irb::Multicast::Egress::VpnInjectSm> sm_;
};

}  // namespace

std::unique_ptr<InjectPath> pathIs(PathKind kind, PathInputs const& inputs) {
  if (kind == PathKind::vpn) return std::make_unique<VpnPath>(inputs);
  assert(inputs.localStatus && "the L3 path needs its local status");
  return std::make_unique<L3Path>(inputs);
}

}  // namespace Mcinject
