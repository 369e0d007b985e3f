// The value-tree front end: a whole document parsed into an arena, walked in place.
#include "json/tree.h"

#include <algorithm>
#include <cstring>

#include "json/parser.h"

namespace qx::json {

void Arena::start_block(size_t size) {
  blocks_.push_back(Block{std::unique_ptr<char[]>(new char[size]), size});  // left uninitialised
  next_ = blocks_.back().bytes.get();
  limit_ = next_ + size;
  block_size_ = std::min<size_t>(std::max(block_size_, size) * 2, size_t{4} << 20);
}

void* Arena::allocate(size_t bytes) {
  constexpr size_t kAlign = alignof(Member) > alignof(Value) ? alignof(Member) : alignof(Value);
  bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
  // A request larger than the current block size gets a block of its own
  // size, so the growth stays geometric without rounding waste.
  if (static_cast<size_t>(limit_ - next_) < bytes) start_block(std::max(bytes, block_size_));
  void* out = next_;
  next_ += bytes;
  return out;
}

void Arena::reset(size_t keep) {
  size_t total = 0;
  for (const Block& block : blocks_) total += block.size;
  if (blocks_.size() == 1 && total <= keep) {
    next_ = blocks_.front().bytes.get();
    return;
  }
  // Several blocks (or one too large) become one block of what the last
  // document needed, as far as `keep` allows.
  blocks_.clear();
  next_ = limit_ = nullptr;
  block_size_ = kFirstBlock;
  if (total > kFirstBlock) start_block(std::min(total, keep));
}

namespace {

// Empties a scratch stack, giving its storage back when it grew past `keep`.
template <class T>
void clear_scratch(std::vector<T>& scratch, size_t keep) {
  scratch.clear();
  if (scratch.capacity() * sizeof(T) > keep) std::vector<T>().swap(scratch);
}

thread_local TreeMemory spare_memory;

}  // namespace

Tree::Tree() {
  if (!spare_memory.in_use) {
    memory_ = &spare_memory;
  } else {
    own_ = std::make_unique<TreeMemory>();
    memory_ = own_.get();
  }
  memory_->in_use = true;
}

Tree::~Tree() {
  if (own_) return;
  memory_->arena.reset(kKeptBytes);
  clear_scratch(memory_->values, kKeptBytes);
  clear_scratch(memory_->members, kKeptBytes);
  memory_->in_use = false;
}

bool parse_tree(const Input& input, Tree& tree) {
  Scanner scanner(input);
  TreeBuilder builder(tree.memory());
  if (parse_document(scanner, builder) != ParseOutcome::Ok) return false;
  tree.root = builder.root();
  return true;
}

}  // namespace qx::json
