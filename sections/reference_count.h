// Intrusive reference counting for the shared objects of the archive and section libraries.
// Counts are plain ints: the installer is single-threaded. Copying an object does not copy its
// count. An empty pointer means "none" throughout the code.
#pragma once

#include <cassert>
#include <cstdint>
#include <utility>

class ReferenceCount {
 public:
  ReferenceCount() = default;
  ReferenceCount(const ReferenceCount&) : count_(0) {}
  ReferenceCount& operator=(const ReferenceCount&) { return *this; }
  virtual ~ReferenceCount() = default;

  void incRef() const { ++count_; }
  // Destroys the object when the last reference goes.
  void decRef() const {
    assert(count_ > 0 && "reference count went below zero");
    if (--count_ == 0) delete this;
  }
  int32_t refCount() const { return count_; }

 private:
  mutable int32_t count_ = 0;
};

// Despite its name, no safer than ReferenceCount: the counts are not interlocked, and no object
// counted this way may be shared between threads. The name is the one every shared class of
// the libraries has always derived from; it marks them, it promises nothing more.
class SafeReferenceCount : public ReferenceCount {};

// The counting pointer over any ReferenceCount class.
template <class T>
class RefPtr {
 public:
  RefPtr() = default;
  RefPtr(std::nullptr_t) {}
  explicit RefPtr(T* object) : object_(object) {
    if (object_) object_->incRef();
  }
  RefPtr(const RefPtr& other) : RefPtr(other.object_) {}
  RefPtr(RefPtr&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  template <class U>
  RefPtr(const RefPtr<U>& other) : RefPtr(other.get()) {}
  ~RefPtr() {
    if (object_) object_->decRef();
  }

  // The new object gains its reference before the old one loses its own, so assigning a
  // pointer to (something owned by) itself is safe.
  RefPtr& operator=(const RefPtr& other) {
    reset(other.object_);
    return *this;
  }
  RefPtr& operator=(RefPtr&& other) noexcept {
    if (this != &other) {
      T* old = object_;
      object_ = other.object_;
      other.object_ = nullptr;
      if (old) old->decRef();
    }
    return *this;
  }
  void reset(T* object = nullptr) {
    if (object == object_) return;
    if (object) object->incRef();
    T* old = object_;
    object_ = object;
    if (old) old->decRef();
  }

  T* get() const { return object_; }
  T* operator->() const { return object_; }
  T& operator*() const { return *object_; }
  explicit operator bool() const { return object_ != nullptr; }
  bool operator==(const RefPtr& other) const { return object_ == other.object_; }
  bool operator!=(const RefPtr& other) const { return object_ != other.object_; }
  bool operator==(std::nullptr_t) const { return object_ == nullptr; }
  bool operator!=(std::nullptr_t) const { return object_ != nullptr; }

 private:
  T* object_ = nullptr;
};

template <class T, class... Args>
RefPtr<T> makeRef(Args&&... args) {
  return RefPtr<T>(new T(std::forward<Args>(args)...));
}

template <class T, class U>
RefPtr<T> refCast(const RefPtr<U>& from) {
  return RefPtr<T>(dynamic_cast<T*>(from.get()));
}
