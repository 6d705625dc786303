// Criteria on the classification of a point, its synthetic, keypoint,
// withheld and overlap flags, its scanline flags and its scanner channel.
// The extended classes (0 to 255) named by any option of the command line
// make one criterion, built after the last argument;
// "-drop_extended_classification_mask" sets the whole set of dropped classes
// where it stands, and is the option text of that criterion. Only the
// scan-direction change remembers anything from point to point.
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

// ------------------------------------------------------------------ classes

// Drops a point whose class has its bit in `drop_mask`; the keep kind stores
// the complement of the classes it keeps. A point of class 0 whose extended
// class is set lies above 31: the keep kind drops it, the drop kind lets it
// pass, since neither names such a class.
template <bool keep>
class LAScriterionClassifications : public LAScriterion {
 public:
  explicit LAScriterionClassifications(U32 drop_mask) : drop_mask(drop_mask) {}
  const char* name() const override { return keep ? "keep_classification_mask" : "drop_classification_mask"; }
  I32 get_command(std::string& text) const override {
    return las_set_text(text, keep ? "-keep_class" : "-drop_class", name(), named(), 32);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_CLASSIFICATION; }
  bool filter(const LASpoint* point) override {
    const U32 k = point->get_classification();
    if (k == 0 && point->get_extended_classification() != 0) return keep;
    return (drop_mask >> k) & 1;
  }
  // The classes the option text names: kept or dropped ones.
  U32 named() const { return keep ? ~drop_mask : drop_mask; }

 private:
  U32 drop_mask;
};

using LAScriterionKeepClassifications = LAScriterionClassifications<true>;
using LAScriterionDropClassifications = LAScriterionClassifications<false>;

// Drops a point whose extended class (the extended field only) is in the set.
class LAScriterionDropExtendedClassifications : public LAScriterion {
 public:
  explicit LAScriterionDropExtendedClassifications(const U32 drop_mask[8]) {
    for (int w = 0; w < 8; w++) this->drop_mask[w] = drop_mask[w];
  }
  const char* name() const override { return "drop_extended_classification_mask"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    for (int w = 7; w >= 0; w--) las_option_text_d(text, drop_mask[w]);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_CLASSIFICATION; }
  bool filter(const LASpoint* point) override {
    const U8 e = point->extended_classification;
    return (drop_mask[e >> 5] >> (e & 31)) & 1;
  }

 private:
  U32 drop_mask[8];
};

// Reads the classes of a list in order, so that the first bad one is the one
// reported, whichever way it is bad; `too_large(c)` reports a class above
// `highest`. False after a reported error.
template <class Report>
bool read_classes(const LASoptionCall& call, U32 highest, Report too_large, U32 classes[8]) {
  for (size_t k = 0; k < call.values.size(); k++) {
    U32 c;
    if (!las_read_u32(call.values[k].text, &c)) {
      laserror("%s", call.invalid_message(k).c_str());
      return false;
    }
    if (c > highest) {
      too_large(c);
      return false;
    }
    classes[c >> 5] |= 1u << (c & 31);
  }
  return true;
}

