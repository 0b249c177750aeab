// The library's trace handles, one per source module, created on first use:
//   "Pim::L3InjectSm"                 file "/src/Pim/L3InjectSm"
//   "VpnInjectSm::OverlayMembership"  file "/src/Pim/OverlayMembershipSm"
//   "VpnInjectSm"                     file "/src/Pim/VpnInjectSm"
// Level 7: Joins written and deleted, stale Joins removed, walk events (also
// to the Flit ring buffer); level 8: handler entry and decisions; level 9:
// detail.
#pragma once

#include "Vorn/Trace.h"

namespace Irb::Multicast::Egress {

inline constexpr char const* kL3InjectSmFile = "/src/Pim/L3InjectSm";
inline constexpr char const* kOverlayMembershipSmFile = "/src/Pim/OverlayMembershipSm";
inline constexpr char const* kVpnInjectSmFile = "/src/Pim/VpnInjectSm";

// Every handler's trace sites ask for their handle, mostly with tracing off:
// the accessors are always inlined so that asking costs a guard check.
#if defined(__GNUC__) || defined(__clang__)
#define MCINJECT_TRACE_ACCESSOR [[gnu::always_inline]] inline
#else
#define MCINJECT_TRACE_ACCESSOR inline
#endif

MCINJECT_TRACE_ACCESSOR Vorn::TraceHandle& l3InjectSmTrace() {
  static Vorn::TraceHandle handle("Pim::L3InjectSm", true);
  return handle;
}

MCINJECT_TRACE_ACCESSOR Vorn::TraceHandle& overlayMembershipTrace() {
  static Vorn::TraceHandle handle("VpnInjectSm::OverlayMembership", true);
  return handle;
}

MCINJECT_TRACE_ACCESSOR Vorn::TraceHandle& vpnInjectSmTrace() {
  static Vorn::TraceHandle handle("VpnInjectSm", true);
  return handle;
}

}  // namespace Irb::Multicast::Egress

// Level-`level` statements of each module, at the line the module gives them.
#define L3_TRACE8(line, function, expr)                                                                \
  VORN_TRACE(::Irb::Multicast::Egress::l3InjectSmTrace(), 8, ::Irb::Multicast::Egress::kL3InjectSmFile, line, \
             function, expr)
#define VPN_TRACE(level, line, function, expr)                                                          \
  VORN_TRACE(::Irb::Multicast::Egress::vpnInjectSmTrace(), level, ::Irb::Multicast::Egress::kVpnInjectSmFile, \
             line, function, expr)
