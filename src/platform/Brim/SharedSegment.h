// Routing::Gmp::Brim::SharedSegment — the status table's Joins in a POSIX
// shared-memory segment, readable by other processes and surviving the
// process that writes it; SegmentReader, the read-only view other processes
// take of it.
//
// LAYOUT (version 1, every field little-endian, 8-byte words)
//   header, 128 bytes:
//     magic "MCJOINTB", layout version, slot size (128), capacity in Joins,
//     slot count (= capacity), segment size, and a check word over these; then the live words: generation
//     (bumped after every change of an entry), entry count, the writer's
//     process id (0: none) and the high-water mark (no slot at or above it
//     has ever held an entry: readers scan below it).
//   slots, `capacity` of them, 128 bytes each. An entry takes the slot freed
//   last, else the one at the high-water mark: the entries stay packed at
//   the start of the table, and writes that come in a row go to neighbouring
//   slots. Nothing searches the segment by key: the writer keeps each
//   entry's slot number with its own copy of the entry (Status does, in its
//   map); readers scan.
//   Word 0 is the slot's sequence number (odd while a write is in progress),
//   word 1 the state, the address families, the interface name's length and
//   the value, words 2-5 source and group, words 6-13 the interface name
//   (up to 64 characters: names are stored, not process-local ids), word 14 a
//   check over words 1-13 and the slot's index, word 15 zero. An empty slot
//   is all zero but its sequence number.
//
// GUARANTEES
//   - One writer at a time: the writer holds an exclusive lock on the segment
//     (released by the kernel when the process ends, however it ends).
//   - A reader never returns a torn entry: it re-reads a slot whose sequence
//     number is odd or changed during the copy, and raises
//     Corvo::CorruptionDetectedException ("slot N: why") when a stable slot's
//     check does not match, or when a write stays in progress although the
//     writer has gone (it died mid-write).
//   - The writer may die at any instruction: every change touches one slot,
//     guarded by its sequence number, so the segment stays readable. The next
//     writer scans every slot when it opens the segment: a slot left
//     mid-write, damaged or duplicated is cleared and reported (`damage()`),
//     never loaded silently wrong. Its Joins are written again by whoever
//     still wants them.
//   - Full table: `insert` refuses (returns kNoSlot) when the segment holds
//     `capacity` entries; it never drops an entry silently. Status turns
//     that into a corruption report and keeps the Join in process until room
//     frees up (see Status.h).
//   - Access: the segment is created with mode 0600 (0640 with `groupRead`),
//     whatever the umask. Opening refuses a segment writable by group or
//     others; the writer also refuses one owned by another user (a reader
//     accepts one, so that group read means something), and anyone refuses a
//     segment of another layout, version or size, with a message saying
//     which. Readers map it read-only: they cannot damage it. Names are
//     checked before any system call: 1 to 200 of [A-Za-z0-9._-], not "."
//     or "..".
//
// WARNING
//   The writer's side is single-threaded (the event thread). Errors opening a
//   segment raise Corvo::Exception.
//
// TYPICAL USAGE
//   auto seg = SharedSegment::open("leaf1-joins", {});      // writer
//   std::uint32_t slot = seg->insert(Membership{key, 1}); seg->clear(slot);
//   auto reader = SegmentReader::open("leaf1-joins");       // another process
//   for (Membership const& m : reader->snapshot()) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Brim/RouteIntfKey.h"

namespace Routing::Gmp::Brim {

struct SegmentOptions {
  std::uint64_t capacity = 256 * 1024;  // Joins; used when the segment is created
  bool groupRead = false;               // mode 0640 instead of 0600
};

// Why `name` cannot name a segment, or nothing.
std::optional<std::string> segmentNameProblem(std::string const& name);
// Removes the segment; false with `error` set when it cannot.
bool segmentRemove(std::string const& name, std::string& error);

namespace Segment {
inline constexpr std::uint32_t kLayoutVersion = 1;
inline constexpr std::size_t kSlotBytes = 128;
inline constexpr std::size_t kHeaderBytes = 128;
inline constexpr std::uint64_t kMaxCapacity = std::uint64_t{1} << 26;
// Slots for `capacity` Joins (one each).
std::uint64_t slotCountFor(std::uint64_t capacity);
}  // namespace Segment

// The mapping, shared by writer and reader.
class SegmentMap {
 public:
  SegmentMap(SegmentMap const&) = delete;
  SegmentMap& operator=(SegmentMap const&) = delete;
  ~SegmentMap();

