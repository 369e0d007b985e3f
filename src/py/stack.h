// Native stack guard: whether the calling thread has room left for another recursive step.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qx {

#if defined(__SANITIZE_ADDRESS__)
#define QX_STACK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QX_STACK_SANITIZED 1
#endif
#endif

// What must stay free below a recursive step: the step's own frames and
// whatever it calls before the next check, CPython included (a repr, an
// isinstance with an ABC, get_type_hints, an import, RE2 matching). CPython
// 3.14 keeps about as much in reserve for its own C recursion. Sanitizer
// frames are several times larger.
#if defined(QX_STACK_SANITIZED)
inline constexpr size_t kStackMargin = 128 * 1024;
#else
inline constexpr size_t kStackMargin = 32 * 1024;
#endif

inline constexpr const char* kStackExhaustedMessage =
    "maximum recursion depth exceeded (the thread's native stack is nearly exhausted)";

// Thrown by the pure tree operations (clone, import, measures, simplify,
// open/close), whose results have no room for an error: like bad_alloc, it
// reports an exhausted resource. The boundary raises it as RecursionError;
// a decision that meets it answers False.
struct StackExhausted {};

// Linux keeps the bounds in static TLS so that reading them is one load
// from the thread pointer rather than a call; a few bytes of the static
// TLS surplus that glibc keeps for loaded modules.
#if defined(__linux__)
#define QX_STACK_TLS [[gnu::tls_model("initial-exec")]]
#else
#define QX_STACK_TLS
#endif

namespace stack_detail {
// The lowest address at which a recursive step may still start: the
// thread's stack end plus kStackMargin. UINTPTR_MAX until this thread's
// bounds are read, 0 where the platform cannot tell (nothing is refused).
extern constinit thread_local uintptr_t stack_floor QX_STACK_TLS;
[[gnu::cold, gnu::noinline]] bool exhausted_below_floor(uintptr_t here) noexcept;
}  // namespace stack_detail

// The current stack pointer. Read directly where the compiler allows, so that
// the check does not make the function keep a frame pointer.
[[gnu::always_inline]] inline uintptr_t stack_position() noexcept {
  uintptr_t sp;
#if defined(__x86_64__)
  asm("mov %%rsp, %0" : "=r"(sp));
#elif defined(__aarch64__)
  asm("mov %0, sp" : "=r"(sp));
#else
  sp = reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
  return sp;
}

// True when less than kStackMargin of this thread's stack is left. Once the
// thread's bounds are known this is a load and a compare.
[[gnu::always_inline]] inline bool stack_exhausted() noexcept {
  const uintptr_t here = stack_position();
  return __builtin_expect(here < stack_detail::stack_floor, 0) &&
         stack_detail::exhausted_below_floor(here);
}

// Bytes of this thread's stack left above the margin: 0 when exhausted,
// SIZE_MAX where the platform cannot tell.
size_t stack_room() noexcept;

[[noreturn, gnu::cold, gnu::noinline]] void throw_stack_exhausted();

// The check of a pure tree operation: throws StackExhausted when the stack
// is nearly used up.
[[gnu::always_inline]] inline void ensure_stack() {
  if (stack_exhausted()) throw_stack_exhausted();
}

}  // namespace qx
