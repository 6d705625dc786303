// Checks shared by the tests of the transform operations: the option text a
// transform writes and the point fields its operations read.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "transforms/lastransform.hpp"

// The option text of the transform; the count it answers must be its length.
inline std::string transform_text(const LAStransform& transform) {
  std::string text;
  const I32 n = transform.unparse(text);
  EXPECT_EQ((size_t)n, text.size());
  return text;
}

// The point fields all operations of the transform read together.
inline U32 selective_of(const LAStransform& transform) {
  U32 selective = 0;
  for (U32 i = 0; i < transform.op_count; i++) selective |= transform.op_list[i]->get_decompress_selective();
  return selective;
}
