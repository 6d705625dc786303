// The closing owners: a reader or writer they hold is closed (input and
// output ended as on the normal path) and only then deleted; an empty owner
// does nothing.
#include "core/lasutility.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/lasreader.hpp"
#include "core/laswriter.hpp"

namespace {

class LoggingReader : public LASreader {
 public:
  explicit LoggingReader(std::string& log) : LASreader(nullptr), log(log) {}
  ~LoggingReader() override { log += "deleted "; }
  bool seek(const I64) override { return false; }
  ByteStreamIn* get_stream() const override { return nullptr; }
  void close(const bool close_stream) override { log += close_stream ? "closed(stream) " : "closed "; }
  bool read_point_default() override { return false; }

 private:
  std::string& log;
};

class LoggingWriter : public LASwriter {
 public:
  explicit LoggingWriter(std::string& log) : log(log) {}
  ~LoggingWriter() override { log += "deleted "; }
  bool write_point(const LASpoint*) override { return true; }
  bool chunk() override { return true; }
  bool update_header(const LASheader*, bool, bool) override { return true; }
  I64 close(bool update_npoints) override {
    log += update_npoints ? "closed(counts) " : "closed ";
    return 0;
  }

 private:
  std::string& log;
};

TEST(LASclosing, ClosesThenDeletesOnEveryRelease) {
  std::string log;
  {
    LASclosing<LASreader> reader(new LoggingReader(log));
  }
  EXPECT_EQ(log, "closed(stream) deleted ");

  log.clear();
  LASclosing<LoggingWriter> writer(new LoggingWriter(log));
  writer.reset(new LoggingWriter(log));
  EXPECT_EQ(log, "closed(counts) deleted ");
  writer.reset();
  EXPECT_EQ(log, "closed(counts) deleted closed(counts) deleted ");

  LASclosing<LASreader> empty;
  empty.reset();
  EXPECT_EQ(log, "closed(counts) deleted closed(counts) deleted ");
}

}  // namespace
