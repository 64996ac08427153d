#include "matrix/matrix.h"

#include <cstdlib>
#include <iostream>
#include <new>

void MatrixFatal(const char* message) {
  std::cout << message << std::endl;
  std::exit(1);
}

namespace matrix_block {
namespace {

// Hands the blocks cached by a thread back to the allocator when that thread ends.
struct CacheDrain {
  ~CacheDrain() {
    for (std::size_t words = 0; words <= kCachedWords; ++words) {
      while (FreeBlock* block = freeLists[words]) {
        freeLists[words] = block->next;
        ::operator delete(block, words * 8);
      }
    }
  }
};

}  // namespace

void* Allocate(std::size_t words) {
  static thread_local CacheDrain drain;
  (void)drain;
  return ::operator new(words * 8);
}

void Deallocate(void* block, std::size_t words) {
  ::operator delete(block, words * 8);
}

}  // namespace matrix_block
