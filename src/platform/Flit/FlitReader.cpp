#include "Flit/FlitReader.h"

#include "Flit/Flit.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Flit {

namespace {

// Bounds-checked view of a byte range; every getter fails rather than read past
// the end.
class Cursor {
 public:
   Cursor(uint8_t const* data, size_t size) : data_(data), size_(size) {}

   size_t position() const { return pos_; }
   size_t remaining() const { return size_ - pos_; }
   bool atEnd() const { return pos_ == size_; }

   bool u8(uint8_t& v) {
      if (remaining() < 1) return false;
      v = data_[pos_++];
      return true;
   }
   bool u32(uint32_t& v) {
      if (remaining() < 4) return false;
      v = 0;
      for (size_t i = 0; i < 4; ++i) v |= uint32_t{data_[pos_ + i]} << (8 * i);
      pos_ += 4;
      return true;
   }
   bool varint(uint64_t& v) {
      v = 0;
      for (uint32_t i = 0; i < layout::maxVarintBytes; ++i) {
         uint8_t b;
         if (!u8(b)) return false;
         // The tenth byte may only carry the top bit of a 64-bit value.
         if (i == layout::maxVarintBytes - 1 && b > 1) return false;
         v |= uint64_t{b & 0x7fu} << (7 * i);
         if (!(b & 0x80)) return true;
      }
      return false;
   }
   bool bytes(size_t n, uint8_t const*& at) {
      if (remaining() < n) return false;
      at = data_ + pos_;
      pos_ += n;
      return true;
   }

 private:
   uint8_t const* data_;
   size_t size_;
   size_t pos_ = 0;
};

uint32_t u32At(std::span<uint8_t const> b, uint32_t at) {
   uint32_t v = 0;
   for (uint32_t i = 0; i < 4; ++i) v |= uint32_t{b[at + i]} << (8 * i);
   return v;
}

uint64_t u64At(std::span<uint8_t const> b, uint32_t at) {
   uint64_t v = 0;
   for (uint32_t i = 0; i < 8; ++i) v |= uint64_t{b[at + i]} << (8 * i);
   return v;
}

std::string num(uint64_t v) { return std::to_string(v); }

// Decodes the arguments of one record (the bytes after its format id). Fails on
// anything that does not fit the record exactly.
bool decodeArgs(Cursor& rec, std::vector<Arg>& args, std::string& why) {
   uint64_t count;
   if (!rec.varint(count)) {
      why = "bad argument count";
      return false;
   }
   // Every argument takes at least two bytes: do not trust a larger count.
   if (count > rec.remaining() / 2) {
      why = "argument count " + num(count) + " does not fit the record";
      return false;
   }
   args.clear();
   args.reserve(static_cast<size_t>(count));
   for (uint64_t i = 0; i < count; ++i) {
      std::string which = "argument " + num(i) + ": ";
      uint8_t kind;
      if (!rec.u8(kind)) {
         why = which + "truncated";
         return false;
      }
      switch (static_cast<Arg::Kind>(kind)) {
      case Arg::Kind::number:
      case Arg::Kind::pointer: {
         uint64_t v;
         if (!rec.varint(v)) {
            why = which + "bad number";
            return false;
         }
         args.push_back(static_cast<Arg::Kind>(kind) == Arg::Kind::number
                           ? Arg::number(v)
                           : Arg::pointer(reinterpret_cast<void const*>(static_cast<uintptr_t>(v))));
         break;
      }
      case Arg::Kind::address: {
         uint8_t family;
         if (!rec.u8(family)) {
            why = which + "truncated address";
            return false;
         }
         if (family > Arg::familyIpv6) {
            why = which + "unknown address family " + num(family);
            return false;
         }
         size_t n = family == Arg::familyIpv4 ? 4 : family == Arg::familyIpv6 ? 16 : 0;
         uint8_t const* at = nullptr;
         if (!rec.bytes(n, at)) {
            why = which + "truncated address";
            return false;
         }
         std::array<uint8_t, 16> bytes{};
         if (n) std::memcpy(bytes.data(), at, n);
         args.push_back(Arg::address(family, bytes));
         break;
      }
      case Arg::Kind::string: {
         uint64_t len;
         uint8_t const* at = nullptr;
         if (!rec.varint(len) || len > rec.remaining() || !rec.bytes(static_cast<size_t>(len), at)) {
            why = which + "bad string length";
            return false;
         }
         args.push_back(Arg::string(std::string_view(reinterpret_cast<char const*>(at), static_cast<size_t>(len))));
         break;
      }
      default:
         why = which + "unknown kind " + num(kind);
         return false;
      }
   }
   if (!rec.atEnd()) {
      why = num(rec.remaining()) + " stray bytes after the arguments";
      return false;
   }
   return true;
}

}  // namespace

