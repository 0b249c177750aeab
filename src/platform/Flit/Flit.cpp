#include "Flit/Flit.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace Flit {

// --- arguments and rendering --------------------------------------------------

Arg Arg::number(uint64_t v) {
   Arg a;
   a.kind = Kind::number;
   a.value = v;
   return a;
}

Arg Arg::pointer(void const* p) {
   Arg a;
   a.kind = Kind::pointer;
   a.value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(p));
   return a;
}

Arg Arg::address(uint8_t family, std::array<uint8_t, 16> const& bytes) {
   assert(family <= familyIpv6 && "address family must be none, IPv4 or IPv6");
   Arg a;
   a.kind = Kind::address;
   a.family = family;
   a.bytes = bytes;
   return a;
}

Arg Arg::string(std::string_view s) {
   Arg a;
   a.kind = Kind::string;
   a.text = s;
   return a;
}

namespace {

void appendHex(std::string& out, uint64_t v) {
   char buf[16];
   auto res = std::to_chars(buf, buf + sizeof buf, v, 16);
   out.append(buf, res.ptr);
}

void appendIpv4(std::string& out, uint8_t const* b) {
   for (int i = 0; i < 4; ++i) {
      if (i) out += '.';
      out += std::to_string(b[i]);
   }
}

// Canonical IPv6 text: lowercase hex, no leading zeros, the longest run (the
// first on a tie) of two or more zero groups shortened to "::", IPv4-mapped
// addresses with a dotted tail.
void appendIpv6(std::string& out, std::array<uint8_t, 16> const& b) {
   bool mapped = std::all_of(b.begin(), b.begin() + 10, [](uint8_t x) { return x == 0; }) &&
                 b[10] == 0xff && b[11] == 0xff;
   if (mapped) {
      out += "::ffff:";
      appendIpv4(out, b.data() + 12);
      return;
   }
   uint16_t g[8];
   for (size_t i = 0; i < 8; ++i) g[i] = static_cast<uint16_t>(b[2 * i] << 8 | b[2 * i + 1]);
   int bestStart = -1, bestLen = 0;
   for (int i = 0; i < 8;) {
      if (g[i] != 0) {
         ++i;
         continue;
      }
      int j = i;
      while (j < 8 && g[j] == 0) ++j;
      if (j - i > bestLen) {
         bestStart = i;
         bestLen = j - i;
      }
      i = j;
   }
   if (bestLen < 2) bestStart = -1;
   for (int i = 0; i < 8; ++i) {
      if (i == bestStart) {
         out += "::";
         i += bestLen - 1;
         continue;
      }
      if (i && i != bestStart + bestLen) out += ':';
      appendHex(out, g[i]);
   }
}

void appendArg(std::string& out, Arg const& arg) {
   switch (arg.kind) {
   case Arg::Kind::number:
      out += std::to_string(arg.value);
      return;
   case Arg::Kind::pointer:
      out += "0x";
      appendHex(out, arg.value);
      return;
   case Arg::Kind::address:
      if (arg.family == Arg::familyIpv4) {
         appendIpv4(out, arg.bytes.data());
      } else if (arg.family == Arg::familyIpv6) {
         appendIpv6(out, arg.bytes);
      } else if (arg.family == Arg::familyNone) {
         out += "none";
      } else {
         out += "<family " + std::to_string(arg.family) + ">";
      }
      return;
   case Arg::Kind::string:
      out += arg.text;
      return;
   }
   out += "<kind " + std::to_string(static_cast<unsigned>(arg.kind)) + ">";
}

}  // namespace

std::string renderArg(Arg const& arg) {
   std::string out;
   appendArg(out, arg);
   return out;
}

std::string render(std::string_view format, std::span<Arg const> args) {
   std::string out;
   out.reserve(format.size() + 16 * args.size());
   size_t next = 0;
   size_t pos = 0;
   while (pos < format.size()) {
      size_t hit = format.find("%s", pos);
      if (hit == std::string_view::npos) {
         out.append(format.substr(pos));
         break;
      }
      out.append(format.substr(pos, hit - pos));
      if (next < args.size()) appendArg(out, args[next]);
      ++next;
      pos = hit + 2;
   }
   return out;
}

// --- encoding -----------------------------------------------------------------

