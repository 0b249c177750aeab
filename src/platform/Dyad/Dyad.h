// Dyad — one trace statement sent to both traces.
//
// A Dyad statement has a Flit format (the text with "%s" where each argument
// goes) and typed arguments. It is appended to the Flit ring buffer whenever
// the process has a default Flit file, and written to the text trace when its
// level is enabled on its handle: the text is the format with the arguments
// rendered in place, exactly what the Flit reader prints for the record.
// With no Flit file and the level off, a statement costs two tests.
//
// WARNING: single event thread, as Flit and the trace handles.
//
// TYPICAL USAGE
//   static Flit::Statement st(std::string(sig) + ": %s Injecting Join %s");
//   Flit::Arg args[] = {Flit::Arg::pointer(this), Dyad::addressArg(group)};
//   if (Dyad::active(l3Trace(), 7))
//     Dyad::statement(st, l3Trace(), 7, "/src/Pim/L3InjectSm", 49, "handleInsert", args);
#pragma once

#include <span>

#include "Flit/Flit.h"
#include "Vorn/Trace.h"
#include "model/Wirl.h"

namespace Dyad {

// An address argument: rendered as the address's usual text form.
Flit::Arg addressArg(Wirl::IpGenAddr const& addr);

// Whether a statement at `level` of `handle` goes anywhere: build its
// arguments only when this holds.
inline bool active(Vorn::TraceHandle const& handle, int level) {
  return Flit::defaultFile() != nullptr || handle.enabled(level);
}

void statement(Flit::Statement& statement, Vorn::TraceHandle& handle, int level, char const* file, int line,
               char const* function, std::span<Flit::Arg const> args);

}  // namespace Dyad
