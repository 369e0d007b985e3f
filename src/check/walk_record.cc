// The walk over dicts and JSON objects: the record's first pass, a pure membership test.
#include <algorithm>
#include <memory>
#include <new>
#include <string_view>

#include "absl/container/flat_hash_set.h"
#include "absl/strings/string_view.h"
#include "check/dict_items.h"
#include "check/test_cost.h"
#include "check/walk_kinds.h"
#include "json/scanner.h"
#include "py/text.h"

namespace qx {

namespace {

// Sub-walks of the first pass run in Membership mode, which neither pushes
// path segments nor appends records: one empty path and list serve them all.
struct Probe {
  WalkContext ctx;
  Path path;
  ErrorList errors;
  DictItem* item = nullptr;  // the dict item under test, held before any walk

  explicit Probe(const WalkContext& outer) : ctx(outer.with_mode(WalkMode::Membership)) {}
  bool accepts(const SchemaNode& node, ValueRef value) {
    if (accepts_natively(node, value, ctx)) return true;
    hold();
    return walk(node, value, path, ctx, errors);
  }
  void hold() {
    if (item != nullptr) item->hold();
  }
};

enum class KeyMatch { Undeclared, Accepted, Rejected };

// How a record finds the declared field(s) of a key: one lookup in the
// index, which chains the fields of a name declared twice (each of them must
// be satisfied, as the explaining pass of the record check demands); without
// an index (the algebra's walks) the fields are scanned.
struct FieldFinder {
  const SchemaNode& record;
  // Bound once: every key of the dict reads the field list.
  const std::vector<RecordField>& fields;
  const DeclaredKeys* entry = nullptr;  // the record's index entry, if any
  const DeclaredKeys* keys = nullptr;   // the same, when it names each field once

  // `known` is the record's entry when the caller has it at hand.
  FieldFinder(const SchemaNode& r, const Precompute& pre, const DeclaredKeys* known)
      : record(r), fields(r.fields()), entry(known) {
    if (r.fields().empty()) return;  // dict[K, V]: nothing to find, no index to look up
    if (entry == nullptr) {
      auto hit = pre.records.find(&r);
      if (hit == pre.records.end()) return;
      entry = &hit->second;
    }
    if (entry->positions.size() == r.fields().size()) keys = entry;
  }

  uint64_t required_count() const {
    if (entry != nullptr) return entry->required;
    uint64_t n = 0;
    for (const RecordField& f : fields) n += f.required ? 1 : 0;
    return n;
  }

  // The position of the first field named `name`, or -1.
  int64_t first(std::string_view name) const {
    if (entry != nullptr) return first_position(*entry, name);
    return scan(name, 0);
  }

  // The position of the next field after `position` with its name, or -1.
  int64_t next(size_t position) const {
    if (entry != nullptr) {
      if (entry->same_name.empty() || entry->same_name[position] == 0) return -1;
      return entry->same_name[position];
    }
    return scan(fields[position].name, position + 1);
  }

  static int64_t first_position(const DeclaredKeys& index, std::string_view name) {
    auto hit = index.positions.find(absl::string_view(name.data(), name.size()));
    return hit == index.positions.end() ? -1 : static_cast<int64_t>(hit->second);
  }

  int64_t scan(std::string_view name, size_t from) const {
    for (size_t i = from; i < fields.size(); ++i) {
      if (fields[i].name == name) return static_cast<int64_t>(i);
    }
    return -1;
  }

  // The position of the field named `name`, or -1; `keys` must be set.
  // `at` is the key's place in the dict and `after` the place after the
  // field the key before it named (the first field after the last): a dict
  // that follows the declaration order, or moved one key (a tag put last or
  // first) elsewhere, names its field at one of these, and a hit there skips
  // hashing the name.
  int64_t find(std::string_view name, size_t at, size_t after) const {
    for (size_t hint : {after == fields.size() ? 0 : after, at, at + 1}) {
      if (hint < fields.size() && same_name(fields[hint].name, name)) {
        return static_cast<int64_t>(hint);
      }
    }
    return first_position(*keys, name);
  }

