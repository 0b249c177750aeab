#include "Brim/BrimMapBase.h"

#include <iostream>

#include "Corvo/Exception.h"

namespace Brim {

namespace {
BrimMapBase::Reporter& reporter() {
  static BrimMapBase::Reporter r;
  return r;
}
}  // namespace

void BrimMapBase::reporterIs(Reporter r) { reporter() = std::move(r); }

void BrimMapBase::doCorruptionDetected(std::string const& msg) const {
  ++corruptions_;
  lastCorruption_ = msg;
  if (reporter()) {
    reporter()(tableName_, msg);
  } else {
    std::cerr << "corruption detected in table " << tableName_ << ": " << msg << '\n';
  }
}

void BrimMapBase::checkRead() const {
  if (!corruptNextRead_) return;
  corruptNextRead_ = false;
  throw Corvo::CorruptionDetectedException("corrupted entry in shared table " + tableName_);
}

}  // namespace Brim
