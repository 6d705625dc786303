// The public header of LAS 1.0 to 1.5 as one table: each row of laslayout's
// HEADER bound to its member of LASheader. Reading, writing and patching a
// header all go through a header image, the fields as they lie on disk
// (little-endian, packed, at the table's offsets), and through these rows, so
// no field is spelled out a second time; the checks the reader and the writer
// share live here too.
#pragma once

#include <type_traits>
#include <utility>

#include "core/lasheader.hpp"
#include "core/laslayout.hpp"

namespace lasheadercodec {

using laslayout::HeaderField;

// How a field is stored: a text or a run of raw bytes copied as they are,
// little-endian unsigned integers (one or an array of them), or a double.
enum class Kind : U8 { TEXT, BYTES, UNSIGNED, REAL };

struct Binding {
  HeaderField field;
  Kind kind;
  U32 elements;      // entries of a by-return array, else 1
  U32 element_size;  // bytes of one entry on disk
  U32 member_size;   // bytes of the member; a text member keeps a terminator beyond the field
  void* (*member)(LASheader& header);
};

template <auto Member>
void* member_of(LASheader& header) {
  return &(header.*Member);
}

// The binding of `field` to `Member`, its kind and sizes taken from the
// member's type; the compiler checks that they fill the field exactly.
template <HeaderField field, auto Member>
constexpr Binding bind() {
  using T = std::remove_cvref_t<decltype(std::declval<LASheader&>().*Member)>;
  using E = std::remove_all_extents_t<T>;
  constexpr U32 width = laslayout::HEADER[field].size;
  if constexpr (std::is_same_v<E, char>) {
    static_assert(sizeof(T) >= width);
    return {field, Kind::TEXT, 1, width, (U32)sizeof(T), &member_of<Member>};
  } else if constexpr (std::is_array_v<T> && std::is_same_v<E, U8>) {
    static_assert(sizeof(T) == width);
    return {field, Kind::BYTES, 1, width, (U32)sizeof(T), &member_of<Member>};
  } else {
    static_assert(std::is_unsigned_v<E> || std::is_same_v<E, F64>);
    constexpr U32 elements = std::is_array_v<T> ? (U32)std::extent_v<T> : 1;
    static_assert(sizeof(E) * elements == width);
    return {field, std::is_same_v<E, F64> ? Kind::REAL : Kind::UNSIGNED, elements, (U32)sizeof(E), (U32)sizeof(T),
            &member_of<Member>};
  }
}

using namespace laslayout;
inline constexpr Binding BINDINGS[HEADER_FIELD_COUNT] = {
    bind<FILE_SIGNATURE, &LASheader::file_signature>(),
    bind<FILE_SOURCE_ID, &LASheader::file_source_ID>(),
    bind<GLOBAL_ENCODING, &LASheader::global_encoding>(),
    bind<PROJECT_ID_GUID_DATA_1, &LASheader::project_ID_GUID_data_1>(),
    bind<PROJECT_ID_GUID_DATA_2, &LASheader::project_ID_GUID_data_2>(),
    bind<PROJECT_ID_GUID_DATA_3, &LASheader::project_ID_GUID_data_3>(),
    bind<PROJECT_ID_GUID_DATA_4, &LASheader::project_ID_GUID_data_4>(),
    bind<VERSION_MAJOR, &LASheader::version_major>(),
    bind<VERSION_MINOR, &LASheader::version_minor>(),
    bind<SYSTEM_IDENTIFIER, &LASheader::system_identifier>(),
    bind<GENERATING_SOFTWARE, &LASheader::generating_software>(),
    bind<FILE_CREATION_DAY, &LASheader::file_creation_day>(),
    bind<FILE_CREATION_YEAR, &LASheader::file_creation_year>(),
    bind<HEADER_SIZE, &LASheader::header_size>(),
    bind<OFFSET_TO_POINT_DATA, &LASheader::offset_to_point_data>(),
    bind<NUMBER_OF_VARIABLE_LENGTH_RECORDS, &LASheader::number_of_variable_length_records>(),
    bind<POINT_DATA_FORMAT, &LASheader::point_data_format>(),
    bind<POINT_DATA_RECORD_LENGTH, &LASheader::point_data_record_length>(),
    bind<NUMBER_OF_POINT_RECORDS, &LASheader::number_of_point_records>(),
    bind<NUMBER_OF_POINTS_BY_RETURN, &LASheader::number_of_points_by_return>(),
    bind<X_SCALE_FACTOR, &LASheader::x_scale_factor>(),
    bind<Y_SCALE_FACTOR, &LASheader::y_scale_factor>(),
    bind<Z_SCALE_FACTOR, &LASheader::z_scale_factor>(),
    bind<X_OFFSET, &LASheader::x_offset>(),
    bind<Y_OFFSET, &LASheader::y_offset>(),
    bind<Z_OFFSET, &LASheader::z_offset>(),
    bind<MAX_X, &LASheader::max_x>(),
    bind<MIN_X, &LASheader::min_x>(),
    bind<MAX_Y, &LASheader::max_y>(),
    bind<MIN_Y, &LASheader::min_y>(),
    bind<MAX_Z, &LASheader::max_z>(),
    bind<MIN_Z, &LASheader::min_z>(),
    bind<START_OF_WAVEFORM_DATA_PACKET_RECORD, &LASheader::start_of_waveform_data_packet_record>(),
    bind<START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD, &LASheader::start_of_first_extended_variable_length_record>(),
    bind<NUMBER_OF_EXTENDED_VARIABLE_LENGTH_RECORDS, &LASheader::number_of_extended_variable_length_records>(),
    bind<EXTENDED_NUMBER_OF_POINT_RECORDS, &LASheader::extended_number_of_point_records>(),
    bind<EXTENDED_NUMBER_OF_POINTS_BY_RETURN, &LASheader::extended_number_of_points_by_return>(),
    bind<MAX_GPS_TIME, &LASheader::max_gps_time>(),
    bind<MIN_GPS_TIME, &LASheader::min_gps_time>(),
    bind<TIME_OFFSET, &LASheader::time_offset>(),
};

constexpr bool bindings_in_table_order() {
  for (U32 i = 0; i < HEADER_FIELD_COUNT; i++)
    if (BINDINGS[i].field != (HeaderField)i) return false;
  return true;
}
static_assert(bindings_in_table_order());

// Fields are walked in table order; a range names its first and last field.
constexpr HeaderField next(HeaderField field) { return (HeaderField)(field + 1); }

// The fields LAS 1.`minor` brings beyond the earlier versions, as a range;
// minor 0 gives the fields of every version. Empty (first > last) for a
// minor that brings none.
struct FieldRange {
  HeaderField first;
  HeaderField last;
};
constexpr FieldRange fields_new_in(U8 minor) {
  U32 first = HEADER_FIELD_COUNT, last = 0;
  for (U32 i = 0; i < HEADER_FIELD_COUNT; i++) {
    if (HEADER[i].min_minor != minor) continue;
    if (first == HEADER_FIELD_COUNT) first = i;
    last = i;
  }
  if (first == HEADER_FIELD_COUNT) return {(HeaderField)1, (HeaderField)0};
  return {(HeaderField)first, (HeaderField)last};
}
// The last field a header of LAS 1.`minor` has.
constexpr HeaderField last_field_of(U8 minor) {
  U32 last = 0;
  for (U32 i = 0; i < HEADER_FIELD_COUNT; i++)
    if (HEADER[i].min_minor <= minor) last = i;
  return (HeaderField)last;
}
static_assert(fields_new_in(0).first == FILE_SIGNATURE && fields_new_in(0).last == MIN_Z);
static_assert(fields_new_in(3).first == START_OF_WAVEFORM_DATA_PACKET_RECORD &&
              fields_new_in(3).last == START_OF_WAVEFORM_DATA_PACKET_RECORD);
static_assert(fields_new_in(4).first == START_OF_FIRST_EXTENDED_VARIABLE_LENGTH_RECORD &&
              fields_new_in(4).last == EXTENDED_NUMBER_OF_POINTS_BY_RETURN);
static_assert(fields_new_in(5).first == MAX_GPS_TIME && fields_new_in(5).last == TIME_OFFSET);
static_assert(fields_new_in(2).first > fields_new_in(2).last);
static_assert(last_field_of(2) == MIN_Z && last_field_of(4) == EXTENDED_NUMBER_OF_POINTS_BY_RETURN &&
              last_field_of(9) == TIME_OFFSET);

// The fields of a LAS 1.5 header as they lie on disk.
class HeaderImage {
 public:
  U8 bytes[HEADER_SIZE_1_5] = {};

