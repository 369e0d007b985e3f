// The value-tree front end: a whole document parsed into an arena, walked in place.
#include "json/tree.h"

#include <algorithm>
#include <cstring>

#include "json/parser.h"

namespace qx::json {

void* Arena::allocate(size_t bytes) {
  constexpr size_t kAlign = alignof(Member) > alignof(Value) ? alignof(Member) : alignof(Value);
  bytes = (bytes + kAlign - 1) & ~(kAlign - 1);
  if (static_cast<size_t>(limit_ - next_) < bytes) {
    // A request larger than the current block size gets a block of its own
    // size, so the growth stays geometric without rounding waste.
    const size_t size = std::max(bytes, block_size_);
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    next_ = blocks_.back().get();
    limit_ = next_ + size;
    block_size_ = std::min<size_t>(block_size_ * 2, size_t{4} << 20);
  }
  void* out = next_;
  next_ += bytes;
  return out;
}

namespace {

// Values of unfinished arrays and members of unfinished objects wait on two
// scratch stacks; a closing bracket copies its run into the arena in one block.
class TreeBuilder {
 public:
  explicit TreeBuilder(Arena& arena) : arena_(arena) {}

  const Value& root() const { return root_; }

  bool null() { return emit(Value{}); }
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
    members_.push_back(Member{std::string_view(keep(token), token.size), Value{}});
    return true;
  }

  bool begin_array() { return open(false, values_.size()); }
  bool begin_object() { return open(true, members_.size()); }

  bool end_array() {
    Value v;
    v.kind = Kind::Array;
    v.items = settle(values_, v.size);
    return emit(v);
  }
  bool end_object() {
    Value v;
    v.kind = Kind::Object;
    v.members = settle(members_, v.size);
    return emit(v);
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

  template <class Fill>
  bool scalar(Kind kind, Fill fill) {
    Value v;
    v.kind = kind;
    fill(v);
    return emit(v);
  }

  // Moves the closing container's run off its scratch stack into the arena.
  template <class T>
  const T* settle(std::vector<T>& pending, size_t& count) {
    const size_t start = levels_[--depth_].start;
    count = pending.size() - start;
    T* out = arena_.allocate_array<T>(count);
    std::copy(pending.begin() + static_cast<ptrdiff_t>(start), pending.end(), out);
    pending.resize(start);
    return out;
  }

  bool open(bool object, size_t start) {
    levels_[depth_++] = Level{object, start};
    return true;
  }

  bool emit(const Value& v) {
    if (depth_ == 0) {
      root_ = v;
    } else if (levels_[depth_ - 1].object) {
      members_.back().value = v;
    } else {
      values_.push_back(v);
    }
    return true;
  }

  Arena& arena_;
  std::vector<Value> values_;
  std::vector<Member> members_;
  Level levels_[kMaxDepth + 1];  // an empty container may sit one level deeper
  int depth_ = 0;
  Value root_;
};

}  // namespace

bool parse_tree(const Input& input, Tree& tree) {
  Scanner scanner(input);
  TreeBuilder builder(tree.arena);
  if (parse_document(scanner, builder) != ParseOutcome::Ok) return false;
  tree.root = builder.root();
  return true;
}

}  // namespace qx::json