  static bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() && json::same_text(a.data(), b.data(), a.size());
  }

  // How dear the test of field `position` (or, for -1, of an undeclared key)
  // is; Python when the record has no index entry.
  TestCost cost(int64_t position) const {
    if (entry == nullptr) return TestCost::Python;
    if (position >= 0) return entry->costs[static_cast<size_t>(position)];
    return record.clauses().empty() ? TestCost::Plain : entry->clauses;
  }

  // Walks `value` against every field named `name`, in declaration order
  // (for records whose names are not all distinct, or that have no index);
  // each required field that accepts it takes one off `remaining`.
  KeyMatch visit(std::string_view name, ValueRef value, Probe& probe, uint64_t& remaining) const {
    KeyMatch match = KeyMatch::Undeclared;
    for (int64_t at = first(name); at >= 0; at = next(static_cast<size_t>(at))) {
      match = visit_field(fields[static_cast<size_t>(at)], value, probe, remaining);
      if (match == KeyMatch::Rejected) break;
    }
    return match;
  }

  static KeyMatch visit_field(const RecordField& field, ValueRef value, Probe& probe,
                              uint64_t& remaining) {
    if (!probe.accepts(field.node, value)) return KeyMatch::Rejected;
    if (field.required && remaining > 0) --remaining;
    return KeyMatch::Accepted;
  }
};

// Tests the first pass puts off: walks that call no user code, held until
// the end or until a test that may call user code is due, which must then
// find them done, as in the dict's order. Among themselves, and against the
// Plain tests taken at once, their order is unobservable, so a record whose
// tag fails is refused before its deep fields are walked. Held inline and
// constructed only when held: a first pass allocates and clears nothing.
template <class Item>
class PutOff {
 public:
  PutOff() = default;
  PutOff(const PutOff&) = delete;
  PutOff& operator=(const PutOff&) = delete;
  ~PutOff() { clear(); }

  // Holds `item`, first running the held ones when there is no room.
  template <class Test>
  bool hold(Item item, Test&& test) {
    if (count_ == kCapacity && !run(test)) return false;
    new (&slots_[count_++].item) Item(std::move(item));
    return true;
  }
  // Runs and drops every held test, in order; false at the first failure.
  template <class Test>
  bool run(Test&& test) {
    bool verdict = true;
    for (size_t i = 0; verdict && i < count_; ++i) verdict = test(slots_[i].item);
    clear();
    return verdict;
  }

