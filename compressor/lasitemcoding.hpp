// Procedures that several item coders share, kept in one place so that a
// later coder reuses the exact arithmetic rather than a copy of it: the
// streaming median of the coordinate predictions, the return-context tables,
// the GPS time sequences, and the colour and byte difference codings. Every
// procedure comes as a writer half and a reader half that ask for the same
// symbols with the same models in the same order.
#pragma once

#include <array>
#include <cstring>
#include <memory>

#include "compressor/arithmeticdecoder.hpp"
#include "compressor/arithmeticencoder.hpp"
#include "compressor/integercompressor.hpp"
#include "core/mydefs.hpp"

// ------------------------------------------------------------------ models

using ModelPtr = std::unique_ptr<ArithmeticModel>;

inline ModelPtr make_model(ArithmeticEncoder* coder, U32 symbols) { return ModelPtr(coder->createSymbolModel(symbols)); }
inline ModelPtr make_model(ArithmeticDecoder* coder, U32 symbols) { return ModelPtr(coder->createSymbolModel(symbols)); }

// A model of a table that holds one per previous value: made and reset the
// first time that value needs it, then kept for the coder's life.
template <typename Coder>
inline ArithmeticModel* model_on_first_use(ModelPtr& slot, Coder* coder, U32 symbols) {
  if (!slot) {
    slot = make_model(coder, symbols);
    coder->initSymbolModel(slot.get());
  }
  return slot.get();
}

// Resets every model of a table that exists; the others wait for first use.
template <typename Coder, size_t N>
inline void reset_existing(std::array<ModelPtr, N>& models, Coder* coder) {
  for (ModelPtr& m : models)
    if (m) coder->initSymbolModel(m.get());
}

// ------------------------------------------------------------------ bytes

// x mod 256 for x from -255 to 255: the symbol of a byte difference.
inline U32 fold_byte(I32 x) { return (U32)(U8)x; }
inline I32 clamp_byte(I32 x) { return x < 0 ? 0 : (x > 255 ? 255 : x); }
// Halves toward zero, as integer division does.
inline I32 half(I32 x) { return x / 2; }

inline U8 lo_byte(U16 v) { return (U8)(v & 0xFF); }
inline U8 hi_byte(U16 v) { return (U8)(v >> 8); }

// One byte as its difference to the reference byte, with that byte's model.
inline void encode_byte_difference(ArithmeticEncoder* enc, ArithmeticModel* m, U8 value, U8 reference) {
  enc->encodeSymbol(m, fold_byte((I32)value - (I32)reference));
}
inline U8 decode_byte_difference(ArithmeticDecoder* dec, ArithmeticModel* m, U8 reference) {
  return (U8)(reference + dec->decodeSymbol(m));
}

// ------------------------------------------------------------------ median

// The median of the last five values of a coordinate difference, kept sorted
// by insertion; it drops the largest or the smallest value in turn depending
// on where the newcomer lands, so the window follows the data both ways.
struct MedianOfFive {
  I32 w[5] = {0, 0, 0, 0, 0};
  bool replace_high = true;

  void reset() { *this = MedianOfFive(); }
  I32 median() const { return w[2]; }
  void insert(I32 x) {
    if (replace_high) {
      if (x < w[2]) {
        w[4] = w[3];
        w[3] = w[2];
        if (x < w[0]) {
          w[2] = w[1];
          w[1] = w[0];
          w[0] = x;
        } else if (x < w[1]) {
          w[2] = w[1];
          w[1] = x;
        } else {
          w[2] = x;
        }
      } else {
        if (x < w[3]) {
          w[4] = w[3];
          w[3] = x;
        } else {
          w[4] = x;
        }
        replace_high = false;
      }
    } else {
      if (w[2] < x) {
        w[0] = w[1];
        w[1] = w[2];
        if (w[4] < x) {
          w[2] = w[3];
          w[3] = w[4];
          w[4] = x;
        } else if (w[3] < x) {
          w[2] = w[3];
          w[3] = x;
        } else {
          w[2] = x;
        }
      } else {
        if (w[1] < x) {
          w[0] = w[1];
          w[1] = x;
        } else {
          w[0] = x;
        }
        replace_high = true;
      }
    }
  }
};

// ------------------------------------------------------------------ returns

// Indexed by the low six bits of a legacy return byte (number of returns n in
// bits 3-5, return number r in bits 0-2), that is n x 8 + r. The map groups
// the (n, r) pairs whose coordinate and intensity changes behave alike; the
// level is |n - r|, how far the return lies from the last one.
extern const U8 number_return_map[64];
extern const U8 number_return_level[64];

// ------------------------------------------------------------------ GPS time

