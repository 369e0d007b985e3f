// JSON checked as it is parsed: each value meets its schema node when the parser reaches it.
#include "check/checked_parse.h"

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "absl/strings/string_view.h"
#include "check/memo.h"
#include "check/walk_kinds.h"
#include "json/build_python.h"
#include "json/parser.h"
#include "json/tree.h"

namespace qx {

namespace {

// How a container is checked, decided by its node when it opens.
enum class Plan : uint8_t {
  Reject,  // no array (or object) is a member
  Skip,    // every one is a member: only its syntax matters
  List,    // items checked one by one against the sequence's item nodes
  Record,  // members checked one by one against the record's fields or its clause
  Whole,   // built, then walked once it is complete
};

struct Planned {
  Plan plan;
  const SchemaNode* node;  // the node that checks the container
};

// A record is checked member by member when its fields fit one 64-bit mask
// of met fields, their names are distinct (found through the index, see
// RecordMemo), and it has at most one clause: with several, a value refused
// by one clause may be taken by the next, which only a walk of the whole
// value can tell.
bool stepwise_shape(const SchemaNode& record) {
  return record.fields().size() <= 64 && record.clauses().size() <= 1;
}

// What a parse keeps about one record node: its index, and per field what
// the parse asks of it again and again (FieldMemo, below).
struct FieldMemo;
struct RecordMemo {
  const SchemaNode* record = nullptr;
  const DeclaredKeys* keys = nullptr;
  bool stepwise = false;
  std::unique_ptr<FieldMemo[]> fields;  // none in a scratch memo
};

// Decided by kinds alone, as the walk decides them: a plain kind never takes
// a container; a union takes what its one member able to take it takes, and
// a union with several such members is walked whole.
Planned plan_container(const SchemaNode& node, bool object) {
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
      return {Plan::Skip, &node};
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Placeholder:
      return {Plan::Reject, &node};
    case NodeKind::Sequence: {
      FixedItems items;
      if (object || node.tuple || !reduce_shape(node.shape(), items)) return {Plan::Reject, &node};
      return {Plan::List, &node};
    }
    case NodeKind::Record:
      if (!object) return {Plan::Reject, &node};
      return {stepwise_shape(node) ? Plan::Record : Plan::Whole, &node};
    case NodeKind::Union: {
      Planned only{Plan::Reject, &node};
      size_t open = 0;
      for (const SchemaNode& member : node.members()) {
        const Planned planned = plan_container(member, object);
        if (planned.plan == Plan::Reject) continue;
        if (planned.plan == Plan::Skip) return planned;
        only = planned;
        ++open;
      }
      return open > 1 ? Planned{Plan::Whole, &node} : only;
    }
    case NodeKind::Literal:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
      return {Plan::Whole, &node};
  }
  return {Plan::Whole, &node};
}

// Whether the walk refuses every scalar for this node on its kind alone,
// beyond what accepts_at_once takes.
bool refuses_other_scalars(const SchemaNode& node) {
  switch (node.kind) {
    case NodeKind::Anything:
    case NodeKind::Any:
    case NodeKind::Nothing:
    case NodeKind::NoneType:
    case NodeKind::Bool:
    case NodeKind::Int:
    case NodeKind::Float:
    case NodeKind::Str:
    case NodeKind::Bytes:
    case NodeKind::Sequence:
    case NodeKind::Set:
    case NodeKind::FrozenSet:
    case NodeKind::Record:
    case NodeKind::Placeholder:
      return true;
    case NodeKind::Literal:
    case NodeKind::Union:
    case NodeKind::Intersection:
    case NodeKind::Complement:
    case NodeKind::Instance:
    case NodeKind::Object:
    case NodeKind::Refinement:
    case NodeKind::Ref:
      return false;
  }
  return false;
}

// What a scalar's kind alone says about it against one node: the kinds
// accepted at once (a bit per json::Kind), and whether every other kind is
// refused without a walk.
struct ScalarTest {
  uint8_t accepted = 0;
  bool decisive = false;
};

ScalarTest scalar_test(const SchemaNode& node, const Precompute& precompute) {
  ScalarTest test;
  if (node.kind == NodeKind::Union) {
    // A union of literals is answered by the walk with one set lookup; its
    // members would only be visited in vain here.
    if (precompute.unions.contains(&node)) return test;
    test.decisive = true;
    for (const SchemaNode& member : node.members()) {
      const ScalarTest inner = scalar_test(member, precompute);
      test.accepted |= inner.accepted;
      test.decisive &= inner.decisive;
    }
    return test;
  }
  for (const json::Kind kind : {json::Kind::Null, json::Kind::Bool, json::Kind::Int,
                                json::Kind::BigInt, json::Kind::Float, json::Kind::String}) {
    json::Value value;
    value.kind = kind;
    if (accepts_at_once(node, ValueRef::parsed(&value))) {
      test.accepted |= static_cast<uint8_t>(1u << static_cast<unsigned>(kind));
    }
  }
  test.decisive = refuses_other_scalars(node);
  return test;
}

struct FieldMemo {
  ScalarTest test;  // of the field's node
  Ref name;         // Python road: the str of the name, once made
};

void fill_memo(const SchemaNode& record, const Precompute& precompute, RecordMemo& memo,
               bool keep_fields) {
  memo.record = &record;
  memo.keys = nullptr;
  memo.fields.reset();
  memo.stepwise = record.fields().empty();
  if (!memo.stepwise) {
    auto hit = precompute.records.find(&record);
    if (hit == precompute.records.end() || hit->second.positions.size() != record.fields().size()) {
      return;
    }
    memo.keys = &hit->second;
    memo.stepwise = true;
  }
  if (!keep_fields) return;
  memo.fields = std::make_unique<FieldMemo[]>(record.fields().size());
  for (size_t i = 0; i < record.fields().size(); ++i) {
    memo.fields[i].test = scalar_test(record.fields()[i].node, precompute);
  }
}

// The state of one open container that is checked member by member.
struct Frame {
  Plan plan;  // List or Record
  const SchemaNode* node;
  FixedItems items;                    // List
  ScalarTest rest_test;                // List: of the rest node; Record: of the clause's value node
  const DeclaredKeys* keys = nullptr;  // Record with fields
  FieldMemo* fields = nullptr;         // Record: per field, when the memo keeps them
  size_t count = 0;                    // items or members so far
  uint64_t met = 0;                    // Record: a bit per field position met
  uint64_t remaining = 0;              // Record: required fields not met yet
  const SchemaNode* next = nullptr;    // Record: the node of the value after the last key
  ScalarTest next_test;                // Record: its scalar test
};

// The value-tree side: builds nothing but the trees of containers walked
// whole, in the thread's spare tree memory.
class TreeFront {
 public:
  bool null() { return !capturing_ || builder().null(); }
  bool boolean(bool b) { return !capturing_ || builder().boolean(b); }
  bool integer(int64_t i) { return !capturing_ || builder().integer(i); }
  bool big_integer(std::string_view digits) { return !capturing_ || builder().big_integer(digits); }
  bool number(double d) { return !capturing_ || builder().number(d); }
  bool string(const json::StringToken& t) { return !capturing_ || builder().string(t); }
  bool key(const json::StringToken& t) { return !capturing_ || builder().key(t); }
  bool key(const json::StringToken& t, Ref&) { return key(t); }
  bool begin_array() { return !capturing_ || builder().begin_array(); }
  bool begin_object() { return !capturing_ || builder().begin_object(); }
  bool end_array() { return !capturing_ || builder().end_array(); }
  bool end_object() { return !capturing_ || builder().end_object(); }

