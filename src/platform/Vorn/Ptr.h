// Vorn::PtrInterface and Vorn::Ptr<T> — intrusive reference counting.
//
// OVERVIEW
//   Every entity, state machine and reactor derives from PtrInterface and is
//   held through Ptr<T>. The count lives in the object; copying an object does
//   not copy its count; assignment of the base is deleted. When the last Ptr
//   goes, `zeroReferencesIs()` runs (by default: delete this).
//
// GUARANTEES
//   - Ptr<T const> can hold and release a const object (the count is mutable).
//   - A null Ptr is allowed everywhere; comparing and testing it is cheap.
//   - Once the count has dropped to zero the object is marked "being destroyed":
//     building and dropping a Ptr to it from its own destructor (a reactor's
//     zombie step, say) does not delete it a second time.
//   - Counts are plain by default; `threadSafePtrIs(true)` switches every count
//     in the process to atomic operations (set it before any Ptr exists).
//   - The object carries its observers in one word: nothing while it has none,
//     the observer itself while it has one, a heap NotifieeList from the second
//     on (freed again once fewer than two are left and no delivery runs).
//     sizeof(PtrInterface) is three pointers on 64-bit targets.
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

class NotifieeList;
class Key;
using AttributeId = std::uint32_t;

class PtrInterface {
 public:
  class NotifieeConst;

  PtrInterface() noexcept = default;
  // Copying an object never copies its count or its observers.
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

  // Number of observers registered on this object.
  std::size_t notifieeCount() const noexcept;
  // The heap list of observers: present only while two or more are registered,
  // or while a delivery that saw two or more is still running. Null otherwise
  // (no observer, or the one observer kept inline).
  NotifieeList* notifieeList() const noexcept {
    return (observers_ & kListTag) ? reinterpret_cast<NotifieeList*>(observers_ & ~kListTag) : nullptr;
  }

  static void threadSafePtrIs(bool on) noexcept { threadSafe_ = on; }
  static bool threadSafePtr() noexcept { return threadSafe_; }

 protected:
  // Runs when the last counted reference is released. Default: delete this.
  virtual void zeroReferencesIs() const;

  // Delivers a change of `attribute` (with `key`, absent for scalars) to every
  // registered, active observer, synchronously, if this object's notification
  // is on. Safe against observers that detach themselves or others, or that
  // release this object, during delivery.
  void notify(AttributeId attribute, Key const& key) const;

 private:
  friend class NotifieeConst;
  static constexpr std::uint32_t kBeingDestroyed = 0x80000000u;
  // Low bit of observers_: set when the word holds a NotifieeList*, clear when
  // it holds the single observer's NotifieeConst* (both are 8-aligned).
  static constexpr std::uintptr_t kListTag = 1;
  static inline bool threadSafe_ = false;

  void observerAdd(NotifieeConst* n) const;
  void observerDel(NotifieeConst* n) const;
  // Outside any delivery: drops holes, and gives back a list that has fewer
  // than two observers left.
  void observersTidy() const noexcept;

  mutable std::uint32_t refs_ = 0;
  bool notificationActive_ = false;
  // Deliveries of this object's changes now running (nested ones counted).
  mutable std::uint16_t deliveries_ = 0;
  // 0, a NotifieeConst* (one observer) or a NotifieeList* | kListTag.
  mutable std::uintptr_t observers_ = 0;
};

static_assert(sizeof(PtrInterface) == 2 * sizeof(void*) + 8, "the observer word must not grow PtrInterface");

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
