// Setting the point flags and the scanner channel, and moving the channel
// between its own two bits, the user data and the point source ID. A flag the
// old classification byte and the extended flags both hold is set in both, so
// the point reads the same whichever format it is written in.
#include "transforms/lasoperation_fields.hpp"

namespace {

// One of the flags kept in the old classification byte and again among the
// extended classification flags (bit 1 synthetic, 2 keypoint, 4 withheld).
template <U8 class_bit, U8 extended_bit>
struct BothFlags {
  using type = U8;
  static void set(LASpoint* point, U8 value) {
    point->class_byte = value ? (U8)(point->class_byte | class_bit) : (U8)(point->class_byte & ~class_bit);
    const U8 flags = point->get_extended_classification_flags();
    point->set_extended_classification_flags(value ? (U8)(flags | extended_bit) : (U8)(flags & ~extended_bit));
  }
};

constexpr const char* WITHHELD_NAME[] = {"set_withheld_flag"};
constexpr const char* SYNTHETIC_NAME[] = {"set_synthetic_flag"};
constexpr const char* KEYPOINT_NAME[] = {"set_keypoint_flag"};
constexpr const char* OVERLAP_NAME[] = {"set_overlap_flag"};
constexpr const char* SCAN_DIRECTION_NAME[] = {"set_scan_direction_flag"};
constexpr const char* EDGE_NAME[] = {"set_edge_of_flight_line"};
constexpr const char* CHANNEL_NAME[] = {"set_scanner_channel"};

using SetWithheldFlag = LASruleSet<BothFlags<LASpoint::WITHHELD_FLAG_BIT, 4>, WITHHELD_NAME>;
using SetSyntheticFlag = LASruleSet<BothFlags<LASpoint::SYNTHETIC_FLAG_BIT, 1>, SYNTHETIC_NAME>;
using SetKeypointFlag = LASruleSet<BothFlags<LASpoint::KEYPOINT_FLAG_BIT, 2>, KEYPOINT_NAME>;
// Only the extended flags have an overlap bit.
using SetExtendedOverlapFlag =
    LASruleSet<LASfield<&LASpoint::get_extended_overlap_flag, &LASpoint::set_extended_overlap_flag>, OVERLAP_NAME>;
using SetScanDirectionFlag =
    LASruleSet<LASfield<&LASpoint::get_scan_direction_flag, &LASpoint::set_scan_direction_flag>, SCAN_DIRECTION_NAME>;
using SetEdgeOfFlightLine =
    LASruleSet<LASfield<&LASpoint::get_edge_of_flight_line, &LASpoint::set_edge_of_flight_line>, EDGE_NAME>;
using SetExtendedScannerChannel =
    LASruleSet<LASfield<&LASpoint::get_extended_scanner_channel, &LASpoint::set_extended_scanner_channel>,
               CHANNEL_NAME>;

struct CopyUserDataIntoScannerChannel {
  static constexpr const char* name = "copy_user_data_into_scanner_channel";
  static constexpr U32 mask = LAS_SELECTIVE_USER_DATA;
  void apply(LASpoint* point) const { point->set_extended_scanner_channel(point->user_data & 0x03); }
};

struct CopyScannerChannelIntoUserData {
  static constexpr const char* name = "copy_scanner_channel_into_user_data";
  static constexpr U32 mask = 0;
  void apply(LASpoint* point) const { point->user_data = point->get_extended_scanner_channel(); }
};

struct CopyScannerChannelIntoPointSource {
  static constexpr const char* name = "copy_scanner_channel_into_point_source";
  static constexpr U32 mask = 0;
  void apply(LASpoint* point) const { point->point_source_ID = point->get_extended_scanner_channel(); }
};

// The ID moves up two bits to make room for the channel; its two top bits
// are lost, so only IDs below 16384 come back whole from a split.
struct MergeScannerChannelIntoPointSource {
  static constexpr const char* name = "merge_scanner_channel_into_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_POINT_SOURCE;
  void apply(LASpoint* point) const {
    point->point_source_ID = (U16)((point->point_source_ID << 2) | point->get_extended_scanner_channel());
  }
};

struct SplitScannerChannelFromPointSource {
  static constexpr const char* name = "split_scanner_channel_from_point_source";
  static constexpr U32 mask = LAS_SELECTIVE_POINT_SOURCE;
  void apply(LASpoint* point) const {
    point->set_extended_scanner_channel(point->point_source_ID & 0x03);
    point->point_source_ID = (U16)(point->point_source_ID >> 2);
  }
};

// The operations, under their names.
using LASoperationSetWithheldFlag = LASoperationOf<SetWithheldFlag>;
using LASoperationSetSyntheticFlag = LASoperationOf<SetSyntheticFlag>;
using LASoperationSetKeypointFlag = LASoperationOf<SetKeypointFlag>;
using LASoperationSetExtendedOverlapFlag = LASoperationOf<SetExtendedOverlapFlag>;
using LASoperationSetScanDirectionFlag = LASoperationOf<SetScanDirectionFlag>;
using LASoperationSetEdgeOfFlightLine = LASoperationOf<SetEdgeOfFlightLine>;
using LASoperationSetExtendedScannerChannel = LASoperationOf<SetExtendedScannerChannel>;
using LASoperationCopyUserDataIntoScannerChannel = LASoperationOf<CopyUserDataIntoScannerChannel>;
using LASoperationCopyScannerChannelIntoUserData = LASoperationOf<CopyScannerChannelIntoUserData>;
using LASoperationCopyScannerChannelIntoPointSource = LASoperationOf<CopyScannerChannelIntoPointSource>;
using LASoperationMergeScannerChannelIntoPointSource = LASoperationOf<MergeScannerChannelIntoPointSource>;
using LASoperationSplitScannerChannelFromPointSource = LASoperationOf<SplitScannerChannelFromPointSource>;

// A flag option: "need" in its missing-value message, "flag" in the other.
constexpr LASoption flag(const char* name) {
  return {name,
          "value",
          1,
          "%u",
          0,
          "'{option}' need 1 argument: value",
          "'{option}' needs 1 argument: value but '{arg}' is no valid flag"};
}
constexpr LASoption channel(const char* name) {
  return {name,
          "value",
          1,
          "%u",
          0,
          "'{option}' need 1 argument: value",
          "'{option}' needs 1 argument: value but '{arg}' is no valid value"};
}

constexpr LASvalueLimit WITHHELD[] = {{0, 1, "cannot set withheld flag because value %u is larger than 1"}};
constexpr LASvalueLimit SYNTHETIC[] = {{0, 1, "cannot set synthetic flag because value %u is larger than 1"}};
constexpr LASvalueLimit KEYPOINT[] = {{0, 1, "cannot set keypoint flag because value %u is larger than 1"}};
constexpr LASvalueLimit OVERLAP[] = {{0, 1, "cannot set overlap flag because value %u is larger than 1"}};
constexpr LASvalueLimit SCAN_DIRECTION[] = {{0, 1, "cannot set scan direction flag because value %u is larger than 1"}};
constexpr LASvalueLimit EDGE[] = {{0, 1, "cannot set edge of flight line because value %u is larger than 1"}};
constexpr LASvalueLimit CHANNEL[] = {{0, 3, "cannot set scanner channel because value %u is larger than 3"}};

const LASoperationOption options[] = {
    {flag("-set_withheld_flag"), las_add_limited<LASoperationSetWithheldFlag, WITHHELD>},
    {flag("-set_synthetic_flag"), las_add_limited<LASoperationSetSyntheticFlag, SYNTHETIC>},
    {flag("-set_keypoint_flag"), las_add_limited<LASoperationSetKeypointFlag, KEYPOINT>},
    {flag("-set_overlap_flag"), las_add_limited<LASoperationSetExtendedOverlapFlag, OVERLAP>},
    {flag("-set_extended_overlap_flag"), las_add_limited<LASoperationSetExtendedOverlapFlag, OVERLAP>},
    {flag("-set_scan_direction_flag"), las_add_limited<LASoperationSetScanDirectionFlag, SCAN_DIRECTION>},
    {flag("-set_edge_of_flight_line"), las_add_limited<LASoperationSetEdgeOfFlightLine, EDGE>},
    {channel("-set_scanner_channel"), las_add_limited<LASoperationSetExtendedScannerChannel, CHANNEL>},
    {channel("-set_extended_scanner_channel"), las_add_limited<LASoperationSetExtendedScannerChannel, CHANNEL>},
    {{"-copy_user_data_into_scanner_channel", "", 0, ""},
     las_add_operation<LASoperationCopyUserDataIntoScannerChannel>},
    {{"-copy_scanner_channel_into_user_data", "", 0, ""},
     las_add_operation<LASoperationCopyScannerChannelIntoUserData>},
    {{"-copy_scanner_channel_into_point_source", "", 0, ""},
     las_add_operation<LASoperationCopyScannerChannelIntoPointSource>},
    {{"-merge_scanner_channel_into_point_source", "", 0, ""},
     las_add_operation<LASoperationMergeScannerChannelIntoPointSource>},
    {{"-split_scanner_channel_from_point_source", "", 0, ""},
     las_add_operation<LASoperationSplitScannerChannelFromPointSource>},
};

const LASoperationUsage usage[] = {
    {7, 1, "-set_withheld_flag 0"},
    {7, 2, "-set_synthetic_flag 1"},
    {7, 3, "-set_keypoint_flag 0"},
    {7, 4, "-set_overlap_flag 1"},
    {8, 1, "-set_scanner_channel 2"},
    {8, 2, "-copy_user_data_into_scanner_channel"},
    {9, 6, "-copy_scanner_channel_into_user_data"},
    {10, 5, "-copy_scanner_channel_into_point_source"},
    {10, 7, "-merge_scanner_channel_into_point_source"},
    {10, 8, "-split_scanner_channel_from_point_source"},
};

}  // namespace

LASoperationFamily las_flag_operations() { return {options, usage}; }
