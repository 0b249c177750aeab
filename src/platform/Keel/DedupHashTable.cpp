#include "Keel/DedupHashTable.h"

namespace Keel {

// ---- DedupHandle ---------------------------------------------------------------------

void DedupHandle::zeroReferencesIs() const {
  auto* self = const_cast<DedupHandle*>(this);
  if (table_) table_->handleReleased(self);
  delete this;
}

// ---- DedupHashTableLifeTimeNotifiee --------------------------------------------------

void DedupHashTableLifeTimeNotifiee::handleInsert(Vorn::Ptr<DedupHandle> const&) const {}

void DedupHashTableLifeTimeNotifiee::handleRemove(DedupHandle*) const {}

void DedupHashTableLifeTimeNotifiee::handleNotificationStop(Vorn::Ptr<DedupHashTable const> const&) const {}

// ---- DedupHashTable ------------------------------------------------------------------

DedupHashTable::DedupHashTable(Vorn::Ptr<DedupHashTableLifeTimeNotifiee> notifiee)
    : notifiee_(std::move(notifiee)) {
  // Not the virtual override: the base flag alone, nothing to deliver yet.
  PtrInterface::hasNotificationActiveIs(true);
}

DedupHashTable::~DedupHashTable() {
  // Derived tables have already done this while their entries existed; a
  // table with no derived storage does it here.
  notificationStop();
}

void DedupHashTable::hasNotificationActiveIs(bool active) {
  bool const wasActive = hasNotificationActive();
  PtrInterface::hasNotificationActiveIs(active);
  if (wasActive && !active && notifiee_) {
    // A Ptr to a table whose count is zero (never held) would delete it.
    bool const counted = references() > 0 || beingDestroyed();
    assert(counted && "a DedupHashTable with a lifetime notifiee must be owned through a Vorn::Ptr");
    if (!counted) return;
    Vorn::Ptr<DedupHashTableLifeTimeNotifiee const> notifiee = notifiee_;
    notifiee->handleNotificationStop(Vorn::Ptr<DedupHashTable const>(this));
  }
}

void DedupHashTable::notificationStop() {
  if (!delivering()) return;
  PtrInterface::hasNotificationActiveIs(false);
  // Destroyed without ever being held by a Ptr: a Ptr to it now would
  // delete it a second time.
  assert(beingDestroyed() && "a DedupHashTable with a lifetime notifiee must be owned through a Vorn::Ptr");
  if (!beingDestroyed()) return;
  notifiee_->handleNotificationStop(Vorn::Ptr<DedupHashTable const>(this));
}

void DedupHashTable::notifyInsert(DedupHandle* handle) const {
  if (!delivering()) return;
  Vorn::Ptr<DedupHashTableLifeTimeNotifiee const> notifiee = notifiee_;
  notifiee->handleInsert(Vorn::Ptr<DedupHandle>(handle));
}

void DedupHashTable::handleReleased(DedupHandle* handle) {
  // handleRemove may drop the last outside reference to the table.
  Vorn::Ptr<DedupHashTable> self;
  if (references() > 0) self = this;
  entryDel(handle);
  handle->beingDetached_ = true;
  if (delivering()) {
    Vorn::Ptr<DedupHashTableLifeTimeNotifiee const> notifiee = notifiee_;
    notifiee->handleRemove(handle);
  }
}

}  // namespace Keel