  void start_whole() { capturing_ = true; }
  // The container walked whole, once its closing bracket has been built.
  ValueRef finish_whole() {
    capturing_ = false;
    return ValueRef::parsed(&builder().root());
  }
  // A scalar that only the walk decides: the parsed value itself.
  ValueRef scalar(const json::Value& value) { return ValueRef::parsed(&value); }

 private:
  json::TreeBuilder& builder() {
    if (!builder_) {
      tree_.emplace();
      builder_.emplace(tree_->memory());
    }
    return *builder_;
  }

  bool capturing_ = false;
  std::optional<json::Tree> tree_;
  std::optional<json::TreeBuilder> builder_;
};

// The Python side: builds every object as the plain parse does; checks look
// at the object just finished.
class PythonFront {
 public:
  bool null() { return builder_.null(); }
  bool boolean(bool b) { return builder_.boolean(b); }
  bool integer(int64_t i) { return builder_.integer(i); }
  bool big_integer(std::string_view digits) { return builder_.big_integer(digits); }
  bool number(double d) { return builder_.number(d); }
  bool string(const json::StringToken& t) { return builder_.string(t); }
  bool key(const json::StringToken& t) { return builder_.key(t); }
  bool key(const json::StringToken& t, Ref& shared) { return builder_.key(t, shared); }
  bool begin_array() { return builder_.begin_array(); }
  bool begin_object() { return builder_.begin_object(); }
  bool end_array() { return builder_.end_array(); }
  bool end_object() { return builder_.end_object(); }

