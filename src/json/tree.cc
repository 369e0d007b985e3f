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

namespace {

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

}  // namespace

bool parse_tree(const Input& input, Tree& tree) {
  Scanner scanner(input);
  TreeBuilder builder(tree.memory());
  if (parse_document(scanner, builder) != ParseOutcome::Ok) return false;
  tree.root = builder.root();
  return true;
}

}  // namespace qx::json