 private:
  static constexpr size_t kCapacity = 8;
  union Slot {
    Slot() {}
    ~Slot() {}
    Item item;
  };
  void clear() {
    for (size_t i = 0; i < count_; ++i) slots_[i].item.~Item();
    count_ = 0;
  }
  Slot slots_[kCapacity];
  size_t count_ = 0;
};

// The cost of testing a value now: a Bounded test of an exact builtin value
// runs none of the user's code.
TestCost cost_for(TestCost cost, ValueRef value) {
  if (cost != TestCost::Bounded) return cost;
  // A parsed value meets Python only as an exact builtin.
  return value.is_json() || is_builtin_scalar(value.obj) ? TestCost::Plain : TestCost::Python;
}

// The first catch-all clause that takes both key and value, if any. A
// clause that takes both natively answers before anything runs Python code.
bool clauses_accept(const SchemaNode& record, ValueRef key, ValueRef value, Probe& probe) {
  for (const Clause& clause : record.clauses()) {
    if (accepts_natively(clause.key, key, probe.ctx) &&
        accepts_natively(clause.value, value, probe.ctx)) {
      return true;
    }
    probe.hold();
    if (check_pair(key, probe.ctx, value, clause)) return true;
  }
  return false;
}

// Whether every required field is named by some key of the dict. Reads keys
// only (no Python code runs), so the dict cannot change meanwhile.
bool every_required_named(const SchemaNode& record, PyObject* dict) {
  for (const RecordField& field : record.fields()) {
    if (!field.required) continue;
    bool named = false;
    Py_ssize_t pos = 0;
    DictItem item;
    while (!named && item.next(dict, pos)) {
      std::string_view text;
      named = PyUnicode_Check(item.key()) && utf8_view(item.key(), text) && text == field.name;
    }
    if (!named) return false;
  }
  return true;
}

// One item of a dict whose test is put off: the field (null for an
// undeclared key) and new references to the key and value.
struct HeldItem {
  const RecordField* field = nullptr;
  Ref key;
  Ref value;
};

bool python_fields_pass(const SchemaNode& record, PyObject* dict, Probe& probe,
                        const DeclaredKeys* keys, const KnownField* known);

// Reads the dict through its storage: a subclass's overridden methods never
// run. Code run by a member's check may change the dict; that ends the check
// (for_each_dict_item). Kept out of line, as is json_first_pass: inlined
// into walk_record, its locals would stay on the stack through every level
// of the explaining pass below it.
[[gnu::noinline]] bool python_first_pass(const SchemaNode& record, PyObject* dict,
                                         const WalkContext& ctx, const DeclaredKeys* keys,
                                         const KnownField* known) {
  if (!PyDict_Check(dict)) return false;
  Probe probe(ctx);
  if (record.fields().empty()) {  // dict[K, V]: every item is undeclared
    // The common item is settled by the first clause's type tests, read
    // once for the whole dict; any other goes through the clauses in order.
    TypeTest key_test;
    TypeTest value_test;
    if (!record.clauses().empty()) {
      key_test = TypeTest(record.clauses().front().key);
      value_test = TypeTest(record.clauses().front().value);
    }
    return for_each_dict_item(dict, ctx, [&](DictItem& item) {
      if (key_test.accepts(item.key()) && value_test.accepts(item.value())) return true;
      probe.item = &item;
      return clauses_accept(record, ValueRef::python(item.key()), ValueRef::python(item.value()),
                            probe);
    });
  }
  return python_fields_pass(record, dict, probe, keys, known);
}

// The first pass of a record with fields. Out of line: the tests it puts off
// take room on the stack that the recursion through dict[K, V] should not.
[[gnu::noinline]] bool python_fields_pass(const SchemaNode& record, PyObject* dict, Probe& probe,
                                          const DeclaredKeys* keys, const KnownField* known) {
  const WalkContext& ctx = probe.ctx;
  const FieldFinder finder(record, *ctx.precompute, keys);
  const RecordField* known_field = known != nullptr ? &record.fields()[known->position] : nullptr;
  uint64_t remaining = finder.required_count();
  // Exact str keys of one dict never share a text, so counting them counts
  // distinct fields. A str subclass may bring its own hash and equality and
  // sit beside a key of the same text; once such a key has counted, a count
  // of zero is confirmed by name before it is believed.
  bool counted_subclass = false;
  auto test = [&](const RecordField* field, PyObject* key, PyObject* value) {
    if (field == nullptr) {
      return clauses_accept(record, ValueRef::python(key), ValueRef::python(value), probe);
    }
    if (field == known_field && value == known->value) {
      if (field->required && remaining > 0) --remaining;
    } else if (FieldFinder::visit_field(*field, ValueRef::python(value), probe, remaining) ==
               KeyMatch::Rejected) {
      return false;
    }
    counted_subclass |= !PyUnicode_CheckExact(key);
    return true;
  };
  auto test_held = [&](const HeldItem& held) {
    probe.item = nullptr;  // the held item owns its key and value
    return test(held.field, held.key.get(), held.value.get());
  };
  PutOff<HeldItem> later;
  size_t position = 0;  // of the key in the dict
  size_t after = 0;     // of the field after the one the last key named
  const bool completed = for_each_dict_item(dict, ctx, [&](DictItem& item) {
    PyObject* key = item.key();
    PyObject* value = item.value();
    std::string_view text;  // a str without UTF-8 text (a lone surrogate) names no field
    const bool named = PyUnicode_Check(key) && utf8_view(key, text);
    if (finder.keys == nullptr) {
      probe.item = &item;
      KeyMatch match = KeyMatch::Undeclared;
      if (named) {
        match = finder.visit(text, ValueRef::python(value), probe, remaining);
        counted_subclass |= match == KeyMatch::Accepted && !PyUnicode_CheckExact(key);
      }
      if (match == KeyMatch::Undeclared) {
        return clauses_accept(record, ValueRef::python(key), ValueRef::python(value), probe);
      }
      return match == KeyMatch::Accepted;
    }
    const int64_t at = named ? finder.find(text, position, after) : -1;
    ++position;
    after = static_cast<size_t>(at + 1);
    const RecordField* field = at < 0 ? nullptr : &record.fields()[static_cast<size_t>(at)];
    switch (cost_for(finder.cost(at), ValueRef::python(value))) {
      case TestCost::Pure:
        return later.hold(HeldItem{field, Ref::borrow(key), Ref::borrow(value)}, test_held);
      case TestCost::Python:
        if (!later.run(test_held)) return false;
        break;
      case TestCost::Plain:
      case TestCost::Bounded:
        break;
    }
    probe.item = &item;
    return test(field, key, value);
  });
  if (!completed || !later.run(test_held) || remaining != 0) return false;
  return !counted_subclass || every_required_named(record, dict);
}

// Whether member i is the last one with its key. Small objects are scanned;
// larger ones remember the keys already met from the end in `seen`.
class LastOccurrence {
 public:
  explicit LastOccurrence(const json::Value& object) : object_(object) {}
  bool at(size_t i) {
    std::string_view key = object_.members[i].key;
    if (object_.size <= kScanLimit) {
      for (size_t j = i + 1; j < object_.size; ++j) {
        if (object_.members[j].key == key) return false;
      }
      return true;
    }
    return seen_.insert(absl::string_view(key.data(), key.size())).second;
  }

