#include "Help.h"

#include <string>
#include <vector>

#include "Keel/TaskScheduler.h"

namespace Mcinject {

namespace {

struct Entry {
  char const* section;
  char const* topic;  // the command word `help TOPIC` matches
  std::string syntax;
  std::string text;
};

std::vector<Entry> const& entries() {
  static std::vector<Entry> const all = {
      {"Inputs (before or after 'start'; a running path sees each as the change it is)", "local",
       "local NAME vlan V [group G [source S [intf I ...]]]",
       "ensure the local membership join status NAME holds these entries; a missing level\n"
       "is created with what the line gives and attached in one change"},
      {nullptr, "peer", "peer NAME vlan V [group G [source S [intf I ...]]]", "the same for a peer status"},
      {nullptr, "no", "no local|peer NAME [vlan V [group G [source S [intf I ...]]]]",
       "remove the status, or the deepest level named with all it holds, or the interfaces\n"
       "listed; 'no local NAME' is refused while the L3 path runs on NAME"},
      {nullptr, "map", "map vlan V [group G] [route S G2 [tunnel T]]",
       "ensure the mapping of overlay VLAN group (V, G) exists (no group: the whole-VLAN\n"
       "mapping of V) and lists the underlay route (S, G2, T)"},
      {nullptr, "no", "no map vlan V [group G] [route S G2 [tunnel T]]", "remove the route from the mapping, or the mapping"},
      {nullptr, "sbd", "sbd vlan V SBD", "VLAN V is served by SBD VLAN SBD"},
      {nullptr, "no", "no sbd vlan V", "VLAN V has no SBD VLAN"},
      {nullptr, "gmp", "gmp S G I",
       "write the entry (S, G, I) with value 1 into the GMP status table, as an earlier\n"
       "run of the agent would have left it"},
      {nullptr, "toggle", "toggle NAME on|off",
       "set a feature toggle of the toggle file Pim.json (PimL3TunnelInject: on gives\n"
       "(*,G) Joins, off (S,G) Joins); only before the first 'start' of the process"},
      {nullptr, "corrupt", "corrupt gmp|sbd",
       "the next read of the GMP status table (the L3 start-up walk) / of the IRB\n"
       "status's vlanToSbd table (the VPN path's change trackers, on a group change)\n"
       "reports a corruption"},

      {"Paths and scheduling", "start", "start l3 [NAME]",
       "start the L3 inject path on local status NAME (default 'local', created empty\n"
       "if missing), the IP tunnel VLAN group status and the GMP status table"},
      {nullptr, "start", "start vpn",
       "start the VPN inject path on the scheduler, all membership statuses, the IP\n"
       "tunnel VLAN group status, the IRB status and the GMP status table"},
      {nullptr, "stop", "stop", "drop the running path; its teardown withdraws its Joins"},
      {nullptr, "hold", "hold",
       "from now on leave queued scheduler work for 'step' and 'release' (by default the\n"
       "scheduler runs until idle after every command)"},
      {nullptr, "release", "release", "end 'hold' and run the scheduler until idle now"},
      {nullptr, "step", "step [N]", "run N task slices (default 1)"},
      {nullptr, "budget", "budget N",
       "a walk slice yields after N items (default " + std::to_string(Keel::TaskScheduler::kDefaultItemBudget) +
           ", the scheduler's own\n"
           "default; 0: unlimited)"},

      {"Looking and checking", "show", "show joins", "the GMP status table, sorted by interface, group, source, with a count"},
      {nullptr, "show", "show changeset",
       "the overlay VLAN groups waiting for the VPN path's review, the changed counter\n"
       "and the scheduler's state"},
      {nullptr, "show", "show inputs", "the inputs, as the lines that would build them again"},
      {nullptr, "trace", "trace SETTINGS",
       "text trace: HANDLE=LEVELS[,HANDLE=LEVELS...], HANDLE one of Pim::L3InjectSm,\n"
       "VpnInjectSm, VpnInjectSm::OverlayMembership or *, LEVELS like 7, 7-9, 8,9\n"
       "(7 Joins and walk events, 8 handler decisions, 9 detail); 'trace off' stops it"},
      {nullptr, "trace", "trace file PATH", "write the text trace to PATH (appending); 'trace file -': standard error"},
      {nullptr, "expect", "expect join S G I", "fail unless the table holds the entry (S, G, I) with value 1"},
      {nullptr, "expect", "expect no join S G I", "fail if the table holds an entry with that key"},
      {nullptr, "expect", "expect joins N", "fail unless the table holds exactly N entries"},
      {nullptr, "expect", "expect changeset N", "fail unless N overlay VLAN groups wait for review (VPN path)"},
      {nullptr, "expect", "expect corruptions gmp|sbd N", "fail unless the table has reported N corruptions so far"},
      {nullptr, "help", "help [COMMAND]", "this list, or the entries of one command"},
      {nullptr, "quit", "quit", "stop reading the current input (also 'exit'; Ctrl-D at the prompt)"},
  };
  return all;
}

constexpr char const* kValues =
    "Values:\n"
    "  V, SBD  a VLAN, 1..4094\n"
    "  G       a multicast group address, IPv4 or IPv6; in local, peer and map also\n"
    "          0.0.0.0 or ::, which stand for every group of the VLAN\n"
    "  S       a source address of the group's family; '*' is any source (a (*,G) entry)\n"
    "  I       an interface name; Vlan<N> is the interface of VLAN N, a name starting\n"
    "          with Vxlan is a multicast tunnel interface\n"
    "  NAME    a membership join status name, any word\n"
    "  T       a tunnel type: vxlan (the default) or gre\n"
    "One command a line; '#' starts a comment. Unless 'hold' is in force, the scheduler\n"
    "runs until idle after every command, so 'show' and 'expect' see a converged state.\n";

void indented(std::ostream& out, std::string const& text, char const* indent) {
  out << indent;
  for (char c : text) {
    out << c;
    if (c == '\n') out << indent;
  }
  out << '\n';
}

}  // namespace

bool printHelp(std::ostream& out, std::string const& topic) {
  bool any = false;
  char const* section = nullptr;
  for (Entry const& e : entries()) {
    if (e.section) section = e.section;
    if (!topic.empty() && topic != e.topic) continue;
    if (!any || e.section) {
      if (any) out << '\n';
      if (topic.empty()) out << section << ":\n";
    }
    any = true;
    indented(out, e.syntax, "  ");
    indented(out, e.text, "      ");
  }
  if (!any) return false;
  if (topic.empty()) out << '\n' << kValues;
  return true;
}

}  // namespace Mcinject
