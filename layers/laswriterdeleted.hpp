// A writer in front of another that drops every point marked deleted, so that
// deletions made while reading (by layers) never reach the output.
#pragma once

#include <memory>

#include "core/laswriter.hpp"

// Owns the inner writer: close closes it, the destructor deletes it (its own
// destructor finishes what was not closed).
class LASwriterDeleted : public LASwriter {
 public:
  LASwriterDeleted() = default;
  // False for a null writer, which then is not taken.
  bool open(LASwriter* writer);

  // A deleted point is dropped and answered with false.
  bool write_point(const LASpoint* point) override;
  // Deleted points take no part in the inventories either.
  bool update_inventory(const LASpoint* point) override;
  // Records as they lie in a file are never marked deleted: they go through.
  bool takes_records(U8 format, U32 record_length) const override;
  bool write_records(const U8* records, U32 count) override;
  void update_inventory_records(const U8* records, U32 count, const LASrecordFields& fields) override;
  bool chunk() override;
  bool update_header(const LASheader* header, bool use_inventory = false, bool update_extra_bytes = false) override;
  I64 close(bool update_npoints = true) override;
  I64 tell() override;

 private:
  std::unique_ptr<LASwriter> writer;
};
