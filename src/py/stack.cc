// Native stack guard: each thread's stack bounds, read from the platform on its first check.
#include "py/stack.h"

#include <pthread.h>

namespace qx {

namespace stack_detail {

constinit thread_local uintptr_t stack_floor QX_STACK_TLS = UINTPTR_MAX;

namespace {

// The lowest address of this thread's stack; 0 until read or when unknown.
constinit thread_local uintptr_t stack_end QX_STACK_TLS = 0;

// The lowest usable address of the calling thread's stack, or 0.
uintptr_t read_stack_end() noexcept {
#if defined(__APPLE__)
  pthread_t self = pthread_self();
  const auto top = reinterpret_cast<uintptr_t>(pthread_get_stackaddr_np(self));
  return top - pthread_get_stacksize_np(self);
#elif defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  void* low = nullptr;
  size_t size = 0;
  const int got = pthread_attr_getstack(&attr, &low, &size);
  pthread_attr_destroy(&attr);
  return got == 0 ? reinterpret_cast<uintptr_t>(low) : 0;
#else
  return 0;
#endif
}

// Reads this thread's bounds on its first use of the guard.
void read_bounds() noexcept {
  if (stack_floor != UINTPTR_MAX) return;
  stack_end = read_stack_end();
  stack_floor = stack_end == 0 ? 0 : stack_end + kStackMargin;
}

}  // namespace

bool exhausted_below_floor(uintptr_t here) noexcept {
  read_bounds();
  // An address below the stack's end is not on this thread's stack at all
  // (a coroutine library's own stack): there is nothing to judge it by.
  return here < stack_floor && here >= stack_end;
}

}  // namespace stack_detail

size_t stack_room() noexcept {
  using stack_detail::stack_floor;
  stack_detail::read_bounds();
  const uintptr_t here = stack_position();
  if (stack_floor == 0 || here < stack_detail::stack_end) return SIZE_MAX;
  return here > stack_floor ? here - stack_floor : 0;
}

void throw_stack_exhausted() { throw StackExhausted{}; }

}  // namespace qx
