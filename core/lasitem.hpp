// The item: one consecutive run of bytes of a point record. The in-memory point,
// the header and the item coders all speak in item lists, so the type lives here
// in core where each of them can reach it.
#pragma once

#include "core/mydefs.hpp"

// One consecutive run of bytes of a point record: its kind, its size in bytes and the
// coder version that reads and writes it.
struct LASitem {
  enum Type : I32 {
    BYTE = 0,
    POINT10 = 6,
    GPSTIME11 = 7,
    RGB12 = 8,
    WAVEPACKET13 = 9,
    POINT14 = 10,
    RGB14 = 11,
    RGBNIR14 = 12,
    WAVEPACKET14 = 13,
    BYTE14 = 14
  };
  Type type;
  U16 size;
  U16 version;
};
static_assert(sizeof(LASitem) == 8);

// Which field group of the in-memory point an item kind fills (core record, GPS
// time, colour, wave packet, extra bytes); -1 for a kind outside the list. Two
// items of one group in a list would fill the same memory twice.
int las_item_field_group(LASitem::Type type);
// True when two items of the list fill the same field group of the point.
bool las_items_repeat_a_kind(const U16 num_items, const LASitem* items);