  void start_whole() {}
  ValueRef finish_whole() { return ValueRef::python(builder_.top()); }
  ValueRef scalar(const json::Value&) { return ValueRef::python(builder_.top()); }

  Ref take_root() { return builder_.take_root(); }

 private:
  json::PythonBuilder builder_;
};

// The parser's handler: hands every event to the front, then checks the
// value against the node that directs it. Containers that the walk must see
// whole, and those that any value satisfies, are opaque: inside them only
// the front hears the events.
template <class Front>
class CheckedParser {
 public:
  CheckedParser(const SchemaNode& root, const WalkContext& ctx, Front& front)
      : root_(root), ctx_(ctx), front_(front) {}

  bool null() { return front_.null() && scalar(json_value(json::Kind::Null)); }
  bool boolean(bool b) {
    json::Value v = json_value(json::Kind::Bool);
    v.boolean = b;
    return front_.boolean(b) && scalar(v);
  }
  bool integer(int64_t i) {
    json::Value v = json_value(json::Kind::Int);
    v.integer = i;
    return front_.integer(i) && scalar(v);
  }
  bool big_integer(std::string_view digits) {
    return front_.big_integer(digits) && scalar(text_value(json::Kind::BigInt, digits));
  }
  bool number(double d) {
    json::Value v = json_value(json::Kind::Float);
    v.number = d;
    return front_.number(d) && scalar(v);
  }
  bool string(const json::StringToken& t) {
    return front_.string(t) && scalar(text_value(json::Kind::String, {t.data, t.size}));
  }
  bool key(const json::StringToken& t) { return opaque_ != 0 ? front_.key(t) : member_key(t); }
  bool begin_array() { return open(false); }
  bool begin_object() { return open(true); }
  bool end_array() { return close(false); }
  bool end_object() { return close(true); }

 private:
  static json::Value json_value(json::Kind kind) {
    json::Value v;
    v.kind = kind;
    return v;
  }
  static json::Value text_value(json::Kind kind, std::string_view text) {
    json::Value v = json_value(kind);
    v.text = text.data();
    v.size = text.size();
    return v;
  }

  // The node of the value that comes next outside opaque containers; null
  // when no value may come (an item past a fixed-length list). `test` is the
  // node's scalar test where the frame keeps one (`tested`).
  const SchemaNode* next_node(ScalarTest& test, bool& tested) {
    tested = false;
    if (frames_.empty()) return &root_;
    Frame& frame = frames_.back();
    if (frame.plan == Plan::Record) {
      test = frame.next_test;
      tested = true;
      return frame.next;
    }
    const size_t i = frame.count++;
    if (i >= frame.items.count) {
      test = frame.rest_test;
      tested = true;
      return frame.items.rest;
    }
    return &frame.items.node_at(i);
  }

