// Checks shared by the tests of the transform operations: the point fields its operations read, and that the text
// reads back to a transform that does the same.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "support/arg_vector.hpp"
#include "support/transform_points.hpp"
#include "core/lasheader.hpp"
#include "transforms/lastransform.hpp"


// Offset adjustment from source 1000 + raw * 0.01 to target 900 + raw * 0.001
// on all three axes, with `box` as the bounding box the operation keeps to.
inline void adjust_offsets(LASoperation& op, LASheader& box) {
  op.offset_adjust = true;
  for (int axis = 0; axis < 3; axis++) {
    op.source_offset[axis] = 1000.0;
    op.source_scale[axis] = 0.01;
    op.target_offset[axis] = 900.0;
    op.target_scale[axis] = 0.001;
  }
  op.bbox_header = &box;
}

// The point fields all operations of the transform read together.
inline U32 selective_of(const LAStransform& transform) {
  U32 selective = 0;
  for (U32 i = 0; i < transform.op_count; i++) selective |= transform.op_list[i]->get_decompress_selective();
  return selective;
}

// The transform of `options` must do `expected` (what `effect` answers for a
// transform), write `text` and read `selective`; `text` parsed back, as one
// string and as words, must build a transform that writes the same text and
// does the same.
template <class Effect, class Result>
void expect_transform_round_trip(const char* options, const Effect& effect, const Result& expected,
                                 const std::string& text, U32 selective) {
  LAStransform transform;
  ASSERT_TRUE(transform.parse(options));
  EXPECT_EQ(effect(transform), expected);
  EXPECT_EQ(text_of(transform), text);
  EXPECT_EQ(selective_of(transform), selective);

  LAStransform from_text;
  ASSERT_TRUE(from_text.parse(text.c_str()));
  EXPECT_EQ(text_of(from_text), text);
  EXPECT_EQ(effect(from_text), expected);

  ArgVector args = ArgVector::from_text(text);
  LAStransform from_vector;
  ASSERT_TRUE(from_vector.parse(args.argc(), args.argv()));
  EXPECT_TRUE(args.remaining().empty());
  EXPECT_EQ(text_of(from_vector), text);
  EXPECT_EQ(effect(from_vector), expected);
}
