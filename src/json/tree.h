// The value-tree front end: a whole document parsed into an arena, walked in place.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "json/scanner.h"
#include "json/value.h"

namespace qx::json {

// Bump allocation in growing blocks, all freed together with the arena.
class Arena {
 public:
  // `bytes` of storage aligned for any Value or Member.
  void* allocate(size_t bytes);

  template <class T>
  T* allocate_array(size_t count) {
    return static_cast<T*>(allocate(count * sizeof(T)));
  }

 private:
  std::vector<std::unique_ptr<char[]>> blocks_;
  char* next_ = nullptr;
  char* limit_ = nullptr;
  size_t block_size_ = 16 * 1024;
};

// A parsed document. Escaped strings live in the arena; every other text
// points into the input, which must outlive the tree.
struct Tree {
  Arena arena;
  Value root;
};

// Parses `input` as one whole document into `tree`; false when it is not one.
bool parse_tree(const Input& input, Tree& tree);

}  // namespace qx::json
