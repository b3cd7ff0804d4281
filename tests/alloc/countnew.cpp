#include "alloc/countnew.hpp"

#include <cstdlib>
#include <new>

uint64_t COUNTNEW_ALLOCS = 0;

static void* COUNTNEW(std::size_t N) {
  COUNTNEW_ALLOCS++;
  void* P = std::malloc(N == 0 ? 1 : N);
  if (P == nullptr) {
    throw std::bad_alloc();
  }
  return P;
}

static void* COUNTNEW_ALIGNED(std::size_t N, std::align_val_t A) {
  COUNTNEW_ALLOCS++;
  std::size_t AL = static_cast<std::size_t>(A);
  void* P = std::aligned_alloc(AL, (N + AL - 1) / AL * AL);
  if (P == nullptr) {
    throw std::bad_alloc();
  }
  return P;
}

void* operator new(std::size_t N) {
  return COUNTNEW(N);
}
void* operator new[](std::size_t N) {
  return COUNTNEW(N);
}
void* operator new(std::size_t N, const std::nothrow_t&) noexcept {
  try {
    return COUNTNEW(N);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t N, const std::nothrow_t&) noexcept {
  try {
    return COUNTNEW(N);
  } catch (...) {
    return nullptr;
  }
}
void* operator new(std::size_t N, std::align_val_t A) {
  return COUNTNEW_ALIGNED(N, A);
}
void* operator new[](std::size_t N, std::align_val_t A) {
  return COUNTNEW_ALIGNED(N, A);
}
void operator delete(void* P) noexcept {
  std::free(P);
}
void operator delete[](void* P) noexcept {
  std::free(P);
}
void operator delete(void* P, std::size_t) noexcept {
  std::free(P);
}
void operator delete[](void* P, std::size_t) noexcept {
  std::free(P);
}
void operator delete(void* P, std::align_val_t) noexcept {
  std::free(P);
}
void operator delete[](void* P, std::align_val_t) noexcept {
  std::free(P);
}
void operator delete(void* P, std::size_t, std::align_val_t) noexcept {
  std::free(P);
}
void operator delete[](void* P, std::size_t, std::align_val_t) noexcept {
  std::free(P);
}