// Times are coded as the 64-bit integers of their bits, in up to four
// interleaved sequences (flight lines, scanners) that each keep their own
// last time and reference difference. A difference "fits" when it survives
// the trip through a signed 32-bit integer.
inline bool fits_in_32_bits(I64 d) { return d == (I64)(I32)d; }

// The multiplier of a fitting difference against a sequence's reference
// difference, rounded half away from zero; out of range it is I32_MIN.
I32 gps_time_multiplier(I32 difference, I32 reference);

// How a multiplier is coded: its symbol, the factor of the reference that
// predicts the difference, the context of the time compressor, and whether it
// counts as an outlier of the sequence.
struct GpsMultiplierCode {
  U32 symbol;
  I32 factor;
  U32 context;
  bool outlier;
};
GpsMultiplierCode gps_multiplier_code(I32 multiplier);
// The same from the decoded symbol (0 to 510).
GpsMultiplierCode gps_multiplier_code_of_symbol(U32 symbol);

struct GpsSequences {
  U32 current = 0;
  U32 newest = 0;
  U64 time[4] = {0, 0, 0, 0};
  I32 delta[4] = {0, 0, 0, 0};
  I32 outliers[4] = {0, 0, 0, 0};

  void reset(U64 first_time) { *this = GpsSequences(); time[0] = first_time; }
  // The outlier step: after four extreme multipliers in a row the sequence
  // takes the latest difference as its new reference.
  void count_outlier(U32 s, I32 difference) {
    if (++outliers[s] > 3) {
      delta[s] = difference;
      outliers[s] = 0;
    }
  }
};

// The symbols of the two models. The pointwise coder has a symbol for "time
// unchanged"; the layered coder only codes times that changed and has none, so
// its later symbols sit one lower.
struct GpsSymbols {
  explicit GpsSymbols(bool with_unchanged) : unchanged(with_unchanged ? 1 : 0) {}
  U32 unchanged;  // 1 when the models have the unchanged symbol (0 in the zero-delta model, 511 otherwise)
  U32 zero_delta_models() const { return 5 + unchanged; }
  U32 multiplier_models() const { return 515 + unchanged; }
  U32 zero_fit() const { return unchanged; }
  U32 zero_new() const { return unchanged + 1; }  // + i switches i places ahead
  U32 multiplier_new() const { return 511 + unchanged; }
};

class GpsTimeWriter {
 public:
  GpsTimeWriter(ArithmeticEncoder* enc, bool with_unchanged_symbol);
  void init(U64 first_time);
  void write(U64 time);
  const GpsSequences& state() const { return seq; }

 private:
  bool switch_to_fitting_sequence(U64 time, ArithmeticModel* model, U32 first_switch_symbol);
  void start_sequence(U64 time);

  ArithmeticEncoder* enc;
  GpsSymbols symbols;
  GpsSequences seq;
  ModelPtr multiplier_model;
  ModelPtr zero_delta_model;
  IntegerCompressor time_coder;
};

class GpsTimeReader {
 public:
  GpsTimeReader(ArithmeticDecoder* dec, bool with_unchanged_symbol);
  void init(U64 first_time);
  // The time of the next point: the last time of its sequence afterwards.
  U64 read();

 private:
  void start_sequence();

  ArithmeticDecoder* dec;
  GpsSymbols symbols;
  GpsSequences seq;
  ModelPtr multiplier_model;
  ModelPtr zero_delta_model;
  IntegerCompressor time_coder;
};

// ------------------------------------------------------------------ colour

// The models of one colour reference: the change mask (which bytes changed,
// and whether the colour is grey) and one difference model per byte: red,
// green, blue, each low then high.
template <typename Coder>
struct ColourModels {
  explicit ColourModels(Coder* coder) : changed(make_model(coder, 128)) {
    for (ModelPtr& m : difference) m = make_model(coder, 256);
  }
  void init(Coder* coder) {
    coder->initSymbolModel(changed.get());
    for (ModelPtr& m : difference) coder->initSymbolModel(m.get());
  }
  ModelPtr changed;
  std::array<ModelPtr, 6> difference;
};

// Codes red, green and blue (`item`) against `reference`: green is predicted
// from the reference green moved by red's change, blue by the mean change of
// red and green; a grey colour codes red only. Returns the change mask (0:
// nothing changed).
U32 encode_colour_difference(ArithmeticEncoder* enc, ColourModels<ArithmeticEncoder>& models, const U16* reference,
                             const U16* item);
// Decodes into `item` what encode_colour_difference coded against `reference`.
void decode_colour_difference(ArithmeticDecoder* dec, ColourModels<ArithmeticDecoder>& models, const U16* reference,
                              U16* item);
