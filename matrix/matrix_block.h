// Storage of matrix representations: each representation is one block holding the record, the
// row-pointer array and the elements, in that order. Blocks are recycled by size on the calling
// thread, so the temporaries of the dynamics (thousands per tick) do not pay an allocator round
// trip each. Sanitizer builds hand every block straight to the allocator so that use after free
// and leaks stay visible.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#define VELMOTH_MATRIX_BLOCK_CACHE 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMOTH_MATRIX_BLOCK_CACHE 0
#endif
#endif
#ifndef VELMOTH_MATRIX_BLOCK_CACHE
#define VELMOTH_MATRIX_BLOCK_CACHE 1
#endif

// Size of one representation block in 8-byte words.
template <typename T>
constexpr std::size_t MatrixBlockWords(uint32_t rows, uint32_t cols) {
  static_assert(alignof(T) <= 8, "elements must fit the 8-byte alignment of the block");
  constexpr std::size_t kHeaderWords = (sizeof(void*) * 2 + sizeof(uint32_t) * 5 + 7) / 8;
  const std::size_t bytes =
      static_cast<std::size_t>(rows) * sizeof(void*) +
      static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * sizeof(T);
  return kHeaderWords + (bytes + 7) / 8;
}

namespace matrix_block {

// Blocks up to this many words are kept for reuse; larger ones go back to the allocator.
inline constexpr std::size_t kCachedWords = 1024;

struct FreeBlock {
  FreeBlock* next;
};

// One free list per block size, per thread. Plain pointers only: no constructor or destructor
// runs for it, so access is a direct thread-local load.
inline thread_local FreeBlock* freeLists[kCachedWords + 1];

void* Allocate(std::size_t words);
void Deallocate(void* block, std::size_t words);

}  // namespace matrix_block

inline void* MatrixBlockAcquire(std::size_t words) {
#if VELMOTH_MATRIX_BLOCK_CACHE
  if (words <= matrix_block::kCachedWords) {
    matrix_block::FreeBlock* head = matrix_block::freeLists[words];
    if (head != nullptr) {
      matrix_block::freeLists[words] = head->next;
      return head;
    }
  }
#endif
  return matrix_block::Allocate(words);
}

inline void MatrixBlockRelease(void* block, std::size_t words) {
#if VELMOTH_MATRIX_BLOCK_CACHE
  if (words <= matrix_block::kCachedWords) {
    auto* freed = static_cast<matrix_block::FreeBlock*>(block);
    freed->next = matrix_block::freeLists[words];
    matrix_block::freeLists[words] = freed;
    return;
  }
#endif
  matrix_block::Deallocate(block, words);
}