  std::string const& name() const noexcept { return name_; }
  std::uint64_t capacity() const noexcept { return capacity_; }
  std::uint64_t slotCount() const noexcept { return slotCount_; }
  std::size_t bytes() const noexcept { return bytes_; }
  std::uint64_t generation() const noexcept;
  // Slots at and above it have never held an entry: a reader scans below it.
  std::uint64_t highWater() const noexcept;
  std::uint64_t count() const noexcept;

  // The entry of slot `i`, nothing for an empty slot. Raises
  // Corvo::CorruptionDetectedException for a damaged slot or one whose write
  // never completes.
  std::optional<Membership> readSlot(std::uint64_t i) const;

 protected:
  SegmentMap() = default;
  std::uint64_t* slot(std::uint64_t i) const noexcept;
  std::uint64_t* header() const noexcept { return static_cast<std::uint64_t*>(base_); }

  std::string name_;
  int fd_ = -1;
  void* base_ = nullptr;
  std::size_t bytes_ = 0;
  std::uint64_t capacity_ = 0;
  std::uint64_t slotCount_ = 0;
};

// The writer's side.
class SharedSegment : public SegmentMap {
 public:
  // Opens segment `name` for writing, creating it when missing. Raises
  // Corvo::Exception when it cannot (bad name, access, layout, another writer).
  static std::unique_ptr<SharedSegment> open(std::string const& name, SegmentOptions const& options);
  ~SharedSegment();

  static constexpr std::uint32_t kNoSlot = ~std::uint32_t{0};
  struct Loaded {
    Membership entry;
    std::uint32_t slot;
  };

  // The entries found when the segment was opened, with their slots, and
  // what was wrong with the slots that were cleared instead ("slot N: why").
  std::vector<Loaded> const& loaded() const noexcept { return loaded_; }
  std::vector<std::string> const& damage() const noexcept { return damage_; }
  void loadedClear() {
    loaded_.clear();
    loaded_.shrink_to_fit();
    damage_.clear();
  }

  // Writes a new entry into the lowest free slot and returns the slot, or
  // kNoSlot when the segment is full.
  std::uint32_t insert(Membership const& m);
  // Writes `m` over the entry of `slot` (same key, new value).
  void rewrite(std::uint32_t slot, Membership const& m);
  // Empties `slot`.
  void clear(std::uint32_t slot);
  // Checks `slot` against `m`; raises Corvo::CorruptionDetectedException when
  // it is damaged or holds anything else, after writing `m` there again.
  void verify(std::uint32_t slot, Membership const& m);

 private:
  SharedSegment() = default;
  void load();
  void writeSlot(std::uint64_t i, std::uint64_t const (&words)[16]);
  void changed(std::int64_t countDelta);

  std::vector<std::uint32_t> free_;  // free slots below the high-water mark, next one last
  std::uint64_t highWater_ = 0;
  std::uint64_t count_ = 0;
  std::vector<Loaded> loaded_;
  std::vector<std::string> damage_;
};

// Another process's read-only view.
class SegmentReader : public SegmentMap {
 public:
  static std::unique_ptr<SegmentReader> open(std::string const& name);

  // Every entry, read while the generation stayed the same when the writer
  // lets it (else the last read, each entry still whole). Raises
  // Corvo::CorruptionDetectedException at the first damaged slot.
  std::vector<Membership> snapshot() const;

 private:
  SegmentReader() = default;
};

}  // namespace Routing::Gmp::Brim