// A list of classes 0 to 31, merged with the class criterion of the same kind
// just before it.
template <bool keep>
LASoptionResult add_classes(LASfilterParse& parse, const LASoptionCall& call) {
  U32 named[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  auto too_large = [&call](U32 c) {
    if (keep) {
      laserror("'%s' needs arguments between 0 and 31 but '%u' is out of range (see -keep_extended_class)",
               call.typed, c);
    } else {
      laserror("cannot drop classification %u because it is larger than 31", c);
    }
  };
  if (!read_classes(call, 31, too_large, named)) return LASoptionResult::FAILED;
  using Criterion = LAScriterionClassifications<keep>;
  std::unique_ptr<LAScriterion> before =
      parse.take_last_named(keep ? "keep_classification_mask" : "drop_classification_mask");
  if (before) named[0] |= static_cast<const Criterion*>(before.get())->named();
  parse.add(new Criterion(keep ? ~named[0] : named[0]));
  if (keep) parse.keep_class_used = true;
  return LASoptionResult::TAKEN;
}

// A mask appends a criterion of its own; it never absorbs the one before it.
template <bool keep>
LASoptionResult add_class_mask(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 mask = call.values[0].u32;
  parse.add(new LAScriterionClassifications<keep>(keep ? ~mask : mask));
  if (keep) parse.keep_class_used = true;
  return LASoptionResult::TAKEN;
}

// Extended classes only join the set of their kind; the criterion is built
// after the last argument.
template <bool keep>
LASoptionResult add_extended_classes(LASfilterParse& parse, const LASoptionCall& call) {
  auto too_large = [](U32 c) {
    laserror(keep ? "cannot keep extended classification %u because it is larger than 255"
                  : "cannot drop extended classification %u because it is larger than 255",
             c);
  };
  U32 named[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  if (!read_classes(call, 255, too_large, named)) return LASoptionResult::FAILED;
  U32* set = keep ? parse.keep_extended : parse.drop_extended;
  for (int w = 0; w < 8; w++) set[w] |= named[w];
  return LASoptionResult::TAKEN;
}

// mask7 (classes 224 to 255) comes first.
LASoptionResult set_drop_extended(LASfilterParse& parse, const LASoptionCall& call) {
  for (int k = 0; k < 8; k++) parse.drop_extended[7 - k] = call.values[k].u32;
  return LASoptionResult::TAKEN;
}

// ------------------------------------------------------------------ flags

enum class Flag : U8 { SYNTHETIC, KEYPOINT, WITHHELD, OVERLAP, EDGE_OF_FLIGHT_LINE };

constexpr const char* FLAG_NAMES[2][5] = {
    {"drop_synthetic", "drop_keypoint", "drop_withheld", "drop_overlap", "drop_edge_of_flight_line"},
    {"keep_synthetic", "keep_keypoint", "keep_withheld", "keep_overlap", "keep_edge_of_flight_line"},
};

template <Flag flag>
U32 flag_of(const LASpoint* point) {
  switch (flag) {
    case Flag::SYNTHETIC: return point->get_synthetic_flag();
    case Flag::KEYPOINT: return point->get_keypoint_flag();
    case Flag::WITHHELD: return point->get_withheld_flag();
    case Flag::OVERLAP: return point->get_extended_overlap_flag();
    case Flag::EDGE_OF_FLIGHT_LINE: return point->get_edge_of_flight_line();
  }
  return 0;
}

// The keep kind drops the points without the flag, the drop kind those with it.
template <Flag flag, bool keep>
class LAScriterionFlag : public LAScriterion {
 public:
  explicit LAScriterionFlag(const LASoptionValue*) {}
  const char* name() const override { return FLAG_NAMES[keep][(int)flag]; }
  I32 get_command(std::string& text) const override {
    return las_criterion_text_size(text, las_criterion_text(text, name()));
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_FLAGS; }
  bool filter(const LASpoint* point) override { return (flag_of<flag>(point) != 0) != keep; }
};

using LAScriterionDropSynthetic = LAScriterionFlag<Flag::SYNTHETIC, false>;
using LAScriterionKeepSynthetic = LAScriterionFlag<Flag::SYNTHETIC, true>;
using LAScriterionDropKeypoint = LAScriterionFlag<Flag::KEYPOINT, false>;
using LAScriterionKeepKeypoint = LAScriterionFlag<Flag::KEYPOINT, true>;
using LAScriterionDropWithheld = LAScriterionFlag<Flag::WITHHELD, false>;
using LAScriterionKeepWithheld = LAScriterionFlag<Flag::WITHHELD, true>;
using LAScriterionDropOverlap = LAScriterionFlag<Flag::OVERLAP, false>;
using LAScriterionKeepOverlap = LAScriterionFlag<Flag::OVERLAP, true>;
using LAScriterionDropEdgeOfFlightLine = LAScriterionFlag<Flag::EDGE_OF_FLIGHT_LINE, false>;
using LAScriterionKeepEdgeOfFlightLine = LAScriterionFlag<Flag::EDGE_OF_FLIGHT_LINE, true>;

class LAScriterionDropScanDirection : public LAScriterion {
 public:
  explicit LAScriterionDropScanDirection(U32 scan_direction) : scan_direction(scan_direction) {}
  const char* name() const override { return "drop_scan_direction"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_d(text, scan_direction);
    return las_criterion_text_size(text, start);
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_FLAGS; }
  bool filter(const LASpoint* point) override { return point->get_scan_direction_flag() == scan_direction; }

 private:
  U32 scan_direction;
};

// Keeps a point whose scan direction differs from that of the previous point
// that reached this criterion; the first point has no previous one and is
// dropped.
class LAScriterionKeepScanDirectionChange : public LAScriterion {
 public:
  explicit LAScriterionKeepScanDirectionChange(const LASoptionValue*) {}
  const char* name() const override { return "keep_scan_direction_change"; }
  I32 get_command(std::string& text) const override {
    return las_criterion_text_size(text, las_criterion_text(text, name()));
  }
  U32 get_decompress_selective() const override { return LAS_SELECTIVE_FLAGS; }
  bool filter(const LASpoint* point) override {
    const I32 direction = point->get_scan_direction_flag();
    if (direction == last_direction) return true;
    const I32 before = last_direction;
    last_direction = direction;
    return before == -1;
  }
  void reset() override { last_direction = -1; }

 private:
  I32 last_direction = -1;
};

// ------------------------------------------------------------------ scanner channel

template <bool keep>
class LAScriterionScannerChannel : public LAScriterion {
 public:
  explicit LAScriterionScannerChannel(I32 scanner_channel) : scanner_channel(scanner_channel) {}
  const char* name() const override { return keep ? "keep_scanner_channel" : "drop_scanner_channel"; }
  I32 get_command(std::string& text) const override {
    const size_t start = las_criterion_text(text, name());
    las_option_text_d(text, scanner_channel);
    return las_criterion_text_size(text, start);
  }
  bool filter(const LASpoint* point) override {
    return ((I32)point->get_extended_scanner_channel() == scanner_channel) != keep;
  }

 private:
  I32 scanner_channel;
};

using LAScriterionKeepScannerChannel = LAScriterionScannerChannel<true>;
using LAScriterionDropScannerChannel = LAScriterionScannerChannel<false>;

LASoptionResult keep_scanner_channel(LASfilterParse& parse, const LASoptionCall& call) {
  const I32 channel = call.values[0].i32;
  if (channel < 0 || channel > 3) {
    laserror("'%s' needs 1 argument: number between 0 and 3 so '%s' is not valid", call.typed, call.values[0].text);
    return LASoptionResult::FAILED;
  }
  parse.add(new LAScriterionKeepScannerChannel(channel));
  return LASoptionResult::TAKEN;
}

LASoptionResult drop_scanner_channel(LASfilterParse& parse, const LASoptionCall& call) {
  const U32 channel = call.values[0].u32;
  if (channel > 3) {
    laserror("%u is no valid value for '%s'", channel, call.typed);
    return LASoptionResult::FAILED;
  }
  parse.add(new LAScriterionDropScannerChannel((I32)channel));
  return LASoptionResult::TAKEN;
}

// ------------------------------------------------------------------ options

// The class lists are read as text and converted in their apply (see
// read_classes).
constexpr const char* KEEP_CLASS_INVALID = "{needs} but '{arg}' is no valid classification";
constexpr const char* DROP_CLASS_INVALID =
    "'-drop_classification' needs at least 1 argument: classification but '{arg}' is no valid classification";
constexpr const char* KEEP_EXTENDED_NEEDS = "'{option}' needs at least a argument: classification";
constexpr const char* KEEP_EXTENDED_INVALID =
    "'-keep_extended_classification' needs at least 1 argument: classification but '{arg}' is no valid "
    "classification";
constexpr const char* DROP_EXTENDED_INVALID =
    "'-drop_extended_classification' needs at least 1 argument: classification but '{arg}' is no valid "
    "classification";
constexpr const char* MASK_INVALID = "'{option}' needs at least 1 argument: mask but '{arg}' is no valid mask";

const LAScriterionOption options[] = {
    {{"-keep_class", "classification", 1, "%s", LAS_OPTION_LIST, nullptr, KEEP_CLASS_INVALID}, add_classes<true>},
    {{"-keep_classification", "classification", 1, "%s", LAS_OPTION_LIST, nullptr, KEEP_CLASS_INVALID},
     add_classes<true>},
    {{"-keep_classification_mask", "mask", 1, "%u", 0, nullptr, MASK_INVALID}, add_class_mask<true>},
    {{"-drop_class", "classification", 1, "%s", LAS_OPTION_LIST, nullptr, DROP_CLASS_INVALID}, add_classes<false>},
    {{"-drop_classification", "classification", 1, "%s", LAS_OPTION_LIST, nullptr, DROP_CLASS_INVALID},
     add_classes<false>},
    {{"-drop_classification_mask", "mask", 1, "%u", 0, nullptr, MASK_INVALID}, add_class_mask<false>},
    {{"-keep_extended_class", "classification", 1, "%s", LAS_OPTION_LIST, KEEP_EXTENDED_NEEDS, KEEP_EXTENDED_INVALID},
     add_extended_classes<true>},
    {{"-keep_extended_classification", "classification", 1, "%s", LAS_OPTION_LIST, KEEP_EXTENDED_NEEDS,
      KEEP_EXTENDED_INVALID},
     add_extended_classes<true>},
    {{"-drop_extended_class", "classification", 1, "%s", LAS_OPTION_LIST, nullptr, DROP_EXTENDED_INVALID},
     add_extended_classes<false>},
    {{"-drop_extended_classification", "classification", 1, "%s", LAS_OPTION_LIST, nullptr, DROP_EXTENDED_INVALID},
     add_extended_classes<false>},
    {{"-drop_extended_classification_mask", "mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0", 8, "%u", 0, nullptr,
      "{needs}\n\tbut '{arg}' is a bad argument for {name}"},
     set_drop_extended},

    {{"-drop_synthetic", "", 0, ""}, las_add_criterion<LAScriterionDropSynthetic>},
    {{"-keep_synthetic", "", 0, ""}, las_add_criterion<LAScriterionKeepSynthetic>},
    {{"-drop_keypoint", "", 0, ""}, las_add_criterion<LAScriterionDropKeypoint>},
    {{"-keep_keypoint", "", 0, ""}, las_add_criterion<LAScriterionKeepKeypoint>},
    {{"-drop_withheld", "", 0, ""}, las_add_criterion<LAScriterionDropWithheld>},
    {{"-keep_withheld", "", 0, ""}, las_add_criterion<LAScriterionKeepWithheld>},
    {{"-drop_overlap", "", 0, ""}, las_add_criterion<LAScriterionDropOverlap>},
    {{"-keep_overlap", "", 0, ""}, las_add_criterion<LAScriterionKeepOverlap>},

    {{"-drop_scan_direction", "scan direction", 1, "%u", 0, nullptr, "{needs} but '{arg}' is no valid value"},
     las_add_bounded_criterion<LAScriterionDropScanDirection, 1>},
    {{"-keep_scan_direction_change", "", 0, ""}, las_add_criterion<LAScriterionKeepScanDirectionChange>},
    {{"-keep_edge_of_flight_line", "", 0, ""}, las_add_criterion<LAScriterionKeepEdgeOfFlightLine>},
    {{"-drop_edge_of_flight_line", "", 0, ""}, las_add_criterion<LAScriterionDropEdgeOfFlightLine>},

    {{"-keep_scanner_channel", "number", 1, "%d"}, keep_scanner_channel},
    {{"-drop_scanner_channel", "number", 1, "%u", 0, nullptr,
      "'{option}' needs 1 argument channel but '{arg}' is no valid value"},
     drop_scanner_channel},
};

}  // namespace

LAScriterion* las_new_drop_extended_classifications(const U32 drop_mask[8]) {
  return new LAScriterionDropExtendedClassifications(drop_mask);
}

std::span<const LAScriterionOption> las_classification_criterion_options() { return options; }
