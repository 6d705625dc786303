// Compressor description: item lists of the LAS point formats, the checks a
// reader applies to a description found in a file, version requests, and the
// byte layout of the compressor record.
#include "compressor/vembra.hpp"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "core/lasheader.hpp"
#include "core/laslayout.hpp"

Vembra::~Vembra() {
  free(error_text);
  delete[] items;
  delete[] record_bytes;
}

void LASdeleteVembra::operator()(Vembra* vembra) const { delete vembra; }

bool Vembra::return_error(const char* message) {
  char text[1024];
  snprintf(text, sizeof(text), "%s (Vembra v%d.%dr%d)", message, VERSION_MAJOR, VERSION_MINOR,
           VERSION_REVISION);
  free(error_text);
  error_text = strdup(text);
  return false;
}

bool Vembra::fail(const char* format, ...) {
  char message[512];
  va_list args;
  va_start(args, format);
  vsnprintf(message, sizeof(message), format, args);
  va_end(args);
  return return_error(message);
}

// Base record size of each LAS point format and its items before extra bytes.
namespace {
struct PointFormat {
  U16 base_size;
  U8 count;
  LASitem::Type types[4];
};
constexpr PointFormat point_formats[11] = {
    {20, 1, {LASitem::POINT10}},
    {28, 2, {LASitem::POINT10, LASitem::GPSTIME11}},
    {26, 2, {LASitem::POINT10, LASitem::RGB12}},
    {34, 3, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12}},
    {57, 3, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::WAVEPACKET13}},
    {63, 4, {LASitem::POINT10, LASitem::GPSTIME11, LASitem::RGB12, LASitem::WAVEPACKET13}},
    {30, 1, {LASitem::POINT14}},
    {36, 2, {LASitem::POINT14, LASitem::RGB14}},
    {38, 2, {LASitem::POINT14, LASitem::RGBNIR14}},
    {59, 2, {LASitem::POINT14, LASitem::WAVEPACKET14}},
    {67, 3, {LASitem::POINT14, LASitem::RGBNIR14, LASitem::WAVEPACKET14}},
};

// The standard size of each fixed-size item kind; 0 for the extra-bytes kinds
// and for values that are no kind.
U16 standard_item_size(LASitem::Type type) {
  switch (type) {
    case LASitem::POINT10: return 20;
    case LASitem::GPSTIME11: return 8;
    case LASitem::RGB12: return 6;
    case LASitem::WAVEPACKET13: return 29;
    case LASitem::POINT14: return 30;
    case LASitem::RGB14: return 6;
    case LASitem::RGBNIR14: return 8;
    case LASitem::WAVEPACKET14: return 29;
    default: return 0;
  }
}

void put16(U8* p, U16 v) {
  p[0] = (U8)v;
  p[1] = (U8)(v >> 8);
}
void put32(U8* p, U32 v) {
  for (int i = 0; i < 4; i++) p[i] = (U8)(v >> (8 * i));
}
void put64(U8* p, U64 v) {
  for (int i = 0; i < 8; i++) p[i] = (U8)(v >> (8 * i));
}
U16 get16(const U8* p) { return (U16)(p[0] | (p[1] << 8)); }
U32 get32(const U8* p) {
  U32 v = 0;
  for (int i = 3; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}
U64 get64(const U8* p) {
  U64 v = 0;
  for (int i = 7; i >= 0; i--) v = (v << 8) | p[i];
  return v;
}
}  // namespace

bool Vembra::setup(U16* num_items, LASitem** items, const U8 point_type, const U16 point_size,
                   const U16) {
  if (point_type > 10) return fail("point type %d unknown", point_type);
  const PointFormat& format = point_formats[point_type];
  I32 extra_bytes_number = (I32)point_size - (I32)format.base_size;
  if (extra_bytes_number < 0) {
    LASMessage(WARNING, "point size %d too small by %d bytes for point type %d. assuming point_size of %d",
               point_size, -extra_bytes_number, point_type, format.base_size);
    extra_bytes_number = 0;
  }
  U16 count = format.count + (extra_bytes_number ? 1 : 0);
  LASitem* list = new LASitem[count];
  for (U32 i = 0; i < format.count; i++) {
    list[i].type = format.types[i];
    list[i].size = standard_item_size(format.types[i]);
    list[i].version = 0;
  }
  if (extra_bytes_number) {
    list[count - 1].type = (point_type <= 5) ? LASitem::BYTE : LASitem::BYTE14;
    list[count - 1].size = (U16)extra_bytes_number;
    list[count - 1].version = 0;
  }
  *num_items = count;
  *items = list;
  return true;
}

