#include "Paths.h"

#include <cassert>

// The build says which paths the library carries (see CMakeLists.txt).
#ifndef MCINJECT_HAVE_L3_PATH
#define MCINJECT_HAVE_L3_PATH 0
#endif
#ifndef MCINJECT_HAVE_VPN_PATH
#define MCINJECT_HAVE_VPN_PATH 0
#endif

#if MCINJECT_HAVE_L3_PATH
#include "Pim/l3/L3InjectSm.h"
#endif
#if MCINJECT_HAVE_VPN_PATH
#include "Pim/vpn/VpnInjectSm.h"
#endif

namespace Mcinject {

namespace {

#if MCINJECT_HAVE_L3_PATH
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
#endif

#if MCINJECT_HAVE_VPN_PATH
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
#endif

}  // namespace

bool pathAvailable(PathKind kind) {
  return kind == PathKind::l3 ? MCINJECT_HAVE_L3_PATH != 0 : MCINJECT_HAVE_VPN_PATH != 0;
}

std::unique_ptr<InjectPath> pathIs(PathKind kind, [[maybe_unused]] PathInputs const& inputs) {
  assert(pathAvailable(kind) && "pathIs for a path this build does not carry");
#if MCINJECT_HAVE_L3_PATH
  if (kind == PathKind::l3) {
    assert(inputs.localStatus && "the L3 path needs its local status");
    return std::make_unique<L3Path>(inputs);
  }
#endif
#if MCINJECT_HAVE_VPN_PATH
  if (kind == PathKind::vpn) return std::make_unique<VpnPath>(inputs);
#endif
  return nullptr;
}

}  // namespace Mcinject
