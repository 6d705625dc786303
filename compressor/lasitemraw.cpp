// The raw POINT14 item: its 30 file bytes are spread over the point's legacy
// and extended fields, so that every consumer finds valid returns,
// classification and scan angle whichever set it reads. Points laid out for a
// legacy format (extended layout 0) are written as POINT14 from their legacy
// fields. The fields are reached by their offsets in LASpoint, so the item
// memory may be any block laid out like a point (seek's scratch point is one).
#include <cstddef>
#include <cstring>

#include "compressor/lasreaditemraw.hpp"
#include "compressor/laswriteitemraw.hpp"
#include "core/laspoint.hpp"

namespace {

using namespace laslayout;

constexpr size_t MEM_RETURN_BYTE = offsetof(LASpoint, return_byte);
constexpr size_t MEM_CLASS_BYTE = offsetof(LASpoint, class_byte);
constexpr size_t MEM_SCAN_ANGLE_RANK = offsetof(LASpoint, scan_angle_rank);
constexpr size_t MEM_USER_DATA = offsetof(LASpoint, user_data);
constexpr size_t MEM_POINT_SOURCE_ID = offsetof(LASpoint, point_source_ID);
constexpr size_t MEM_EXTENDED_SCAN_ANGLE = offsetof(LASpoint, extended_scan_angle);
constexpr size_t MEM_EXTENDED_FLAGS = offsetof(LASpoint, extended_flags_byte);
constexpr size_t MEM_EXTENDED_CLASSIFICATION = offsetof(LASpoint, extended_classification);
constexpr size_t MEM_EXTENDED_RETURN_BYTE = offsetof(LASpoint, extended_return_byte);
constexpr size_t MEM_GPS_TIME = offsetof(LASpoint, gps_time);
// X, Y, Z and intensity lie alike in the file and in memory.
constexpr size_t XYZ_INTENSITY = 14;
static_assert(POINT14[P14_INTENSITY].offset + POINT14[P14_INTENSITY].size == XYZ_INTENSITY);
static_assert(offsetof(LASpoint, intensity) + sizeof(U16) == XYZ_INTENSITY);

// The multi-byte POINT14 fields that a big-endian host reverses.
constexpr Point14Field WIDE_FIELDS[] = {P14_X, P14_Y, P14_Z, P14_INTENSITY, P14_SCAN_ANGLE, P14_POINT_SOURCE_ID, P14_GPS_TIME};

void reverse_wide_fields(U8* bytes) {
  U8 field[8];
  for (Point14Field f : WIDE_FIELDS) {
    const Field& layout = POINT14[f];
    lasitemraw::reverse_copy(field, bytes + layout.offset, layout.size);
    memcpy(bytes + layout.offset, field, layout.size);
  }
}

// `disk` holds the 30 bytes with every field in host byte order.
void point14_into_memory(U8* item, const U8* disk) {
  memcpy(item, disk, XYZ_INTENSITY);
  memcpy(item + MEM_USER_DATA, disk + POINT14[P14_USER_DATA].offset, 1);
  memcpy(item + MEM_POINT_SOURCE_ID, disk + POINT14[P14_POINT_SOURCE_ID].offset, 2);
  memcpy(item + MEM_GPS_TIME, disk + POINT14[P14_GPS_TIME].offset, 8);

  const U8 returns = disk[POINT14[P14_RETURN_BYTE].offset];
  const U8 flags = disk[POINT14[P14_FLAGS_BYTE].offset];
  const U8 classification = disk[POINT14[P14_CLASSIFICATION].offset];
  item[MEM_EXTENDED_RETURN_BYTE] = returns;

  // Legacy returns hold 3 bits: more than 7 returns fold into 7, the returns
  // after the sixth become 6, or 7 for the last.
  const U8 r = returns & P14_RETURN_NUMBER_MASK;
  const U8 n = returns >> P14_NUMBER_OF_RETURNS_SHIFT;
  U8 return_number, number_of_returns;
  if (n > 7) {
    number_of_returns = 7;
    return_number = (r <= 6) ? r : (r >= n ? 7 : 6);
  } else {
    number_of_returns = n;
    return_number = r & 0x07;
  }
  item[MEM_RETURN_BYTE] = (U8)(return_number | (number_of_returns << 3) | (flags & (P14_SCAN_DIRECTION_BIT | P14_EDGE_OF_FLIGHT_LINE_BIT)));
  item[MEM_CLASS_BYTE] = (U8)((classification < 32 ? classification : 0) | ((flags & 0x07) << 5));

  const U8 channel = (flags & P14_SCANNER_CHANNEL_MASK) >> P14_SCANNER_CHANNEL_SHIFT;
  item[MEM_EXTENDED_FLAGS] = (U8)((item[MEM_EXTENDED_FLAGS] & LASpoint::EXTENDED_LAYOUT_MASK) | (channel << 2) |
                                  ((flags & P14_CLASSIFICATION_FLAGS_MASK) << 4));
  item[MEM_EXTENDED_CLASSIFICATION] = classification;

  I16 scan_angle;
  memcpy(&scan_angle, disk + POINT14[P14_SCAN_ANGLE].offset, 2);
  memcpy(item + MEM_EXTENDED_SCAN_ANGLE, &scan_angle, 2);
  item[MEM_SCAN_ANGLE_RANK] = (U8)LASpoint::scan_angle_rank_of(scan_angle);
}

// Forms the 30 bytes, every field in host byte order.
void point14_from_memory(U8* disk, const U8* item) {
  memcpy(disk, item, XYZ_INTENSITY);
  memcpy(disk + POINT14[P14_USER_DATA].offset, item + MEM_USER_DATA, 1);
  memcpy(disk + POINT14[P14_POINT_SOURCE_ID].offset, item + MEM_POINT_SOURCE_ID, 2);
  memcpy(disk + POINT14[P14_GPS_TIME].offset, item + MEM_GPS_TIME, 8);

  const U8 legacy_returns = item[MEM_RETURN_BYTE];
  const U8 class_byte = item[MEM_CLASS_BYTE];
  const U8 classification = class_byte & LASpoint::CLASSIFICATION_MASK;
  U8 flags = (U8)(((class_byte >> 5) & 0x07) | (legacy_returns & (P14_SCAN_DIRECTION_BIT | P14_EDGE_OF_FLIGHT_LINE_BIT)));
  U8 returns, disk_classification = classification;
  I16 scan_angle;
  const U8 extended_flags = item[MEM_EXTENDED_FLAGS];
  if (extended_flags & LASpoint::EXTENDED_LAYOUT_MASK) {
    const U8 overlap = (extended_flags >> 4) & P14_OVERLAP_BIT;
    const U8 channel = (extended_flags & LASpoint::EXTENDED_SCANNER_CHANNEL_MASK) >> 2;
    flags = (U8)(flags | overlap | (channel << P14_SCANNER_CHANNEL_SHIFT));
    if (classification == 0) disk_classification = item[MEM_EXTENDED_CLASSIFICATION];
    returns = item[MEM_EXTENDED_RETURN_BYTE];
    memcpy(&scan_angle, item + MEM_EXTENDED_SCAN_ANGLE, 2);
  } else {
    returns = (U8)((legacy_returns & LASpoint::RETURN_NUMBER_MASK) |
                   (((legacy_returns & LASpoint::NUMBER_OF_RETURNS_MASK) >> 3) << P14_NUMBER_OF_RETURNS_SHIFT));
    scan_angle = LASpoint::extended_scan_angle_of((I8)item[MEM_SCAN_ANGLE_RANK]);
  }
  disk[POINT14[P14_RETURN_BYTE].offset] = returns;
  disk[POINT14[P14_FLAGS_BYTE].offset] = flags;
  disk[POINT14[P14_CLASSIFICATION].offset] = disk_classification;
  memcpy(disk + POINT14[P14_SCAN_ANGLE].offset, &scan_angle, 2);
}

}  // namespace

void point14_as_read_back(U8* into, const U8* item) {
  U8 disk[POINT14_SIZE];
  point14_from_memory(disk, item);
  point14_into_memory(into, disk);
}

void point14_read_raw(U8* item, const U8* bytes) { point14_into_memory(item, bytes); }

void LASreadItemRaw_POINT14_LE::read(U8* item, U32&) {
  stream->getBytes(scratch, POINT14_SIZE);
  point14_into_memory(item, scratch);
}

void LASreadItemRaw_POINT14_BE::read(U8* item, U32&) {
  stream->getBytes(scratch, POINT14_SIZE);
  reverse_wide_fields(scratch);
  point14_into_memory(item, scratch);
}

bool LASwriteItemRaw_POINT14_LE::write(const U8* item, U32&) {
  point14_from_memory(scratch, item);
  return stream->putBytes(scratch, POINT14_SIZE);
}

bool LASwriteItemRaw_POINT14_BE::write(const U8* item, U32&) {
  point14_from_memory(scratch, item);
  reverse_wide_fields(scratch);
  return stream->putBytes(scratch, POINT14_SIZE);
}
