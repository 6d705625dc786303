// The filter's list of criteria, its option parser (the walk over the
// arguments, the refused old names, the criterion built after the walk), its
// help text, and the number helpers the option families share.
#include "filters/lasfilter.hpp"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/lasutility.hpp"
#include "filters/lascriterion.hpp"

// ------------------------------------------------------------------ the list

LASfilter::~LASfilter() = default;

void LASfilter::clean() {
  // Swapped out, so that the capacity goes too.
  std::vector<std::unique_ptr<LAScriterion>>().swap(criteria);
  criteria_count = 0;
}

I32 LASfilter::unparse(std::string& text) const {
  I32 n = 0;
  for (const std::unique_ptr<LAScriterion>& criterion : criteria) n += criterion->get_command(text);
  return n;
}

void LASfilter::add_criterion(LAScriterion* criterion) {
  // Owned from here on, also when the list cannot take it.
  las_append_owned(criteria, std::unique_ptr<LAScriterion>(criterion));
  criteria_count = (U32)criteria.size();
}

LAScriterion* LASfilter::take_last_criterion() {
  if (criteria.empty()) return nullptr;
  LAScriterion* last = criteria.back().release();
  criteria.pop_back();
  criteria_count = (U32)criteria.size();
  return last;
}

void LASfilter::reset() {
  for (const std::unique_ptr<LAScriterion>& criterion : criteria) criterion->reset();
}

std::unique_ptr<LAScriterion> LASfilterParse::take_last_named(const char* name) {
  if (filter.criteria.empty() || strcmp(filter.criteria.back()->name(), name) != 0) return nullptr;
  return std::unique_ptr<LAScriterion>(filter.take_last_criterion());
}

// ------------------------------------------------------------------ help

