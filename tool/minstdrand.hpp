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

  // Next output, 1 ... 2147483646; exact in 64-bit arithmetic.
  U32 next() {
    state = static_cast<U32>(state * MULTIPLIER % MODULUS);
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
  // bits, from the same draws: the first draw below the limit decides, and
  // the one division fits 32 bits wherever the count fits the range of an output.
  bool drawsZero(U32 count) {
    const U32 span = count - 1;
    if (span >= RANGE) return uniformOffset(span) == 0;
    const U32 buckets = span + 1;
    const U32 scaling = static_cast<U32>(RANGE) / buckets;
    const U32 limit = buckets * scaling;
    U32 v;
    do {
      v = next() - 1;
    } while (v >= limit);
    return v < scaling;
  }

 private:
  // Uniform 0 ... span. The outputs less one cover 0 ... RANGE; smaller spans
  // reject the top remainder, larger spans stack a draw of the high part on a
  // fresh output and reject what overshoots.
  // The largest output less one.
  static constexpr U64 RANGE = MODULUS - 2;  // 2147483645

  U64 uniformOffset(U64 span) {
    if (span < RANGE) {
      const U64 buckets = span + 1;
      const U64 scaling = RANGE / buckets;
      const U64 limit = buckets * scaling;
      U64 v;
      do {
        v = next() - 1;
      } while (v >= limit);
      return v / scaling;
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