  // Each value walked lives only until the next one takes its memory (a
  // scalar on the stack, a container in the reused tree, or a Python object
  // a later duplicate key frees), so the memo forgets the values before it.
  bool walk_member(const SchemaNode& node, ValueRef value) {
    if (ctx_.memo != nullptr) ctx_.memo->forget_values();
    return walk(node, value, path_, ctx_, errors_) && !*ctx_.stop;
  }

  // Kinds are decided here; what only the walk decides goes to it.
  bool scalar_member(const SchemaNode& node, const ScalarTest& test, const json::Value& value) {
    if ((test.accepted >> static_cast<unsigned>(value.kind)) & 1u) return true;
    return !test.decisive && walk_member(node, front_.scalar(value));
  }

  bool scalar(const json::Value& value) {
    if (opaque_ != 0) return true;
    ScalarTest test;
    bool tested;
    const SchemaNode* node = next_node(test, tested);
    if (node == nullptr) return false;
    if (!tested) test = scalar_test(*node, *ctx_.precompute);
    return scalar_member(*node, test, value);
  }

  // Hands the key to the front, then directs the value after it: a field's
  // node, or the clause's value node once the key meets the clause's key.
  bool member_key(const json::StringToken& token) {
    Frame& frame = frames_.back();
    const SchemaNode& record = *frame.node;
    const std::string_view name(token.data, token.size);
    const std::vector<RecordField>& fields = record.fields();
    const size_t n = fields.size();
    // Members usually come in declaration order: a hit at their own
    // position skips hashing the name.
    size_t i = frame.count++;
    if (i >= n || fields[i].name.size() != name.size() ||
        !json::same_text(fields[i].name.data(), name.data(), name.size())) {
      i = n;
      if (frame.keys != nullptr) {
        auto hit = frame.keys->positions.find(absl::string_view(name.data(), name.size()));
        if (hit != frame.keys->positions.end()) i = hit->second;
      }
    }
    if (i < n) {
      const RecordField& field = fields[i];
      if (frame.fields != nullptr) {
        FieldMemo& memo = frame.fields[i];
        if (!front_.key(token, memo.name)) return false;
        frame.next_test = memo.test;
      } else {
        if (!front_.key(token)) return false;
        frame.next_test = scalar_test(field.node, *ctx_.precompute);
      }
      const uint64_t bit = uint64_t{1} << i;
      if ((frame.met & bit) == 0) {
        frame.met |= bit;
        frame.remaining -= field.required ? 1 : 0;
      }
      frame.next = &field.node;
      return true;
    }
    if (!front_.key(token)) return false;
    if (record.clauses().empty()) return false;
    const Clause& clause = record.clauses().front();
    const ScalarTest key_test = scalar_test(clause.key, *ctx_.precompute);
    if (!scalar_member(clause.key, key_test, text_value(json::Kind::String, name))) {
      return false;
    }
    frame.next = &clause.value;
    frame.next_test = frame.rest_test;
    return true;
  }

  // The memo of `record`, kept for the parse while there is room; beyond
  // that a scratch one that keeps nothing per field.
  const RecordMemo& memo_for(const SchemaNode& record) {
    for (const RecordMemo& memo : memos_) {
      if (memo.record == &record) return memo;
    }
    if (memos_.capacity() == 0) memos_.reserve(kMemos);
    const bool kept = memos_.size() < kMemos;
    RecordMemo& memo = kept ? memos_.emplace_back() : scratch_memo_;
    fill_memo(record, *ctx_.precompute, memo, kept);
    return memo;
  }

  bool open(bool object) {
    if (opaque_ == 0) {
      ScalarTest unused;
      bool tested;
      const SchemaNode* node = next_node(unused, tested);
      if (node == nullptr) return false;
      Planned planned = plan_container(*node, object);
      const RecordMemo* memo = nullptr;
      if (planned.plan == Plan::Record) {
        memo = &memo_for(*planned.node);
        if (!memo->stepwise) planned.plan = Plan::Whole;
      }
      switch (planned.plan) {
        case Plan::Reject:
          return false;
        case Plan::Skip:
          whole_ = nullptr;
          break;
        case Plan::Whole:
          whole_ = planned.node;
          front_.start_whole();
          break;
        case Plan::List:
        case Plan::Record:
          push_frame(planned, memo);
          return object ? front_.begin_object() : front_.begin_array();
      }
    }
    ++opaque_;
    return object ? front_.begin_object() : front_.begin_array();
  }

