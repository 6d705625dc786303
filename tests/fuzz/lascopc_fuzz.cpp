// Arbitrary bytes opened as a LAS file; when they hold a COPC hierarchy the
// octree is queried every way the read opener can ask (every level, a depth, a
// resolution, a rectangle and a circle with a depth) and each selection is
// read to its end. Halting is off and messages are silenced.
#include <cstddef>
#include <cstdint>

#include "core/bytestreamin_array.hpp"
#include "core/lasreader_las.hpp"
#include "index/lascopc.hpp"
#include "fuzz_quiet.hpp"

static void read_all(LASreader& reader) {
  while (reader.read_point()) {
  }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_quiet();
  LASreaderLAS reader(nullptr);
  if (!reader.open(new ByteStreamInArrayLE(data, (I64)size))) return 0;
  if (reader.header.copc_info) {
    COPCindex* index = new COPCindex(reader.header);
    index->set_stream_order((U8)(size % 3));
    reader.set_copcindex(index);
    const LASheader& h = reader.header;
    const F64 mid_x = (h.min_x + h.max_x) / 2, mid_y = (h.min_y + h.max_y) / 2;
    reader.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, I32_MAX, 0.0f);
    read_all(reader);
    reader.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, (I32)(size % 4), 0.0f);
    read_all(reader);
    reader.inside_copc_depth(LASreader::COPC_QUERY_RESOLUTION, 0, (F32)(size % 7));
    read_all(reader);
    reader.inside_rectangle(h.min_x, h.min_y, mid_x, mid_y);
    reader.inside_copc_depth(LASreader::COPC_QUERY_DEPTH, 1, 0.0f);
    read_all(reader);
    reader.inside_none();
    reader.inside_circle(mid_x, mid_y, (h.max_x - h.min_x) / 4);
    read_all(reader);
  }
  reader.close(true);
  return 0;
}