// One section per group of criteria, in the order users read them; each
// family adds its lines where its group stands.
static const char* const usage_sections[] = {
    "Filter points based on their coordinates.\n"
    "  -keep_tile 631000 4834000 1000 (ll_x ll_y size)\n"
    "  -keep_circle 630250.00 4834750.00 100 (x y radius)\n"
    "  -keep_xy 630000 4834000 631000 4836000 (min_x min_y max_x max_y)\n"
    "  -drop_xy 630000 4834000 631000 4836000 (min_x min_y max_x max_y)\n"
    "  -keep_x 631500.50 631501.00 (min_x max_x)\n"
    "  -drop_x 631500.50 631501.00 (min_x max_x)\n"
    "  -drop_x_below 630000.50 (min_x)\n"
    "  -drop_x_above 630500.50 (max_x)\n"
    "  -keep_y 4834500.25 4834550.25 (min_y max_y)\n"
    "  -drop_y 4834500.25 4834550.25 (min_y max_y)\n"
    "  -drop_y_below 4834500.25 (min_y)\n"
    "  -drop_y_above 4836000.75 (max_y)\n"
    "  -keep_z 11.125 130.725 (min_z max_z)\n"
    "  -drop_z 11.125 130.725 (min_z max_z)\n"
    "  -drop_z_below 11.125 (min_z)\n"
    "  -drop_z_above 130.725 (max_z)\n"
    "  -keep_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)\n"
    "  -drop_xyz 620000 4830000 100 621000 4831000 200 (min_x min_y min_z max_x max_y max_z)",
    "Filter points based on their return numbering.\n"
    "  -keep_first -first_only -drop_first\n"
    "  -keep_last -last_only -drop_last\n"
    "  -keep_second_last -drop_second_last\n"
    "  -keep_first_of_many -keep_last_of_many\n"
    "  -drop_first_of_many -drop_last_of_many\n"
    "  -keep_middle -drop_middle\n"
    "  -keep_return 1 2 3\n"
    "  -drop_return 3 4\n"
    "  -keep_single -drop_single\n"
    "  -keep_double -drop_double\n"
    "  -keep_triple -drop_triple\n"
    "  -keep_quadruple -drop_quadruple\n"
    "  -keep_number_of_returns 5\n"
    "  -drop_number_of_returns 0",
    "Filter points based on the scanline flags.\n"
    "  -drop_scan_direction 0\n"
    "  -keep_scan_direction_change\n"
    "  -keep_edge_of_flight_line",
    "Filter points based on their intensity.\n"
    "  -keep_intensity 20 380\n"
    "  -drop_intensity_below 20\n"
    "  -drop_intensity_above 380\n"
    "  -drop_intensity_between 4000 5000",
    "Filter points based on classifications or flags.\n"
    "  -keep_class 1 3 7\n"
    "  -drop_class 4 2\n"
    "  -keep_extended_class 43\n"
    "  -drop_extended_class 129 135\n"
    "  -drop_synthetic -keep_synthetic\n"
    "  -drop_keypoint -keep_keypoint\n"
    "  -drop_withheld -keep_withheld\n"
    "  -drop_overlap -keep_overlap",
    "Filter points based on their user data.\n"
    "  -keep_user_data 1\n"
    "  -drop_user_data 255\n"
    "  -keep_user_data_below 50\n"
    "  -keep_user_data_above 150\n"
    "  -keep_user_data_between 10 20\n"
    "  -drop_user_data_below 1\n"
    "  -drop_user_data_above 100\n"
    "  -drop_user_data_between 10 40",
    "Filter points based on their point source ID.\n"
    "  -keep_point_source 3\n"
    "  -keep_point_source_between 2 6\n"
    "  -drop_point_source 27\n"
    "  -drop_point_source_below 6\n"
    "  -drop_point_source_above 15\n"
    "  -drop_point_source_between 17 21",
    "Filter points based on their scan angle.\n"
    "  -keep_scan_angle -15 15\n"
    "  -drop_abs_scan_angle_above 15\n"
    "  -drop_abs_scan_angle_below 1\n"
    "  -drop_scan_angle_below -15\n"
    "  -drop_scan_angle_above 15\n"
    "  -drop_scan_angle_between -25 -23",
    "Filter points based on their gps time.\n"
    "  -keep_gps_time 11.125 130.725\n"
    "  -drop_gps_time_below 11.125\n"
    "  -drop_gps_time_above 130.725\n"
    "  -drop_gps_time_between 22.0 48.0",
    "Filter points based on their RGB/CIR/NIR channels.\n"
    "  -keep_RGB_red 1 1\n"
    "  -drop_RGB_red 5000 20000\n"
    "  -keep_RGB_green 30 100\n"
    "  -drop_RGB_green 2000 10000\n"
    "  -keep_RGB_blue 0 0\n"
    "  -keep_RGB_nir 64 127\n"
    "  -keep_RGB_greenness 200 65535\n"
    "  -keep_NDVI 0.2 0.7 -keep_NDVI_from_CIR -0.1 0.5\n"
    "  -keep_NDVI_intensity_is_NIR 0.4 0.8 -keep_NDVI_green_is_NIR -0.2 0.2\n"
    "  -keep_HSV 120d 130d 0.4 0.5 0 1\n"
    "  -keep_HSV_hue 0.2 0.3\n"
    "  -drop_HSV_saturation 0.25 0.7\n"
    "  -keep_HSV_value 0 0.3\n"
    "  -keep_HSL 0.3 0.4 40p 50p 0 1\n"
    "  -drop_HSL_hue 0 0.5\n"
    "  -keep_HSL_saturation 0.1 0.25\n"
    "  -drop_HSL_lightness 0.1 0.2",
    "Filter points based on their wavepacket.\n"
    "  -keep_wavepacket 0\n"
    "  -drop_wavepacket 3",
    "Filter points based on extra attributes.\n"
    "  -keep_attribute_above 0 5.0\n"
    "  -drop_attribute_below 1 1.5",
    "Filter points with simple thinning.\n"
    "  -keep_every_nth 2 -drop_every_nth 3\n"
    "  -keep_random_fraction 0.1\n"
    "  -keep_random_fraction 0.1 4711\n"
    "  -thin_with_grid 1.0\n"
    "  -thin_pulses_with_time 0.0001\n"
    "  -thin_points_with_time 0.000001",
    ("Boolean combination of filters.\n"
     "  -filter_and"),
};

void LASfilter::usage() const {
  std::string text;
  for (const char* section : usage_sections) {
    if (!text.empty()) text += '\n';
    text += section;
  }
  LASMessage(INFO, "%s", text.c_str());
}

// ------------------------------------------------------------------ parsing

// The option tables of the criterion families; a new family adds its own.
static std::span<const LAScriterionOption> (*const families[])() = {
    las_coordinate_criterion_options,
    las_return_criterion_options,
    las_classification_criterion_options,
    las_intensity_criterion_options,
    las_acquisition_criterion_options,
    las_colour_criterion_options,
    las_attribute_criterion_options,
    las_thinning_criterion_options,
    las_combined_criterion_options,
};

// The row of a filter option: exact names first, then the names that only
// begin a word (so no prefix can shadow an exact name of another family).
static const LAScriterionOption* find_option(const char* word) {
  for (auto table : families) {
    for (const LAScriterionOption& row : table()) {
      if (!row.option.prefix && strcmp(word, row.option.name) == 0) return &row;
    }
  }
  for (auto table : families) {
    for (const LAScriterionOption& row : table()) {
      if (row.option.prefix && strncmp(word, row.option.name, strlen(row.option.name)) == 0) return &row;
    }
  }
  return nullptr;
}

