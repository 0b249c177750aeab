#include "Brim/SharedSegment.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>
#include <unordered_map>

#include "Corvo/Exception.h"

namespace Routing::Gmp::Brim {

namespace {

constexpr std::uint64_t kMagic = 0x42544e494f4a434dull;  // "MCJOINTB"
constexpr std::size_t kWords = Segment::kSlotBytes / 8;

// Header words.
enum : std::size_t {
  hMagic,
  hVersionSlotBytes,
  hCapacity,
  hSlotCount,
  hBytes,
  hCheck,
  hGeneration,
  hCount,
  hWriterPid,
  hHighWater,
};

// Slot words.
enum : std::size_t { sSeq = 0, sMeta = 1, sSource = 2, sGroup = 4, sName = 6, sCheck = 14, sZero = 15 };

std::uint64_t mix(std::uint64_t h) noexcept {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  h ^= h >> 33;
  return h;
}

// Two independent multiply lanes (every step a bijection of the lane, so a
// change of any one word always changes the result), then one finaliser.
// Cheap: it is computed on every write.
std::uint64_t checkOf(std::uint64_t const* w, std::size_t from, std::size_t to, std::uint64_t salt) noexcept {
  constexpr std::uint64_t k0 = 0x9e3779b97f4a7c15ull, k1 = 0xc2b2ae3d27d4eb4full;
  std::uint64_t a = salt ^ k1, b = ~salt;
  std::size_t i = from;
  for (; i + 1 < to; i += 2) {
    a = std::rotl((a ^ w[i]) * k0, 29);
    b = std::rotl((b ^ w[i + 1]) * k1, 31);
  }
  if (i < to) a = std::rotl((a ^ w[i]) * k0, 29);
  std::uint64_t const h = mix(a ^ std::rotl(b, 17) ^ (to - from));
  return h == 0 ? 1 : h;  // never zero: an empty slot's check word is
}

std::atomic_ref<std::uint64_t> word(std::uint64_t* p) noexcept { return std::atomic_ref<std::uint64_t>(*p); }

std::uint64_t loadWord(std::uint64_t* p) noexcept { return word(p).load(std::memory_order_relaxed); }

std::string segPath(std::string const& name) { return "/" + name; }

std::string sysError(std::string const& what) { return what + ": " + std::strerror(errno); }

// The key and value as slot words 1-14 (the check included).
void encode(Membership const& m, std::uint64_t slot, std::uint64_t (&w)[kWords]) {
  std::memset(w, 0, sizeof w);
  std::string const& name = m.key.intf().stringValue();
  w[sMeta] = 1 | std::uint64_t(m.key.source().af()) << 8 | std::uint64_t(m.key.group().af()) << 16 |
             std::uint64_t(name.size()) << 24 | std::uint64_t(m.value) << 32;
  std::memcpy(&w[sSource], m.key.source().bytes().data(), 16);
  std::memcpy(&w[sGroup], m.key.group().bytes().data(), 16);
  std::memcpy(&w[sName], name.data(), name.size());
  w[sCheck] = checkOf(w, sMeta, sCheck, slot);
}

// The entry words 1-15 of slot `i` describe, or why they describe none.
std::optional<Membership> decode(std::uint64_t const (&w)[kWords], std::uint64_t i, std::string& why) {
  auto const state = w[sMeta] & 0xff;
  if (state == 0) {
    for (std::size_t k = sMeta; k < kWords; ++k) {
      if (w[k] != 0) {
        why = "empty slot with non-zero content";
        return std::nullopt;
      }
    }
    return std::nullopt;
  }
  if (state != 1) {
    why = "unknown state " + std::to_string(state);
    return std::nullopt;
  }
  if (w[sCheck] != checkOf(w, sMeta, sCheck, i) || w[sZero] != 0) {
    why = "checksum mismatch";
    return std::nullopt;
  }
  auto const srcAf = (w[sMeta] >> 8) & 0xff;
  auto const grpAf = (w[sMeta] >> 16) & 0xff;
  auto const nameLen = (w[sMeta] >> 24) & 0xff;
  if (srcAf > 2 || grpAf > 2 || nameLen > Wirl::IntfId::kMaxNameLength) {
    why = "field out of range";
    return std::nullopt;
  }
  Wirl::IpGenAddr::Bytes src{};
  Wirl::IpGenAddr::Bytes grp{};
  std::memcpy(src.data(), &w[sSource], 16);
  std::memcpy(grp.data(), &w[sGroup], 16);
  std::string_view const name(reinterpret_cast<char const*>(&w[sName]), nameLen);
  if (!name.empty() && !Wirl::IntfId::validName(name)) {
    why = "invalid interface name";
    return std::nullopt;
  }
  Wirl::IpGenAddr const s(static_cast<Wirl::AddressFamily>(srcAf), src);
  Wirl::IpGenAddr const g(static_cast<Wirl::AddressFamily>(grpAf), grp);
  if (s.bytes() != src || g.bytes() != grp) {
    why = "address bytes beyond the family's length";
    return std::nullopt;
  }
  return Membership{RouteIntfKey(s, g, name.empty() ? Wirl::IntfId() : Wirl::IntfId::fromName(name)),
                    static_cast<std::uint32_t>(w[sMeta] >> 32)};
}

std::string slotMessage(std::string const& seg, std::uint64_t i, std::string const& why) {
  return "shared segment " + seg + ", slot " + std::to_string(i) + ": " + why;
}

bool writerAlive(std::uint64_t pid) {
  if (pid == 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

// ---- names ------------------------------------------------------------------------------

std::optional<std::string> segmentNameProblem(std::string const& name) {
  if (name.empty()) return "segment name is empty";
  if (name.size() > 200) return "segment name is longer than 200 characters";
  if (name == "." || name == "..") return "segment name '" + name + "' is reserved";
  for (char c : name) {
    bool const ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                    c == '_' || c == '-';
    if (!ok) {
      return "segment name '" + name + "' has the character '" + std::string(1, c) +
             "' (allowed: letters, digits, '.', '_', '-')";
    }
  }
  return std::nullopt;
}

bool segmentRemove(std::string const& name, std::string& error) {
  if (auto problem = segmentNameProblem(name)) {
    error = *problem;
    return false;
  }
  if (::shm_unlink(segPath(name).c_str()) != 0) {
    error = sysError("cannot remove segment " + name);
    return false;
  }
  return true;
}

std::uint64_t Segment::slotCountFor(std::uint64_t capacity) { return capacity; }

// ---- the mapping --------------------------------------------------------------------------

SegmentMap::~SegmentMap() {
  if (base_) ::munmap(base_, bytes_);
  if (fd_ >= 0) ::close(fd_);
}

std::uint64_t SegmentMap::generation() const noexcept {
  return word(header() + hGeneration).load(std::memory_order_acquire);
}

std::uint64_t SegmentMap::highWater() const noexcept {
  std::uint64_t const h = word(header() + hHighWater).load(std::memory_order_acquire);
  return h < slotCount_ ? h : slotCount_;
}

std::uint64_t SegmentMap::count() const noexcept { return word(header() + hCount).load(std::memory_order_relaxed); }

std::uint64_t* SegmentMap::slot(std::uint64_t i) const noexcept {
  return reinterpret_cast<std::uint64_t*>(static_cast<char*>(base_) + Segment::kHeaderBytes + i * Segment::kSlotBytes);
}

std::optional<Membership> SegmentMap::readSlot(std::uint64_t i) const {
  std::uint64_t* const s = slot(i);
  using Clock = std::chrono::steady_clock;
  std::optional<Clock::time_point> waitingSince;
  for (unsigned attempt = 0;; ++attempt) {
    std::uint64_t const seq = word(s + sSeq).load(std::memory_order_acquire);
    if (seq & 1) {
      // A write in progress, or one that never completed.
      if (!writerAlive(loadWord(header() + hWriterPid))) {
        throw Corvo::CorruptionDetectedException(
            slotMessage(name_, i, "write left unfinished (sequence number odd, no writer)"));
      }
      if (!waitingSince) waitingSince = Clock::now();
      if (Clock::now() - *waitingSince > std::chrono::seconds(2)) {
        throw Corvo::CorruptionDetectedException(slotMessage(name_, i, "write in progress for over 2 s"));
      }
      if (attempt > 64) std::this_thread::sleep_for(std::chrono::microseconds(50));
      continue;
    }
    std::uint64_t w[kWords];
    for (std::size_t k = 1; k < kWords; ++k) w[k] = loadWord(s + k);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (word(s + sSeq).load(std::memory_order_relaxed) != seq) continue;  // changed while copied
    w[sSeq] = 0;
    std::string why;
    auto entry = decode(w, i, why);
    if (!why.empty()) throw Corvo::CorruptionDetectedException(slotMessage(name_, i, why));
    return entry;
  }
}

namespace {

// Maps an open segment after checking who owns it, who may write it and its
// header. `writer`: also requires that this user owns it.
void mapChecked(int fd, std::string const& name, bool writer, void*& base, std::size_t& bytes,
                std::uint64_t& capacity, std::uint64_t& slotCount) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw Corvo::Exception(sysError("cannot inspect segment " + name));
  if (writer && st.st_uid != ::geteuid()) {
    throw Corvo::Exception("segment " + name + " is owned by uid " + std::to_string(st.st_uid) +
                           ", not by this user (uid " + std::to_string(::geteuid()) + "): refused");
  }
  if (st.st_mode & 022) {
    std::ostringstream mode;
    mode << std::oct << (st.st_mode & 0777);
    throw Corvo::Exception("segment " + name + " is writable by group or others (mode 0" + mode.str() +
                           "): refused");
  }
  auto const size = static_cast<std::uint64_t>(st.st_size);
  if (size < Segment::kHeaderBytes) {
    throw Corvo::Exception("segment " + name + " is " + std::to_string(size) +
                           " bytes, too small for a Join table header: not a Join table");
  }
  bytes = static_cast<std::size_t>(size);
  base = ::mmap(nullptr, bytes, writer ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
  if (base == MAP_FAILED) {
    base = nullptr;
    throw Corvo::Exception(sysError("cannot map segment " + name));
  }
  // Slots are reached at random: large pages, where the system offers them
  // for shared memory, spare TLB misses (a hint; refusal changes nothing).
  (void)::madvise(base, bytes, MADV_HUGEPAGE);
  auto* const h = static_cast<std::uint64_t*>(base);
  if (word(h + hMagic).load(std::memory_order_acquire) != kMagic) {
    throw Corvo::Exception("segment " + name + " is not a Join table (bad magic number)");
  }
  auto const version = static_cast<std::uint32_t>(h[hVersionSlotBytes]);
  auto const slotBytes = h[hVersionSlotBytes] >> 32;
  if (version != Segment::kLayoutVersion || slotBytes != Segment::kSlotBytes) {
    throw Corvo::Exception("segment " + name + " has layout version " + std::to_string(version) + " with " +
                           std::to_string(slotBytes) + "-byte slots; this program reads version " +
                           std::to_string(Segment::kLayoutVersion) + " with " +
                           std::to_string(Segment::kSlotBytes) + "-byte slots");
  }
  if (h[hCheck] != checkOf(h, hMagic, hCheck, 0)) {
    throw Corvo::Exception("segment " + name + " has a damaged header (check word mismatch)");
  }
  capacity = h[hCapacity];
  slotCount = h[hSlotCount];
  std::uint64_t const expected = Segment::kHeaderBytes + slotCount * Segment::kSlotBytes;
  if (capacity == 0 || capacity > Segment::kMaxCapacity || slotCount != Segment::slotCountFor(capacity) ||
      h[hBytes] != expected || size != expected) {
    throw Corvo::Exception("segment " + name + " is " + std::to_string(size) + " bytes but its header says " +
                           std::to_string(h[hBytes]) + " (capacity " + std::to_string(capacity) + ", " +
                           std::to_string(slotCount) + " slots): refused");
  }
}

}  // namespace

// ---- writer ---------------------------------------------------------------------------------

std::unique_ptr<SharedSegment> SharedSegment::open(std::string const& name, SegmentOptions const& options) {
  if (auto problem = segmentNameProblem(name)) throw Corvo::Exception(*problem);
  if (options.capacity == 0 || options.capacity > Segment::kMaxCapacity) {
    throw Corvo::Exception("segment capacity must be 1 to " + std::to_string(Segment::kMaxCapacity) + " Joins");
  }
  std::unique_ptr<SharedSegment> seg(new SharedSegment());
  seg->name_ = name;
  mode_t const mode = options.groupRead ? 0640 : 0600;
  bool created = true;
  seg->fd_ = ::shm_open(segPath(name).c_str(), O_RDWR | O_CREAT | O_EXCL, mode);
  if (seg->fd_ < 0 && errno == EEXIST) {
    created = false;
    seg->fd_ = ::shm_open(segPath(name).c_str(), O_RDWR, 0);
  }
  if (seg->fd_ < 0) throw Corvo::Exception(sysError("cannot open segment " + name));
  if (::flock(seg->fd_, LOCK_EX | LOCK_NB) != 0) {
    throw Corvo::Exception("segment " + name + " is being written by another process: refused");
  }
  struct stat st {};
  if (::fstat(seg->fd_, &st) != 0) throw Corvo::Exception(sysError("cannot inspect segment " + name));
  // Created now, or created by a writer that died before the header was
  // complete (it is all zero up to the magic number, which goes last).
  // Its header is all zero, or complete but for the magic number.
  std::uint64_t h[hCheck + 1] = {};
  bool unfinished = st.st_size == 0;
  if (!unfinished && ::pread(seg->fd_, h, sizeof h, 0) == static_cast<ssize_t>(sizeof h) && h[hMagic] == 0) {
    bool const zero = (h[1] | h[2] | h[3] | h[4] | h[5]) == 0;
    unfinished = zero || (h[hVersionSlotBytes] == (Segment::kLayoutVersion | std::uint64_t{Segment::kSlotBytes} << 32) &&
                          h[hBytes] == static_cast<std::uint64_t>(st.st_size));
  }
  bool const blank = created || (st.st_uid == ::geteuid() && !(st.st_mode & 022) && unfinished);
  if (blank) {
    if (::fchmod(seg->fd_, mode) != 0) throw Corvo::Exception(sysError("cannot set the mode of segment " + name));
    std::uint64_t const slots = Segment::slotCountFor(options.capacity);
    std::uint64_t const bytes = Segment::kHeaderBytes + slots * Segment::kSlotBytes;
    if (::ftruncate(seg->fd_, static_cast<off_t>(bytes)) != 0) {
      throw Corvo::Exception(sysError("cannot size segment " + name));
    }
    void* base = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, seg->fd_, 0);
    if (base == MAP_FAILED) throw Corvo::Exception(sysError("cannot map segment " + name));
    auto* const fresh = static_cast<std::uint64_t*>(base);
    fresh[hVersionSlotBytes] = Segment::kLayoutVersion | std::uint64_t{Segment::kSlotBytes} << 32;
    fresh[hCapacity] = options.capacity;
    fresh[hSlotCount] = slots;
    fresh[hBytes] = bytes;
    std::uint64_t tmp[hCheck + 1] = {kMagic, fresh[1], fresh[2], fresh[3], fresh[4], 0};
    fresh[hCheck] = checkOf(tmp, hMagic, hCheck, 0);
    word(fresh + hMagic).store(kMagic, std::memory_order_release);
    ::munmap(base, bytes);
  }
  mapChecked(seg->fd_, name, true, seg->base_, seg->bytes_, seg->capacity_, seg->slotCount_);
  word(seg->header() + hWriterPid).store(static_cast<std::uint64_t>(::getpid()), std::memory_order_release);
  seg->load();
  return seg;
}

SharedSegment::~SharedSegment() {
  if (base_) word(header() + hWriterPid).store(0, std::memory_order_release);
}

void SharedSegment::load() {
  std::uint64_t const zero[kWords] = {};
  std::unordered_map<RouteIntfKey, std::uint32_t> seen;  // start-up only: duplicates
  bool cleared = false;
  for (std::uint64_t i = 0; i < slotCount_; ++i) {
    std::uint64_t* const s = slot(i);
    std::string why;
    std::optional<Membership> entry;
    if (s[sSeq] & 1) {
      why = "write left unfinished (sequence number odd): slot cleared";
    } else {
      std::uint64_t w[kWords];
      std::memcpy(w, s, sizeof w);
      entry = decode(w, i, why);
      if (!why.empty()) why += ": slot cleared";
    }
    if (entry) {
      auto const [at, fresh] = seen.try_emplace(entry->key, static_cast<std::uint32_t>(i));
      if (!fresh) {
        why = "duplicate of slot " + std::to_string(at->second) + ": slot cleared";
      } else {
        ++count_;
        highWater_ = i + 1;
        loaded_.push_back(Loaded{*entry, static_cast<std::uint32_t>(i)});
      }
    }
    if (!why.empty()) {
      damage_.push_back(slotMessage(name_, i, why));
      writeSlot(i, zero);
      cleared = true;
    }
  }
  for (std::uint64_t i = highWater_; i-- > 0;) {
    if (loadWord(slot(i) + sMeta) == 0) free_.push_back(static_cast<std::uint32_t>(i));
  }
  word(header() + hHighWater).store(highWater_, std::memory_order_release);
  word(header() + hCount).store(count_, std::memory_order_relaxed);
  if (cleared) changed(0);
}

void SharedSegment::writeSlot(std::uint64_t i, std::uint64_t const (&w)[kWords]) {
  std::uint64_t* const s = slot(i);
  // A slot left odd by a writer that died goes back to even (+1), any other
  // passes through odd (+1) to the next even (+2).
  std::uint64_t const seq = loadWord(s + sSeq);
  std::uint64_t const odd = seq | 1;
  word(s + sSeq).store(odd, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  for (std::size_t k = 1; k < kWords; ++k) word(s + k).store(w[k], std::memory_order_relaxed);
  word(s + sSeq).store(odd + 1, std::memory_order_release);
}

void SharedSegment::changed(std::int64_t countDelta) {
  count_ = static_cast<std::uint64_t>(static_cast<std::int64_t>(count_) + countDelta);
  word(header() + hCount).store(count_, std::memory_order_relaxed);
  // The one writer: a plain increment, published with release.
  std::uint64_t* const g = header() + hGeneration;
  word(g).store(loadWord(g) + 1, std::memory_order_release);
}

std::uint32_t SharedSegment::insert(Membership const& m) {
  if (count_ >= capacity_) return kNoSlot;
  // A slot below the high-water mark when one is free: entries stay packed.
  std::uint32_t slotNo;
  if (!free_.empty()) {
    slotNo = free_.back();
    free_.pop_back();
  } else {
    slotNo = static_cast<std::uint32_t>(highWater_++);
    word(header() + hHighWater).store(highWater_, std::memory_order_release);
  }
  std::uint64_t w[kWords];
  encode(m, slotNo, w);
  writeSlot(slotNo, w);
  changed(1);
  return slotNo;
}

void SharedSegment::rewrite(std::uint32_t slotNo, Membership const& m) {
  std::uint64_t w[kWords];
  encode(m, slotNo, w);
  writeSlot(slotNo, w);
  changed(0);
}

void SharedSegment::clear(std::uint32_t slotNo) {
  std::uint64_t const zero[kWords] = {};
  writeSlot(slotNo, zero);
  free_.push_back(slotNo);
  changed(-1);
}

void SharedSegment::verify(std::uint32_t slotNo, Membership const& m) {
  std::uint64_t w[kWords];
  std::uint64_t const* const s = slot(slotNo);
  for (std::size_t k = 0; k < kWords; ++k) w[k] = s[k];
  std::string why;
  auto const entry = decode(w, slotNo, why);
  if (why.empty() && entry && *entry == m) return;
  if (why.empty()) why = "holds another entry than the one written";
  rewrite(slotNo, m);
  throw Corvo::CorruptionDetectedException(slotMessage(name_, slotNo, why + ": written again"));
}

// ---- reader ----------------------------------------------------------------------------------

std::unique_ptr<SegmentReader> SegmentReader::open(std::string const& name) {
  if (auto problem = segmentNameProblem(name)) throw Corvo::Exception(*problem);
  std::unique_ptr<SegmentReader> r(new SegmentReader());
  r->name_ = name;
  r->fd_ = ::shm_open(segPath(name).c_str(), O_RDONLY, 0);
  if (r->fd_ < 0) throw Corvo::Exception(sysError("cannot open segment " + name));
  mapChecked(r->fd_, name, false, r->base_, r->bytes_, r->capacity_, r->slotCount_);
  return r;
}

std::vector<Membership> SegmentReader::snapshot() const {
  std::vector<Membership> out;
  for (unsigned attempt = 0;; ++attempt) {
    out.clear();
    std::uint64_t const before = generation();
    for (std::uint64_t i = 0, end = highWater(); i < end; ++i) {
      if (auto m = readSlot(i)) out.push_back(*m);
    }
    if (generation() == before || attempt >= 20) return out;
    std::this_thread::sleep_for(std::chrono::microseconds(200 << (attempt < 4 ? attempt : 4)));
  }
}

}  // namespace Routing::Gmp::Brim
