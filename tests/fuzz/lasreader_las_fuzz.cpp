// Arbitrary bytes opened as a LAS file through the memory stream; every point
// is read, then the reader seeks back and reads again, with and without a
// re-quantising variant. Errors must not end the process here: halting is off
// and messages are silenced.
#include <cstddef>
#include <cstdint>

#include "core/bytestreamin_array.hpp"
#include "core/lasreader_las.hpp"
#include "fuzz_quiet.hpp"

static void read_everything(LASreaderLAS& reader, const uint8_t* data, size_t size) {
  if (!reader.open(new ByteStreamInArrayLE(data, (I64)size))) return;
  while (reader.read_point()) {
  }
  if (reader.seek(reader.points_expected / 2)) reader.read_point();
  if (reader.seek(0)) reader.read_point();
  reader.close(true);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet();
  {
    LASreaderLAS reader(nullptr);
    read_everything(reader, data, size);
  }
  {
    LASreaderLASrescalereoffset reader(nullptr, 0.001, 0.001, 0.001);
    reader.set_keep_copc(size % 2 == 0);
    read_everything(reader, data, size);
  }
  return 0;
}