bool Vembra::setup(const U16 num_items, const LASitem* items, const U16 compressor) {
  if (compressor > LAYERED_CHUNKED) return fail("compressor %d not supported", compressor);
  if (!check_items(num_items, items)) return false;

  U16 chosen;
  if (compressor == NONE) {
    chosen = NONE;
  } else if (items[0].type == LASitem::POINT14) {
    // The LAS 1.4 core item is only coded by the layered compressor.
    if (compressor != LAYERED_CHUNKED) return false;
    chosen = LAYERED_CHUNKED;
  } else if (compressor == LAYERED_CHUNKED) {
    chosen = POINTWISE_CHUNKED;
  } else {
    chosen = compressor;
  }
  this->compressor = chosen;
  if ((chosen == POINTWISE_CHUNKED || chosen == LAYERED_CHUNKED) && chunk_size == 0)
    chunk_size = VEMBRA_CHUNK_SIZE_DEFAULT;

  LASitem* copy = new LASitem[num_items];
  memcpy(copy, items, sizeof(LASitem) * num_items);
  delete[] this->items;
  this->items = copy;
  this->num_items = num_items;
  return true;
}

bool Vembra::set_chunk_size(const U32 chunk_size) {
  if (num_items == 0) return return_error("call setup() before setting chunk size");
  if (compressor == POINTWISE) return false;
  this->chunk_size = chunk_size;
  return true;
}

bool Vembra::request_version(const U16 requested_version) {
  if (num_items == 0) return return_error("call setup() before requesting version");
  if (compressor != NONE) {
    if (requested_version == 0) return return_error("with compression version is at least 1");
    if (requested_version > 4) return return_error("version larger than 4 not supported");
  } else if (requested_version != 0) {
    return return_error("without compression version is always 0");
  }
  for (U32 i = 0; i < num_items; i++) {
    switch (items[i].type) {
      case LASitem::BYTE:
      case LASitem::POINT10:
      case LASitem::GPSTIME11:
      case LASitem::RGB12:
        items[i].version = (requested_version < 2) ? requested_version : 2;
        break;
      case LASitem::WAVEPACKET13:
        items[i].version = 1;
        break;
      case LASitem::POINT14:
      case LASitem::RGB14:
      case LASitem::RGBNIR14:
      case LASitem::WAVEPACKET14:
      case LASitem::BYTE14:
        items[i].version = (requested_version > 3) ? requested_version : 3;
        break;
      default:
        return return_error("item type not supported");
    }
  }
  return true;
}

U16 Vembra::get_default_version(const U8 point_type, const U8 version_major, const U8 version_minor) {
  // The two high bits of the format byte mark compressed data.
  U8 format = point_type & 0x3F;
  if (format >= 6 && format <= 10) return (version_major != 0 && version_minor > 4) ? 4 : 3;
  return 2;
}

