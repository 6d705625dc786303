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

  // Next output, 1 ... 2147483646; exact in 64-bit arithmetic, without a
  // division on the chain of draws (see reduce).
  U32 next() {
    state = reduce(state * MULTIPLIER);
    return state;
  }

  // The next four outputs, as four calls of next() give them. Each is
  // computed from the current state with its own power of the multiplier,
  // so the four do not wait for one another.
  void nextFour(U32 (&out)[4]) {
    const U64 current = state;
    out[0] = reduce(current * MULTIPLIER);
    out[1] = reduce(current * POWER[2]);
    out[2] = reduce(current * POWER[3]);
    out[3] = reduce(current * POWER[4]);
    state = out[3];
  }

  U32 getState() const { return state; }

  // Uniform integer from a ... b (a <= b), computed in the width of the range.
  I32 uniformInt(I32 a, I32 b) {
    U64 span = static_cast<U64>(static_cast<I64>(b) - static_cast<I64>(a));
    return static_cast<I32>(static_cast<U32>(a) + static_cast<U32>(uniformOffset(span)));
  }
  U64 uniformU64(U64 a, U64 b) { return a + uniformOffset(b - a); }

  // uniformInt(0, I32_MAX) by the same engine steps, its divisions done at
  // compile time: every voxel of the random rule seeds its engine with one.
  // The span lies just above the outputs' range, so a draw of the high part
  // (0 or 1, by halves of the range) goes under a fresh output.
  I32 uniformNonNegative() {
    constexpr U64 SPAN = static_cast<U64>(I32_MAX);
    static_assert(SPAN > RANGE && SPAN / (MODULUS - 1) == 1, "the two-level draw of uniformOffset");
    constexpr U64 HALF = RANGE / 2;
    for (;;) {
      U64 v;
      do {
        v = next() - 1;
      } while (v >= 2 * HALF);
      const U64 drawn = v / HALF * (MODULUS - 1) + (next() - 1);
      if (drawn <= SPAN) return static_cast<I32>(drawn);
    }
  }

  // A range 0 ... span drawn from again and again, its divisions done once.
  struct Span {
    explicit Span(U64 span) : span(span) {
      if (span < RANGE) {
        scaling = RANGE / (span + 1);
        limit = (span + 1) * scaling;
      }
    }
    U64 span;
    // Outputs less one from limit on are rejected, the others fall into
    // buckets of `scaling`; both 0 for spans as wide as the outputs or wider.
    U64 scaling = 0;
    U64 limit = 0;
  };
  // Whether uniformU64(0, span) would give 0, by the same engine steps.
  bool drawsZero(const Span& range) {
    if (range.span < RANGE) {
      U64 v;
      do {
        v = next() - 1;
      } while (v >= range.limit);
      return v < range.scaling;
    }
    return uniformOffset(range.span) == 0;
  }

  // Whether uniformU64(0, count - 1) would give 0, count - 1 taken in 32
  // bits, by the same engine steps, for a count that changes from draw to
  // draw. Mostly without a division: the draw v lies in bucket 0 when
  // (v + 1) * buckets <= RANGE, and below the limit (the largest multiple of
  // the bucket size, above RANGE - buckets) when v + buckets <= RANGE; only a
  // draw near the top needs the limit itself.
  bool drawsZeroAmong(U32 count) {
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
  static constexpr U64 RANGE = MODULUS - 2;  // 2147483645

  // x modulo 2^31 - 1 for x below 2^62: 2^31 is 1 modulo 2^31 - 1, so the
  // high bits add onto the low ones, and one subtraction finishes. A
  // multiple of the modulus never comes: the state is never 0 and the
  // modulus is prime.
  static U32 reduce(U64 x) {
    U64 folded = (x & MODULUS) + (x >> 31);
    if (folded >= MODULUS) folded -= MODULUS;
    return static_cast<U32>(folded);
  }
  // MULTIPLIER^k modulo the modulus, k = 0 ... 4.
  static constexpr U64 POWER[5] = {1, MULTIPLIER, MULTIPLIER * MULTIPLIER % MODULUS,
                                   MULTIPLIER * MULTIPLIER % MODULUS * MULTIPLIER % MODULUS,
                                   MULTIPLIER * MULTIPLIER % MODULUS * MULTIPLIER % MODULUS * MULTIPLIER % MODULUS};

  // Uniform 0 ... span. The outputs less one cover 0 ... RANGE; smaller spans
  // reject the top remainder, larger spans stack a draw of the high part on a
  // fresh output and reject what overshoots.
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
