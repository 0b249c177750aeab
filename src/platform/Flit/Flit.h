// Flit: the compact binary trace.
//
// A trace statement has a format string in which each "%s" stands for the next
// argument. The format is registered with a trace file once per statement; each
// record then carries only its sequence number, the format id and the typed
// arguments. Records go to a ring buffer inside the file: when the ring is full
// the oldest whole records are dropped, so the file always holds the newest
// records, each intact.
//
// Guarantees:
//  - append() never blocks on the disk beyond a buffered write: records are kept
//    in an in-memory mirror of the ring and written to the file in batches (no
//    fsync). After flush() returns the file on disk is complete and readable by
//    Flit::printFile (FlitReader.h) even if the process dies right after; a
//    crash between flushes loses at most the records since the last batch.
//  - The file is flushed when the File is destroyed.
//  - render() substitutes arguments itself; a format is never handed to printf.
//
// Not safe for: concurrent use. A File, the process default file and every
// Statement belong to the single event thread. Power loss (flush() does not
// fsync).
//
// Usage:
//   Flit::defaultFileIs(Flit::File::create("/var/log/agent.flit"));
//   static Flit::Statement joinSent("sending Join for %s to %s");
//   joinSent.write({Flit::Arg::address(1, group), Flit::Arg::string(ifName)});
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace Flit {

// One typed argument of a record. A string argument does not own its bytes:
// they must stay alive for the duration of the call that takes the Arg.
struct Arg {
   enum class Kind : uint8_t { number = 1, pointer = 2, address = 3, string = 4 };

   // Address families: none, IPv4 (first 4 bytes used), IPv6.
   static constexpr uint8_t familyNone = 0;
   static constexpr uint8_t familyIpv4 = 1;
   static constexpr uint8_t familyIpv6 = 2;

   Kind kind = Kind::number;
   uint64_t value = 0;                 // number, pointer
   uint8_t family = familyNone;        // address
   std::array<uint8_t, 16> bytes{};    // address
   std::string_view text;              // string

   static Arg number(uint64_t v);
   static Arg pointer(void const* p);
   static Arg address(uint8_t family, std::array<uint8_t, 16> const& bytes);
   static Arg string(std::string_view s);
};

// Text of one argument: decimal number, "0x..." pointer, IPv4/IPv6 text
// ("none" for family none), string bytes as they are.
std::string renderArg(Arg const& arg);

// Replaces each "%s" of `format`, in order, by the next rendered argument.
// Missing arguments render as ""; surplus arguments are ignored. Any other '%'
// is copied as it is.
std::string render(std::string_view format, std::span<Arg const> args);

class File {
 public:
   static constexpr uint32_t minRingBytes = 64;
   static constexpr uint32_t maxRingBytes = 1u << 30;
   // Limits on the format table; a format beyond them is not registered and the
   // records of its statement are dropped (counted in rejectedRecords()).
   static constexpr uint32_t maxFormats = 1u << 20;
   static constexpr uint32_t maxFormatBytes = 1u << 16;
   static constexpr uint32_t maxFormatTableBytes = 1u << 30;
   static constexpr uint32_t noFormat = UINT32_MAX;

   // Creates (truncates) the file at `path` with a ring of `ringBytes`.
   // Returns null on failure, with the reason in *error when given.
   static std::unique_ptr<File> create(std::string const& path,
                                       uint32_t ringBytes = 1u << 20,
                                       std::string* error = nullptr);
   ~File();
   File(File const&) = delete;
   File& operator=(File const&) = delete;

   // Registers `format` and returns its id. Every call adds a table entry, so
   // callers register once and keep the id (Statement does). Returns noFormat
   // when the table limits are reached.
   uint32_t formatIs(std::string_view format);

   // Appends one record. A record with an unknown format id, or larger than the
   // whole ring, is dropped and counted in rejectedRecords().
   void append(uint32_t formatId, std::span<Arg const> args);
   void append(uint32_t formatId, std::initializer_list<Arg> args) {
      append(formatId, std::span<Arg const>(args.begin(), args.size()));
   }

   // Writes pending formats, ring bytes and the header to the file.
   void flush();

   uint32_t ringBytes() const { return ringBytes_; }
   uint32_t formatCount() const { return static_cast<uint32_t>(formats_.size()); }
   // Records currently held in the ring.
   uint32_t recordCount() const { return static_cast<uint32_t>(records_.size()); }
   // Records pushed out of the ring by newer ones.
   uint64_t overwrittenRecords() const { return overwritten_; }
   // Records never stored: unknown format id or larger than the ring.
   uint64_t rejectedRecords() const { return rejected_; }
   // Failed writes to the file (disk full, I/O error); the trace goes on.
   uint64_t writeErrors() const { return writeErrors_; }

 private:
   File(int fd, uint32_t ringBytes);
   void dropOldestRecord();
   void copyIntoRing(std::vector<uint8_t> const& record);
   void writeAt(uint64_t offset, uint8_t const* data, size_t size);
   void writeHeader();

   int fd_;
   uint32_t ringBytes_;
   std::vector<uint8_t> ring_;      // mirror of the ring region of the file
   std::deque<uint32_t> records_;   // lengths of the records in the ring, oldest first
   uint32_t tail_ = 0;              // ring offset of the oldest record
   uint32_t head_ = 0;              // ring offset where the next record goes
   uint32_t used_ = 0;              // bytes held in the ring
   uint64_t nextSequence_ = 0;
   uint64_t overwritten_ = 0;
   uint64_t rejected_ = 0;
   uint64_t writeErrors_ = 0;

   std::vector<uint32_t> formats_;  // length of each registered format
   std::vector<uint8_t> pendingFormats_;  // table entries not yet in the file
   uint32_t formatTableBytes_ = 0;        // table bytes already in the file

   uint32_t dirtyStart_ = 0;        // ring bytes changed since the last flush
   uint32_t dirtyBytes_ = 0;
   uint32_t flushThreshold_;
   std::vector<uint8_t> scratch_;   // encoding buffer, reused by append()
};

// The process default file: where Statements write. Replacing it flushes and
// closes the previous one; null switches tracing off.
void defaultFileIs(std::unique_ptr<File> file);
File* defaultFile();

// A trace statement: its format plus the id under which the default file knows
// it. The format is registered on first write to each default file.
class Statement {
 public:
   explicit Statement(std::string_view format) : format_(format) {}

   std::string_view format() const { return format_; }

   // Appends a record to the default file; does nothing when there is none.
   void write(std::span<Arg const> args);
   void write(std::initializer_list<Arg> args) {
      write(std::span<Arg const>(args.begin(), args.size()));
   }

   // The text of this statement with `args`, for a text trace.
   std::string text(std::span<Arg const> args) const { return render(format_, args); }

 private:
   std::string format_;
   uint64_t generation_ = 0;  // default-file generation formatId_ belongs to; 0: none
   uint32_t formatId_ = File::noFormat;
};

// File layout, shared by the writer and the reader. All integers little-endian.
//
//   header (headerBytes)  magic "FLIT", version, counters and ring offsets
//   ring   (ringBytes)    records as a circular byte stream from tail, `used` bytes
//   formats               format table: per entry u32 length + bytes; id = index
//
// A record: u32 total length, then varint sequence, varint format id, varint
// argument count, and per argument a kind byte followed by
//   number, pointer: varint value
//   address:         family byte, then 0 / 4 / 16 address bytes
//   string:          varint length, bytes
namespace layout {
constexpr uint32_t magic = 0x54494c46;  // "FLIT" as bytes in the file
constexpr uint32_t version = 1;
constexpr uint32_t headerBytes = 64;
// Offsets of the header fields.
constexpr uint32_t magicAt = 0;             // u32
constexpr uint32_t versionAt = 4;           // u32
constexpr uint32_t headerBytesAt = 8;       // u32
constexpr uint32_t ringBytesAt = 12;        // u32
constexpr uint32_t tailAt = 16;             // u32
constexpr uint32_t headAt = 20;             // u32
constexpr uint32_t usedAt = 24;             // u32
constexpr uint32_t recordCountAt = 28;      // u32
constexpr uint32_t firstSequenceAt = 32;    // u64, sequence of the record at tail
constexpr uint32_t overwrittenAt = 40;      // u64
constexpr uint32_t rejectedAt = 48;         // u64
constexpr uint32_t formatCountAt = 56;      // u32
constexpr uint32_t formatTableBytesAt = 60; // u32
constexpr uint32_t recordLengthBytes = 4;
constexpr uint32_t maxVarintBytes = 10;
}  // namespace layout

}  // namespace Flit
