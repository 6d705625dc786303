// The tool's random engine: the minimal standard linear congruential engine
// (multiplier 48271, modulus 2^31 - 1) and the one way it draws a uniform
// integer from a range. Every random choice of the tool goes through here, so a
// given seed keeps the same points in every run and on every platform.
#pragma once

#include "core/mydefs.hpp"

class MinStdRand {
 public:
  static constexpr U64 MODULUS = 2147483647;
  static constexpr U64 MULTIPLIER = 48271;
  static constexpr U32 DEFAULT_STATE = 443342;

  MinStdRand() : state(DEFAULT_STATE) {}

  // The seed is widened with its sign and taken as unsigned, so -1 and
  // -2147483648 both give state 3; a state of 0 would stay 0 forever and
  // becomes 1 instead.
  void setSeed(int seed) {
    U64 reduced = static_cast<U64>(static_cast<I64>(seed)) % MODULUS;
    state = static_cast<U32>(reduced == 0 ? 1 : reduced);
  }

  // Next output, 1 ... 2147483646; exact in 64-bit arithmetic. As 2^31 is 1
  // modulo 2^31 - 1, the product's bits above 31 fold onto the lower ones,
  // which leaves at most one modulus to take off.
  U32 next() {
    const U64 product = state * MULTIPLIER;
    U64 folded = (product & MODULUS) + (product >> 31);
    if (folded >= MODULUS) folded -= MODULUS;
    state = static_cast<U32>(folded);
    return state;
  }

  U32 getState() const { return state; }

  // Uniform integer from a ... b (a <= b), computed in the width of the range.
  I32 uniformInt(I32 a, I32 b) {
    U64 span = static_cast<U64>(static_cast<I64>(b) - static_cast<I64>(a));
    return static_cast<I32>(static_cast<U32>(a) + static_cast<U32>(uniformOffset(span)));
  }
  U64 uniformU64(U64 a, U64 b) { return a + uniformOffset(b - a); }

  // Whether uniformU64(0, count - 1) would give 0, count - 1 taken in 32
  // bits, from the same draws. Mostly without a division: the draw v lies in
  // bucket 0 when (v + 1) * buckets <= RANGE, and below the limit (the
  // largest multiple of the bucket size, above RANGE - buckets) when
  // v + buckets <= RANGE; only a draw near the top needs the limit itself.
  bool drawsZero(U32 count) {
    const U32 span = count - 1;
    if (span >= RANGE) return uniformOffset(span) == 0;
    const U64 buckets = U64(span) + 1;
    for (;;) {
      const U64 v = next() - 1;
      if ((v + 1) * buckets <= RANGE) return true;
      if (v + buckets <= RANGE || v < buckets * (RANGE / buckets)) return false;
    }
  }

 private:
  // The largest output less one.
  static constexpr U64 RANGE = MODULUS - 2;  // 2147483645

  // For spans below RANGE: the first output less one that falls below the
  // largest multiple of span + 1 buckets of `scaling` values each within
  // 0 ... RANGE (the top remainder is rejected); its bucket is v / scaling.
  // Everything fits 32 bits, whose division is the cheaper one.
  struct BucketDraw {
    U32 v, scaling;
  };
  BucketDraw drawBucket(U32 span) {
    const U32 buckets = span + 1;
    const U32 scaling = static_cast<U32>(RANGE) / buckets;
    const U32 limit = buckets * scaling;
    U32 v;
    do {
      v = next() - 1;
    } while (v >= limit);
    return {v, scaling};
  }

  // Uniform 0 ... span. The outputs less one cover 0 ... RANGE; smaller spans
  // draw a bucket, larger spans stack a draw of the high part on a fresh
  // output and reject what overshoots.
  U64 uniformOffset(U64 span) {
    if (span < RANGE) {
      const BucketDraw draw = drawBucket(static_cast<U32>(span));
      return draw.v / draw.scaling;
    }
    if (span == RANGE) return next() - 1;
    for (;;) {
      const U64 high = uniformOffset(span / (MODULUS - 1));
      const U64 base = high * (MODULUS - 1);
      const U64 v = base + (next() - 1);
      if (v <= span && v >= base) return v;
    }
  }

  // Kept in 32 bits (it never exceeds 2^31 - 2) so that one engine per voxel
  // costs four bytes.
  U32 state;
};
