// The transform's list of operations. Stand-in: no option is parsed yet and
// offsets are not adjusted; see the header.
#include "transforms/lastransform.hpp"

#include <cstdlib>
#include <cstring>

#include "core/laspoint.hpp"
#include "filters/lasfilter.hpp"

I32 LASoperationSetPointSource::get_command(std::string& text) const {
  const size_t before = text.size();
  text += "-set_point_source ";
  text += std::to_string(psid);
  text += ' ';
  return (I32)(text.size() - before);
}

void LASoperationSetPointSource::transform(LASpoint* point) { point->point_source_ID = psid; }

LAStransform::~LAStransform() { clean(); }

void LAStransform::clean() {
  for (U32 i = 0; i < op_count; i++) delete op_list[i];
  free(op_list);
  op_list = nullptr;
  op_count = 0;
  op_capacity = 0;
  delete filter;
  filter = nullptr;
}

void LAStransform::usage() const { LASMessage(INFO, "Transform coordinates.\n  (no transform options yet)"); }

bool LAStransform::parse(int, char*[]) { return true; }

bool LAStransform::parse(const char*) { return true; }

I32 LAStransform::unparse(std::string& text) const {
  const size_t before = text.size();
  if (filter) {
    filter->unparse(text);
    text += "-filtered_transform ";
  }
  for (U32 i = 0; i < op_count; i++) op_list[i]->get_command(text);
  return (I32)(text.size() - before);
}

void LAStransform::add_operation(LASoperation* operation) {
  if (op_count == op_capacity) {
    LASoperation** grown = (LASoperation**)malloc_las(sizeof(LASoperation*) * ((U64)op_capacity + 16));
    if (grown == nullptr) {
      delete operation;
      return;
    }
    if (op_list) memcpy((void*)grown, op_list, sizeof(LASoperation*) * op_count);
    free(op_list);
    op_list = grown;
    op_capacity += 16;
  }
  op_list[op_count++] = operation;
}

void LAStransform::delete_operation(const char* name) {
  if (op_list == nullptr || name == nullptr) return;
  for (U32 i = 0; i < op_count; i++) {
    if (strcmp(op_list[i]->name(), name) != 0) continue;
    delete op_list[i];
    memmove((void*)(op_list + i), op_list + i + 1, sizeof(LASoperation*) * (op_count - i - 1));
    op_count--;
    return;
  }
}

void LAStransform::setFilter(LASfilter* filter) {
  if (this->filter != filter) delete this->filter;
  this->filter = filter;
  if (filter == nullptr) filtered_transform = false;
}

void LAStransform::setPointSource(U16 value) {
  delete_operation("set_point_source");
  add_operation(new LASoperationSetPointSource(value));
}

void LAStransform::adjust_offset(LASreader*, const F64*) {}

void LAStransform::transform(LASpoint* point) {
  if (filter && filter->filter(point)) return;
  for (U32 i = 0; i < op_count; i++) op_list[i]->transform(point);
}

void LAStransform::reset() {
  for (U32 i = 0; i < op_count; i++) op_list[i]->reset();
  memset(registers, 0, sizeof(registers));
}

void LAStransform::check_for_overflow() const {
  for (U32 i = 0; i < op_count; i++) {
    if (op_list[i]->overflow_count == 0) continue;
    std::string command;
    op_list[i]->get_command(command);
    LASMessage(WARNING, "total of  %lld overflows caused by '%s'", (long long)op_list[i]->overflow_count, command.c_str());
  }
}
