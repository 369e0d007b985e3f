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

  // Forgets every allocation. Up to `keep` bytes stay with the arena as one
  // block, so the next document of a similar size touches memory that is
  // already mapped instead of faulting in fresh pages.
  void reset(size_t keep);

 private:
  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size;
  };
  void start_block(size_t size);

  std::vector<Block> blocks_;
  char* next_ = nullptr;
  char* limit_ = nullptr;
  size_t block_size_ = kFirstBlock;

  static constexpr size_t kFirstBlock = 16 * 1024;
};

// The memory a parse needs beside its input: the arena and the scratch
// stacks of unfinished containers.
struct TreeMemory {
  Arena arena;
  std::vector<Value> values;
  std::vector<Member> members;
  bool in_use = false;
};

// A parsed document. Escaped strings live in the arena; every other text
// points into the input, which must outlive the tree.
//
// Its memory is the calling thread's spare set when that is free, kept
// between calls (bounded by kKeptBytes) so repeated checks stop paying page
// faults; a check nested inside another on the same thread (a predicate
// that checks JSON itself) finds the set in use and gets a fresh one.
class Tree {
 public:
  Tree();
  ~Tree();
  Tree(const Tree&) = delete;
  Tree& operator=(const Tree&) = delete;

  TreeMemory& memory() { return *memory_; }

  Value root;

  // What one thread keeps for its next document.
  static constexpr size_t kKeptBytes = size_t{4} << 20;

 private:
  TreeMemory* memory_;
  std::unique_ptr<TreeMemory> own_;
};

// Parses `input` as one whole document into `tree`; false when it is not one.
bool parse_tree(const Input& input, Tree& tree);

}  // namespace qx::json