 private:
  static constexpr size_t kScanLimit = 16;
  const json::Value& object_;
  absl::flat_hash_set<absl::string_view> seen_;
};

// A member whose key names a field: the field's position and the member's.
struct NamedMember {
  size_t field;
  size_t member;
};

// Puts the members that name fields in declaration order, each field once
// with the last member that names it, a member naming a name declared twice
// standing for each of its fields. `named` comes from the object's end,
// each member with the first field of its name.
void order_by_field(std::vector<NamedMember>& named, const DeclaredKeys& index) {
  auto before = [](const NamedMember& a, const NamedMember& b) {
    return a.field != b.field ? a.field < b.field : a.member > b.member;
  };
  // An object that follows the declaration order is sorted once reversed.
  std::reverse(named.begin(), named.end());
  if (!std::is_sorted(named.begin(), named.end(), before)) {
    std::sort(named.begin(), named.end(), before);
  }
  // The first of each field's run is its last member.
  auto same_field = [](const NamedMember& a, const NamedMember& b) { return a.field == b.field; };
  named.erase(std::unique(named.begin(), named.end(), same_field), named.end());
  if (index.same_name.empty()) return;
  const size_t firsts = named.size();
  for (size_t i = 0; i < firsts; ++i) {
    for (size_t at = index.same_name[named[i].field]; at != 0; at = index.same_name[at]) {
      named.push_back(NamedMember{at, named[i].member});
    }
  }
  std::sort(named.begin(), named.end(), before);
}

// The members of an object sorted out by one look-up of each key: those
// that name fields, and (kept only for a record with clauses, which test
// them) a bit per member that is one of them. Held on the heap: the pass
// keeps them through the walks of the members, and a frame that recursion
// through nested records repeats must stay small.
struct ObjectKeys {
  std::vector<NamedMember> named;
  std::vector<uint64_t> declared;
  size_t declared_count = 0;  // members whose key names a field, repeats included

