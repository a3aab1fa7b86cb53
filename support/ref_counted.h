// Heap records that threads share by reference counting: every holder owns
// one reference and the last to let go deletes the record. For a record that
// a thread writes while the one who started it may go away first.
#pragma once

#include <windows.h>

#include <utility>

namespace tw {

// Base of a shared record T; T is made on the heap with one reference.
template <typename T>
class RefCounted {
 public:
  RefCounted(const RefCounted&) = delete;
  RefCounted& operator=(const RefCounted&) = delete;

  void AddRef() { InterlockedIncrement(&references_); }
  // Deletes the record when this was the last reference.
  void Release() {
    if (InterlockedDecrement(&references_) == 0) delete static_cast<T*>(this);
  }

 protected:
  RefCounted() = default;
  ~RefCounted() = default;

 private:
  volatile LONG references_ = 1;
};

// Move-only owner of one reference to a shared record.
template <typename T>
class RefPtr {
 public:
  RefPtr() = default;
  // Takes over a reference that the caller owns (a new record's first).
  explicit RefPtr(T* adopted) noexcept : record_(adopted) {}
  ~RefPtr() { Reset(); }
  RefPtr(RefPtr&& other) noexcept : record_(std::exchange(other.record_, nullptr)) {}
  RefPtr& operator=(RefPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      record_ = std::exchange(other.record_, nullptr);
    }
    return *this;
  }
  RefPtr(const RefPtr&) = delete;
  RefPtr& operator=(const RefPtr&) = delete;

  // A reference of its own for another holder (another thread).
  RefPtr Share() const {
    if (record_ != nullptr) record_->AddRef();
    return RefPtr(record_);
  }
  // Lets go of this reference.
  void Reset() {
    if (record_ != nullptr) std::exchange(record_, nullptr)->Release();
  }
  T* Get() const { return record_; }
  T* operator->() const { return record_; }
  explicit operator bool() const { return record_ != nullptr; }

 private:
  T* record_ = nullptr;
};

}  // namespace tw
