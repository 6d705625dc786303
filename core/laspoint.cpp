// Layout, copy and reset of the in-memory point; the per-point accessors are
// inline in the header.
#include "core/laspoint.hpp"

#include <cstdlib>
#include <memory>

#include "compressor/vembra.hpp"
#include "core/lasheader.hpp"

LASpoint::LASpoint(const LASpoint& other) {
  if (other.num_items && !init(other.scaling, other.attribute_table, other.num_items, other.items)) return;
  scaling = other.scaling;
  attribute_table = other.attribute_table;
  X = other.X;
  Y = other.Y;
  Z = other.Z;
  intensity = other.intensity;
  return_byte = other.return_byte;
  class_byte = other.class_byte;
  scan_angle_rank = other.scan_angle_rank;
  user_data = other.user_data;
  point_source_ID = other.point_source_ID;
  extended_scan_angle = other.extended_scan_angle;
  extended_flags_byte = other.extended_flags_byte;
  extended_classification = other.extended_classification;
  extended_return_byte = other.extended_return_byte;
  is_deleted = other.is_deleted;
  time_change_flag = other.time_change_flag;
  gps_time = other.gps_time;
  memcpy(rgb, other.rgb, sizeof(rgb));
  wave_packet = other.wave_packet;
  memcpy(coordinates, other.coordinates, sizeof(coordinates));
  if (extra_bytes && other.extra_bytes) memcpy(extra_bytes, other.extra_bytes, (size_t)extra_bytes_count);
}

// The content of `other` in this point's layout: the optional parts only where
// the source has them, extra bytes up to the smaller count, and the LAS 1.4
// fields derived from the legacy ones when only this point has the extended
// layout. This point keeps its own layout marker.
LASpoint& LASpoint::operator=(const LASpoint& other) {
  if (this == &other) return *this;
  X = other.X;
  Y = other.Y;
  Z = other.Z;
  intensity = other.intensity;
  return_byte = other.return_byte;
  class_byte = other.class_byte;
  scan_angle_rank = other.scan_angle_rank;
  user_data = other.user_data;
  point_source_ID = other.point_source_ID;
  is_deleted = other.is_deleted;
  if (other.has_gps_time) gps_time = other.gps_time;
  if (other.has_rgb) {
    rgb[0] = other.rgb[0];
    rgb[1] = other.rgb[1];
    rgb[2] = other.rgb[2];
    rgb_bit_depth = other.rgb_bit_depth;
    if (other.has_nir) rgb[3] = other.rgb[3];
  }
  if (other.has_wave_packet) wave_packet = other.wave_packet;
  if (extra_bytes && other.extra_bytes) {
    I32 count = (extra_bytes_count < other.extra_bytes_count) ? extra_bytes_count : other.extra_bytes_count;
    if (count > 0) memcpy(extra_bytes, other.extra_bytes, (size_t)count);
  }
  if (other.get_extended_layout()) {
    extended_classification = other.extended_classification;
    extended_flags_byte = (U8)((extended_flags_byte & EXTENDED_LAYOUT_MASK) |
                               (other.extended_flags_byte & ~EXTENDED_LAYOUT_MASK));
    extended_return_byte = other.extended_return_byte;
    extended_scan_angle = other.extended_scan_angle;
  } else if (get_extended_layout()) {
    extended_classification = get_classification();
    // Synthetic, keypoint and withheld move from bits 5-7 to the flag nibble;
    // no overlap and scanner channel 0.
    U8 flags = (U8)(class_byte >> 5);
    extended_flags_byte = (U8)((extended_flags_byte & EXTENDED_LAYOUT_MASK) | (flags << 4));
    extended_return_byte = (U8)(get_return_number() | (get_number_of_returns() << 4));
    extended_scan_angle = extended_scan_angle_of(scan_angle_rank);
  }
  return *this;
}

