// Extra-bytes descriptors and the attribute table: sizes by data type, range and
// no-data values in the data type's representation, and the table's arrays.
#include "core/lasattributer.hpp"

#include <cstdlib>

namespace {
constexpr I32 base_sizes[10] = {1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
}

LASattributeDescriptor::LASattributeDescriptor(U32 type, const char* name, const char* description) {
  if (type <= LAS_ATTRIBUTE_F64) data_type = (U8)(type + 1);
  scale[0] = scale[1] = scale[2] = 1.0;
  strncpy_las(this->name, sizeof(this->name), name);
  if (description) strncpy_las(this->description, sizeof(this->description), description);
}

I32 LASattributeDescriptor::get_size() const {
  if (data_type == 0) return options;
  if (data_type > 30) return 0;
  return get_dim() * base_sizes[get_type()];
}

I32 LASattributeDescriptor::get_value_size() const {
  if (data_type == 0) return (options == 8) ? 8 : 0;
  if (data_type > 30) return 0;
  return base_sizes[get_type()];
}

// The range and no-data values of the first element, in the representation of
// the data type: an unsigned or signed integer, or a double.
bool LASattributeDescriptor::store_range_value(LASattributeValue& target, F64 value) const {
  if (data_type < 1 || data_type > 10) return false;
  switch (get_type()) {
    case LAS_ATTRIBUTE_U8:
    case LAS_ATTRIBUTE_U16:
    case LAS_ATTRIBUTE_U32:
    case LAS_ATTRIBUTE_U64: target.u64 = (value >= 0) ? f64_to_u64(value + 0.5) : 0; break;
    case LAS_ATTRIBUTE_F32:
    case LAS_ATTRIBUTE_F64: target.f64 = value; break;
    default: target.i64 = las_round_i64(value); break;
  }
  return true;
}

bool LASattributeDescriptor::range_value_below(const LASattributeValue& a, const LASattributeValue& b) const {
  switch (get_type()) {
    case LAS_ATTRIBUTE_U8:
    case LAS_ATTRIBUTE_U16:
    case LAS_ATTRIBUTE_U32:
    case LAS_ATTRIBUTE_U64: return a.u64 < b.u64;
    case LAS_ATTRIBUTE_F32:
    case LAS_ATTRIBUTE_F64: return a.f64 < b.f64;
    default: return a.i64 < b.i64;
  }
}

bool LASattributeDescriptor::set_no_data(F64 value) {
  if (!store_range_value(no_data[0], value)) return false;
  options |= LAS_ATTRIBUTE_OPTION_NO_DATA;
  return true;
}

bool LASattributeDescriptor::set_min(F64 value) {
  if (!store_range_value(min[0], value)) return false;
  options |= LAS_ATTRIBUTE_OPTION_MIN;
  return true;
}

bool LASattributeDescriptor::set_max(F64 value) {
  if (!store_range_value(max[0], value)) return false;
  options |= LAS_ATTRIBUTE_OPTION_MAX;
  return true;
}

bool LASattributeDescriptor::update_min(F64 value) {
  LASattributeValue v;
  if (!store_range_value(v, value)) return false;
  if (!has_min() || range_value_below(v, min[0])) min[0] = v;
  options |= LAS_ATTRIBUTE_OPTION_MIN;
  return true;
}

bool LASattributeDescriptor::update_max(F64 value) {
  LASattributeValue v;
  if (!store_range_value(v, value)) return false;
  if (!has_max() || range_value_below(max[0], v)) max[0] = v;
  options |= LAS_ATTRIBUTE_OPTION_MAX;
  return true;
}

// Fresh arrays for `number` attributes; on failure nothing is kept.
namespace {
struct AttributeArrays {
  LASmallocated<LASattributeDescriptor[]> attributes;
  LASmallocated<I32[]> starts;
  LASmallocated<I32[]> sizes;

