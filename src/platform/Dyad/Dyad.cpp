#include "Dyad/Dyad.h"

namespace Dyad {

Flit::Arg addressArg(Wirl::IpGenAddr const& addr) {
  return Flit::Arg::address(static_cast<std::uint8_t>(addr.af()), addr.bytes());
}

void statement(Flit::Statement& st, Vorn::TraceHandle& handle, int level, char const* file, int line,
               char const* function, std::span<Flit::Arg const> args) {
  st.write(args);
  if (handle.enabled(level)) handle.write(level, file, line, function, st.text(args));
}

}  // namespace Dyad
