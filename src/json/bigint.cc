// Decimal integer text of any length to a Python int.
#include "json/bigint.h"

#include <cstdint>
#include <vector>

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

Result<Ref> int_from_u128(u128 v) {
  if (v <= UINT64_MAX) return checked(PyLong_FromUnsignedLongLong(static_cast<uint64_t>(v)));
  return checked(PyLong_FromUnsignedNativeBytes(&v, sizeof v, Py_ASNATIVEBYTES_NATIVE_ENDIAN));
}

// Splits a run of n digits as high * 10^k + low with k = kLeafDigits * 2^j,
// the largest such k below n, so every power used is one of a few squares.
// 10^k is applied as 5^k and a shift by k bits: a smaller factor to multiply.
class Converter {
 public:
  Result<Ref> convert(const char* digits, size_t n) {
    if (n <= kLeafDigits) return int_from_u128(leaf_value(digits, n));
    size_t level = 0;
    while ((kLeafDigits << (level + 1)) < n) ++level;
    const size_t k = kLeafDigits << level;
    QX_ASSIGN(Ref high, convert(digits, n - k));
    QX_ASSIGN(Ref low, convert(digits + n - k, k));
    QX_ASSIGN(PyObject * five, power(level));
    QX_ASSIGN(Ref scaled, checked(PyNumber_Multiply(high.get(), five)));
    QX_ASSIGN(Ref bits, checked(PyLong_FromSize_t(k)));
    QX_ASSIGN(Ref shifted, checked(PyNumber_Lshift(scaled.get(), bits.get())));
    return checked(PyNumber_Add(shifted.get(), low.get()));
  }

 private:
  // 5^(kLeafDigits * 2^level), borrowed from the cache.
  Result<PyObject*> power(size_t level) {
    while (powers_.size() <= level) {
      if (powers_.empty()) {
        u128 five = 1;
        for (size_t i = 0; i < kLeafDigits; ++i) five *= 5;
        QX_ASSIGN(Ref base, int_from_u128(five));
        powers_.push_back(std::move(base));
      } else {
        PyObject* last = powers_.back().get();
        QX_ASSIGN(Ref square, checked(PyNumber_Multiply(last, last)));
        powers_.push_back(std::move(square));
      }
    }
    return powers_[level].get();
  }

  std::vector<Ref> powers_;
};

}  // namespace

Result<Ref> decimal_to_int(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  Converter converter;
  QX_ASSIGN(Ref magnitude, converter.convert(text.data(), text.size()));
  if (!negative) return magnitude;
  return checked(PyNumber_Negative(magnitude.get()));
}

}  // namespace qx::json
