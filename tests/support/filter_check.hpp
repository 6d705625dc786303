// Checks shared by the tests of the filter criteria: the option text a filter
// writes, that this text reads back (as one string and as words) to a filter
// with the same text and the same verdicts, and the message of a refused
// option. Halting on errors must be off where a parse is to fail.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <string>
#include <vector>

#include "filters/lasfilter.hpp"
#include "support/arg_vector.hpp"
#include "support/test_name.hpp"

// The option text of the filter; the count it answers must be its length.
inline std::string filter_text(const LASfilter& filter) {
  std::string text;
  const I32 n = filter.unparse(text);
  EXPECT_EQ((size_t)n, text.size());
  return text;
}

// The point fields all criteria of the filter read together.
inline U32 selective_of(const LASfilter& filter) {
  U32 selective = 0;
  for (U32 k = 0; k < filter.criteria_count; k++) selective |= filter.criteria[k]->get_decompress_selective();
  return selective;
}

// `verdicts` judges the same points with any filter, one letter per point.
inline void expect_text_reads_back(const std::string& text, const std::function<std::string(LASfilter&)>& verdicts,
                                   const std::string& expected) {
  LASfilter from_string;
  ASSERT_TRUE(from_string.parse(text.c_str())) << text;
  EXPECT_EQ(filter_text(from_string), text);
  EXPECT_EQ(verdicts(from_string), expected) << "read back from " << text;

  LASfilter from_words;
  ArgVector words = ArgVector::from_text(text);
  ASSERT_TRUE(from_words.parse(words.argc(), words.argv())) << text;
  EXPECT_EQ(words.remaining(), std::vector<std::string>{});
  EXPECT_EQ(filter_text(from_words), text);
  EXPECT_EQ(verdicts(from_words), expected) << "read back from " << text;
}

// Parses the options (every word must be taken) and checks the number of
// criteria, the verdicts, the option text and its read-back.
inline void expect_options_give(LASfilter& filter, const char* options, U32 criteria,
                                const std::function<std::string(LASfilter&)>& verdicts,
                                const std::string& expected_verdicts, const std::string& expected_text) {
  ArgVector args = ArgVector::from_text(options);
  ASSERT_TRUE(filter.parse(args.argc(), args.argv()));
  EXPECT_EQ(args.remaining(), std::vector<std::string>{}) << "every word is taken";
  EXPECT_EQ(filter.criteria_count, criteria);
  EXPECT_EQ(verdicts(filter), expected_verdicts);
  const std::string text = filter_text(filter);
  EXPECT_EQ(text, expected_text);
  expect_text_reads_back(text, verdicts, expected_verdicts);
}

// Parses the words into the filter, expecting a refusal; answers what it
// wrote on the error stream.
inline std::string refusal_of(LASfilter& filter, const std::vector<std::string>& words) {
  ArgVector args(words);
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(filter.parse(args.argc(), args.argv()));
  return ::testing::internal::GetCapturedStderr();
}

// An option refused on its own, and its message without "ERROR: " and the
// line end.
struct FilterRefusal {
  std::vector<std::string> args;
  std::string err;
};

// Each case refused by a fresh filter with its message, building nothing.
inline void expect_refusals(const std::vector<FilterRefusal>& cases) {
  for (const FilterRefusal& c : cases) {
    SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
    LASfilter filter;
    EXPECT_EQ(refusal_of(filter, c.args), "ERROR: " + c.err + "\n");
    EXPECT_EQ(filter.criteria_count, 0u);
  }
}
