// The fixture builder and parser: LAS bytes written and read field by field
// from its own table of the format (see the header for why it stands alone).
#include "support/las_fixture.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace lasfix {

namespace {

// The public header in file order: name, width, first LAS 1.x minor having it.
struct HeaderField {
  const char* name;
  size_t size;
  int since_minor;
};

const HeaderField kHeaderFields[] = {
    {"file_signature", 4, 0},
    {"file_source_ID", 2, 0},
    {"global_encoding", 2, 0},
    {"project_ID_GUID_data_1", 4, 0},
    {"project_ID_GUID_data_2", 2, 0},
    {"project_ID_GUID_data_3", 2, 0},
    {"project_ID_GUID_data_4", 8, 0},
    {"version_major", 1, 0},
    {"version_minor", 1, 0},
    {"system_identifier", 32, 0},
    {"generating_software", 32, 0},
    {"file_creation_day", 2, 0},
    {"file_creation_year", 2, 0},
    {"header_size", 2, 0},
    {"offset_to_point_data", 4, 0},
    {"number_of_variable_length_records", 4, 0},
    {"point_data_format", 1, 0},
    {"point_data_record_length", 2, 0},
    {"number_of_point_records", 4, 0},
    {"number_of_points_by_return", 20, 0},
    {"x_scale_factor", 8, 0},
    {"y_scale_factor", 8, 0},
    {"z_scale_factor", 8, 0},
    {"x_offset", 8, 0},
    {"y_offset", 8, 0},
    {"z_offset", 8, 0},
    {"max_x", 8, 0},
    {"min_x", 8, 0},
    {"max_y", 8, 0},
    {"min_y", 8, 0},
    {"max_z", 8, 0},
    {"min_z", 8, 0},
    {"start_of_waveform_data_packet_record", 8, 3},
    {"start_of_first_extended_variable_length_record", 8, 4},
    {"number_of_extended_variable_length_records", 4, 4},
    {"extended_number_of_point_records", 8, 4},
    {"extended_number_of_points_by_return", 120, 4},
    {"max_gps_time", 8, 5},
    {"min_gps_time", 8, 5},
    {"time_offset", 2, 5},
};

const HeaderField* find_field(const std::string& name, size_t* offset) {
  size_t at = 0;
  for (const HeaderField& field : kHeaderFields) {
    if (name == field.name) {
      *offset = at;
      return &field;
    }
    at += field.size;
  }
  throw std::runtime_error("lasfix: no header field '" + name + "'");
}

int effective_minor(uint8_t major, uint8_t minor) { return (major == 1) ? minor : 0; }

void put_le(std::string& bytes, size_t at, uint64_t value, size_t width) {
  if (bytes.size() < at + width) bytes.resize(at + width, '\0');
  for (size_t i = 0; i < width; i++) bytes[at + i] = (char)(uint8_t)(value >> (8 * i));
}

uint64_t get_le(const std::string& bytes, size_t at, size_t width) {
  if (at > bytes.size() || width > bytes.size() - at) throw std::runtime_error("lasfix: read past the end at byte " + std::to_string(at));
  uint64_t value = 0;
  for (size_t i = 0; i < width; i++) value |= (uint64_t)(uint8_t)bytes[at + i] << (8 * i);
  return value;
}

void put_text(std::string& bytes, size_t at, const std::string& text, size_t width) {
  if (bytes.size() < at + width) bytes.resize(at + width, '\0');
  for (size_t i = 0; i < width; i++) bytes[at + i] = (i < text.size()) ? text[i] : '\0';
}

std::string get_text(const std::string& bytes, size_t at, size_t width) {
  get_le(bytes, at, 0);
  if (width > bytes.size() - at) throw std::runtime_error("lasfix: text past the end at byte " + std::to_string(at));
  std::string text = bytes.substr(at, width);
  size_t end = text.find('\0');
  return (end == std::string::npos) ? text : text.substr(0, end);
}

// Appends little-endian values; the one way records are laid out here.
class Out {
 public:
  std::string bytes;
  void u8(uint64_t v) { put_le(bytes, bytes.size(), v, 1); }
  void u16(uint64_t v) { put_le(bytes, bytes.size(), v, 2); }
  void u32(uint64_t v) { put_le(bytes, bytes.size(), v, 4); }
  void u64(uint64_t v) { put_le(bytes, bytes.size(), v, 8); }
  void f32(float v) { put_f32(bytes, bytes.size(), v); }
  void f64(double v) { put_f64(bytes, bytes.size(), v); }
  void text(const std::string& t, size_t width) { put_text(bytes, bytes.size(), t, width); }
  void raw(const std::string& b) { bytes += b; }
};

// Reads little-endian values in order; throws at the end of the bytes.
class In {
 public:
  In(const std::string& bytes, size_t at) : bytes(bytes), at(at) {}
  uint64_t u(size_t width) {
    uint64_t v = get_le(bytes, at, width);
    at += width;
    return v;
  }
  double f64() {
    double v = get_f64(bytes, at);
    at += 8;
    return v;
  }
  float f32() {
    float v = get_f32(bytes, at);
    at += 4;
    return v;
  }
  std::string text(size_t width) {
    std::string t = get_text(bytes, at, width);
    at += width;
    return t;
  }
  const std::string& bytes;
  size_t at;
};

bool extended_format(uint8_t format) { return (format & 0x3F) >= 6; }
bool has_gps_in_item(uint8_t f) { return f == 1 || f == 3 || f == 4 || f == 5; }
int rgb_bytes(uint8_t f) { return (f == 2 || f == 3 || f == 5 || f == 7) ? 6 : (f == 8 || f == 10) ? 8 : 0; }
bool has_wave(uint8_t f) { return f == 4 || f == 5 || f == 9 || f == 10; }

}  // namespace