  bool is_declared(size_t i) const {
    return !declared.empty() && ((declared[i / 64] >> (i % 64)) & 1u) != 0;
  }
};

// Looks each key of `object` up once, from the end, so that the first
// member met of a key is the one that counts; a declared key is found at its
// own place when the object follows the declaration order.
void sort_out_keys(const SchemaNode& record, const json::Value& object, const FieldFinder& finder,
                   const DeclaredKeys& index, ObjectKeys& keys) {
  const bool keep_bits = !record.clauses().empty();
  for (size_t i = object.size; i > 0; --i) {
    const std::string_view key = object.members[i - 1].key;
    const int64_t at = finder.keys != nullptr ? finder.find(key, i - 1, i - 1)
                                              : FieldFinder::first_position(index, key);
    if (at < 0) continue;
    if (keys.named.empty()) keys.named.reserve(i);
    keys.named.push_back(NamedMember{static_cast<size_t>(at), i - 1});
    if (keep_bits) {
      if (keys.declared.empty()) keys.declared.assign((object.size + 63) / 64, 0);
      keys.declared[(i - 1) / 64] |= uint64_t{1} << ((i - 1) % 64);
    }
  }
  keys.declared_count = keys.named.size();
  order_by_field(keys.named, index);
}

// Each key is looked up once. The fields are then tested in declaration
// order, each against the last member of its name, and the undeclared keys'
// last occurrences against the clauses: the tests, and where the pass stops,
// are those of visiting every field and then every distinct undeclared key.
[[gnu::noinline]] bool json_first_pass(const SchemaNode& record, const json::Value& object,
                                       const WalkContext& ctx, const DeclaredKeys* keys,
                                       const KnownField* known) {
  if (object.kind != json::Kind::Object) return false;
  Probe probe(ctx);
  const FieldFinder finder(record, *ctx.precompute, keys);
  ObjectKeys sorted_out;
  if (!record.fields().empty()) {
    std::unique_ptr<DeclaredKeys> built;  // the index of a walk that runs without one
    const DeclaredKeys* index = finder.entry;
    if (index == nullptr) {
      built = std::make_unique<DeclaredKeys>(declared_keys(record));
      index = built.get();
    }
    sort_out_keys(record, object, finder, *index, sorted_out);
    struct Held {
      const SchemaNode* node = nullptr;
      const json::Value* value = nullptr;
    };
    auto test = [&](const Held& held) {
      return probe.accepts(*held.node, ValueRef::parsed(held.value));
    };
    PutOff<Held> later;
    uint64_t met = 0;  // required fields met so far, in declaration order
    for (const NamedMember& found : sorted_out.named) {
      // A required field declared before this one has no member.
      if (index->required_before[found.field] != met) return false;
      const RecordField& field = record.fields()[found.field];
      met += field.required ? 1 : 0;
      const json::Value* member = &object.members[found.member].value;
      if (known != nullptr && found.field == known->position && member == known->value) continue;
      const Held held{&field.node, member};
      switch (cost_for(finder.cost(static_cast<int64_t>(found.field)), ValueRef::parsed(member))) {
        case TestCost::Pure:
          if (!later.hold(held, test)) return false;
          continue;
        case TestCost::Python:
          if (!later.run(test)) return false;
          break;
        case TestCost::Plain:
        case TestCost::Bounded:
          break;
      }
      if (!test(held)) return false;
    }
    if (met != index->required || !later.run(test)) return false;
  }
  if (sorted_out.declared_count == object.size) return true;
  if (record.clauses().empty()) return false;  // an undeclared key, which nothing admits
  // Declared keys never equal an undeclared one, so `last` need not see them.
  LastOccurrence last(object);
  for (size_t i = object.size; i-- > 0;) {
    if (sorted_out.is_declared(i) || !last.at(i)) continue;
    const json::Member& member = object.members[i];
    json::Value key;
    key.kind = json::Kind::String;
    key.text = member.key.data();
    key.size = member.key.size();
    if (!clauses_accept(record, ValueRef::parsed(&key), ValueRef::parsed(&member.value), probe)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool record_first_pass(const SchemaNode& record, ValueRef value, const WalkContext& ctx,
                       const DeclaredKeys* keys, const KnownField* known) {
  return value.is_json() ? json_first_pass(record, *value.json, ctx, keys, known)
                         : python_first_pass(record, value.obj, ctx, keys, known);
}

bool walk_record(const SchemaNode& node, ValueRef value, Path& path, const WalkContext& ctx,
                 ErrorList& errors) {
  if (record_first_pass(node, value, ctx, nullptr, nullptr)) return true;
  if (ctx.collecting() && !*ctx.stop) check_record(node, value, path, ctx, errors);
  return false;
}

}  // namespace qx