bool LASpoint::init(const LASscaling* scaling, const LASattributeTable* attribute_table, const U16 num_items,
                    const LASitem* items) {
  clean();
  // A list that fills one part of the point twice would, for the extra bytes,
  // leave an item pointing at a freed buffer; it is no point layout.
  if (num_items == 0 || items == nullptr || las_items_repeat_a_kind(num_items, items)) return false;

  this->items = (LASitem*)malloc_las(sizeof(LASitem) * num_items);
  item_data = (U8**)malloc_las(sizeof(U8*) * num_items);
  if (this->items == nullptr || item_data == nullptr) {
    clean();
    return false;
  }
  memcpy(this->items, items, sizeof(LASitem) * num_items);
  this->num_items = num_items;

  for (U32 i = 0; i < num_items; i++) {
    record_size += items[i].size;
    switch (items[i].type) {
      case LASitem::BYTE:
      case LASitem::BYTE14:
        extra_bytes_count = items[i].size;
        extra_bytes = (U8*)malloc_las(items[i].size ? items[i].size : 1);
        if (extra_bytes == nullptr) {
          clean();
          return false;
        }
        memset(extra_bytes, 0, items[i].size);
        item_data[i] = extra_bytes;
        break;
      case LASitem::POINT10:
        item_data[i] = (U8*)&X;
        break;
      case LASitem::GPSTIME11:
        has_gps_time = true;
        item_data[i] = (U8*)&gps_time;
        break;
      case LASitem::RGBNIR14:
        has_nir = true;
        [[fallthrough]];
      case LASitem::RGB12:
      case LASitem::RGB14:
        has_rgb = true;
        rgb_bit_depth = 16;
        item_data[i] = (U8*)rgb;
        break;
      case LASitem::WAVEPACKET13:
      case LASitem::WAVEPACKET14:
        has_wave_packet = true;
        item_data[i] = (U8*)&wave_packet;
        break;
      case LASitem::POINT14:
        has_gps_time = true;
        set_extended_layout(1);
        item_data[i] = (U8*)&X;
        break;
      default:
        clean();
        return false;
    }
  }
  this->scaling = scaling;
  this->attribute_table = attribute_table;
  return true;
}

bool LASpoint::init(const LASscaling* scaling, const LASattributeTable* attribute_table, const U8 point_type,
                    const U16 point_size) {
  Vembra layout;
  U16 count = 0;
  LASitem* list = nullptr;
  if (!layout.setup(&count, &list, point_type, point_size)) {
    clean();
    return false;
  }
  const std::unique_ptr<LASitem[]> items(list);
  return init(scaling, attribute_table, count, items.get());
}

bool LASpoint::init(const LASheader* header, const U16 num_items, const LASitem* items) {
  return init(static_cast<const LASscaling*>(header), static_cast<const LASattributeTable*>(header), num_items, items);
}

bool LASpoint::init(const LASheader* header, const U8 point_type, const U16 point_size) {
  return init(static_cast<const LASscaling*>(header), static_cast<const LASattributeTable*>(header), point_type,
              point_size);
}

void LASpoint::reset() {
  X = Y = Z = 0;
  intensity = 0;
  return_byte = RETURN_ONE_OF_ONE;
  class_byte = 0;
  scan_angle_rank = 0;
  user_data = 0;
  point_source_ID = 0;
  extended_scan_angle = 0;
  extended_flags_byte &= EXTENDED_LAYOUT_MASK;
  extended_classification = 0;
  extended_return_byte = EXTENDED_RETURN_ONE_OF_ONE;
  is_deleted = 0;
  gps_time = 0.0;
  memset(rgb, 0, sizeof(rgb));
  memset(wave_packet.data, 0, sizeof(wave_packet.data));
}

void LASpoint::clean() {
  reset();
  extended_flags_byte = 0;
  time_change_flag = false;
  free(extra_bytes);
  free(item_data);
  free(items);
  extra_bytes = nullptr;
  item_data = nullptr;
  items = nullptr;
  has_gps_time = has_rgb = has_nir = has_wave_packet = false;
  extra_bytes_count = 0;
  record_size = 0;
  rgb_bit_depth = 0;
  num_items = 0;
}

void LASpoint::derive_legacy_fields() {
  const U8 r = get_extended_return_number();
  const U8 n = get_extended_number_of_returns();
  if (n > 7) {
    set_number_of_returns(7);
    set_return_number(r > 6 ? (r >= n ? 7 : 6) : r);
  } else {
    set_return_number(r);
    set_number_of_returns(n);
  }
  set_classification(extended_classification < 32 ? extended_classification : 0);
  // Synthetic, keypoint and withheld: the first three classification flags.
  class_byte = (U8)((class_byte & CLASSIFICATION_MASK) | ((get_extended_classification_flags() & 0x07) << 5));
  scan_angle_rank = scan_angle_rank_of(extended_scan_angle);
}
