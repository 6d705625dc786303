// The ignore rules: option parsing, option text, the number form the layer
// files use, and the per-point verdict.
#include "filters/lasignore.hpp"

#include <cctype>
#include <cstring>

#include "core/laspoint.hpp"
#include "core/lasoption.hpp"

void LASignore::usage() const {
  LASMessage(INFO,
             "Ignore points based on classifications.\n"
             "  -ignore_class 7\n"
             "  -ignore_class 0 1 7 33\n"
             "Ignore points based on return type.\n"
             "  -ignore_first -ignore_first_of_many\n"
             "  -ignore_last -ignore_last_of_many\n"
             "  -ignore_intermediate\n"
             "  -ignore_single\n"
             "Ignore points based on flags.\n"
             "  -ignore_synthetic -ignore_keypoint\n"
             "  -ignore_withheld -ignore_overlap");
}

bool LASignore::parse(int& i, int argc, char* argv[]) {
  const char* option = argv[i];
  if (strcmp(option, "-ignore_class") == 0 || strcmp(option, "-ignore_extended_class") == 0) {
    if ((i + 1) >= argc) {
      laserror("'%s' needs 1 at least argument: classification", option);
      return false;
    }
    // The option is emptied below; its name is still needed for messages.
    const std::string name = option;
    argv[i][0] = '\0';
    do {
      i++;
      // Numbers are read whole: "7,8" or "-1" is no class, not class 7 or a
      // wrapped value.
      U32 classification;
      if (!las_read_u32(argv[i], &classification)) {
        laserror("'%s' needs arguments between 0 and 255 but '%s' is no valid code", name.c_str(), argv[i]);
        return false;
      }
      if (classification > 255) {
        laserror("'%s' needs arguments between 0 and 255 but '%u' is out of range", name.c_str(), classification);
        return false;
      }
      ignore_classification_mask[classification >> 5] |= (1u << (classification & 31));
      ignore_mask |= (1u << (classification >> 5));
      argv[i][0] = '\0';
    } while ((i + 1) < argc && isdigit((unsigned char)argv[i + 1][0]));
    return true;
  }
  if (strcmp(option, "-ignore_class_mask") == 0) {
    if ((i + 1) >= argc) {
      laserror("'%s' needs 1 argument: mask", option);
      return false;
    }
    U32 mask;
    if (!las_read_u32(argv[i + 1], &mask)) {
      laserror("'%s' needs argument between 0x00000000 and 0xFFFFFFFF but '%s' is no valid mask", option, argv[i + 1]);
      return false;
    }
    if (mask == 0 || mask == 0xFFFFFFFF) {
      laserror("'%s' needs argument between 0x00000000 and 0xFFFFFFFF but %u makes no sense", option, mask);
      return false;
    }
    ignore_classification_mask[0] = (U32)mask;
    ignore_mask |= 1u;
    argv[i][0] = '\0';
    argv[i + 1][0] = '\0';
    i++;
    return true;
  }
  static const struct {
    const char* option;
    U32 bits;
  } simple[] = {
      {"-ignore_first_of_many", FIRST_OF_MANY},
      {"-ignore_last_of_many", LAST_OF_MANY},
      {"-ignore_intermediate", INTERMEDIATE},
      {"-ignore_single", SINGLE},
      {"-ignore_first", SINGLE | FIRST_OF_MANY},
      {"-ignore_last", SINGLE | LAST_OF_MANY},
      {"-ignore_synthetic", SYNTHETIC},
      {"-ignore_keypoint", KEYPOINT},
      {"-ignore_withheld", WITHHELD},
      {"-ignore_overlap", OVERLAP},
  };
  for (const auto& entry : simple) {
    if (strcmp(option, entry.option) == 0) {
      ignore_mask |= entry.bits;
      argv[i][0] = '\0';
      return true;
    }
  }
  laserror("cannot understand argument '%s'", option);
  return false;
}