bool Vembra::is_standard(U8* point_type, U16* record_length) {
  if (items == nullptr) return return_error("LASitem array is zero");

  // Summed in 32 bits: a list whose sizes exceed a 16-bit record length is no
  // point format and must not pass as one through a wrapped sum.
  U32 sum = 0;
  for (U32 i = 0; i < num_items; i++) sum += items[i].size;
  if (point_type) *point_type = 127;
  if (record_length) *record_length = (sum <= U16_MAX) ? (U16)sum : U16_MAX;

  if (num_items < 1) return return_error("less than one LASitem entries");
  if (num_items > 5) return return_error("more than five LASitem entries");

  // Every standard list is a format's items, then optionally one extra-bytes item.
  for (U8 format = 0; format <= 10; format++) {
    const PointFormat& f = point_formats[format];
    if (num_items != f.count && num_items != f.count + 1) continue;
    bool match = true;
    for (U32 i = 0; i < f.count && match; i++) {
      LASitem::Type expected = f.types[i];
      LASitem::Type type = items[i].type;
      // Formats 9 and 10 accept the LAS 1.3 wave packet item as well.
      if (expected == LASitem::WAVEPACKET14 && type == LASitem::WAVEPACKET13) expected = type;
      match = (type == expected && items[i].size == standard_item_size(type));
    }
    if (match && num_items == f.count + 1) {
      const LASitem& extra = items[f.count];
      bool kind_ok = (extra.type == LASitem::BYTE) || (format >= 6 && extra.type == LASitem::BYTE14);
      match = kind_ok && extra.size > 0;
    }
    if (match && sum <= U16_MAX) {
      if (point_type) *point_type = format;
      return true;
    }
  }
  return return_error("LASitem array does not match LAS specification 1.4");
}

bool Vembra::check(const U16 point_size) {
  if (compressor > LAYERED_CHUNKED) return fail("compressor %d not supported", compressor);
  if (coder != 0) return fail("coder %d not supported", coder);
  return check_items(num_items, items, point_size);
}

bool Vembra::check_items(const U16 num_items, const LASitem* items, const U16 point_size) {
  if (num_items == 0) return return_error("number of items cannot be zero");
  if (items == nullptr) return return_error("items pointer cannot be NULL");
  // Summed in 32 bits, so that sizes wrapping past 65535 cannot match a point size.
  U32 size = 0;
  for (U32 i = 0; i < num_items; i++) {
    if (!check_item(&items[i])) return false;
    size += items[i].size;
  }
  if (point_size && point_size != size)
    return fail("point has size of %d but items only add up to %u bytes", point_size, size);
  return true;
}

bool Vembra::check_item(const LASitem* item) {
  const U16 size = item->size;
  const U16 version = item->version;
  switch (item->type) {
    case LASitem::BYTE:
      if (size < 1) return return_error("BYTE has size < 1");
      if (version > 2) return return_error("BYTE has version > 2");
      break;
    case LASitem::POINT10:
      if (size != 20) return return_error("POINT10 has size != 20");
      if (version > 2) return return_error("POINT10 has version > 2");
      break;
    case LASitem::GPSTIME11:
      if (size != 8) return return_error("GPSTIME11 has size != 8");
      if (version > 2) return return_error("GPSTIME11 has version > 2");
      break;
    case LASitem::RGB12:
      if (size != 6) return return_error("RGB12 has size != 6");
      if (version > 2) return return_error("RGB12 has version > 2");
      break;
    case LASitem::WAVEPACKET13:
      if (size != 29) return return_error("WAVEPACKET13 has size != 29");
      if (version > 1) return return_error("WAVEPACKET13 has version > 1");
      break;
    case LASitem::POINT14:
      if (size != 30) return return_error("POINT14 has size != 30");
      if (version != 0 && version != 2 && version != 3 && version != 4)
        return return_error("POINT14 has version != 0 and != 2 and != 3 and != 4");
      break;
    case LASitem::RGB14:
      if (size != 6) return return_error("RGB14 has size != 6");
      if (version != 0 && version != 2 && version != 3 && version != 4)
        return return_error("RGB14 has version != 0 and != 2 and != 3 and != 4");
      break;
    case LASitem::RGBNIR14:
      if (size != 8) return return_error("RGBNIR14 has size != 8");
      if (version != 0 && version != 2 && version != 3 && version != 4)
        return return_error("RGBNIR14 has version != 0 and != 2 and != 3 and != 4");
      break;
    case LASitem::WAVEPACKET14:
      if (size != 29) return return_error("WAVEPACKET14 has size != 29");
      if (version != 0 && version != 3 && version != 4)
        return return_error("WAVEPACKET14 has version != 0 and != 3 and != 4");
      break;
    case LASitem::BYTE14:
      if (size < 1) return return_error("BYTE14 has size < 1");
      if (version != 0 && version != 2 && version != 3 && version != 4)
        return return_error("BYTE14 has version != 0 and != 2 and != 3 and != 4");
      break;
    default:
      return fail("item unknown (%d,%d,%d)", (int)item->type, size, version);
  }
  return true;
}

