#pragma once

#include <memory>
#include <new>
#include <utility>

namespace tarnwick {

// Room for one T in a ring, built when something is put in and destroyed when it is taken
// out. A ring of them can be allocated whole without touching its memory.
template <typename T>
class RawSlot {
 public:
  template <typename U>
  void construct(U&& value) {
    std::construct_at(item(), std::forward<U>(value));
  }
  // Moves the item out and destroys what is left of it.
  T take() {
    T value = std::move(*item());
    std::destroy_at(item());
    return value;
  }

 private:
  T* item() { return std::launder(reinterpret_cast<T*>(bytes_)); }

  alignas(T) unsigned char bytes_[sizeof(T)];
};

}  // namespace tarnwick
