#include "core/lasitem.hpp"

int las_item_field_group(LASitem::Type type) {
  switch (type) {
    case LASitem::POINT10:
    case LASitem::POINT14: return 0;
    case LASitem::GPSTIME11: return 1;
    case LASitem::RGB12:
    case LASitem::RGB14:
    case LASitem::RGBNIR14: return 2;
    case LASitem::WAVEPACKET13:
    case LASitem::WAVEPACKET14: return 3;
    case LASitem::BYTE:
    case LASitem::BYTE14: return 4;
  }
  return -1;
}

bool las_items_repeat_a_kind(const U16 num_items, const LASitem* items) {
  U32 seen = 0;
  for (U32 i = 0; i < num_items; i++) {
    int group = las_item_field_group(items[i].type);
    if (group < 0) continue;
    if (seen & (1u << group)) return true;
    seen |= (1u << group);
  }
  return false;
}