bool Vembra::pack(U8*& bytes, U32& num_bytes) {
  using namespace laslayout;
  num_bytes = compressor_record_size(num_items);
  U8* record = new U8[num_bytes];
  put16(record + COMPRESSOR[CMP_COMPRESSOR].offset, compressor);
  put16(record + COMPRESSOR[CMP_CODER].offset, coder);
  record[COMPRESSOR[CMP_VERSION_MAJOR].offset] = version_major;
  record[COMPRESSOR[CMP_VERSION_MINOR].offset] = version_minor;
  put16(record + COMPRESSOR[CMP_VERSION_REVISION].offset, version_revision);
  put32(record + COMPRESSOR[CMP_OPTIONS].offset, options);
  put32(record + COMPRESSOR[CMP_CHUNK_SIZE].offset, chunk_size);
  put64(record + COMPRESSOR[CMP_NUMBER_OF_SPECIAL_EVLRS].offset, (U64)number_of_special_evlrs);
  put64(record + COMPRESSOR[CMP_OFFSET_TO_SPECIAL_EVLRS].offset, (U64)offset_to_special_evlrs);
  put16(record + COMPRESSOR[CMP_NUM_ITEMS].offset, num_items);
  for (U32 i = 0; i < num_items; i++) {
    U8* item = record + compressor_record_size(i);
    put16(item + COMPRESSOR_ITEM[CMP_ITEM_TYPE].offset, (U16)items[i].type);
    put16(item + COMPRESSOR_ITEM[CMP_ITEM_SIZE].offset, items[i].size);
    put16(item + COMPRESSOR_ITEM[CMP_ITEM_VERSION].offset, items[i].version);
  }
  delete[] record_bytes;
  record_bytes = record;
  bytes = record;
  return true;
}

bool Vembra::unpack(const U8* bytes, const U32 num_bytes) {
  using namespace laslayout;
  if (bytes == nullptr || num_bytes < COMPRESSOR_HEAD_SIZE)
    return fail("compressor record of %u bytes is shorter than %u", num_bytes, COMPRESSOR_HEAD_SIZE);
  // The item count is trusted only when the record really holds that many items.
  U16 count = get16(bytes + COMPRESSOR[CMP_NUM_ITEMS].offset);
  if (num_bytes != compressor_record_size(count))
    return fail("compressor record of %u bytes cannot hold %d items", num_bytes, count);

  compressor = get16(bytes + COMPRESSOR[CMP_COMPRESSOR].offset);
  coder = get16(bytes + COMPRESSOR[CMP_CODER].offset);
  version_major = bytes[COMPRESSOR[CMP_VERSION_MAJOR].offset];
  version_minor = bytes[COMPRESSOR[CMP_VERSION_MINOR].offset];
  version_revision = get16(bytes + COMPRESSOR[CMP_VERSION_REVISION].offset);
  options = get32(bytes + COMPRESSOR[CMP_OPTIONS].offset);
  chunk_size = get32(bytes + COMPRESSOR[CMP_CHUNK_SIZE].offset);
  number_of_special_evlrs = (I64)get64(bytes + COMPRESSOR[CMP_NUMBER_OF_SPECIAL_EVLRS].offset);
  offset_to_special_evlrs = (I64)get64(bytes + COMPRESSOR[CMP_OFFSET_TO_SPECIAL_EVLRS].offset);
  LASitem* list = count ? new LASitem[count] : nullptr;
  for (U32 i = 0; i < count; i++) {
    const U8* item = bytes + compressor_record_size(i);
    list[i].type = (LASitem::Type)get16(item + COMPRESSOR_ITEM[CMP_ITEM_TYPE].offset);
    list[i].size = get16(item + COMPRESSOR_ITEM[CMP_ITEM_SIZE].offset);
    list[i].version = get16(item + COMPRESSOR_ITEM[CMP_ITEM_VERSION].offset);
  }
  delete[] items;
  items = list;
  num_items = count;
  return true;
}
