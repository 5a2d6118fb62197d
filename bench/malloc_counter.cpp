#include "malloc_counter.h"

#include <malloc.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(std::size_t size);
void __libc_free(void* block);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<long long> calls{0};
std::atomic<long long> liveBytes{0};
std::atomic<long long> peakBytes{0};

void CountTaken(void* block) noexcept {
  if (block != nullptr && counting.load(std::memory_order_relaxed)) {
    calls.fetch_add(1, std::memory_order_relaxed);
    const auto size = static_cast<long long>(malloc_usable_size(block));
    const long long now = liveBytes.fetch_add(size) + size;
    long long peak = peakBytes.load(std::memory_order_relaxed);
    while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
    }
  }
}

void CountGiven(void* block) noexcept {
  if (block != nullptr && counting.load(std::memory_order_relaxed)) {
    liveBytes.fetch_sub(static_cast<long long>(malloc_usable_size(block)));
  }
}

}  // namespace

namespace Vexa::Bench::MallocCounter {

void Start() noexcept {
  calls = 0;
  liveBytes = 0;
  peakBytes = 0;
  counting = true;
}
void Stop() noexcept {
  counting = false;
}
long long Calls() noexcept {
  return calls.load();
}
long long LiveBytes() noexcept {
  return liveBytes.load();
}
long long PeakBytes() noexcept {
  return peakBytes.load();
}

}  // namespace Vexa::Bench::MallocCounter

extern "C" {
void* malloc(std::size_t size) {
  void* block = __libc_malloc(size);
  CountTaken(block);
  return block;
}
void free(void* block) {
  CountGiven(block);
  __libc_free(block);
}
void* calloc(std::size_t count, std::size_t size) {
  void* block = __libc_calloc(count, size);
  CountTaken(block);
  return block;
}
void* realloc(void* block, std::size_t size) {
  CountGiven(block);
  void* moved = __libc_realloc(block, size);
  CountTaken(moved != nullptr ? moved : (size == 0 ? nullptr : block));
  return moved;
}
void* memalign(std::size_t alignment, std::size_t size) {
  void* block = __libc_memalign(alignment, size);
  CountTaken(block);
  return block;
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  return memalign(alignment, size);
}
int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  void* block = memalign(alignment, size);
  if (block == nullptr) {
    return ENOMEM;
  }
  *result = block;
  return 0;
}
}
