// The reader of LAS files and compressed VMB files, and its three variants
// that re-quantise the coordinates while reading (new scale factors, new
// offsets, or both). Opening checks the public header of LAS 1.0 to 1.5,
// reads the VLRs and EVLRs with the special records the framework decodes,
// and prepares the chunked point decoder; points are then read one by one.
#pragma once

#include <cstdio>
#include <memory>

#include "core/lasreader.hpp"

class LASreadPoint;

// Buffer given to a file opened by name unless the caller asks otherwise.
constexpr I32 LAS_READER_IO_BUFFER_SIZE = 262144;

// Owns the file it opened by name, the stream it made (unless told not to
// delete it) and the point decoder. A FILE* handed to open() stays the caller's.
class LASreaderLAS : public LASreader {
 public:
  explicit LASreaderLAS(LASreadOpener* opener);
  ~LASreaderLAS() override;

  // 2 (VMB) with a compressor description of a compressor other than 0, else 1.
  I32 get_format() const override;
  bool seek(const I64 p_index) override;
  ByteStreamIn* get_stream() const override { return stream; }
  // Releases the decoder; with `close_stream` also the stream, the file and the name.
  void close(const bool close_stream = true) override;
  bool read_point_default() override;
  // Uncompressed records straight from the stream's buffer, in blocks that
  // fit it; fewer than asked where the buffer or the data ends. Where not one
  // whole record is left before the expected count, null: read_point then
  // meets the cut and reports it as ever.
  const U8* lend_point_records(U32 wanted, U32& got) override;
  // Ready to read the first point; with `peek_only` only the public header
  // (and the user data in it) is read. `decompress_selective` names the
  // fields the decoder must decode.
  virtual bool open(ByteStreamIn* stream, const bool peek_only = false,
                    const U32 decompress_selective = LAS_SELECTIVE_ALL);

  bool open(const char* file_name, const I32 io_buffer_size = LAS_READER_IO_BUFFER_SIZE, const bool peek_only = false,
            const U32 decompress_selective = LAS_SELECTIVE_ALL);
  bool open(FILE* file, const bool peek_only = false, const U32 decompress_selective = LAS_SELECTIVE_ALL);

  // Keep the COPC records in the header's lists (they are dropped otherwise).
  void set_keep_copc(const bool keep_copc) { this->keep_copc = keep_copc; }
  bool get_keep_copc() const { return keep_copc; }
  // Whether close(true) deletes the stream; a stream passed to open(stream) is
  // deleted unless this is cleared.
  void set_delete_stream(const bool delete_stream);
  const char* get_file_name() const { return file_name.get(); }

 protected:
  static const U8* lend_nothing(U32& got) {
    got = 0;
    return nullptr;
  }
  struct CloseFile {
    void operator()(FILE* file) const { fclose(file); }
  };
  std::unique_ptr<FILE, CloseFile> file;  // opened by name
  LASmallocated<char> file_name;
  // The stream in use; `owned_stream` holds it while delete_stream is set.
  ByteStreamIn* stream = nullptr;
  std::unique_ptr<ByteStreamIn> owned_stream;
  bool delete_stream = true;
  std::unique_ptr<LASreadPoint> point_reader;
  bool end_tested = false;
  bool keep_copc = false;
  // The opener's z-from-attribute request: the flag and the attribute index
  // (-1 asks for detection), which opening updates. Null without a request.
  const bool* z_from_attribute = nullptr;
  I16* z_from_attribute_index = nullptr;

 private:
  // The name used in point messages.
  const char* message_name() const { return file_name ? file_name.get() : "stream"; }
  void hold_stream(ByteStreamIn* stream);
  // End of a seekable stream, -1 when unknown.
  I64 stream_end = -1;
  void measure_stream_end();
  bool bytes_available(const U64 count) const;
  bool read_header(bool& read_ok);
  bool check_compression(const bool vlrs_corrupt);
  bool read_header_fields(const U8 minor);
  U32 read_later_header_fields();
  bool check_bounds() const;
  bool read_user_data_in_header(const U32 standard_size);
  void settle_point_count();
  void settle_disagreeing_counts();
  void settle_evlr_start();
  bool read_vlrs(bool& vlrs_corrupt);
  bool make_room_for_vlr(const U32 kept, U64& capacity, const U64 slots);
  bool read_vlr_payload(LASvlrRecord& vlr, const U32 index, bool& vlrs_corrupt, LASmallocated<U8>& data);
  LASmallocated<U8> read_vlr_data(LASvlrRecord& vlr, const U32 index);
  void read_user_data_after_header(const I64 kept_bytes);
  void skip_payload(U64 count);
  bool read_evlrs();
  bool read_evlr_payload(LASevlrRecord& evlr, const U32 index, bool& carried, LASmallocated<U8>& data);
  bool read_compressor(const U64 length, bool& broken);
  bool read_tiling(const char* kind);
  bool read_original();
  void interpret_vlr(const U32 index);
  void interpret_copc_vlr(const U32 index);
  void interpret_evlr(const U32 index, const U64 payload_position);
  void drop_copc_records();
  void apply_z_from_attribute(U32& decompress_selective);
  bool prepare_points(const U32 decompress_selective);
  void read_index_evlr();
};

// The variants that re-quantise the coordinates while reading (see
// LASrequantiser): new scale factors, new offsets (given or automatic), or both.
using LASreaderLASrescale = LASreaderRescale<LASreaderLAS>;
using LASreaderLASreoffset = LASreaderReoffset<LASreaderLAS>;
using LASreaderLASrescalereoffset = LASreaderRescaleReoffset<LASreaderLAS>;
