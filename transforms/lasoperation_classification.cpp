// Setting, changing and copying the classification. Every class is written
// through assign_classification, so a point of the older formats never gets a
// class it cannot hold; the extended option words build the same operations
// and are written back under the short names.
#include "transforms/lasoperation_fields.hpp"

namespace {

// Read and written as the operations of every family read and write it.
struct Classification {
  using type = U8;
  static constexpr U32 mask = LAS_SELECTIVE_CLASSIFICATION;
  static U8 get(const LASpoint* point) { return effective_classification(point); }
  static void set(LASpoint* point, U8 value) { assign_classification(point, value); }
};

constexpr const char* CLASSIFICATION_NAMES[] = {"set_classification", "change_classification_from_to"};
using SetClassification = LASruleSet<Classification, CLASSIFICATION_NAMES>;
using ChangeClassificationFromTo = LASruleChangeFromTo<Classification, CLASSIFICATION_NAMES>;

// The three flag bits of the old classification byte become the upper bits
// of an 8-bit class: files that stored classes above 31 in them get those
// classes back.
struct MoveAncientToExtendedClassification {
  static constexpr const char* name = "move_ancient_to_extended_classification";
  static constexpr U32 mask = LAS_SELECTIVE_CLASSIFICATION | LAS_SELECTIVE_FLAGS;
  void apply(LASpoint* point) const {
    const U8 upper = point->class_byte & (U8)~LASpoint::CLASSIFICATION_MASK;
    if (upper == 0) return;
    if (point->get_extended_layout()) {
      point->extended_classification |= upper;
      point->set_classification(0);
    }
    point->class_byte &= LASpoint::CLASSIFICATION_MASK;
    // Synthetic, keypoint and withheld go; overlap stays.
    point->set_extended_classification_flags(point->get_extended_classification_flags() & 0x08);
  }
};

struct CopyIntensityIntoClassification {
  static constexpr const char* name = "copy_intensity_into_classification";
  static constexpr U32 mask = LAS_SELECTIVE_INTENSITY;
  void apply(LASpoint* point) const { assign_classification(point, (U8)(point->intensity & 0xFF)); }
};

struct CopyUserDataIntoClassification {
  static constexpr const char* name = "copy_user_data_into_classification";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  void apply(LASpoint* point) const { assign_classification(point, point->user_data); }
};

// The operations, under their names.
using LASoperationSetClassification = LASoperationOf<SetClassification>;
using LASoperationChangeClassificationFromTo = LASoperationOf<ChangeClassificationFromTo>;
using LASoperationMoveAncientToExtendedClassification = LASoperationOf<MoveAncientToExtendedClassification>;
using LASoperationCopyIntensityIntoClassification = LASoperationOf<CopyIntensityIntoClassification>;
using LASoperationCopyUserDataIntoClassification = LASoperationOf<CopyUserDataIntoClassification>;

constexpr LASvalueLimit SET_LIMITS[] = {
    {0, 255, "cannot set classification because classification of %u is larger than 255"}};
constexpr LASvalueLimit CHANGE_LIMITS[] = {
    {0, 255, "cannot change classification because from_value %u is larger than %u"},
    {1, 255, "cannot change classification because to_value %u is larger than %u"}};

// The to_value is read after the from_value's range is checked ("%s").
constexpr LASoption change(const char* name) { return {name, "from_value to_value", 2, "%u %s"}; }

const LASoperationOption options[] = {
    {{"-set_classification", "classification", 1, "%u", 0, nullptr, nullptr, nullptr, true},
     las_add_limited<LASoperationSetClassification, SET_LIMITS>},
    {{"-set_extended_classification", "classification", 1, "%u", 0, nullptr, nullptr, nullptr, true},
     las_add_limited<LASoperationSetClassification, SET_LIMITS>},
    {change("-change_classification_from_to"), las_add_limited<LASoperationChangeClassificationFromTo, CHANGE_LIMITS>},
    {change("-change_class_from_to"), las_add_limited<LASoperationChangeClassificationFromTo, CHANGE_LIMITS>},
    {change("-change_extended_classification_from_to"),
     las_add_limited<LASoperationChangeClassificationFromTo, CHANGE_LIMITS>},
    {change("-change_extended_class_from_to"), las_add_limited<LASoperationChangeClassificationFromTo, CHANGE_LIMITS>},
    {{"-move_ancient_to_extended_classification", "", 0, ""},
     las_add_operation<LASoperationMoveAncientToExtendedClassification>},
    {{"-copy_intensity_into_classification", "", 0, ""},
     las_add_operation<LASoperationCopyIntensityIntoClassification>},
    {{"-copy_user_data_into_classification", "", 0, ""}, las_add_operation<LASoperationCopyUserDataIntoClassification>},
};

const LASoperationUsage usage[] = {
    {6, 1, "-set_classification 2"},
    {6, 2, "-set_extended_classification 41"},
    {6, 3, "-change_classification_from_to 2 4"},
    {6, 13, "-change_extended_classification_from_to 6 46"},
    {6, 14, "-move_ancient_to_extended_classification"},
    {6, 15, "-copy_user_data_into_classification"},
};

}  // namespace

LASoperationFamily las_classification_operations() { return {options, usage}; }
