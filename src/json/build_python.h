// The Python front end: a whole document parsed straight into Python objects.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "json/bigint.h"
#include "json/scanner.h"
#include "py/result.h"

namespace qx::json {

// A new str from UTF-8 text known to be valid; `ascii` takes the copy road.
// A null Ref with the interpreter's exception set on failure, for a caller
// that takes that exception at once.
Ref new_str(const char* text, size_t size, bool ascii);

// Recently made key strings of one parse, so a key repeated across records
// is one str object (its hash computed once). Direct-mapped over the key's
// bytes; a slot names its text by pointing into the input, which outlives the
// parse, and keys with escapes are not cached. Per call, so never shared.
class KeyCache {
 public:
  // The str of `token`, or a null Ref with the exception set.
  Ref get(const StringToken& token) {
    if (token.escaped || token.size > kMaxKey) return new_str(token.data, token.size, token.ascii);
    if (!slots_) slots_ = std::make_unique<Slot[]>(kSlots);
    Slot& slot = slots_[hash(token.data, token.size) & (kSlots - 1)];
    if (slot.str && slot.size == token.size && same_text(slot.text, token.data, token.size)) {
      return slot.str.clone();
    }
    Ref str = new_str(token.data, token.size, token.ascii);
    if (str) {
      slot.str = str.clone();
      slot.text = token.data;
      slot.size = token.size;
    }
    return str;
  }

 private:
  static constexpr size_t kSlots = 512;
  static constexpr size_t kMaxKey = 64;

  struct Slot {
    const char* text = nullptr;
    size_t size = 0;
    Ref str;
  };

  static uint64_t hash(const char* p, size_t n) {
    uint64_t a, b;
    text_words(p, n, a, b);
    const unsigned __int128 m =
        static_cast<unsigned __int128>(a ^ 0x9E3779B97F4A7C15ull) * (b ^ n ^ 0xC2B2AE3D27D4EB4Full);
    const uint64_t h = static_cast<uint64_t>(m) ^ static_cast<uint64_t>(m >> 64);
    return h ^ (h >> 29);
  }

  std::unique_ptr<Slot[]> slots_;
};

// Finished values wait on one stack of owned references: an array's items
// and an object's alternating keys and values sit above the mark taken when
// it opened, until its closing bracket gathers them into a list or dict.
class PythonBuilder {
 public:
  // The document's value, once the parse succeeded.
  Ref take_root() {
    Ref root = std::move(stack_.back());
    stack_.pop_back();
    return root;
  }
  // The value finished last, still on the stack: the one a check looks at.
  PyObject* top() const { return stack_.back().get(); }
  // The exception that stopped the parse, once a handler refused.
  Error take_error() { return Error::from(std::move(error_)); }

  bool null() { return push(Ref::borrow(Py_None)); }
  bool boolean(bool b) { return push(Ref::borrow(b ? Py_True : Py_False)); }
  bool integer(int64_t i) { return push(Ref::steal(PyLong_FromLongLong(i))); }
  bool big_integer(std::string_view digits) {
    Result<Ref> made = decimal_to_int(digits);
    if (!made.ok()) {
      error_ = std::move(made).error().take();
      return false;
    }
    return push(std::move(made).value());
  }
  bool number(double d) { return push(Ref::steal(PyFloat_FromDouble(d))); }
  bool string(const StringToken& token) {
    return push(new_str(token.data, token.size, token.ascii));
  }
  bool key(const StringToken& token) { return push(keys_.get(token)); }
  // A key whose str the caller keeps in `shared` across the parse (a known
  // field's name): made once, then handed out again.
  bool key(const StringToken& token, Ref& shared) {
    if (!shared) shared = new_str(token.data, token.size, token.ascii);
    return push(shared.clone());
  }

  bool begin_array() { return mark(); }
  bool begin_object() { return mark(); }

  bool end_array() {
    const size_t start = marks_[--depth_];
    const size_t count = stack_.size() - start;
    Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(count)));
    if (!list) return fail();
    for (size_t i = 0; i < count; ++i) {
      PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), stack_[start + i].release());
    }
    stack_.resize(start);
    return push(std::move(list));
  }

  bool end_object() {
    const size_t start = marks_[--depth_];
    // Grown from empty rather than presized: the interpreter's presized dict
    // starts with a general key table, slower to fill and to read than the
    // str-keyed table an empty dict takes on its first str key.
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return fail();
    // Setting a key again keeps its first position and takes the new value.
    for (size_t i = start; i < stack_.size(); i += 2) {
      if (PyDict_SetItem(dict.get(), stack_[i].get(), stack_[i + 1].get()) < 0) return fail();
    }
    stack_.resize(start);
    return push(std::move(dict));
  }

 private:
  // Takes a new object, or the exception of a failed call that made none.
  // Inlined into every event: a call per value costs more than the push.
  [[gnu::always_inline]] bool push(Ref obj) {
    if (!obj) [[unlikely]]
      return fail();
    stack_.push_back(std::move(obj));
    return true;
  }
  [[gnu::cold, gnu::noinline]] bool fail() {
    error_ = Error::fetch().take();
    return false;
  }
  bool mark() {
    marks_[depth_++] = stack_.size();
    return true;
  }

  std::vector<Ref> stack_;
  size_t marks_[kMaxDepth + 1];  // an empty container may sit one level deeper
  int depth_ = 0;
  KeyCache keys_;
  Ref error_;
};

// Parses `input` as one whole document into Python objects: null to None,
// booleans to bool, integers to int, other numbers to float, strings to str,
// arrays to list, objects to dict (a repeated key keeps its first position
// and its last value). Returns the object; a null Ref with `*syntax` filled
// when the input is not one JSON document; or the exception raised while
// making objects.
Result<Ref> parse_to_python(const Input& input, ParseError* syntax);

}  // namespace qx::json