bool readTrace(std::span<uint8_t const> bytes, TraceSummary& summary,
               RecordHandler const& onRecord, std::string& error) {
   summary = TraceSummary{};
   auto fail = [&](std::string const& why) {
      error = why;
      return false;
   };

   // Header.
   if (bytes.size() < layout::headerBytes) {
      return fail("truncated header: " + num(bytes.size()) + " bytes, a header takes " +
                  num(layout::headerBytes));
   }
   if (u32At(bytes, layout::magicAt) != layout::magic) return fail("not a Flit trace (bad magic)");
   uint32_t version = u32At(bytes, layout::versionAt);
   if (version != layout::version) {
      return fail("unsupported trace version " + num(version) + " (this reader knows version " +
                  num(layout::version) + ")");
   }
   if (u32At(bytes, layout::headerBytesAt) != layout::headerBytes) {
      return fail("bad header size " + num(u32At(bytes, layout::headerBytesAt)));
   }
   uint32_t ringBytes = u32At(bytes, layout::ringBytesAt);
   uint32_t tail = u32At(bytes, layout::tailAt);
   uint32_t head = u32At(bytes, layout::headAt);
   uint32_t used = u32At(bytes, layout::usedAt);
   summary.ringBytes = ringBytes;
   summary.recordCount = u32At(bytes, layout::recordCountAt);
   summary.firstSequence = u64At(bytes, layout::firstSequenceAt);
   summary.overwrittenRecords = u64At(bytes, layout::overwrittenAt);
   summary.rejectedRecords = u64At(bytes, layout::rejectedAt);
   uint32_t formatCount = u32At(bytes, layout::formatCountAt);
   uint32_t formatTableBytes = u32At(bytes, layout::formatTableBytesAt);

   if (ringBytes < File::minRingBytes || ringBytes > File::maxRingBytes) {
      return fail("bad ring size " + num(ringBytes));
   }
   uint64_t afterHeader = bytes.size() - layout::headerBytes;
   if (afterHeader < ringBytes) {
      return fail("truncated ring: " + num(ringBytes) + " bytes announced, " + num(afterHeader) +
                  " present");
   }
   if (tail >= ringBytes || used > ringBytes || head != (uint64_t{tail} + used) % ringBytes) {
      return fail("inconsistent ring offsets (tail " + num(tail) + ", head " + num(head) +
                  ", used " + num(used) + ", ring " + num(ringBytes) + ")");
   }
   if (afterHeader - ringBytes < formatTableBytes) {
      return fail("truncated format table: " + num(formatTableBytes) + " bytes announced, " +
                  num(afterHeader - ringBytes) + " present");
   }

   // Format table.
   uint8_t const* ring = bytes.data() + layout::headerBytes;
   Cursor table(ring + ringBytes, formatTableBytes);
   while (!table.atEnd()) {
      uint32_t len;
      uint8_t const* at = nullptr;
      if (!table.u32(len) || len > File::maxFormatBytes || !table.bytes(len, at)) {
         return fail("corrupted format table at entry " + num(summary.formats.size()));
      }
      summary.formats.emplace_back(reinterpret_cast<char const*>(at), len);
   }
   if (summary.formats.size() != formatCount) {
      return fail("format table holds " + num(summary.formats.size()) + " formats, header says " +
                  num(formatCount));
   }

   // Records: the ring as one stream starting at the tail.
   std::vector<uint8_t> stream(used);
   uint32_t first = std::min(used, ringBytes - tail);
   // An empty ring gives an empty stream, whose data() may be null: copy only
   // what is there.
   if (first > 0) std::memcpy(stream.data(), ring + tail, first);
   if (used > first) std::memcpy(stream.data() + first, ring, used - first);

   Cursor records(stream.data(), stream.size());
   std::vector<Arg> args;
   uint64_t expected = summary.firstSequence;
   uint64_t found = 0;
   while (!records.atEnd()) {
      std::string where = "record " + num(found) + " (sequence " + num(expected) + ", ring offset " +
                          num((uint64_t{tail} + records.position()) % ringBytes) + "): ";
      size_t start = records.position();
      uint32_t length;
      uint8_t const* body = nullptr;
      if (!records.u32(length)) return fail(where + "truncated length");
      if (length <= layout::recordLengthBytes ||
          length - layout::recordLengthBytes > records.remaining()) {
         return fail(where + "bad length " + num(length) + " (" + num(stream.size() - start) +
                     " bytes left)");
      }
      records.bytes(length - layout::recordLengthBytes, body);
      Cursor rec(body, length - layout::recordLengthBytes);
      uint64_t sequence, formatId;
      if (!rec.varint(sequence)) return fail(where + "bad sequence number");
      if (sequence != expected) {
         return fail(where + "sequence number " + num(sequence) + " out of order");
      }
      if (!rec.varint(formatId)) return fail(where + "bad format id");
      if (formatId >= summary.formats.size()) {
         return fail(where + "unknown format id " + num(formatId));
      }
      std::string why;
      if (!decodeArgs(rec, args, why)) return fail(where + why);
      if (onRecord) onRecord(sequence, render(summary.formats[formatId], args));
      ++expected;
      ++found;
   }
   if (found != summary.recordCount) {
      return fail("header says " + num(summary.recordCount) + " records, the ring holds " +
                  num(found));
   }
   return true;
}

