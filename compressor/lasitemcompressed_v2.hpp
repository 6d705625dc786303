// The state that a version-2 reader and its writer both keep, for POINT10 and
// for extra bytes. Each is one template over the coder so that the two sides
// cannot drift apart: the same fields, made in the same order, reset the same
// way at every chunk.
#pragma once

#include <array>
#include <cstring>
#include <type_traits>
#include <vector>

#include "compressor/lasitemcoding.hpp"
#include "core/laslayout.hpp"

// The 20 leading bytes of a point (the POINT10 item) as fields of the host.
struct Point10 {
  I32 x, y, z;
  U16 intensity;
  U8 return_byte;      // return number bits 0-2, number of returns 3-5, scan direction 6, edge 7
  U8 class_byte;       // classification bits 0-4, synthetic, keypoint, withheld 5-7
  I8 scan_angle_rank;
  U8 user_data;
  U16 point_source_ID;
};
static_assert(sizeof(Point10) == laslayout::POINT10_SIZE);

inline U32 number_of_returns(U8 return_byte) { return (return_byte >> 3) & 7; }
inline U32 scan_direction(U8 return_byte) { return (return_byte >> 6) & 1; }

// Contexts of the coordinate compressors: single returns apart, then by the
// class of the X (and Y) corrector, so that large jumps learn apart from small.
inline U32 dx_context(U32 n) { return n == 1 ? 1 : 0; }
inline U32 dy_context(U32 n, U32 x_class) { return (n == 1 ? 1 : 0) + (x_class < 20 ? (x_class & ~1u) : 20); }
inline U32 z_context(U32 n, U32 xy_class) { return (n == 1 ? 1 : 0) + (xy_class < 36 ? ((xy_class / 2) & ~1u) : 18); }

template <typename Coder>
inline void init_integer_coder(IntegerCompressor& ic, Coder*) {
  if constexpr (std::is_same_v<Coder, ArithmeticEncoder>) {
    ic.initCompressor();
  } else {
    ic.initDecompressor();
  }
}

template <typename Coder>
struct Point10State {
  explicit Point10State(Coder* coder)
      : coder(coder),
        changed_fields_model(make_model(coder, 64)),
        intensity_coder(coder, 16, 4, 8, 0),
        scan_angle_models{make_model(coder, 256), make_model(coder, 256)},
        point_source_coder(coder, 16, 1, 8, 0),
        dx_coder(coder, 32, 2, 8, 0),
        dy_coder(coder, 32, 22, 8, 0),
        z_coder(coder, 32, 20, 8, 0) {}

  // Starts a chunk: predictions from nothing, every model that exists reset.
  void init(const U8* item) {
    for (MedianOfFive& m : dx_medians) m.reset();
    for (MedianOfFive& m : dy_medians) m.reset();
    for (I32& z : z_by_level) z = 0;
    for (U16& i : intensity_by_return) i = 0;
    coder->initSymbolModel(changed_fields_model.get());
    for (ModelPtr& m : scan_angle_models) coder->initSymbolModel(m.get());
    reset_existing(return_byte_models, coder);
    reset_existing(classification_models, coder);
    reset_existing(user_data_models, coder);
    init_integer_coder(intensity_coder, coder);
    init_integer_coder(point_source_coder, coder);
    init_integer_coder(dx_coder, coder);
    init_integer_coder(dy_coder, coder);
    init_integer_coder(z_coder, coder);
    memcpy(&last, item, sizeof(Point10));
  }

  // A per-value model, made the first time its previous value occurs.
  ArithmeticModel* per_value(std::array<ModelPtr, 256>& models, U8 previous) {
    return model_on_first_use(models[previous], coder, 256);
  }

  Coder* coder;
  Point10 last{};
  U16 intensity_by_return[16] = {};
  MedianOfFive dx_medians[16];
  MedianOfFive dy_medians[16];
  I32 z_by_level[8] = {};
  ModelPtr changed_fields_model;
  IntegerCompressor intensity_coder;
  std::array<ModelPtr, 2> scan_angle_models;
  IntegerCompressor point_source_coder;
  std::array<ModelPtr, 256> return_byte_models;
  std::array<ModelPtr, 256> classification_models;
  std::array<ModelPtr, 256> user_data_models;
  IntegerCompressor dx_coder;
  IntegerCompressor dy_coder;
  IntegerCompressor z_coder;
};

// Extra bytes: the previous item and one model per byte position. A record
// may carry thousands of extra bytes, so the models wait for the first chunk.
template <typename Coder>
struct BytesState {
  BytesState(Coder* coder, U32 number) : coder(coder), number(number), reference(number) {}
  void init(const U8* item) {
    if (models.size() != number) {
      models.reserve(number);
      for (U32 i = 0; i < number; i++) models.push_back(make_model(coder, 256));
    }
    for (ModelPtr& m : models) coder->initSymbolModel(m.get());
    memcpy(reference.data(), item, number);
  }

  Coder* coder;
  U32 number;
  std::vector<U8> reference;
  std::vector<ModelPtr> models;
};
