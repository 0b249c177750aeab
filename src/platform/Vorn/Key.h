// Vorn::Key — the key that comes with an attribute-change notification.
//
// A notification names the attribute (an AttributeId the entity class defines)
// and, for keyed collections, the key of the element that changed. The key is
// carried type-checked: a handler asks for the type it expects with `get<K>()`
// and a wrong type fails an assertion instead of being reinterpreted.
//
// The Key refers to a key object owned by the notifier for the duration of the
// delivery only; copy it to keep it.
//
//   void onAttribute(Vorn::AttributeId a, Vorn::Key const& key) override {
//     if (a == Status::attrVlan && key) handleVlan(*key.get<Bridging::VlanId>());
//   }
#pragma once

#include <cassert>

namespace Vorn {

class Key {
 public:
  Key() noexcept = default;  // no key: scalar attributes
  template <class K>
  explicit Key(K const& k) noexcept : p_(&k), tag_(tagOf<K>()) {}

  bool present() const noexcept { return p_ != nullptr; }
  explicit operator bool() const noexcept { return present(); }

  template <class K>
  bool is() const noexcept {
    return tag_ == tagOf<K>();
  }
  // The key as K, or null when absent. Asking for another type than the
  // notifier delivered is a programming error.
  template <class K>
  K const* get() const noexcept {
    if (!p_) return nullptr;
    assert(is<K>() && "notification key read as the wrong type");
    return static_cast<K const*>(p_);
  }

 private:
  template <class K>
  static void const* tagOf() noexcept {
    static char const tag = 0;
    return &tag;
  }
  void const* p_ = nullptr;
  void const* tag_ = nullptr;
};

}  // namespace Vorn
