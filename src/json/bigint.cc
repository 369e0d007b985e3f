// Decimal integer text of any length to a Python int.
#include "json/bigint.h"

#include <gmp.h>

#include <bit>
#include <cstdint>

namespace qx::json {
namespace {

// Digits that always fit one unsigned 128-bit accumulator.
constexpr size_t kLeafDigits = 38;

using u128 = unsigned __int128;

u128 leaf_value(const char* digits, size_t count) {
  u128 v = 0;
  for (size_t i = 0; i < count; ++i) v = v * 10 + static_cast<unsigned>(digits[i] - '0');
  return v;
}

Result<Ref> int_from_u128(u128 v, bool negative) {
  if (v <= INT64_MAX) {
    const auto small = static_cast<int64_t>(v);
    return checked(PyLong_FromLongLong(negative ? -small : small));
  }
  QX_ASSIGN(Ref magnitude,
            checked(PyLong_FromUnsignedNativeBytes(&v, sizeof v, Py_ASNATIVEBYTES_NATIVE_ENDIAN)));
  if (!negative) return magnitude;
  return checked(PyNumber_Negative(magnitude.get()));
}

// Raw memory from the interpreter's allocator, freed on every path.
template <class T>
struct RawBuffer {
  explicit RawBuffer(size_t count) : data(static_cast<T*>(PyMem_RawMalloc(count * sizeof(T)))) {}
  ~RawBuffer() { PyMem_RawFree(data); }
  RawBuffer(const RawBuffer&) = delete;
  RawBuffer& operator=(const RawBuffer&) = delete;
  T* data;
};

// Limbs enough for any value of `digits` decimal digits, one to spare for
// the sign of a two's-complement form: log2(10) < 10/3 bits per digit.
static_assert(sizeof(mp_limb_t) == sizeof(uint64_t));
size_t limbs_for(size_t digits) { return digits * 10 / (3 * GMP_NUMB_BITS) + 3; }

// GMP converts in O(M(n) log n). Its own scratch memory is taken through its
// process-wide allocation functions, which this module leaves as they are
// (another extension in the process may have installed its own); what it
// asks for is bounded by a small multiple of the text, already in memory.
// The result buffer and the digit values are ours, so a failure to get them
// is an ordinary MemoryError.
Result<Ref> int_from_digits(const char* digits, size_t n, bool negative) {
  RawBuffer<unsigned char> values(n);
  RawBuffer<mp_limb_t> limbs(limbs_for(n));
  if (values.data == nullptr || limbs.data == nullptr) {
    PyErr_NoMemory();
    return Error::fetch();
  }
  for (size_t i = 0; i < n; ++i) values.data[i] = static_cast<unsigned char>(digits[i] - '0');
  auto count = static_cast<size_t>(mpn_set_str(limbs.data, values.data, n, 10));
  // A zero limb above the magnitude leaves room for the sign bit; negating
  // all of them gives the two's-complement form the interpreter reads.
  limbs.data[count++] = 0;
  if (negative) mpn_neg(limbs.data, limbs.data, static_cast<mp_size_t>(count));
  if constexpr (std::endian::native != std::endian::little) {
    for (size_t i = 0; i < count; ++i) limbs.data[i] = __builtin_bswap64(limbs.data[i]);
  }
  return checked(PyLong_FromNativeBytes(limbs.data, count * sizeof(mp_limb_t),
                                        Py_ASNATIVEBYTES_LITTLE_ENDIAN));
}

}  // namespace

Result<Ref> decimal_to_int(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.size() <= kLeafDigits) {
    return int_from_u128(leaf_value(text.data(), text.size()), negative);
  }
  return int_from_digits(text.data(), text.size(), negative);
}

}  // namespace qx::json