bool readFile(std::string const& path, TraceSummary& summary, RecordHandler const& onRecord,
              std::string& error) {
   auto fail = [&](std::string const& why) {
      error = "Flit: " + path + ": " + why;
      return false;
   };
   int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
   if (fd < 0) return fail(std::strerror(errno));
   struct stat st;
   if (::fstat(fd, &st) != 0) {
      std::string why = std::strerror(errno);
      ::close(fd);
      return fail(why);
   }
   // No writer produces more than this; refuse rather than allocate blindly.
   constexpr uint64_t maxFileBytes =
      uint64_t{layout::headerBytes} + File::maxRingBytes + File::maxFormatTableBytes;
   if (st.st_size < 0 || static_cast<uint64_t>(st.st_size) > maxFileBytes) {
      ::close(fd);
      return fail("file too large for a trace (" + num(static_cast<uint64_t>(st.st_size)) + " bytes)");
   }
   std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size));
   size_t got = 0;
   while (got < bytes.size()) {
      ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
         std::string why = std::strerror(errno);
         ::close(fd);
         return fail(why);
      }
      if (n == 0) break;  // shrank under us: decode what is there
      got += static_cast<size_t>(n);
   }
   ::close(fd);
   bytes.resize(got);
   if (!readTrace(bytes, summary, onRecord, error)) return fail(error);
   return true;
}

bool printFile(std::string const& path, std::ostream& out, std::string& error) {
   TraceSummary summary;
   return readFile(
      path, summary,
      [&out](uint64_t sequence, std::string const& text) {
         out << '[' << sequence << "] " << text << '\n';
      },
      error);
}

}  // namespace Flit
