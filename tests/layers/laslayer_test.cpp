// Where the layer file of a point file lies.
#include <gtest/gtest.h>

#include "layers/laslayer.hpp"

TEST(LayerFileName, ExtensionReplacedOrPlacedInTheDirectory) {
  const struct {
    const char* input;
    const char* directory;
    const char* expected;
  } cases[] = {
      {"a.las", nullptr, "a.lay"},
      {"data/a.b.vmb", nullptr, "data/a.b.lay"},
      {"data.v1/a", nullptr, "data.v1/a.lay"},  // a dot in the directory is no extension
      {"data/a.las", "layers", "layers/a.lay"},
      {"a.las", "layers", "layers/a.lay"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(las_layer_file_name(c.input, c.directory), c.expected) << c.input;
  }
}