// ------------------------------------------------------------------ bytes

void put_u8(std::string& bytes, size_t at, uint8_t value) { put_le(bytes, at, value, 1); }
void put_u16(std::string& bytes, size_t at, uint16_t value) { put_le(bytes, at, value, 2); }
void put_u32(std::string& bytes, size_t at, uint32_t value) { put_le(bytes, at, value, 4); }
void put_u64(std::string& bytes, size_t at, uint64_t value) { put_le(bytes, at, value, 8); }
void put_f32(std::string& bytes, size_t at, float value) {
  uint32_t bits;
  memcpy(&bits, &value, 4);
  put_le(bytes, at, bits, 4);
}
void put_f64(std::string& bytes, size_t at, double value) {
  uint64_t bits;
  memcpy(&bits, &value, 8);
  put_le(bytes, at, bits, 8);
}
uint8_t get_u8(const std::string& bytes, size_t at) { return (uint8_t)get_le(bytes, at, 1); }
uint16_t get_u16(const std::string& bytes, size_t at) { return (uint16_t)get_le(bytes, at, 2); }
uint32_t get_u32(const std::string& bytes, size_t at) { return (uint32_t)get_le(bytes, at, 4); }
uint64_t get_u64(const std::string& bytes, size_t at) { return get_le(bytes, at, 8); }
float get_f32(const std::string& bytes, size_t at) {
  uint32_t bits = (uint32_t)get_le(bytes, at, 4);
  float value;
  memcpy(&value, &bits, 4);
  return value;
}
double get_f64(const std::string& bytes, size_t at) {
  uint64_t bits = get_le(bytes, at, 8);
  double value;
  memcpy(&value, &bits, 8);
  return value;
}

// ------------------------------------------------------------------ header table

uint16_t standard_header_size(uint8_t major, uint8_t minor) {
  int m = effective_minor(major, minor);
  size_t size = 0;
  for (const HeaderField& field : kHeaderFields)
    if (field.since_minor <= m) size += field.size;
  return (uint16_t)size;
}

size_t header_offset(const std::string& field) {
  size_t offset = 0;
  find_field(field, &offset);
  return offset;
}

size_t header_field_size(const std::string& field) {
  size_t offset = 0;
  return find_field(field, &offset)->size;
}

// ------------------------------------------------------------------ points

