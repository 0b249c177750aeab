// Vorn::PtrInterface and Vorn::Ptr<T> — intrusive reference counting.
//
// OVERVIEW
//   Every entity, state machine, reactor and shared handle derives from
//   PtrInterface and is held through Ptr<T>. The count lives in the object;
//   copying an object does not copy its count; assignment of the base is
//   deleted. When the last Ptr goes, `zeroReferencesIs()` runs (by default:
//   delete this). PtrInterface is the count and nothing else an object may not
//   need: objects that others observe derive from Vorn::NotifierBase, which adds
//   the observer storage (Vorn/NotifierBase.h).
//
// GUARANTEES
//   - Ptr<T const> can hold and release a const object (the count is mutable).
//   - A null Ptr is allowed everywhere; comparing and testing it is cheap.
//   - Once the count has dropped to zero the object is marked "being destroyed":
//     building and dropping a Ptr to it from its own destructor (a reactor's
//     zombie step, say) does not delete it a second time.
//   - Counts are plain by default; `threadSafePtrIs(true)` switches every count
//     in the process to atomic operations (set it before any Ptr exists).
//   - sizeof(PtrInterface) is two pointers on 64-bit targets, and the last
//     three bytes of the second are free: a derived class whose first members
//     are small (flags, a 16-bit counter) gets them at no extra size.
//
// WARNING
//   Objects with a zero count that were never held by a Ptr (constructed on the
//   stack, or inside their own constructor) must not be handed to code that
//   takes and drops the only reference: that would delete them.
//
// TYPICAL USAGE
//   auto sm = Vorn::Ptr<Foo>(new Foo(args));   // or Vorn::make<Foo>(args)
//   Vorn::Ptr<Foo const> view = sm;             // const view, same object
#pragma once

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <type_traits>
#include <utility>

#include "Vorn/Pool.h"

namespace Vorn {

class PtrInterface {
 public:
  // The base of reactors: a counted object that observes one Vorn::NotifierBase
  // (Vorn/Notifiee.h).
  class NotifieeConst;

  PtrInterface() noexcept = default;
  // Copying an object never copies its count.
  PtrInterface(PtrInterface const&) noexcept {}
  PtrInterface& operator=(PtrInterface const&) = delete;
  virtual ~PtrInterface();

  // Counted objects are many and small: they come from Vorn::Pool (the
  // virtual destructor hands the real size back on release).
  static void* operator new(std::size_t bytes) { return Pool::allocate(bytes); }
  static void operator delete(void* p, std::size_t bytes) noexcept { Pool::deallocate(p, bytes); }

  void newRef() const noexcept {
    if (threadSafe_) {
      std::atomic_ref<std::uint32_t>(refs_).fetch_add(1, std::memory_order_relaxed);
    } else {
      ++refs_;
    }
  }
  void deleteRef() const noexcept {
    std::uint32_t left;
    if (threadSafe_) {
      left = std::atomic_ref<std::uint32_t>(refs_).fetch_sub(1, std::memory_order_acq_rel) - 1;
    } else {
      left = --refs_;
    }
    if (left == 0) {
      refs_ = kBeingDestroyed;
      zeroReferencesIs();
    }
  }
  // Number of counted references (0 while being destroyed).
  std::uint32_t references() const noexcept {
    return refs_ >= kBeingDestroyed ? 0 : refs_;
  }
  bool beingDestroyed() const noexcept { return refs_ >= kBeingDestroyed; }

  // Entities: whether changes are delivered to observers. Reactors: whether
  // they receive deliveries. State machines override it to switch their tree.
  virtual void hasNotificationActiveIs(bool active) { notificationActive_ = active; }
  bool hasNotificationActive() const noexcept { return notificationActive_; }

  // The framework's type name of the object, for traces and errors.
  virtual char const* fwkType() const { return "Vorn::PtrInterface"; }

  static void threadSafePtrIs(bool on) noexcept { threadSafe_ = on; }
  static bool threadSafePtr() noexcept { return threadSafe_; }

 protected:
  // Runs when the last counted reference is released. Default: delete this.
  virtual void zeroReferencesIs() const;

 private:
  static constexpr std::uint32_t kBeingDestroyed = 0x80000000u;
  static inline bool threadSafe_ = false;

  mutable std::uint32_t refs_ = 0;
  bool notificationActive_ = false;
};

static_assert(sizeof(void*) != 8 || sizeof(PtrInterface) == 16, "PtrInterface is the vtable pointer and one word");

template <class T>
class Ptr {
 public:
  using element_type = T;

  constexpr Ptr() noexcept = default;
  constexpr Ptr(std::nullptr_t) noexcept {}
  Ptr(T* p) noexcept : p_(p) {
    if (p_) p_->newRef();
  }
  Ptr(Ptr const& o) noexcept : p_(o.p_) {
    if (p_) p_->newRef();
  }
  Ptr(Ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(Ptr<U> const& o) noexcept : p_(o.ptr()) {
    if (p_) p_->newRef();
  }
  template <class U>
    requires std::is_convertible_v<U*, T*>
  Ptr(Ptr<U>&& o) noexcept : p_(o.release()) {}
  ~Ptr() {
    if (p_) p_->deleteRef();
  }

  Ptr& operator=(Ptr const& o) noexcept {
    Ptr(o).swap(*this);
    return *this;
  }
  Ptr& operator=(Ptr&& o) noexcept {
    Ptr(std::move(o)).swap(*this);
    return *this;
  }
  Ptr& operator=(std::nullptr_t) noexcept {
    Ptr().swap(*this);
    return *this;
  }

  T* ptr() const noexcept { return p_; }
  T* operator->() const noexcept {
    assert(p_ && "dereferencing a null Vorn::Ptr");
    return p_;
  }
  T& operator*() const noexcept {
    assert(p_ && "dereferencing a null Vorn::Ptr");
    return *p_;
  }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  void swap(Ptr& o) noexcept { std::swap(p_, o.p_); }
  // Gives up the reference without releasing it.
  T* release() noexcept { return std::exchange(p_, nullptr); }

  template <class U>
  bool operator==(Ptr<U> const& o) const noexcept {
    return p_ == o.ptr();
  }
  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }
  template <class U>
  bool operator==(U const* o) const noexcept {
    return p_ == o;
  }

 private:
  T* p_ = nullptr;
};

template <class T, class... Args>
Ptr<T> make(Args&&... args) {
  return Ptr<T>(new T(std::forward<Args>(args)...));
}

template <class T, class U>
Ptr<T> ptr_static_cast(Ptr<U> const& p) noexcept {
  return Ptr<T>(static_cast<T*>(p.ptr()));
}

template <class T, class U>
Ptr<T> ptr_const_cast(Ptr<U> const& p) noexcept {
  return Ptr<T>(const_cast<T*>(p.ptr()));
}

}  // namespace Vorn

template <class T>
struct std::hash<Vorn::Ptr<T>> {
  std::size_t operator()(Vorn::Ptr<T> const& p) const noexcept {
    return std::hash<T*>()(p.ptr());
  }
};
