// The point inventory and the file-identity test.
#include "core/lasutility.hpp"

#include <sys/stat.h>

#include <cstring>

#include "core/lasheader.hpp"
#include "core/laspoint.hpp"

bool LASinventory::add(const LASpoint* point) {
  number_of_point_records++;
  if (point->get_extended_layout())
    number_of_points_by_return[point->get_extended_return_number()]++;
  else
    number_of_points_by_return[point->get_return_number()]++;
  const I32 X = point->get_X();
  const I32 Y = point->get_Y();
  const I32 Z = point->get_Z();
  if (first) {
    min_X = max_X = X;
    min_Y = max_Y = Y;
    min_Z = max_Z = Z;
    if (point->has_gps_time) min_gps_time = max_gps_time = point->gps_time;
    first = false;
    return true;
  }
  if (X < min_X)
    min_X = X;
  else if (X > max_X)
    max_X = X;
  if (Y < min_Y)
    min_Y = Y;
  else if (Y > max_Y)
    max_Y = Y;
  if (Z < min_Z)
    min_Z = Z;
  else if (Z > max_Z)
    max_Z = Z;
  if (point->has_gps_time) {
    if (point->gps_time < min_gps_time)
      min_gps_time = point->gps_time;
    else if (point->gps_time > max_gps_time)
      max_gps_time = point->gps_time;
  }
  return true;
}

bool LASinventory::update_header(LASheader* header) const {
  if (header == nullptr) return false;
  const bool las_1_4_or_later = header->version_major > 1 || header->version_minor >= 4;
  // Every count that needs more than 32 bits: older headers cannot hold it;
  // from 1.4 on the legacy field holds 0 and the extended one the count. No
  // return count exceeds the total, so checking the total first is enough to
  // leave an older header untouched.
  if (number_of_point_records > (I64)U32_MAX && !las_1_4_or_later) return false;
  header->number_of_point_records = (number_of_point_records > (I64)U32_MAX) ? 0 : (U32)number_of_point_records;
  for (int r = 1; r <= 5; r++) {
    const I64 count = number_of_points_by_return[r];
    header->number_of_points_by_return[r - 1] = (count > (I64)U32_MAX) ? 0 : (U32)count;
  }
  header->max_x = header->get_x(max_X);
  header->min_x = header->get_x(min_X);
  header->max_y = header->get_y(max_Y);
  header->min_y = header->get_y(min_Y);
  header->max_z = header->get_z(max_Z);
  header->min_z = header->get_z(min_Z);
  header->max_gps_time = max_gps_time;
  header->min_gps_time = min_gps_time;
  header->extended_number_of_point_records = (U64)number_of_point_records;
  for (int r = 1; r <= 15; r++) header->extended_number_of_points_by_return[r - 1] = (U64)number_of_points_by_return[r];
  return true;
}

bool las_same_file(const char* name1, const char* name2) {
  if (name1 == nullptr || name2 == nullptr) return false;
  if (strcmp(name1, name2) == 0) return true;
  struct stat s1, s2;
  if (stat(name1, &s1) != 0 || stat(name2, &s2) != 0) return false;
  return s1.st_dev == s2.st_dev && s1.st_ino == s2.st_ino;
}