  // Where entry `element` of the field lies, and how wide it is.
  const U8* at(HeaderField field, U32 element = 0) const { return bytes + position(field, element); }
  U8* at(HeaderField field, U32 element = 0) { return bytes + position(field, element); }
  static U32 element_size(HeaderField field) { return BINDINGS[field].element_size; }
  static U32 elements(HeaderField field) { return BINDINGS[field].elements; }

  // The field (or one entry of it) from the header's member, and back.
  void encode(const LASheader& header, HeaderField field);
  void encode(const LASheader& header, HeaderField first, HeaderField last);
  void decode(HeaderField field, U32 element, LASheader& header) const;

  // Values of unsigned and double fields, for fields written other than the
  // header holds them and for tests.
  void set_unsigned(HeaderField field, U64 value, U32 element = 0);
  void set_real(HeaderField field, F64 value);
  U64 get_unsigned(HeaderField field, U32 element = 0) const;
  F64 get_real(HeaderField field) const;

 private:
  static U32 position(HeaderField field, U32 element) {
    return HEADER[field].offset + element * BINDINGS[field].element_size;
  }
};

// Every public header field of `from` into `to`.
void copy_fields(const LASheader& from, LASheader& to);

// The checks of a header that the reader and the writer share, in the order
// they report: the file signature, the version (WARNING), the point format
// the version allows (WARNING), the header size and the offset to the point
// data. False after an ERROR. The writer lets formats beyond 10 pass from
// LAS 1.4 on; they fail later as unknown point types.
bool check_header_start(const LASheader& header, const bool formats_beyond_10_from_1_4);
// A WARNING for a header with points whose bounding box has a minimum above
// its maximum.
void check_bounding_box(const LASheader& header);

}  // namespace lasheadercodec