I32 LASignore::unparse(std::string& text) const {
  if (ignore_mask == 0) return 0;
  const size_t start = text.size();
  // Only words marked in use, as the verdict reads them. Rules read from
  // numbers may mark a word that holds no class: an option without a class
  // could not be read back, so none is written.
  std::string classes;
  for (U32 w = 0; w < 8; w++) {
    if (!(ignore_mask & (1u << w))) continue;
    for (U32 b = 0; b < 32; b++) {
      if (ignore_classification_mask[w] & (1u << b)) classes += std::to_string(32 * w + b) + " ";
    }
  }
  if (!classes.empty()) text += "-ignore_class " + classes;
  if (ignore_mask & SINGLE) {
    if (ignore_mask & FIRST_OF_MANY) text += "-ignore_first ";
    if (ignore_mask & LAST_OF_MANY) text += "-ignore_last ";
    if (!(ignore_mask & (FIRST_OF_MANY | LAST_OF_MANY))) text += "-ignore_single ";
  } else {
    if (ignore_mask & FIRST_OF_MANY) text += "-ignore_first_of_many ";
    if (ignore_mask & LAST_OF_MANY) text += "-ignore_last_of_many ";
  }
  if (ignore_mask & INTERMEDIATE) text += "-ignore_intermediate ";
  if (ignore_mask & SYNTHETIC) text += "-ignore_synthetic ";
  if (ignore_mask & KEYPOINT) text += "-ignore_keypoint ";
  if (ignore_mask & WITHHELD) text += "-ignore_withheld ";
  if (ignore_mask & OVERLAP) text += "-ignore_overlap ";
  return (I32)(text.size() - start);
}

// A stored value as a 32-bit word; false for anything a word cannot hold
// (negative, too large, not a number), where the cast would be undefined.
static bool word_of(F64 value, U32* word) {
  if (!(value >= 0.0 && value <= 4294967295.0)) return false;
  *word = (U32)value;
  return true;
}

bool LASignore::parse(U32 start, U32 count, const F64* values) {
  if (start == count) return true;
  if (count < start) return false;
  U32 mask;
  if (!word_of(values[start], &mask)) return false;
  ignore_mask = mask;
  U32 next = start + 1;
  for (U32 w = 0; w < 8; w++) {
    if (!(ignore_mask & (1u << w))) continue;
    if (next >= count) return false;
    if (!word_of(values[next], &ignore_classification_mask[w])) return false;
    next++;
  }
  return true;
}

void LASignore::unparse(U32& index, F64* values) const {
  if (ignore_mask == 0) return;
  values[index++] = (F64)ignore_mask;
  for (U32 w = 0; w < 8; w++) {
    if (ignore_mask & (1u << w)) values[index++] = (F64)ignore_classification_mask[w];
  }
}

bool LASignore::ignore(const LASpoint* point) const {
  if (ignore_mask == 0) return false;
  if (ignore_mask & CLASS_WORDS) {
    const U32 classification =
        point->get_extended_layout() ? point->get_extended_classification() : point->get_classification();
    // Only words marked in use count, so stale words can never ignore a point.
    const U32 word = classification >> 5;
    if ((ignore_mask & (1u << word)) && (ignore_classification_mask[word] & (1u << (classification & 31)))) return true;
  }
  if (ignore_mask & (FIRST_OF_MANY | LAST_OF_MANY | INTERMEDIATE | SINGLE)) {
    const U32 rn = point->get_return_number();
    const U32 nr = point->get_number_of_returns();
    if ((ignore_mask & SINGLE) && nr <= 1) return true;
    if ((ignore_mask & FIRST_OF_MANY) && nr > 1 && rn <= 1) return true;
    if ((ignore_mask & LAST_OF_MANY) && nr > 1 && rn >= nr) return true;
    if ((ignore_mask & INTERMEDIATE) && rn > 1 && rn < nr) return true;
  }
  if ((ignore_mask & SYNTHETIC) && point->get_synthetic_flag()) return true;
  if ((ignore_mask & KEYPOINT) && point->get_keypoint_flag()) return true;
  if ((ignore_mask & WITHHELD) && point->get_withheld_flag()) return true;
  if ((ignore_mask & OVERLAP) && point->get_extended_overlap_flag()) return true;
  return false;
}
