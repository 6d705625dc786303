// A fixture for tests whose parses are meant to fail: halting on errors is
// off while they run, so an error returns to the test instead of ending the
// whole test program. HaltingOff<> is a plain test,
// HaltingOff<::testing::TestWithParam<Case>> a table test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "core/lasmessage.hpp"

template <class Base = ::testing::Test>
class HaltingOff : public Base {
 protected:
  void SetUp() override { halt_on_error(false); }
  void TearDown() override { halt_on_error(true); }
};

// For death tests that check the exit code: the code follows the messages
// counted so far, and earlier tests in the same process count too.
inline void forget_message_counts() { std::fill(std::begin(lasmessage_cnt), std::end(lasmessage_cnt), 0); }
