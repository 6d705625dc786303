// The LAS and VMB writer. The header and every record go out at open, with
// the records the framework derives itself (compressor, tiling, origin
// counts); points go through the chunked point writer; close finishes the
// compressed data, writes the EVLRs and patches the counts that only the
// points reveal. Patches are written in place at positions counted from the
// header start; an output that cannot seek keeps the header it was opened with.
#pragma once

#include <cstdio>
#include <memory>

#include "compressor/laswritepoint.hpp"
#include "core/bytestreamout.hpp"
#include "core/laslayout.hpp"
#include "core/laswriter.hpp"
#include "core/lasutility.hpp"

struct LASevlrRecord;
struct LASvlrTiling;
struct LASvlrOriginal;
class Vembra;
namespace lasheadercodec {
class HeaderImage;
}

class LASwriterLAS : public LASwriter {
 public:
  LASwriterLAS() = default;
  ~LASwriterLAS() override;
  LASwriterLAS(const LASwriterLAS&) = delete;
  LASwriterLAS& operator=(const LASwriterLAS&) = delete;

  // Compressor 0 writes plain records, 2 chunked and 3 layered chunked VMB
  // points. Requested version 0: the compressor's default for the point type.
  // Chunk size: points per chunk, 0 adaptive, negative the default.
  bool open(ByteStreamOut* stream, const LASheader* header, U32 compressor = 0, I32 requested_version = 0,
            I32 chunk_size = -1);
  // A file of that name, owned by the writer, with a full I/O buffer. A
  // regular file gets the name only when close finishes it without error.
  bool open(const char* file_name, const LASheader* header, U32 compressor = 0, I32 requested_version = 0,
            I32 chunk_size = -1, U32 io_buffer_size = 262144);
  // A handle that stays the caller's (the standard output, for instance).
  bool open(FILE* file, const LASheader* header, U32 compressor = 0, I32 requested_version = 0, I32 chunk_size = -1);
  // Nothing is written; every byte is counted.
  bool open(const LASheader* header, U32 compressor = 0, I32 requested_version = 0, I32 chunk_size = -1);

  bool write_point(const LASpoint* point) override;
  bool takes_records(U8 format, U32 record_length) const override;
  bool write_records(const U8* records, U32 count) override;
  bool chunk() override;
  bool update_header(const LASheader* header, bool use_inventory = false, bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;
  I64 tell() override;

  // An owner that keeps the stream (over its own memory) clears this after open.
  bool delete_stream = true;

  // Replaces the item coders of compressed output; call before open.
  void set_coded_writer_maker(LASwritePoint::CodedWriterMaker maker) { coded_writer_maker = maker; }

 private:
  bool set_up_point_writer(const LASheader* header, U16 num_items, const LASitem* items, const Vembra* vembra);
  void release_stream();
  bool write_header_and_records(const LASheader* header, const Vembra* vembra, U8 point_type, U32 compressor);
  void written_header_image(const LASheader* header, const U32 vlrs_added, const U32 bytes_added,
                            const U8 written_format, lasheadercodec::HeaderImage& image) const;
  bool write_public_header(const LASheader* header, const Vembra* vembra, U8 point_type, U32 compressor);
  bool write_header_vlrs(const LASheader* header);
  bool write_compressor_vlr(const Vembra* vembra);
  bool write_tiling_vlr(const LASvlrTiling* tiling);
  bool write_original_vlr(LASvlrOriginal* original);
  bool seek_header_field(laslayout::HeaderField field, const char* prefix, const char* name = nullptr);
  U32 legacy_count(const LASheader* header, const I64 count, const bool legacy_counts) const;
  bool patch_from_inventory(const LASheader* header);
  bool patch_from_header(const LASheader* header);
  bool legacy_counts_carried(const U8 format, const U8 minor) const;
  bool finish_points();
  void patch_point_count();
  bool output_kept();
  bool close_output_file(bool failed);
  bool rewrite_extra_bytes(const LASheader* header);
  bool write_evlrs();

  // The file opened by name: the handle of `output` while it is open.
  FILE* file = nullptr;
  LASoutputFile output;
  ByteStreamOut* stream = nullptr;
  std::unique_ptr<LASwritePoint> writer;
  // Uncompressed records of a standard point format, which the raw items
  // write as the raw items of a reader read them: the format (-1: other
  // output) and the record length.
  I32 record_format = -1;
  U32 record_length = 0;
  I64 header_start_position = 0;
  bool writing_las_1_4 = false;
  bool writing_new_point_type = false;
  // The EVLR start the file's header holds now (written at open, and again
  // by update_header); close patches it when the EVLRs land elsewhere.
  U64 start_of_first_extended_variable_length_record = 0;
  U32 number_of_extended_variable_length_records = 0;
  const LASevlrRecord* evlrs = nullptr;

  // The minor version the header was written with: the header fields that
  // exist in the file, and so the patches it can take.
  U8 written_minor = 0;
  // Found while the records were written, so that in-place rewrites land on
  // the records really written: the Extra Bytes payload (position, length;
  // -1 when there is none) and the root-page pointer of a COPC information
  // record (-1 when there is none).
  I64 extra_bytes_payload_position = -1;
  U32 extra_bytes_payload_length = 0;
  I64 copc_root_pointer_position = -1;

  LASwritePoint::CodedWriterMaker coded_writer_maker = nullptr;
  // An in-place update of the header failed: the output is incomplete.
  bool patch_failed = false;
};
