// Anchors the writer interface's virtual table in one unit.
#include "core/laswriter.hpp"

LASwriter::~LASwriter() {}
