// FlitReader: turns a Flit trace file (Flit.h) back into text.
//
// The file is treated as untrusted input: every length, offset and count is
// checked against the bytes actually present, loops are bounded by those bytes
// and never by a count from the file, and nothing is read out of bounds. A
// file with a bad magic or version is rejected with a clear error; a truncated
// or corrupted record ends the listing with an error after the intact records
// before it.
//
// Not safe for: reading a file while its writer is between flushes (the records
// since the last flush are not there yet; a half-written batch shows as a
// corrupted record). Files larger than a writer can produce are refused.
//
// Usage:
//   std::string error;
//   if (!Flit::printFile("/var/log/agent.flit", std::cout, error))
//      std::cerr << error << '\n';
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace Flit {

// What the header and the format table of a trace say.
struct TraceSummary {
   uint32_t ringBytes = 0;
   uint64_t firstSequence = 0;       // sequence number of the oldest record kept
   uint32_t recordCount = 0;         // records the header says the ring holds
   uint64_t overwrittenRecords = 0;  // pushed out of the ring by newer ones
   uint64_t rejectedRecords = 0;     // never stored (unknown format, too large)
   std::vector<std::string> formats;
};

using RecordHandler = std::function<void(uint64_t sequence, std::string const& text)>;

// Decodes a trace held in memory: fills `summary`, calls `onRecord` for each
// record oldest first with its rendered text. Returns false with `error` set on
// the first problem; the records before it have been delivered.
bool readTrace(std::span<uint8_t const> bytes, TraceSummary& summary,
               RecordHandler const& onRecord, std::string& error);

// The same on the file at `path`.
bool readFile(std::string const& path, TraceSummary& summary,
              RecordHandler const& onRecord, std::string& error);

// Prints one line per record, oldest first: "[<sequence>] <text>". Returns
// false with `error` set when the file cannot be read or is corrupted; the
// lines of the intact records before the problem are printed.
bool printFile(std::string const& path, std::ostream& out, std::string& error);

}  // namespace Flit
