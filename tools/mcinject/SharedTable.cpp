#include "SharedTable.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <set>
#include <thread>
#include <vector>

#include "Brim/SharedSegment.h"
#include "Corvo/Exception.h"
#include "Session.h"
#include "Show.h"

namespace Mcinject {

namespace {

using Routing::Gmp::Brim::Membership;
using Routing::Gmp::Brim::RouteIntfKey;
using Routing::Gmp::Brim::SegmentReader;
using Routing::Gmp::Brim::Status;

struct Configured {
  std::string name;
  Routing::Gmp::Brim::SegmentOptions options;
  Vorn::Ptr<Status> first;  // opened by prepare, taken by the first World
};

Configured& configured() {
  static Configured c;
  return c;
}

volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) { interrupted = 1; }

// Every entry a read of the whole table finds, damaged slots reported and
// skipped; read again while the writer changed the table meanwhile (a few
// times at most).
std::vector<Membership> readAll(SegmentReader const& reader, std::vector<std::string>& damage) {
  std::vector<Membership> out;
  for (unsigned attempt = 0;; ++attempt) {
    out.clear();
    damage.clear();
    std::uint64_t const before = reader.generation();
    for (std::uint64_t i = 0, end = reader.highWater(); i < end; ++i) {
      try {
        if (auto m = reader.readSlot(i)) out.push_back(*m);
      } catch (Corvo::CorruptionDetectedException const& e) {
        damage.push_back(e.msg());
      }
    }
    if (reader.generation() == before || attempt >= 20) return out;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

std::string jsonString(std::string const& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + '"';
}

std::string jsonEntry(Membership const& m) {
  return "{\"interface\":" + jsonString(m.key.intf().stringValue()) +
         ",\"group\":" + jsonString(m.key.group().stringValue()) +
         ",\"source\":" + jsonString(m.key.source().stringValue()) + ",\"value\":" + std::to_string(m.value) + "}";
}

void reportDamage(std::vector<std::string> const& damage, std::string const& name, std::ostream& err) {
  for (std::string const& msg : damage) err << "mcinject: corruption detected in table " << name << ": " << msg << '\n';
  err.flush();
}

std::unique_ptr<SegmentReader> openReader(std::string const& name, char const* command, std::ostream& err) {
  try {
    return SegmentReader::open(name);
  } catch (Corvo::Exception const& e) {
    err << "mcinject " << command << ": " << e.msg() << std::endl;
    return nullptr;
  }
}

int printJoins(std::string const& name, bool json, std::ostream& out, std::ostream& err) {
  auto reader = openReader(name, "joins", err);
  if (!reader) return kExitBadInput;
  std::vector<std::string> damage;
  std::vector<Membership> const entries = readAll(*reader, damage);
  if (json) {
    auto sorted = entries;
    std::sort(sorted.begin(), sorted.end(), [](Membership const& a, Membership const& b) {
      return joinText(a.key) < joinText(b.key);
    });
    out << "{\"segment\":" << jsonString(name) << ",\"generation\":" << reader->generation() << ",\"joins\":[";
    for (std::size_t i = 0; i < sorted.size(); ++i) out << (i ? "," : "") << jsonEntry(sorted[i]);
    out << "]}\n";
  } else {
    // The same table `show joins` prints, from a copy in this process.
    auto copy = Status::statusIs();
    for (Membership const& m : entries) copy->membershipIs(m);
    showJoins(out, *copy);
  }
  out.flush();
  reportDamage(damage, name, err);
  return damage.empty() ? kExitOk : kExitExpectationFailed;
}

int watch(std::string const& name, bool json, std::ostream& out, std::ostream& err) {
  auto reader = openReader(name, "watch", err);
  if (!reader) return kExitBadInput;
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  std::vector<std::string> damage;
  auto const asSet = [](std::vector<Membership> const& v) {
    std::set<std::pair<RouteIntfKey, std::uint32_t>> s;
    for (Membership const& m : v) s.emplace(m.key, m.value);
    return s;
  };
  std::uint64_t seen = reader->generation();
  auto known = asSet(readAll(*reader, damage));
  reportDamage(damage, name, err);
  err << "mcinject watch: watching " << name << " (" << known.size() << " entries), Ctrl-C to stop" << std::endl;
  while (!interrupted) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::uint64_t const now = reader->generation();
    if (now == seen) continue;
    seen = now;
    auto const current = asSet(readAll(*reader, damage));
    reportDamage(damage, name, err);
    auto const print = [&](std::pair<RouteIntfKey, std::uint32_t> const& e, bool added) {
      Membership const m{e.first, e.second};
      if (json) {
        out << "{\"event\":\"" << (added ? "add" : "remove") << "\",\"join\":" << jsonEntry(m) << "}\n";
      } else {
        out << (added ? "Join added " : "Join removed ") << joinText(m.key);
        if (m.value != 1) out << " value " << m.value;
        out << '\n';
      }
    };
    for (auto const& e : known) {
      if (!current.count(e)) print(e, false);
    }
    for (auto const& e : current) {
      if (!known.count(e)) print(e, true);
    }
    out.flush();
    known = current;
  }
  return kExitOk;
}

}  // namespace

SharedTableCli::SharedTableCli(CLI::App& app) {
  app.add_option("--table", tableName_,
                 "keep the GMP status table in the shared-memory segment NAME (created when missing, kept after "
                 "exit; the Joins stay in it when the program ends)")
      ->type_name("NAME");
  app.add_option("--capacity", capacity_, "Joins a segment made by --table can hold (default 262144)")
      ->type_name("N")
      ->check(CLI::Range(std::uint64_t{1}, Routing::Gmp::Brim::Segment::kMaxCapacity));
  app.add_flag("--group-read", groupRead_, "a segment made by --table is readable by its group (mode 0640, not 0600)");
  joins_ = app.add_subcommand("joins", "print the Joins of a shared segment (exit 1: damage was found and reported)");
  joins_->add_option("NAME", subName_, "the segment")->required();
  joins_->add_flag("--json", json_, "one JSON object instead of the table");
  watch_ = app.add_subcommand("watch", "print each Join added to or removed from a shared segment, until interrupted");
  watch_->add_option("NAME", subName_, "the segment")->required();
  watch_->add_flag("--json", json_, "one JSON object per line");
  table_ = app.add_subcommand("table", "manage a shared segment");
  table_->add_option("NAME", subName_, "the segment")->required();
  table_->add_flag("--remove", remove_, "remove the segment")->required();
}

std::optional<int> SharedTableCli::run(std::ostream& out, std::ostream& err) {
  if (joins_->parsed()) return printJoins(subName_, json_, out, err);
  if (watch_->parsed()) return watch(subName_, json_, out, err);
  if (table_->parsed()) {
    std::string error;
    if (!Routing::Gmp::Brim::segmentRemove(subName_, error)) {
      err << "mcinject table: " << error << std::endl;
      return kExitBadInput;
    }
    return kExitOk;
  }
  return std::nullopt;
}

int SharedTableCli::prepare(std::ostream& err) {
  if (tableName_.empty()) return kExitOk;
  Configured& c = configured();
  c.name = tableName_;
  c.options.capacity = capacity_;
  c.options.groupRead = groupRead_;
  try {
    // Damage found while opening is reported now, through the table's handler.
    c.first = Status::statusIs(c.name, c.options);
  } catch (Corvo::Exception const& e) {
    err << "mcinject: --table: " << e.msg() << std::endl;
    c.name.clear();
    return kExitBadInput;
  }
  return kExitOk;
}

Vorn::Ptr<Status> gmpStatusForWorld() {
  Configured& c = configured();
  if (c.name.empty()) return Status::statusIs();
  if (c.first) return std::exchange(c.first, nullptr);
  return Status::statusIs(c.name, c.options);
}

void gmpStatusReleased(Status& status) { status.segmentRelease(); }

}  // namespace Mcinject