namespace {

void putVarint(std::vector<uint8_t>& out, uint64_t v) {
   while (v >= 0x80) {
      out.push_back(static_cast<uint8_t>(v | 0x80));
      v >>= 7;
   }
   out.push_back(static_cast<uint8_t>(v));
}

void putU32(uint8_t* at, uint32_t v) {
   for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

void putU64(uint8_t* at, uint64_t v) {
   for (int i = 0; i < 8; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

size_t addressBytes(uint8_t family) {
   return family == Arg::familyIpv4 ? 4 : family == Arg::familyIpv6 ? 16 : 0;
}

// Process default file. The generation changes with every replacement so that
// a Statement never uses an id cached for an earlier file, even one that was
// allocated at the same address.
std::unique_ptr<File> theDefaultFile;
uint64_t theDefaultGeneration = 0;

}  // namespace

// --- File ---------------------------------------------------------------------

std::unique_ptr<File> File::create(std::string const& path, uint32_t ringBytes,
                                   std::string* error) {
   auto fail = [&](std::string const& why) {
      if (error) *error = "Flit: cannot create trace file " + path + ": " + why;
      return nullptr;
   };
   if (ringBytes < minRingBytes || ringBytes > maxRingBytes) {
      return fail("ring size " + std::to_string(ringBytes) + " outside [" +
                  std::to_string(minRingBytes) + ", " + std::to_string(maxRingBytes) + "]");
   }
   int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
   if (fd < 0) return fail(std::strerror(errno));
   if (::ftruncate(fd, static_cast<off_t>(layout::headerBytes) + ringBytes) != 0) {
      std::string why = std::strerror(errno);
      ::close(fd);
      return fail(why);
   }
   std::unique_ptr<File> file(new File(fd, ringBytes));
   file->writeHeader();
   if (file->writeErrors_ != 0) return fail("cannot write the header");
   return file;
}

File::File(int fd, uint32_t ringBytes)
    : fd_(fd),
      ringBytes_(ringBytes),
      ring_(ringBytes),
      flushThreshold_(std::max<uint32_t>(1, std::min<uint32_t>(64 * 1024, ringBytes / 4))) {}

File::~File() {
   flush();
   ::close(fd_);
}

uint32_t File::formatIs(std::string_view format) {
   uint64_t entryBytes = 4 + format.size();
   if (format.size() > maxFormatBytes || formats_.size() >= maxFormats ||
       formatTableBytes_ + pendingFormats_.size() + entryBytes > maxFormatTableBytes) {
      return noFormat;
   }
   size_t at = pendingFormats_.size();
   pendingFormats_.resize(at + 4);
   putU32(pendingFormats_.data() + at, static_cast<uint32_t>(format.size()));
   pendingFormats_.insert(pendingFormats_.end(), format.begin(), format.end());
   formats_.push_back(static_cast<uint32_t>(format.size()));
   return static_cast<uint32_t>(formats_.size() - 1);
}

void File::append(uint32_t formatId, std::span<Arg const> args) {
   if (formatId >= formats_.size()) {
      ++rejected_;
      return;
   }
   scratch_.assign(layout::recordLengthBytes, 0);
   putVarint(scratch_, nextSequence_);
   putVarint(scratch_, formatId);
   putVarint(scratch_, args.size());
   for (Arg const& arg : args) {
      scratch_.push_back(static_cast<uint8_t>(arg.kind));
      switch (arg.kind) {
      case Arg::Kind::number:
      case Arg::Kind::pointer:
         putVarint(scratch_, arg.value);
         break;
      case Arg::Kind::address: {
         assert(arg.family <= Arg::familyIpv6 && "address family must be none, IPv4 or IPv6");
         if (arg.family > Arg::familyIpv6) {
            ++rejected_;
            return;
         }
         scratch_.push_back(arg.family);
         size_t n = addressBytes(arg.family);
         scratch_.insert(scratch_.end(), arg.bytes.begin(), arg.bytes.begin() + n);
         break;
      }
      case Arg::Kind::string:
         if (arg.text.size() > ringBytes_) {
            ++rejected_;
            return;
         }
         putVarint(scratch_, arg.text.size());
         scratch_.insert(scratch_.end(), arg.text.begin(), arg.text.end());
         break;
      }
      if (scratch_.size() > ringBytes_) {
         ++rejected_;
         return;
      }
   }
   if (scratch_.size() > ringBytes_) {
      ++rejected_;
      return;
   }
   uint32_t length = static_cast<uint32_t>(scratch_.size());
   putU32(scratch_.data(), length);
   while (ringBytes_ - used_ < length) dropOldestRecord();
   copyIntoRing(scratch_);
   records_.push_back(length);
   ++nextSequence_;
   if (dirtyBytes_ >= flushThreshold_) flush();
}

void File::dropOldestRecord() {
   assert(!records_.empty() && "ring bytes in use must belong to records");
   uint32_t length = records_.front();
   records_.pop_front();
   tail_ = static_cast<uint32_t>((uint64_t{tail_} + length) % ringBytes_);
   used_ -= length;
   ++overwritten_;
}

void File::copyIntoRing(std::vector<uint8_t> const& record) {
   uint32_t length = static_cast<uint32_t>(record.size());
   uint32_t first = std::min(length, ringBytes_ - head_);
   std::memcpy(ring_.data() + head_, record.data(), first);
   std::memcpy(ring_.data(), record.data() + first, length - first);
   if (dirtyBytes_ == 0) dirtyStart_ = head_;
   dirtyBytes_ = static_cast<uint32_t>(std::min<uint64_t>(ringBytes_, uint64_t{dirtyBytes_} + length));
   head_ = static_cast<uint32_t>((uint64_t{head_} + length) % ringBytes_);
   used_ += length;
}

void File::writeAt(uint64_t offset, uint8_t const* data, size_t size) {
   while (size > 0) {
      ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
         ++writeErrors_;
         return;
      }
      data += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
   }
}

void File::writeHeader() {
   uint8_t h[layout::headerBytes] = {};
   putU32(h + layout::magicAt, layout::magic);
   putU32(h + layout::versionAt, layout::version);
   putU32(h + layout::headerBytesAt, layout::headerBytes);
   putU32(h + layout::ringBytesAt, ringBytes_);
   putU32(h + layout::tailAt, tail_);
   putU32(h + layout::headAt, head_);
   putU32(h + layout::usedAt, used_);
   putU32(h + layout::recordCountAt, static_cast<uint32_t>(records_.size()));
   putU64(h + layout::firstSequenceAt, nextSequence_ - records_.size());
   putU64(h + layout::overwrittenAt, overwritten_);
   putU64(h + layout::rejectedAt, rejected_);
   putU32(h + layout::formatCountAt, static_cast<uint32_t>(formats_.size()));
   putU32(h + layout::formatTableBytesAt, formatTableBytes_);
   writeAt(0, h, sizeof h);
}

// Order matters for a crash in the middle: formats and records first, then the
// header that makes them visible. A header left behind from the previous flush
// may point at records since overwritten; the reader detects that by their
// sequence numbers and stops there.
void File::flush() {
   uint64_t ringAt = layout::headerBytes;
   if (!pendingFormats_.empty()) {
      writeAt(ringAt + ringBytes_ + formatTableBytes_, pendingFormats_.data(), pendingFormats_.size());
      formatTableBytes_ += static_cast<uint32_t>(pendingFormats_.size());
      pendingFormats_.clear();
   }
   if (dirtyBytes_ == ringBytes_) {
      writeAt(ringAt, ring_.data(), ringBytes_);
   } else if (dirtyBytes_ > 0) {
      uint32_t first = std::min(dirtyBytes_, ringBytes_ - dirtyStart_);
      writeAt(ringAt + dirtyStart_, ring_.data() + dirtyStart_, first);
      writeAt(ringAt, ring_.data(), dirtyBytes_ - first);
   }
   dirtyBytes_ = 0;
   writeHeader();
}

// --- process default ----------------------------------------------------------

void defaultFileIs(std::unique_ptr<File> file) {
   theDefaultFile = std::move(file);
   ++theDefaultGeneration;
}

File* defaultFile() { return theDefaultFile.get(); }

void Statement::write(std::span<Arg const> args) {
   File* file = theDefaultFile.get();
   if (!file) return;
   if (generation_ != theDefaultGeneration) {
      formatId_ = file->formatIs(format_);
      generation_ = theDefaultGeneration;
   }
   file->append(formatId_, args);
}

}  // namespace Flit
