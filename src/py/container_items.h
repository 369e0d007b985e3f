// The items of a builtin container read from its own storage, running no Python code.
#pragma once

#include <Python.h>

#include "py/ref.h"

namespace qx {

// Where one list, tuple, dict, set or frozenset (or a subclass, read as its
// base) stands in an iteration. Holds the container, and each item it hands
// out, so a walk over it is sound without the interpreter lock.
struct ItemCursor {
  Ref container;
  Py_ssize_t pos = 0;
  Ref iterator;  // sets
  Ref pending;   // dicts: the value of the key just handed out
};

// The next item (for a dict: a key, then its value), or null at the end. A
// set that changes size meanwhile ends early, with no exception pending.
Ref next_item(ItemCursor& cursor);

}  // namespace qx
