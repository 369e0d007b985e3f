// The value-tree front end: a whole document parsed into an arena, walked in place.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
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

// Values of unfinished arrays and members of unfinished objects wait on two
// scratch stacks; a closing bracket copies its run into the arena in one block.
class TreeBuilder {
 public:
  explicit TreeBuilder(TreeMemory& memory)
      : arena_(memory.arena), values_(memory.values), members_(memory.members) {}

  const Value& root() const { return root_; }

  // Each value is written where it will stay until its container closes,
  // never built aside and copied there.
  bool null() {
    return scalar(Kind::Null, [](Value&) {});
  }
  bool boolean(bool b) {
    return scalar(Kind::Bool, [&](Value& v) { v.boolean = b; });
  }
  bool integer(int64_t i) {
    return scalar(Kind::Int, [&](Value& v) { v.integer = i; });
  }
  bool big_integer(std::string_view digits) {
    return scalar(Kind::BigInt, [&](Value& v) {
      v.text = digits.data();
      v.size = digits.size();
    });
  }
  bool number(double d) {
    return scalar(Kind::Float, [&](Value& v) { v.number = d; });
  }
  bool string(const StringToken& token) {
    return scalar(Kind::String, [&](Value& v) {
      v.text = keep(token);
      v.size = token.size;
    });
  }
  // The member waits on the scratch stack for its value; members of nested
  // objects go above it and are gone again by the time that value arrives.
  bool key(const StringToken& token) {
    members_.emplace_back().key = std::string_view(keep(token), token.size);
    return true;
  }

  bool begin_array() { return open(false, values_.size()); }
  bool begin_object() { return open(true, members_.size()); }

  bool end_array() {
    size_t count;
    const Value* items = settle(values_, count);
    return scalar(Kind::Array, [&](Value& v) {
      v.size = count;
      v.items = items;
    });
  }
  bool end_object() {
    size_t count;
    const Member* members = settle(members_, count);
    return scalar(Kind::Object, [&](Value& v) {
      v.size = count;
      v.members = members;
    });
  }

 private:
  struct Level {
    bool object;
    size_t start;
  };

  const char* keep(const StringToken& token) {
    if (!token.escaped) return token.data;
    char* copy = static_cast<char*>(arena_.allocate(token.size));
    if (token.size) std::memcpy(copy, token.data, token.size);
    return copy;
  }

  // The place of the next value: its member, the end of its array, or the root.
  [[gnu::always_inline]] Value& slot() {
    if (in_object_) return members_.back().value;
    if (depth_ != 0) return values_.emplace_back();
    return root_;
  }

  template <class Fill>
  [[gnu::always_inline]] bool scalar(Kind kind, Fill fill) {
    Value& v = slot();
    v.kind = kind;
    fill(v);
    return true;
  }

  // Moves the closing container's run off its scratch stack into the arena.
  template <class T>
  const T* settle(std::vector<T>& pending, size_t& count) {
    const size_t start = levels_[--depth_].start;
    in_object_ = depth_ != 0 && levels_[depth_ - 1].object;
    count = pending.size() - start;
    T* out = arena_.allocate_array<T>(count);
    std::copy(pending.begin() + static_cast<ptrdiff_t>(start), pending.end(), out);
    pending.resize(start);
    return out;
  }

  bool open(bool object, size_t start) {
    levels_[depth_++] = Level{object, start};
    in_object_ = object;
    return true;
  }

  Arena& arena_;
  std::vector<Value>& values_;
  std::vector<Member>& members_;
  Level levels_[kMaxDepth + 1];  // an empty container may sit one level deeper
  int depth_ = 0;
  bool in_object_ = false;  // the innermost open container is an object
  Value root_;
};

// Parses `input` as one whole document into `tree`; false when it is not one.
bool parse_tree(const Input& input, Tree& tree);

}  // namespace qx::json
