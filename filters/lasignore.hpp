// The ignore rules of a tool: classes, return types and flags of points that
// the tool passes through untouched. Unlike the filter, which removes points
// from the stream, an ignored point is still read and written; the tool only
// keeps it out of its own work. Layers of layer files carry their rules as this
// plain base and exchange them as numbers (the number forms of parse/unparse).
#pragma once

#include <string>

#include "core/mydefs.hpp"

class LASpoint;

class LASignore {
 public:
  // Bits of `ignore_mask`; bits 0 to 7 say which words of
  // `ignore_classification_mask` hold classes.
  static constexpr U32 CLASS_WORDS = 0x000000FF;
  static constexpr U32 FIRST_OF_MANY = 0x00000100;
  static constexpr U32 LAST_OF_MANY = 0x00000200;
  static constexpr U32 INTERMEDIATE = 0x00000400;
  static constexpr U32 SINGLE = 0x00000800;
  static constexpr U32 SYNTHETIC = 0x00001000;
  static constexpr U32 KEYPOINT = 0x00002000;
  static constexpr U32 WITHHELD = 0x00004000;
  static constexpr U32 OVERLAP = 0x00008000;

  U32 ignore_mask = 0;
  // Class k is bit (k mod 32) of word (k div 32).
  U32 ignore_classification_mask[8] = {0, 0, 0, 0, 0, 0, 0, 0};

  LASignore() = default;

  // The help text of the ignore options, as one INFO message.
  void usage() const;
  // Takes the one "-ignore_" option at argv[i] with its values, empties them
  // and leaves i on the last argument consumed. False after a reported ERROR.
  bool parse(int& i, int argc, char* argv[]);
  // Appends the active rules as option text (each option and value followed by
  // one blank); returns the number of characters appended, 0 without rules.
  I32 unparse(std::string& text) const;
  // Reads the rules from values[start] onwards: the flag word, then one class
  // word per class-word bit. True without change when start equals count;
  // false for a start beyond count, a value out of the 32-bit range or too few
  // values (what was read before stays).
  bool parse(U32 start, U32 count, const F64* values);
  // Appends the flag word and the used class words at values[index], advancing
  // index; nothing without rules.
  void unparse(U32& index, F64* values) const;
  // True when the rules name the point (as it was read).
  bool ignore(const LASpoint* point) const;
};
