// SharedTable — the scenario program's use of a shared-memory status table.
//
// OVERVIEW
//   `mcinject --table NAME FILE...` runs the scenarios with the GMP status
//   table in the shared segment NAME (created when missing with
//   --capacity/--group-read, kept after exit): each scenario's World opens it,
//   loads what an earlier run left there (a restart) and writes through to
//   it. When the program ends, the table is let go before the running path is
//   torn down, so the Joins stay in the segment as an agent that dies leaves
//   them; `stop` inside a scenario still withdraws them as usual.
//   Subcommands read or remove a segment from another process:
//     joins NAME [--json]   the Joins, in the `show joins` format
//     watch NAME [--json]   each Join added or removed, as it happens, until
//                           interrupted (polls the generation counter every
//                           few milliseconds)
//     table NAME --remove   removes the segment
//
// GUARANTEES
//   - A segment that cannot be used (bad name, another layout or size, access)
//     is refused with a message on standard error and exit status 2, before
//     any scenario runs.
//   - Damage the readers find is reported on standard error, slot by slot
//     ("corruption detected in table NAME: ..."); `joins` then exits with 1.
//
// WARNING
//   One World at a time holds the segment (its writer lock).
//
// TYPICAL USAGE
//   SharedTableCli shared(app);   // before app.parse
//   if (auto rc = shared.run(std::cout, std::cerr)) return *rc;   // a subcommand ran
//   if (int rc = shared.prepare(std::cerr)) return rc;            // --table given
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "Brim/Status.h"
#include "Vorn/Ptr.h"

namespace Mcinject {

class SharedTableCli {
 public:
  explicit SharedTableCli(CLI::App& app);

  // Runs the subcommand that was parsed, if any: its exit status.
  std::optional<int> run(std::ostream& out, std::ostream& err);
  // With --table: opens (or creates) the segment once, so that a segment that
  // cannot be used stops the program before any scenario; 0 or 2.
  int prepare(std::ostream& err);

 private:
  CLI::App* joins_ = nullptr;
  CLI::App* watch_ = nullptr;
  CLI::App* table_ = nullptr;
  std::string tableName_;  // --table
  std::uint64_t capacity_ = Routing::Gmp::Brim::SegmentOptions{}.capacity;
  bool groupRead_ = false;
  std::string subName_;  // NAME of a subcommand
  bool json_ = false;
  bool remove_ = false;
};

// The GMP status table a new World uses: the --table segment, or an
// in-process table.
Vorn::Ptr<Routing::Gmp::Brim::Status> gmpStatusForWorld();
// Called by a World that ends: the segment keeps what the table holds now.
void gmpStatusReleased(Routing::Gmp::Brim::Status& status);

}  // namespace Mcinject