  bool allocate(U32 number) {
    attributes.reset((LASattributeDescriptor*)malloc_las(sizeof(LASattributeDescriptor) * (U64)number));
    starts.reset((I32*)malloc_las(sizeof(I32) * (U64)number));
    sizes.reset((I32*)malloc_las(sizeof(I32) * (U64)number));
    return attributes && starts && sizes;
  }
};
}  // namespace

// Starts are running sums of the sizes; a sum beyond the 32-bit range stays at
// its maximum (such an attribute lies outside every point and reads as absent).
static I32 next_start(I32 start, I32 size) {
  I64 next = (I64)start + size;
  return (next > I32_MAX) ? I32_MAX : (I32)next;
}

I32 LASattributeTable::add_attribute(const LASattributeDescriptor& descriptor) {
  I32 size = descriptor.get_size();
  if (size <= 0 || number_of_attributes == I32_MAX) return -1;
  U32 n = (U32)number_of_attributes;
  AttributeArrays grown;
  if (!grown.allocate(n + 1)) return -1;
  if (n) {
    memcpy((void*)grown.attributes.get(), attributes, sizeof(LASattributeDescriptor) * n);
    memcpy(grown.starts.get(), attribute_starts, sizeof(I32) * n);
    memcpy(grown.sizes.get(), attribute_sizes, sizeof(I32) * n);
  }
  memcpy((void*)&grown.attributes[n], &descriptor, sizeof(LASattributeDescriptor));
  grown.starts[n] = n ? next_start(attribute_starts[n - 1], attribute_sizes[n - 1]) : 0;
  grown.sizes[n] = size;
  // Arrays that belong to another table are left to it.
  clean_attributes();
  attributes = grown.attributes.release();
  attribute_starts = grown.starts.release();
  attribute_sizes = grown.sizes.release();
  number_of_attributes = (I32)(n + 1);
  owns_arrays = true;
  return (I32)n;
}

bool LASattributeTable::init_attributes(U32 number, const LASattributeDescriptor* descriptors) {
  clean_attributes();
  if (number == 0 || descriptors == nullptr) return number == 0;
  if (number > (U32)I32_MAX) return false;
  AttributeArrays copy;
  if (!copy.allocate(number)) return false;
  memcpy((void*)copy.attributes.get(), descriptors, sizeof(LASattributeDescriptor) * (U64)number);
  I32 start = 0;
  for (U32 i = 0; i < number; i++) {
    copy.starts[i] = start;
    copy.sizes[i] = copy.attributes[i].get_size();
    start = next_start(start, copy.sizes[i]);
  }
  attributes = copy.attributes.release();
  attribute_starts = copy.starts.release();
  attribute_sizes = copy.sizes.release();
  number_of_attributes = (I32)number;
  owns_arrays = true;
  return true;
}

void LASattributeTable::clean_attributes() {
  if (owns_arrays) {
    free(attributes);
    free(attribute_starts);
    free(attribute_sizes);
  }
  owns_arrays = false;
  number_of_attributes = 0;
  attributes = nullptr;
  attribute_starts = nullptr;
  attribute_sizes = nullptr;
}

I32 LASattributeTable::get_attribute_index(const char* name) const {
  if (name == nullptr) return -1;
  size_t length = strlen(name);
  for (I32 i = 0; i < number_of_attributes; i++) {
    // A name read from a file may fill all 32 bytes without a terminating zero.
    const char* candidate = attributes[i].name;
    if (strnlen(candidate, sizeof(attributes[i].name)) == length && memcmp(candidate, name, length) == 0)
      return i;
  }
  return -1;
}

I32 LASattributeTable::get_attribute_start(const char* name) const {
  I32 index = get_attribute_index(name);
  return (index < 0) ? -1 : attribute_starts[index];
}

I32 LASattributeTable::get_attribute_start(I32 index) const {
  return (index >= 0 && index < number_of_attributes) ? attribute_starts[index] : -1;
}

I32 LASattributeTable::get_attribute_size(I32 index) const {
  return (index >= 0 && index < number_of_attributes) ? attribute_sizes[index] : -1;
}

I32 LASattributeTable::get_attributes_size() const {
  if (number_of_attributes <= 0) return 0;
  return next_start(attribute_starts[number_of_attributes - 1], attribute_sizes[number_of_attributes - 1]);
}