  void push_frame(const Planned& planned, const RecordMemo* memo) {
    Frame& frame = frames_.emplace_back();
    frame.plan = planned.plan;
    frame.node = planned.node;
    if (planned.plan == Plan::List) {
      reduce_shape(planned.node->shape(), frame.items);
      if (frame.items.rest != nullptr) {
        frame.rest_test = scalar_test(*frame.items.rest, *ctx_.precompute);
      }
      return;
    }
    frame.keys = memo->keys;
    frame.fields = memo->fields.get();
    frame.remaining = memo->keys != nullptr ? memo->keys->required : 0;
    if (!planned.node->clauses().empty()) {
      frame.rest_test = scalar_test(planned.node->clauses().front().value, *ctx_.precompute);
    }
  }

  bool close(bool object) {
    if (!(object ? front_.end_object() : front_.end_array())) return false;
    if (opaque_ != 0) {
      if (--opaque_ != 0 || whole_ == nullptr) return true;
      const SchemaNode& node = *whole_;
      whole_ = nullptr;
      return walk_member(node, front_.finish_whole());
    }
    const Frame& frame = frames_.back();
    // A list with too many items was refused at the first one too many.
    const bool complete =
        frame.plan == Plan::Record ? frame.remaining == 0 : frame.count >= frame.items.count;
    frames_.pop_back();
    return complete;
  }

  const SchemaNode& root_;
  const WalkContext& ctx_;
  Front& front_;
  std::vector<Frame> frames_;
  // A document names few record types; frames point into these, so the
  // vector never grows past its first reservation.
  static constexpr size_t kMemos = 16;
  std::vector<RecordMemo> memos_;
  RecordMemo scratch_memo_;
  size_t opaque_ = 0;                  // depth inside an opaque container
  const SchemaNode* whole_ = nullptr;  // the node of the opaque container walked whole
  Path path_;                          // Membership walks push nothing on these
  ErrorList errors_;
};

// Runs one checked parse with a Membership context of its own, so nothing
// it meets (a fatal exception included) reaches the two-pass road.
template <class Front>
json::ParseOutcome run_checked_parse(const json::Input& input, const CompiledSchema& schema,
                                     const Precompute& precompute, Front& front) {
  RecursionGuard guard;
  FatalSlot fatal;
  bool stop = false;
  WalkMemo memo(nullptr, schema, precompute);  // the parser makes builtin values only
  WalkContext ctx{&schema.pool, &schema.definitions, &precompute, &guard, &fatal,
                  &stop,        WalkMode::Membership};
  ctx.memo = &memo;
  json::Scanner scanner(input);
  CheckedParser<Front> parser(schema.root, ctx, front);
  return json::parse_document(scanner, parser);
}

}  // namespace

CheckedParse check_json_while_parsing(const json::Input& input, const CompiledSchema& schema,
                                      const Precompute& precompute) {
  TreeFront front;
  switch (run_checked_parse(input, schema, precompute, front)) {
    case json::ParseOutcome::Ok:
      return CheckedParse::Member;
    case json::ParseOutcome::Invalid:
      return CheckedParse::NotJson;
    case json::ParseOutcome::Failed:
      return CheckedParse::Unsure;
  }
  return CheckedParse::Unsure;
}

Ref load_json_while_checking(const json::Input& input, const CompiledSchema& schema,
                             const Precompute& precompute) {
  PythonFront front;
  if (run_checked_parse(input, schema, precompute, front) != json::ParseOutcome::Ok) return Ref();
  return front.take_root();
}

}  // namespace qx
