// Stand-in of the spatial index: nothing is ever found or selected.
#include "index/lasindex.hpp"

bool LASindex::read(const char*) { return false; }
bool LASindex::read(FILE*) { return false; }
bool LASindex::read(ByteStreamIn*) { return false; }
bool LASindex::intersect_rectangle(const F64, const F64, const F64, const F64) { return false; }
bool LASindex::intersect_tile(const F32, const F32, const F32) { return false; }
bool LASindex::intersect_circle(const F64, const F64, const F64) { return false; }
bool LASindex::merge_intervals() { return false; }
bool LASindex::seek_next(LASreader*) { return false; }
