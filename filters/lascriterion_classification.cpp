// Criteria on the classification of a point. The extended classes (0 to 255)
// named by any option of the command line make one criterion, built after
// the last argument; "-drop_extended_classification_mask" sets the whole set
// of dropped classes where it stands, and is the option text of that
// criterion.
#include "core/laspoint.hpp"
#include "core/lasreader.hpp"
#include "filters/lascriterion.hpp"

namespace {

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

// mask7 (classes 224 to 255) comes first.
LASoptionResult set_drop_extended(LASfilterParse& parse, const LASoptionCall& call) {
  for (int k = 0; k < 8; k++) parse.drop_extended[7 - k] = call.values[k].u32;
  return LASoptionResult::TAKEN;
}

const LAScriterionOption options[] = {
    {{"-drop_extended_classification_mask", "mask7 mask6 mask5 mask4 mask3 mask2 mask1 mask0", 8, "%u", 0, nullptr,
      "{needs}\n\tbut '{arg}' is a bad argument for {name}"},
     set_drop_extended},
};

}  // namespace

LAScriterion* las_new_drop_extended_classifications(const U32 drop_mask[8]) {
  return new LAScriterionDropExtendedClassifications(drop_mask);
}

std::span<const LAScriterionOption> las_classification_criterion_options() { return options; }