// Old names of the coordinate criteria are refused with their new names.
static void refuse_old_name(const char* word) {
  laserror(
      "'%s' is no longer recognized. check documentation with '-h'.\n"
      "  rename '-clip' to '-keep_xy'.\n"
      "  rename '-clip_box' to '-keep_xyz'.\n"
      "  rename '-clip_tile' to '-keep_tile'.\n"
      "  rename '-clip_z_below' to '-drop_z_below'.\n"
      "  rename '-clip_z_above' to '-drop_z_above'.\n"
      "  rename '-clip_z_between' to '-drop_z'.\n"
      "  etc ...",
      word);
}

static bool any(const U32 words[8]) {
  for (int w = 0; w < 8; w++) {
    if (words[w]) return true;
  }
  return false;
}

bool LASfilterParse::finish() {
  if (any(keep_extended)) {
    if (any(drop_extended)) {
      laserror("cannot use '-drop_extended_class' and '-keep_extended_class' simultaneously");
      return false;
    }
    for (int w = 0; w < 8; w++) drop_extended[w] = ~keep_extended[w];
  }
  if (!any(drop_extended)) return true;
  if (keep_class_used) {
    LASMessage(WARNING,
               "cannot combine '-keep_class' together with '-keep_extended_class'. use\n"
               "\texclusively 'extended' filters for filtering points with classes above 31");
    return true;
  }
  add(las_new_drop_extended_classifications(drop_extended));
  return true;
}

bool LASfilter::parse(int argc, char* argv[]) {
  LASfilterParse parse(*this);
  for (int i = 1; i < argc; i++) {
    const char* word = argv[i];
    if (word[0] == '\0') continue;
    if (strcmp(word, "-h") == 0 || strcmp(word, "-help") == 0) return true;
    if (strcmp(word, "-hh") == 0) {
      usage();
      return true;
    }
    if (strncmp(word, "-clip_", 6) == 0) {
      refuse_old_name(word);
      return false;
    }
    const LAScriterionOption* row = find_option(word);
    if (row == nullptr) continue;  // another parser's, or nobody's: the tool reports it
    if (las_run_option(*row, parse, i, argc, argv) == LASoptionResult::FAILED) return false;
  }
  return parse.finish();
}

bool LASfilter::parse(const char* text) {
  LASoptionWords words(text);
  return parse(words.argc(), words.argv());
}

// ------------------------------------------------------------------ option text

// The last option word of option text: the last word that begins with '-'
// and a letter (a number may begin with '-').
static std::string last_option_word(const std::string& text) {
  size_t end = text.size();
  while (end > 0) {
    while (end > 0 && text[end - 1] == ' ') end--;
    size_t begin = end;
    while (begin > 0 && text[begin - 1] != ' ') begin--;
    if (begin == end) break;
    if (text[begin] == '-' && end - begin > 1 && isalpha((unsigned char)text[begin + 1])) {
      return text.substr(begin, end - begin);
    }
    end = begin;
  }
  return "";
}

I32 las_set_text(std::string& text, const char* list_option, const char* mask_name, U32 set, U32 bits) {
  const std::string last = last_option_word(text);
  const bool would_merge =
      last == list_option || (last.size() > 1 && last.compare(1, std::string::npos, mask_name) == 0);
  const size_t start = text.size();
  if (set == 0 || would_merge) {
    las_criterion_text(text, mask_name);
    las_option_text_d(text, set);
  } else {
    las_option_text(text, list_option);
    for (U32 k = 0; k < bits; k++) {
      if ((set >> k) & 1) las_option_text_d(text, k);
    }
  }
  return las_criterion_text_size(text, start);
}

// ------------------------------------------------------------------ numbers

bool strToFloatDegPcFail(const char* text, F32* value) {
  std::string number(text);
  const size_t n = number.size();
  F32 divisor = 1.0f;
  if (n >= 2 && (U8)number[n - 2] == 0xC2 && (U8)number[n - 1] == 0xB0) {
    divisor = 360.0f;  // the degree sign as UTF-8 writes it
    number.resize(n - 2);
  } else if (n >= 1) {
    const U8 last = (U8)number[n - 1];
    if (last == 0xB0 || last == 'd' || last == 'D') divisor = 360.0f;
    if (last == 'p' || last == 'P' || last == '%') divisor = 100.0f;
    if (divisor != 1.0f) number.resize(n - 1);
  }
  F32 v;
  if (!las_read_f32(number.c_str(), &v)) return true;
  *value = v / divisor;
  return false;
}

template <typename T>
bool rangeValidate(const char* name, T* min, T* max, T lowest, T highest) {
  if (*min > *max) {
    const T swap = *min;
    *min = *max;
    *max = swap;
  }
  if (lowest > *min) {
    fprintf(stderr, "ERROR: \"%s\" argument falls below minimum(%g < %g)\n", name, (F64)*min, (F64)lowest);
    return false;
  }
  if (*max > highest) {
    fprintf(stderr, "ERROR: \"%s\" argument falls above maximum (%g > %g)\n", name, (F64)*max, (F64)highest);
    return false;
  }
  return true;
}

template bool rangeValidate<F32>(const char*, F32*, F32*, F32, F32);
