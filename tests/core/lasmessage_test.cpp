#include "core/lasmessage.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

// Each test starts from the process defaults it relies on.
class LasMessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_message_log_level(INFO);
    halt_on_error(true);
    print_log_stats(false);
  }
  void TearDown() override { set_message_log_level(INFO); }
  static std::string shown(LAS_MESSAGE_TYPE type, const char* text) {
    ::testing::internal::CaptureStderr();
    LASMessage(type, "%s", text);
    return ::testing::internal::GetCapturedStderr();
  }
};

TEST_F(LasMessageTest, PrefixesAndContinuationIndent) {
  struct Case {
    LAS_MESSAGE_TYPE type;
    const char* text;
    const char* expected;
  } cases[] = {
      {INFO, "plain", "plain\n"},
      {INFO, "keeps\n\ttab", "keeps\n\ttab\n"},
      {WARNING, "first\n\tsecond\n\n", "WARNING: first\n         second\n"},
      {SERIOUS_WARNING, "sw", "SERIOUS WARNING: sw\n"},
      {ERROR, "a\n\tb", "ERROR: a\n       b\n"},
      {FATAL_ERROR, "f", "FATAL ERROR: f\n"},
      {INFO, "\n\n", "\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(shown(c.type, c.text), c.expected) << c.text;
}

TEST_F(LasMessageTest, HiddenMessagesAreCountedButNotShown) {
  uint64_t before = lasmessage_cnt[VERBOSE];
  EXPECT_EQ(shown(VERBOSE, "hidden"), "");
  EXPECT_EQ(lasmessage_cnt[VERBOSE], before + 1);
  set_message_log_level(QUIET);
  uint64_t errors = lasmessage_cnt[ERROR];
  EXPECT_EQ(shown(ERROR, "quiet"), "");
  EXPECT_EQ(lasmessage_cnt[ERROR], errors + 1);
}

TEST_F(LasMessageTest, CropsAt8192) {
  std::string exact(8191, 'x');
  EXPECT_EQ(shown(INFO, exact.c_str()), exact + "\n");
  std::string longer(9000, 'y');
  EXPECT_EQ(shown(INFO, longer.c_str()),
            "INTERNAL: message cropped from 9000 to 8192 chars\n" + std::string(8191, 'y') + "\n");
}

TEST_F(LasMessageTest, LogLevelNotice) {
  ::testing::internal::CaptureStderr();
  set_message_log_level(WARNING);
  set_message_log_level(WARNING);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ::testing::internal::CaptureStderr();
  set_message_log_level(VERY_VERBOSE);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Log level [VERY_VERBOSE]\n");
  EXPECT_STREQ(las_message_type_string((LAS_MESSAGE_TYPE)42), "?");
}

TEST_F(LasMessageTest, FormatMessage) {
  std::string text = "a\n\tb\nc\n\td";
  format_message(text, 3, true);
  EXPECT_EQ(text, "a\n   b\nc\n   d\n");
}

// The exit code is the worst type counted, hidden or not.
TEST_F(LasMessageTest, ByebyeExitCodes) {
  struct Case {
    std::vector<LAS_MESSAGE_TYPE> messages;
    int code;
  } cases[] = {
      {{DEBUG, VERY_VERBOSE, VERBOSE, INFO}, 0},
      {{WARNING}, 1},
      {{WARNING, SERIOUS_WARNING}, 2},
      {{ERROR, WARNING}, 3},
      {{FATAL_ERROR, ERROR}, 4},
  };
  for (const Case& c : cases) {
    EXPECT_EXIT(
        {
          memset(lasmessage_cnt, 0, sizeof(lasmessage_cnt));
          set_message_log_level(QUIET);
          for (auto type : c.messages) LASMessage(type, "m");
          byebye();
        },
        ::testing::ExitedWithCode(c.code), "");
  }
}

TEST_F(LasMessageTest, LogStatsExcludeTheirOwnLine) {
  EXPECT_EXIT(
      {
        memset(lasmessage_cnt, 0, sizeof(lasmessage_cnt));
        print_log_stats(true);
        LASMessage(INFO, "one");
        LASMessage(WARNING, "two");
        byebye();
      },
      ::testing::ExitedWithCode(1), "Log stats: FE=0,E=0,SW=0,W=1,I=1\n$");
}

TEST_F(LasMessageTest, LaserrorHaltsOnlyWhileHalting) {
  EXPECT_EXIT(
      {
        memset(lasmessage_cnt, 0, sizeof(lasmessage_cnt));
        laserror("broken %d", 7);
      },
      ::testing::ExitedWithCode(3), "ERROR: broken 7");
  halt_on_error(false);
  ::testing::internal::CaptureStderr();
  laserror("goes on");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: goes on\n");
  halt_on_error(true);
}

}  // namespace
