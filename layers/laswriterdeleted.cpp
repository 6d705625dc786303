// Deleting writer: forwards the points that are not marked deleted.
#include "layers/laswriterdeleted.hpp"

#include "core/laspoint.hpp"

bool LASwriterDeleted::open(LASwriter* writer) {
  if (writer == nullptr) return false;
  this->writer.reset(writer);
  scaling = writer->scaling;
  points_expected = writer->points_expected;
  return true;
}

bool LASwriterDeleted::write_point(const LASpoint* point) {
  if (point->is_deleted) return false;
  points_written++;
  return writer->write_point(point);
}

bool LASwriterDeleted::update_inventory(const LASpoint* point) {
  if (point->is_deleted) return false;
  inventory.add(point);
  return writer->update_inventory(point);
}

bool LASwriterDeleted::takes_records(U8 format, U32 record_length) const {
  return writer && writer->takes_records(format, record_length);
}

bool LASwriterDeleted::write_records(const U8* records, U32 count) {
  points_written += count;
  return writer->write_records(records, count);
}

void LASwriterDeleted::update_inventory_records(const U8* records, U32 count, const LASrecordFields& fields) {
  inventory.add_records(records, count, fields);
  writer->update_inventory_records(records, count, fields);
}

bool LASwriterDeleted::chunk() { return writer ? writer->chunk() : false; }

bool LASwriterDeleted::update_header(const LASheader* header, bool use_inventory, bool update_extra_bytes) {
  return writer ? writer->update_header(header, use_inventory, update_extra_bytes) : false;
}

I64 LASwriterDeleted::close(bool update_npoints) {
  if (writer == nullptr) return 0;
  const I64 bytes = writer->close(update_npoints);
  points_expected = writer->points_expected;
  points_written = 0;
  return bytes;
}

I64 LASwriterDeleted::tell() { return writer ? writer->tell() : 0; }
