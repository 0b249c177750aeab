// Brim::BrimMapBase — what every shared-memory table has in common: the
// corruption hook.
//
// A read of a shared-memory table may find it damaged; the table then raises
// Corvo::CorruptionDetectedException, and the reader hands the exception's
// message to `doCorruptionDetected`, which records it and reports it on
// standard error (or to a reporter installed by tests and tools).
// `corruptNextReadIs(true)` arms the table so that its next read raises, as a
// damaged table would: tests and the scenario program use it.
//
//   try { v = table.read(k); }
//   catch (Corvo::CorruptionDetectedException const& e) { table.doCorruptionDetected(e.msg()); }
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace Brim {

class BrimMapBase {
 public:
  using Reporter = std::function<void(std::string const& table, std::string const& msg)>;

  explicit BrimMapBase(std::string tableName) : tableName_(std::move(tableName)) {}
  virtual ~BrimMapBase() = default;

  std::string const& tableName() const noexcept { return tableName_; }

  // Records and reports a corruption found while reading this table.
  void doCorruptionDetected(std::string const& msg) const;
  std::uint32_t corruptionsDetected() const noexcept { return corruptions_; }
  std::string const& lastCorruption() const noexcept { return lastCorruption_; }

  void corruptNextReadIs(bool armed) noexcept { corruptNextRead_ = armed; }
  bool corruptNextRead() const noexcept { return corruptNextRead_; }

  // Process-wide reporter (null: standard error).
  static void reporterIs(Reporter reporter);

 protected:
  // Called at the start of every read: raises once when armed.
  void checkRead() const;

 private:
  std::string tableName_;
  mutable bool corruptNextRead_ = false;
  mutable std::uint32_t corruptions_ = 0;
  mutable std::string lastCorruption_;
};

}  // namespace Brim
