// The header image and the shared header checks.
#include "core/lasheadercodec.hpp"

#include <cstring>

namespace lasheadercodec {

namespace {

// Little-endian loads and stores of 1 to 8 bytes, whatever the host's order.
void store_le(U8* at, U64 value, U32 size) {
  for (U32 i = 0; i < size; i++) at[i] = (U8)(value >> (8 * i));
}
U64 load_le(const U8* at, U32 size) {
  U64 value = 0;
  for (U32 i = 0; i < size; i++) value |= (U64)at[i] << (8 * i);
  return value;
}

// The member's entry as an unsigned of its width, and back.
U64 member_unsigned(const U8* member, U32 size) {
  switch (size) {
    case 1:
      return *member;
    case 2: {
      U16 v;
      memcpy(&v, member, 2);
      return v;
    }
    case 4: {
      U32 v;
      memcpy(&v, member, 4);
      return v;
    }
    default: {
      U64 v;
      memcpy(&v, member, 8);
      return v;
    }
  }
}
void set_member_unsigned(U8* member, U32 size, U64 value) {
  switch (size) {
    case 1:
      *member = (U8)value;
      break;
    case 2: {
      const U16 v = (U16)value;
      memcpy(member, &v, 2);
      break;
    }
    case 4: {
      const U32 v = (U32)value;
      memcpy(member, &v, 4);
      break;
    }
    default:
      memcpy(member, &value, 8);
      break;
  }
}

U64 bits_of(F64 value) {
  U64 bits;
  memcpy(&bits, &value, 8);
  return bits;
}
F64 real_of(U64 bits) {
  F64 value;
  memcpy(&value, &bits, 8);
  return value;
}

// The member is only read through this pointer when encoding.
const U8* member_bytes(const LASheader& header, HeaderField field) {
  return (const U8*)BINDINGS[field].member(const_cast<LASheader&>(header));
}

}  // namespace

void HeaderImage::encode(const LASheader& header, HeaderField field) {
  const Binding& b = BINDINGS[field];
  const U8* member = member_bytes(header, field);
  switch (b.kind) {
    case Kind::TEXT:
    case Kind::BYTES:
      memcpy(at(field), member, b.element_size);
      break;
    case Kind::UNSIGNED:
    case Kind::REAL:
      for (U32 e = 0; e < b.elements; e++)
        store_le(at(field, e), member_unsigned(member + e * b.element_size, b.element_size), b.element_size);
      break;
  }
}

void HeaderImage::encode(const LASheader& header, HeaderField first, HeaderField last) {
  for (HeaderField f = first; f <= last; f = next(f)) encode(header, f);
}

void HeaderImage::decode(HeaderField field, U32 element, LASheader& header) const {
  const Binding& b = BINDINGS[field];
  U8* member = (U8*)b.member(header);
  switch (b.kind) {
    case Kind::TEXT:
      memcpy(member, at(field), b.element_size);
      // A text member one byte wider than its field ends there.
      if (b.member_size > b.element_size) member[b.element_size] = '\0';
      break;
    case Kind::BYTES:
      memcpy(member, at(field), b.element_size);
      break;
    case Kind::UNSIGNED:
    case Kind::REAL:
      set_member_unsigned(member + element * b.element_size, b.element_size,
                          load_le(at(field, element), b.element_size));
      break;
  }
}

void HeaderImage::set_unsigned(HeaderField field, U64 value, U32 element) {
  store_le(at(field, element), value, element_size(field));
}

void HeaderImage::set_real(HeaderField field, F64 value) { store_le(at(field), bits_of(value), 8); }

U64 HeaderImage::get_unsigned(HeaderField field, U32 element) const {
  return load_le(at(field, element), element_size(field));
}

F64 HeaderImage::get_real(HeaderField field) const { return real_of(load_le(at(field), 8)); }

void copy_fields(const LASheader& from, LASheader& to) {
  for (const Binding& b : BINDINGS) memcpy(b.member(to), member_bytes(from, b.field), b.member_size);
}

bool check_header_start(const LASheader& h, const bool formats_beyond_10_from_1_4) {
  if (strncmp(h.file_signature, FILE_SIGNATURE_TEXT, 4) != 0) {
    char signature[5] = {};
    memcpy(signature, h.file_signature, 4);
    laserror("wrong file signature '%4s'", signature);
    return false;
  }
  if (h.version_major != 1 || h.version_minor > 5)
    LASMessage(WARNING, "unknown version %d.%d (allowed 1.0-1.5)", h.version_major, h.version_minor);
  const U8 format = h.point_data_format & 0x7F;
  const bool allowed =
      point_format_allowed(h.version_minor, format) || (formats_beyond_10_from_1_4 && format > 10 && h.version_minor >= 4);
  if (!allowed)
    LASMessage(WARNING, "LAS version %d.%d does not allow point format %d", h.version_major, h.version_minor, format);
  if (h.header_size < HEADER_SIZE_1_0) {
    laserror("header size is %d but should be at least 227", h.header_size);
    return false;
  }
  if (h.offset_to_point_data < h.header_size) {
    laserror("offset to point data %d is smaller than header size %d", h.offset_to_point_data, h.header_size);
    return false;
  }
  return true;
}

void check_bounding_box(const LASheader& h) {
  if ((h.number_of_point_records || h.extended_number_of_point_records) &&
      (h.min_x > h.max_x || h.min_y > h.max_y || h.min_z > h.max_z)) {
    LASMessage(WARNING, "invalid bounding box [ %g %g %g / %g %g %g ]", h.min_x, h.min_y, h.min_z, h.max_x, h.max_y,
               h.max_z);
  }
}

}  // namespace lasheadercodec
