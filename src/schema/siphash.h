// SipHash with c compression and d finalisation rounds, fed as a byte stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace qx {

template <int C, int D>
class SipHasher {
 public:
  SipHasher(uint64_t k0 = 0, uint64_t k1 = 0)
      : v0_(k0 ^ 0x736f6d6570736575ULL),
        v1_(k1 ^ 0x646f72616e646f6dULL),
        v2_(k0 ^ 0x6c7967656e657261ULL),
        v3_(k1 ^ 0x7465646279746573ULL) {}

  void write(const void* data, size_t size) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    length_ += size;
    while (size > 0) {
      tail_ |= static_cast<uint64_t>(*p) << (8 * ntail_);
      ++p;
      --size;
      if (++ntail_ == 8) {
        absorb(tail_);
        tail_ = 0;
        ntail_ = 0;
      }
    }
  }
  // Integers are written as 8 little-endian bytes.
  void write_u64(uint64_t v) {
    unsigned char b[8];
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    write(b, 8);
  }
  void write_u8(uint8_t v) { write(&v, 1); }
  // A text is its UTF-8 bytes and a 0xFF terminator.
  void write_text(std::string_view text) {
    write(text.data(), text.size());
    write_u8(0xFF);
  }

  uint64_t finish() const {
    SipHasher copy = *this;
    uint64_t last = (static_cast<uint64_t>(copy.length_ & 0xFF) << 56) | copy.tail_;
    copy.absorb(last);
    copy.v2_ ^= 0xFF;
    for (int i = 0; i < D; ++i) copy.round();
    return copy.v0_ ^ copy.v1_ ^ copy.v2_ ^ copy.v3_;
  }

 private:
  static uint64_t rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }
  void round() {
    v0_ += v1_;
    v1_ = rotl(v1_, 13);
    v1_ ^= v0_;
    v0_ = rotl(v0_, 32);
    v2_ += v3_;
    v3_ = rotl(v3_, 16);
    v3_ ^= v2_;
    v0_ += v3_;
    v3_ = rotl(v3_, 21);
    v3_ ^= v0_;
    v2_ += v1_;
    v1_ = rotl(v1_, 17);
    v1_ ^= v2_;
    v2_ = rotl(v2_, 32);
  }
  void absorb(uint64_t m) {
    v3_ ^= m;
    for (int i = 0; i < C; ++i) round();
    v0_ ^= m;
  }

  uint64_t v0_, v1_, v2_, v3_;
  uint64_t tail_ = 0;
  size_t ntail_ = 0;
  uint64_t length_ = 0;
};

using SipHasher13 = SipHasher<1, 3>;
using SipHasher24 = SipHasher<2, 4>;

}  // namespace qx
