// Process-wide once-cells whose waiters never hold the interpreter.
#pragma once

#include <Python.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "py/result.h"

namespace qx {

// A value filled once by a fallible initialiser that may run Python code.
// A thread that finds the cell empty detaches from the interpreter before it
// waits for the cell's lock and re-attaches once it holds it, so the filler
// (attached, running imports) can never deadlock against a waiter holding the
// interpreter. A failed filling leaves the cell empty; a later call retries.
// The value is never freed: it lives for the process.
template <class T>
class OnceCell {
 public:
  const T* peek() const noexcept { return value_.load(std::memory_order_acquire); }

  template <class Init>  // Init: () -> Result<T>
  Result<const T*> get(Init&& init) {
    if (const T* v = peek()) return v;
    PyThreadState* state = PyEval_SaveThread();
    std::unique_lock<std::mutex> lock(mutex_);
    PyEval_RestoreThread(state);
    if (const T* v = peek()) return v;
    Result<T> made = init();
    if (!made.ok()) return std::move(made).error();
    T* fresh = new T(std::move(made).value());
    value_.store(fresh, std::memory_order_release);
    return static_cast<const T*>(fresh);
  }

 private:
  std::atomic<T*> value_{nullptr};
  std::mutex mutex_;
};

// A per-object value built once by an initialiser that runs no Python code.
// Concurrent first users wait; an initialiser that throws leaves the cell
// empty and the next user builds again. Owned: freed with the cell.
template <class T>
class LazyCell {
 public:
  LazyCell() = default;
  LazyCell(const LazyCell&) = delete;
  LazyCell& operator=(const LazyCell&) = delete;
  ~LazyCell() { delete value_.load(std::memory_order_relaxed); }

  const T* peek() const noexcept { return value_.load(std::memory_order_acquire); }

  template <class Build>  // Build: () -> std::unique_ptr<T>
  const T& get(Build&& build) {
    if (const T* v = peek()) return *v;
    // Detach while waiting: a free-threaded stop-the-world pause must not
    // wait on a thread that is blocked here behind the builder.
    PyThreadState* state = PyEval_SaveThread();
    std::unique_lock<std::mutex> lock(mutex_);
    PyEval_RestoreThread(state);
    if (const T* v = peek()) return *v;
    std::unique_ptr<T> made = build();
    T* raw = made.release();
    value_.store(raw, std::memory_order_release);
    return *raw;
  }

 private:
  std::atomic<T*> value_{nullptr};
  std::mutex mutex_;
};

}  // namespace qx
