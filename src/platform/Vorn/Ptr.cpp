#include "Vorn/Ptr.h"

namespace Vorn {

PtrInterface::~PtrInterface() {
  assert((refs_ == 0 || refs_ >= kBeingDestroyed) && "destroying an object that is still referenced");
}

void PtrInterface::zeroReferencesIs() const { delete this; }

}  // namespace Vorn