uint16_t point_base_size(uint8_t format) {
  static const uint16_t sizes[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  uint8_t f = format & 0x3F;
  return (f <= 10) ? sizes[f] : 0;
}

std::string encode_point(const Point& p, uint8_t format, uint16_t record_length) {
  uint8_t f = format & 0x3F;
  Out out;
  out.u32((uint32_t)p.X);
  out.u32((uint32_t)p.Y);
  out.u32((uint32_t)p.Z);
  out.u16(p.intensity);
  if (!extended_format(f)) {
    out.u8((p.return_number & 7) | ((p.number_of_returns & 7) << 3) | (p.scan_direction_flag << 6) | (p.edge_of_flight_line << 7));
    out.u8((p.classification & 31) | (p.synthetic << 5) | (p.keypoint << 6) | (p.withheld << 7));
    out.u8((uint8_t)(int8_t)p.scan_angle);
    out.u8(p.user_data);
    out.u16(p.point_source_ID);
    if (has_gps_in_item(f)) out.f64(p.gps_time);
  } else {
    out.u8((p.return_number & 15) | ((p.number_of_returns & 15) << 4));
    out.u8(p.synthetic | (p.keypoint << 1) | (p.withheld << 2) | (p.overlap << 3) | ((p.scanner_channel & 3) << 4) |
           (p.scan_direction_flag << 6) | (p.edge_of_flight_line << 7));
    out.u8(p.classification);
    out.u8(p.user_data);
    out.u16((uint16_t)p.scan_angle);
    out.u16(p.point_source_ID);
    out.f64(p.gps_time);
  }
  if (rgb_bytes(f)) {
    out.u16(p.red);
    out.u16(p.green);
    out.u16(p.blue);
    if (rgb_bytes(f) == 8) out.u16(p.nir);
  }
  if (has_wave(f)) {
    out.u8(p.wave_descriptor_index);
    out.u64(p.wave_offset);
    out.u32(p.wave_size);
    out.f32(p.wave_location);
    out.f32(p.wave_dx);
    out.f32(p.wave_dy);
    out.f32(p.wave_dz);
  }
  if (f > 10) throw std::runtime_error("lasfix: point format " + std::to_string(f) + " unknown");
  std::string record = out.bytes;
  size_t extra = (record_length > record.size()) ? record_length - record.size() : 0;
  record += p.extra_bytes.substr(0, extra);
  record.resize(record_length, '\0');
  return record;
}

Point decode_point(const char* data, uint8_t format, uint16_t record_length) {
  uint8_t f = format & 0x3F;
  uint16_t base = point_base_size(f);
  if (base == 0) throw std::runtime_error("lasfix: point format " + std::to_string(f) + " unknown");
  if (record_length < base) throw std::runtime_error("lasfix: record length " + std::to_string(record_length) + " below the base size");
  std::string bytes(data, record_length);
  In in(bytes, 0);
  Point p;
  p.X = (int32_t)in.u(4);
  p.Y = (int32_t)in.u(4);
  p.Z = (int32_t)in.u(4);
  p.intensity = (uint16_t)in.u(2);
  if (!extended_format(f)) {
    uint8_t r = (uint8_t)in.u(1), c = (uint8_t)in.u(1);
    p.return_number = r & 7;
    p.number_of_returns = (r >> 3) & 7;
    p.scan_direction_flag = (r >> 6) & 1;
    p.edge_of_flight_line = (r >> 7) & 1;
    p.classification = c & 31;
    p.synthetic = (c >> 5) & 1;
    p.keypoint = (c >> 6) & 1;
    p.withheld = (c >> 7) & 1;
    p.scan_angle = (int8_t)in.u(1);
    p.user_data = (uint8_t)in.u(1);
    p.point_source_ID = (uint16_t)in.u(2);
    if (has_gps_in_item(f)) p.gps_time = in.f64();
  } else {
    uint8_t r = (uint8_t)in.u(1), flags = (uint8_t)in.u(1);
    p.return_number = r & 15;
    p.number_of_returns = r >> 4;
    p.synthetic = flags & 1;
    p.keypoint = (flags >> 1) & 1;
    p.withheld = (flags >> 2) & 1;
    p.overlap = (flags >> 3) & 1;
    p.scanner_channel = (flags >> 4) & 3;
    p.scan_direction_flag = (flags >> 6) & 1;
    p.edge_of_flight_line = (flags >> 7) & 1;
    p.classification = (uint8_t)in.u(1);
    p.user_data = (uint8_t)in.u(1);
    p.scan_angle = (int16_t)in.u(2);
    p.point_source_ID = (uint16_t)in.u(2);
    p.gps_time = in.f64();
  }
  if (rgb_bytes(f)) {
    p.red = (uint16_t)in.u(2);
    p.green = (uint16_t)in.u(2);
    p.blue = (uint16_t)in.u(2);
    if (rgb_bytes(f) == 8) p.nir = (uint16_t)in.u(2);
  }
  if (has_wave(f)) {
    p.wave_descriptor_index = (uint8_t)in.u(1);
    p.wave_offset = in.u(8);
    p.wave_size = (uint32_t)in.u(4);
    p.wave_location = in.f32();
    p.wave_dx = in.f32();
    p.wave_dy = in.f32();
    p.wave_dz = in.f32();
  }
  p.extra_bytes = bytes.substr(base);
  return p;
}

Point varied_point(uint8_t format, uint32_t index, uint16_t extra_bytes) {
  uint8_t f = format & 0x3F;
  uint32_t i = index;
  Point p;
  // Coordinates that move in all directions and cross zero now and then.
  p.X = (int32_t)(i * 7919u % 200003u) - 100000;
  p.Y = (int32_t)(i * 104729u % 400009u) - 200000 + (int32_t)(i & 1) * 3;
  p.Z = (int32_t)(i * 31u % 5000u) - 1000;
  p.intensity = (uint16_t)(i * 2654435761u >> 16);
  p.scan_direction_flag = (i >> 1) & 1;
  p.edge_of_flight_line = (i % 7) == 0;
  p.user_data = (uint8_t)(i * 13);
  p.point_source_ID = (uint16_t)(i / 3 + 1);
  p.synthetic = (i % 5) == 1;
  p.keypoint = (i % 11) == 2;
  p.withheld = (i % 13) == 3;
  if (!extended_format(f)) {
    p.number_of_returns = (uint8_t)(1 + i % 5);
    p.return_number = (uint8_t)(1 + (i / 5) % p.number_of_returns);
    p.classification = (uint8_t)(i % 32);
    p.scan_angle = (int16_t)((int)(i % 181) - 90);
    if (has_gps_in_item(f)) p.gps_time = 100000.0 + i * 0.000125;
  } else {
    p.number_of_returns = (uint8_t)(1 + i % 15);
    p.return_number = (uint8_t)(1 + (i / 15) % p.number_of_returns);
    p.classification = (uint8_t)(i * 37);
    p.overlap = (i % 17) == 4;
    p.scanner_channel = (uint8_t)((i / 100) & 3);
    p.scan_angle = (int16_t)((int)(i * 97 % 60001) - 30000);
    p.gps_time = 300000000.0 + i * 0.000125;
  }
  if (rgb_bytes(f)) {
    p.red = (uint16_t)(i * 3);
    p.green = (uint16_t)(i * 5 + 1);
    p.blue = (uint16_t)(i * 7 + 2);
    if (rgb_bytes(f) == 8) p.nir = (uint16_t)(i * 11 + 3);
  }
  if (has_wave(f)) {
    p.wave_descriptor_index = (uint8_t)(1 + i % 3);
    p.wave_offset = 60 + (uint64_t)i * 256;
    p.wave_size = 256;
    p.wave_location = 1000.5f + (float)(i % 100);
    p.wave_dx = 0.25f * (float)(i % 4);
    p.wave_dy = -0.5f;
    p.wave_dz = 1.0f / (float)(1 + i % 8);
  }
  for (uint16_t k = 0; k < extra_bytes; k++) p.extra_bytes += (char)(uint8_t)(i * 29 + k * 3);
  return p;
}

// ------------------------------------------------------------------ build

namespace {

// The derived header fields of a file, for those the test left empty.
Header complete_header(const LasFile& file) {
  Header h = file.header;
  const int minor = effective_minor(h.version_major, h.version_minor);
  const uint8_t f = h.point_data_format & 0x3F;
  const uint64_t n = file.point_data ? 0 : file.points.size();
  const bool legacy_counts = !(f >= 6 && minor >= 4);

  if (!h.header_size) h.header_size = (uint16_t)(standard_header_size(h.version_major, h.version_minor) + file.user_data_in_header.size());
  if (!h.number_of_variable_length_records) h.number_of_variable_length_records = (uint32_t)file.vlrs.size();
  if (!h.offset_to_point_data) {
    size_t offset = standard_header_size(h.version_major, h.version_minor) + file.user_data_in_header.size();
    for (const Vlr& vlr : file.vlrs) offset += 54 + vlr.payload.size();
    h.offset_to_point_data = (uint32_t)(offset + file.user_data_after_header.size());
  }
  if (!h.point_data_record_length) h.point_data_record_length = (uint16_t)(point_base_size(f) + file.extra_bytes);
  if (!h.number_of_point_records) h.number_of_point_records = (legacy_counts && n <= 0xFFFFFFFFu) ? (uint32_t)n : 0;
  std::array<uint32_t, 5> by_return{};
  std::array<uint64_t, 15> extended_by_return{};
  if (!file.point_data) {
    for (const Point& p : file.points) {
      if (p.return_number >= 1 && p.return_number <= 5) by_return[p.return_number - 1]++;
      if (p.return_number >= 1 && p.return_number <= 15) extended_by_return[p.return_number - 1]++;
    }
  }
  if (!h.number_of_points_by_return) h.number_of_points_by_return = (*h.number_of_point_records != 0) ? by_return : std::array<uint32_t, 5>{};
  if (!h.extended_number_of_point_records) h.extended_number_of_point_records = n;
  if (!h.extended_number_of_points_by_return) h.extended_number_of_points_by_return = extended_by_return;

  double box[6] = {0, 0, 0, 0, 0, 0};  // max_x min_x max_y min_y max_z min_z
  double gps[2] = {0, 0};              // max min
  if (!file.point_data && !file.points.empty()) {
    for (size_t i = 0; i < file.points.size(); i++) {
      const Point& p = file.points[i];
      double x = p.X * h.x_scale_factor + h.x_offset, y = p.Y * h.y_scale_factor + h.y_offset, z = p.Z * h.z_scale_factor + h.z_offset;
      if (i == 0) {
        box[0] = box[1] = x;
        box[2] = box[3] = y;
        box[4] = box[5] = z;
        gps[0] = gps[1] = p.gps_time;
      }
      box[0] = std::max(box[0], x), box[1] = std::min(box[1], x);
      box[2] = std::max(box[2], y), box[3] = std::min(box[3], y);
      box[4] = std::max(box[4], z), box[5] = std::min(box[5], z);
      gps[0] = std::max(gps[0], p.gps_time), gps[1] = std::min(gps[1], p.gps_time);
    }
  }
  if (!h.max_x) h.max_x = box[0];
  if (!h.min_x) h.min_x = box[1];
  if (!h.max_y) h.max_y = box[2];
  if (!h.min_y) h.min_y = box[3];
  if (!h.max_z) h.max_z = box[4];
  if (!h.min_z) h.min_z = box[5];
  if (!h.max_gps_time) h.max_gps_time = gps[0];
  if (!h.min_gps_time) h.min_gps_time = gps[1];

  size_t point_bytes = file.point_data ? file.point_data->size() : file.points.size() * (size_t)*h.point_data_record_length;
  size_t actual_offset = standard_header_size(h.version_major, h.version_minor) + file.user_data_in_header.size() +
                         file.user_data_after_header.size();
  for (const Vlr& vlr : file.vlrs) actual_offset += 54 + vlr.payload.size();
  if (!h.start_of_first_extended_variable_length_record)
    h.start_of_first_extended_variable_length_record = file.evlrs.empty() ? 0 : actual_offset + point_bytes;
  if (!h.number_of_extended_variable_length_records) h.number_of_extended_variable_length_records = (uint32_t)file.evlrs.size();
  return h;
}

std::string header_bytes(const Header& h) {
  std::string b(393, '\0');
  auto at = [](const char* name) { return header_offset(name); };
  put_text(b, at("file_signature"), h.file_signature, 4);
  put_u16(b, at("file_source_ID"), h.file_source_ID);
  put_u16(b, at("global_encoding"), h.global_encoding);
  put_u32(b, at("project_ID_GUID_data_1"), h.project_ID_GUID_data_1);
  put_u16(b, at("project_ID_GUID_data_2"), h.project_ID_GUID_data_2);
  put_u16(b, at("project_ID_GUID_data_3"), h.project_ID_GUID_data_3);
  for (size_t i = 0; i < 8; i++) put_u8(b, at("project_ID_GUID_data_4") + i, h.project_ID_GUID_data_4[i]);
  put_u8(b, at("version_major"), h.version_major);
  put_u8(b, at("version_minor"), h.version_minor);
  put_text(b, at("system_identifier"), h.system_identifier, 32);
  put_text(b, at("generating_software"), h.generating_software, 32);
  put_u16(b, at("file_creation_day"), h.file_creation_day);
  put_u16(b, at("file_creation_year"), h.file_creation_year);
  put_u16(b, at("header_size"), *h.header_size);
  put_u32(b, at("offset_to_point_data"), *h.offset_to_point_data);
  put_u32(b, at("number_of_variable_length_records"), *h.number_of_variable_length_records);
  put_u8(b, at("point_data_format"), h.point_data_format);
  put_u16(b, at("point_data_record_length"), *h.point_data_record_length);
  put_u32(b, at("number_of_point_records"), *h.number_of_point_records);
  for (size_t i = 0; i < 5; i++) put_u32(b, at("number_of_points_by_return") + 4 * i, (*h.number_of_points_by_return)[i]);
  put_f64(b, at("x_scale_factor"), h.x_scale_factor);
  put_f64(b, at("y_scale_factor"), h.y_scale_factor);
  put_f64(b, at("z_scale_factor"), h.z_scale_factor);
  put_f64(b, at("x_offset"), h.x_offset);
  put_f64(b, at("y_offset"), h.y_offset);
  put_f64(b, at("z_offset"), h.z_offset);
  put_f64(b, at("max_x"), *h.max_x);
  put_f64(b, at("min_x"), *h.min_x);
  put_f64(b, at("max_y"), *h.max_y);
  put_f64(b, at("min_y"), *h.min_y);
  put_f64(b, at("max_z"), *h.max_z);
  put_f64(b, at("min_z"), *h.min_z);
  put_u64(b, at("start_of_waveform_data_packet_record"), h.start_of_waveform_data_packet_record);
  put_u64(b, at("start_of_first_extended_variable_length_record"), *h.start_of_first_extended_variable_length_record);
  put_u32(b, at("number_of_extended_variable_length_records"), *h.number_of_extended_variable_length_records);
  put_u64(b, at("extended_number_of_point_records"), *h.extended_number_of_point_records);
  for (size_t i = 0; i < 15; i++) put_u64(b, at("extended_number_of_points_by_return") + 8 * i, (*h.extended_number_of_points_by_return)[i]);
  put_f64(b, at("max_gps_time"), *h.max_gps_time);
  put_f64(b, at("min_gps_time"), *h.min_gps_time);
  put_u16(b, at("time_offset"), h.time_offset);
  b.resize(standard_header_size(h.version_major, h.version_minor));
  return b;
}

}  // namespace

Built LasFile::build() const {
  Built built;
  built.header = complete_header(*this);
  const Header& h = built.header;
  Out out;
  out.raw(header_bytes(h));
  out.raw(user_data_in_header);
  for (const Vlr& vlr : vlrs) {
    built.vlr_positions.push_back(out.bytes.size());
    out.u16(vlr.reserved);
    out.text(vlr.user_id, 16);
    out.u16(vlr.record_id);
    out.u16(vlr.record_length_after_header ? *vlr.record_length_after_header : vlr.payload.size());
    out.text(vlr.description, 32);
    out.raw(vlr.payload);
  }
  out.raw(user_data_after_header);
  built.point_data_position = out.bytes.size();
  built.record_length = *h.point_data_record_length;
  if (point_data) {
    out.raw(*point_data);
  } else {
    for (const Point& p : points) out.raw(encode_point(p, h.point_data_format, built.record_length));
  }
  for (const Evlr& evlr : evlrs) {
    built.evlr_positions.push_back(out.bytes.size());
    out.u16(evlr.reserved);
    out.text(evlr.user_id, 16);
    out.u16(evlr.record_id);
    out.u64(evlr.record_length_after_header ? *evlr.record_length_after_header : evlr.payload.size());
    out.text(evlr.description, 32);
    out.raw(evlr.payload);
  }
  built.bytes = std::move(out.bytes);
  return built;
}

// ------------------------------------------------------------------ parse

uint64_t Parsed::point_count() const {
  uint64_t legacy = header.number_of_point_records.value_or(0);
  return legacy ? legacy : header.extended_number_of_point_records.value_or(0);
}

Parsed parse(const std::string& bytes) {
  Parsed p;
  Header& h = p.header;
  if (bytes.size() < 227) throw std::runtime_error("lasfix: " + std::to_string(bytes.size()) + " bytes cannot hold a LAS header");
  auto at = [](const char* name) { return header_offset(name); };
  h.file_signature = get_text(bytes, 0, 4);
  h.file_source_ID = get_u16(bytes, at("file_source_ID"));
  h.global_encoding = get_u16(bytes, at("global_encoding"));
  h.project_ID_GUID_data_1 = get_u32(bytes, at("project_ID_GUID_data_1"));
  h.project_ID_GUID_data_2 = get_u16(bytes, at("project_ID_GUID_data_2"));
  h.project_ID_GUID_data_3 = get_u16(bytes, at("project_ID_GUID_data_3"));
  for (size_t i = 0; i < 8; i++) h.project_ID_GUID_data_4[i] = get_u8(bytes, at("project_ID_GUID_data_4") + i);
  h.version_major = get_u8(bytes, at("version_major"));
  h.version_minor = get_u8(bytes, at("version_minor"));
  h.system_identifier = get_text(bytes, at("system_identifier"), 32);
  h.generating_software = get_text(bytes, at("generating_software"), 32);
  h.file_creation_day = get_u16(bytes, at("file_creation_day"));
  h.file_creation_year = get_u16(bytes, at("file_creation_year"));
  h.header_size = get_u16(bytes, at("header_size"));
  h.offset_to_point_data = get_u32(bytes, at("offset_to_point_data"));
  h.number_of_variable_length_records = get_u32(bytes, at("number_of_variable_length_records"));
  h.point_data_format = get_u8(bytes, at("point_data_format"));
  h.point_data_record_length = get_u16(bytes, at("point_data_record_length"));
  h.number_of_point_records = get_u32(bytes, at("number_of_point_records"));
  h.number_of_points_by_return.emplace();
  for (size_t i = 0; i < 5; i++) (*h.number_of_points_by_return)[i] = get_u32(bytes, at("number_of_points_by_return") + 4 * i);
  h.x_scale_factor = get_f64(bytes, at("x_scale_factor"));
  h.y_scale_factor = get_f64(bytes, at("y_scale_factor"));
  h.z_scale_factor = get_f64(bytes, at("z_scale_factor"));
  h.x_offset = get_f64(bytes, at("x_offset"));
  h.y_offset = get_f64(bytes, at("y_offset"));
  h.z_offset = get_f64(bytes, at("z_offset"));
  h.max_x = get_f64(bytes, at("max_x"));
  h.min_x = get_f64(bytes, at("min_x"));
  h.max_y = get_f64(bytes, at("max_y"));
  h.min_y = get_f64(bytes, at("min_y"));
  h.max_z = get_f64(bytes, at("max_z"));
  h.min_z = get_f64(bytes, at("min_z"));
  const int minor = effective_minor(h.version_major, h.version_minor);
  const size_t standard = standard_header_size(h.version_major, h.version_minor);
  if (bytes.size() < standard) throw std::runtime_error("lasfix: file shorter than the LAS 1." + std::to_string(minor) + " header");
  h.start_of_first_extended_variable_length_record = 0;
  h.number_of_extended_variable_length_records = 0;
  h.extended_number_of_point_records = 0;
  h.extended_number_of_points_by_return.emplace();
  h.max_gps_time = 0;
  h.min_gps_time = 0;
  if (minor >= 3) h.start_of_waveform_data_packet_record = get_u64(bytes, at("start_of_waveform_data_packet_record"));
  if (minor >= 4) {
    h.start_of_first_extended_variable_length_record = get_u64(bytes, at("start_of_first_extended_variable_length_record"));
    h.number_of_extended_variable_length_records = get_u32(bytes, at("number_of_extended_variable_length_records"));
    h.extended_number_of_point_records = get_u64(bytes, at("extended_number_of_point_records"));
    for (size_t i = 0; i < 15; i++)
      (*h.extended_number_of_points_by_return)[i] = get_u64(bytes, at("extended_number_of_points_by_return") + 8 * i);
  }
  if (minor >= 5) {
    h.max_gps_time = get_f64(bytes, at("max_gps_time"));
    h.min_gps_time = get_f64(bytes, at("min_gps_time"));
    h.time_offset = get_u16(bytes, at("time_offset"));
  }

  if (*h.header_size < standard) throw std::runtime_error("lasfix: header_size " + std::to_string(*h.header_size) + " below " + std::to_string(standard));
  if (*h.offset_to_point_data < *h.header_size) throw std::runtime_error("lasfix: offset_to_point_data below header_size");
  if (*h.offset_to_point_data > bytes.size()) throw std::runtime_error("lasfix: offset_to_point_data beyond the end");
  p.user_data_in_header = bytes.substr(standard, *h.header_size - standard);

  In in(bytes, *h.header_size);
  for (uint32_t i = 0; i < *h.number_of_variable_length_records; i++) {
    Vlr vlr;
    vlr.reserved = (uint16_t)in.u(2);
    vlr.user_id = in.text(16);
    vlr.record_id = (uint16_t)in.u(2);
    vlr.record_length_after_header = (uint16_t)in.u(2);
    vlr.description = in.text(32);
    if (*vlr.record_length_after_header > bytes.size() - in.at) throw std::runtime_error("lasfix: payload of vlr " + std::to_string(i) + " past the end");
    vlr.payload = bytes.substr(in.at, *vlr.record_length_after_header);
    in.at += vlr.payload.size();
    if (in.at > *h.offset_to_point_data) throw std::runtime_error("lasfix: vlr " + std::to_string(i) + " runs into the point data");
    p.vlrs.push_back(vlr);
  }
  p.user_data_after_header = bytes.substr(in.at, *h.offset_to_point_data - in.at);

  size_t end = bytes.size();
  if (minor >= 4 && *h.number_of_extended_variable_length_records > 0) {
    uint64_t start = *h.start_of_first_extended_variable_length_record;
    if (start < *h.offset_to_point_data || start > bytes.size()) throw std::runtime_error("lasfix: evlr start outside the file");
    end = (size_t)start;
  }
  p.point_data = bytes.substr(*h.offset_to_point_data, end - *h.offset_to_point_data);
  if ((h.point_data_format & 0xC0) == 0) {
    uint64_t count = p.point_count();
    uint16_t length = *h.point_data_record_length;
    if (length == 0 || count > p.point_data.size() / length)
      throw std::runtime_error("lasfix: " + std::to_string(count) + " points of " + std::to_string(length) + " bytes do not fit the point data");
    for (uint64_t i = 0; i < count; i++) p.points.push_back(decode_point(p.point_data.data() + i * length, h.point_data_format, length));
  }

  if (minor >= 4) {
    In evlrs(bytes, end);
    for (uint32_t i = 0; i < *h.number_of_extended_variable_length_records; i++) {
      Evlr evlr;
      evlr.reserved = (uint16_t)evlrs.u(2);
      evlr.user_id = evlrs.text(16);
      evlr.record_id = (uint16_t)evlrs.u(2);
      evlr.record_length_after_header = evlrs.u(8);
      evlr.description = evlrs.text(32);
      if (*evlr.record_length_after_header > bytes.size() - evlrs.at) throw std::runtime_error("lasfix: payload of evlr " + std::to_string(i) + " past the end");
      evlr.payload = bytes.substr(evlrs.at, (size_t)*evlr.record_length_after_header);
      evlrs.at += evlr.payload.size();
      p.evlrs.push_back(evlr);
    }
  }
  return p;
}

// ------------------------------------------------------------------ payloads

std::string extra_bytes_payload(const std::vector<ExtraBytesAttribute>& attributes) {
  Out out;
  for (const ExtraBytesAttribute& a : attributes) {
    out.u16(0);
    out.u8(a.data_type);
    out.u8(a.options);
    out.text(a.name, 32);
    out.u32(0);
    for (uint64_t v : a.no_data) out.u64(v);
    for (uint64_t v : a.min) out.u64(v);
    for (uint64_t v : a.max) out.u64(v);
    for (double v : a.scale) out.f64(v);
    for (double v : a.offset) out.f64(v);
    out.text(a.description, 32);
  }
  return out.bytes;
}

std::string wave_packet_descriptor_payload(uint8_t bits_per_sample, uint8_t compression_type, uint32_t number_of_samples,
                                           uint32_t temporal_spacing, double digitizer_gain, double digitizer_offset) {
  Out out;
  out.u8(bits_per_sample);
  out.u8(compression_type);
  out.u32(number_of_samples);
  out.u32(temporal_spacing);
  out.f64(digitizer_gain);
  out.f64(digitizer_offset);
  return out.bytes;
}

std::string geo_keys_payload(const std::vector<std::array<uint16_t, 4>>& keys) {
  Out out;
  out.u16(1);
  out.u16(1);
  out.u16(0);
  out.u16(keys.size());
  for (const auto& key : keys)
    for (uint16_t v : key) out.u16(v);
  return out.bytes;
}

std::string tiling_payload(const Tiling& t) {
  Out out;
  out.u32(t.level);
  out.u32(t.level_index);
  out.u32((t.implicit_levels & 0x3FFFFFFFu) | ((uint32_t)t.buffer << 30) | ((uint32_t)t.reversible << 31));
  out.f32(t.min_x);
  out.f32(t.max_x);
  out.f32(t.min_y);
  out.f32(t.max_y);
  return out.bytes;
}

Tiling parse_tiling(const std::string& payload) {
  if (payload.size() != 28) throw std::runtime_error("lasfix: tiling payload of " + std::to_string(payload.size()) + " bytes");
  In in(payload, 0);
  Tiling t;
  t.level = (uint32_t)in.u(4);
  t.level_index = (uint32_t)in.u(4);
  uint32_t flags = (uint32_t)in.u(4);
  t.implicit_levels = flags & 0x3FFFFFFFu;
  t.buffer = (flags >> 30) & 1;
  t.reversible = (flags >> 31) & 1;
  t.min_x = in.f32();
  t.max_x = in.f32();
  t.min_y = in.f32();
  t.max_y = in.f32();
  return t;
}

std::string original_payload(const Original& o) {
  Out out;
  out.u64((uint64_t)o.number_of_point_records);
  for (int64_t v : o.number_of_points_by_return) out.u64((uint64_t)v);
  for (double v : {o.min_x, o.max_x, o.min_y, o.max_y, o.min_z, o.max_z}) out.f64(v);
  return out.bytes;
}

Original parse_original(const std::string& payload) {
  if (payload.size() != 176) throw std::runtime_error("lasfix: original payload of " + std::to_string(payload.size()) + " bytes");
  In in(payload, 0);
  Original o;
  o.number_of_point_records = (int64_t)in.u(8);
  for (int64_t& v : o.number_of_points_by_return) v = (int64_t)in.u(8);
  for (double* v : {&o.min_x, &o.max_x, &o.min_y, &o.max_y, &o.min_z, &o.max_z}) *v = in.f64();
  return o;
}

std::string compressor_payload(const Compressor& c) {
  Out out;
  out.u16(c.compressor);
  out.u16(c.coder);
  out.u8(c.version_major);
  out.u8(c.version_minor);
  out.u16(c.version_revision);
  out.u32(c.options);
  out.u32(c.chunk_size);
  out.u64((uint64_t)c.number_of_special_evlrs);
  out.u64((uint64_t)c.offset_to_special_evlrs);
  out.u16(c.items.size());
  for (const CompressorItem& item : c.items) {
    out.u16(item.type);
    out.u16(item.size);
    out.u16(item.version);
  }
  return out.bytes;
}

Compressor parse_compressor(const std::string& payload) {
  In in(payload, 0);
  Compressor c;
  c.compressor = (uint16_t)in.u(2);
  c.coder = (uint16_t)in.u(2);
  c.version_major = (uint8_t)in.u(1);
  c.version_minor = (uint8_t)in.u(1);
  c.version_revision = (uint16_t)in.u(2);
  c.options = (uint32_t)in.u(4);
  c.chunk_size = (uint32_t)in.u(4);
  c.number_of_special_evlrs = (int64_t)in.u(8);
  c.offset_to_special_evlrs = (int64_t)in.u(8);
  uint16_t count = (uint16_t)in.u(2);
  for (uint16_t i = 0; i < count; i++) {
    CompressorItem item;
    item.type = (uint16_t)in.u(2);
    item.size = (uint16_t)in.u(2);
    item.version = (uint16_t)in.u(2);
    c.items.push_back(item);
  }
  if (in.at != payload.size()) throw std::runtime_error("lasfix: compressor payload has " + std::to_string(payload.size() - in.at) + " bytes too many");
  return c;
}

std::vector<CompressorItem> standard_items(uint8_t format, uint16_t record_length, uint16_t version) {
  uint8_t f = format & 0x3F;
  uint16_t base = point_base_size(f);
  if (base == 0) throw std::runtime_error("lasfix: point format " + std::to_string(f) + " unknown");
  std::vector<CompressorItem> items;
  if (f < 6) {
    items.push_back({6, 20, version});
    if (has_gps_in_item(f)) items.push_back({7, 8, version});
    if (rgb_bytes(f)) items.push_back({8, 6, version});
    if (has_wave(f)) items.push_back({9, 29, version});
    if (record_length > base) items.push_back({0, (uint16_t)(record_length - base), version});
  } else {
    items.push_back({10, 30, version});
    if (rgb_bytes(f) == 6) items.push_back({11, 6, version});
    if (rgb_bytes(f) == 8) items.push_back({12, 8, version});
    if (has_wave(f)) items.push_back({13, 29, version});
    if (record_length > base) items.push_back({14, (uint16_t)(record_length - base), version});
  }
  return items;
}

std::string copc_info_payload(uint64_t root_hier_offset, uint64_t root_hier_size) {
  std::string payload(160, '\0');
  put_u64(payload, 40, root_hier_offset);
  put_u64(payload, 48, root_hier_size);
  return payload;
}

}  // namespace lasfix
