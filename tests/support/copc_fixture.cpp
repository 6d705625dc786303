// The COPC file generator and the brute-force expectations (see the header).
#include "support/copc_fixture.hpp"

#include <algorithm>
#include <map>
#include <stdexcept>

namespace copcfix {

namespace {

constexpr double kScale = 1.0 / 128;
constexpr uint8_t kFormat = 6;
constexpr size_t kEntrySize = 32;
constexpr size_t kEvlrHeaderSize = 60;

// A seeded generator of our own, so that the files do not depend on the
// standard library's distributions.
class SplitMix {
 public:
  explicit SplitMix(uint64_t seed) : state(seed) {}
  uint64_t next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }
  double unit() { return (double)(next() >> 11) / (double)(1ull << 53); }

 private:
  uint64_t state;
};

int32_t pick_level(const Recipe& recipe, SplitMix& random, uint32_t index) {
  if ((int64_t)index <= recipe.max_level) return (int32_t)index;
  double total = 0, weight = 1;
  for (int32_t l = 0; l <= recipe.max_level; l++, weight *= recipe.level_growth) total += weight;
  double pick = random.unit() * total;
  weight = 1;
  for (int32_t l = 0; l < recipe.max_level; l++, weight *= recipe.level_growth) {
    if (pick < weight) return l;
    pick -= weight;
  }
  return recipe.max_level;
}

Key parent(const Key& k) { return {k.level - 1, k.x >> 1, k.y >> 1, k.z >> 1}; }

double cells(int32_t level) { return (double)(1ull << level); }

bool spatial_before(const Key& a, const Key& b) {
  const double ax = a.x / cells(a.level), bx = b.x / cells(b.level);
  if (ax != bx) return ax < bx;
  const double ay = a.y / cells(a.level), by = b.y / cells(b.level);
  if (ay != by) return ay < by;
  if (a.level != b.level) return a.level < b.level;
  return a.z / cells(a.level) < b.z / cells(b.level);
}

void put_entry(std::string& payload, size_t at, const Entry& e) {
  lasfix::put_u32(payload, at, (uint32_t)e.key.level);
  lasfix::put_u32(payload, at + 4, (uint32_t)e.key.x);
  lasfix::put_u32(payload, at + 8, (uint32_t)e.key.y);
  lasfix::put_u32(payload, at + 12, (uint32_t)e.key.z);
  lasfix::put_u64(payload, at + 16, e.offset);
  lasfix::put_u32(payload, at + 24, (uint32_t)e.byte_size);
  lasfix::put_u32(payload, at + 28, (uint32_t)e.point_count);
}

std::string info_payload(const Recipe& recipe, uint64_t root_offset, uint64_t root_size, double gps_min, double gps_max) {
  std::string payload(160, '\0');
  lasfix::put_f64(payload, 0, recipe.center_x);
  lasfix::put_f64(payload, 8, recipe.center_y);
  lasfix::put_f64(payload, 16, recipe.center_z);
  lasfix::put_f64(payload, 24, recipe.halfsize);
  lasfix::put_f64(payload, 32, recipe.spacing);
  lasfix::put_u64(payload, 40, root_offset);
  lasfix::put_u64(payload, 48, root_size);
  lasfix::put_f64(payload, 56, gps_min);
  lasfix::put_f64(payload, 64, gps_max);
  return payload;
}

// The points with their octants, grouped octant by octant in file order.
void place_points(CopcFile& f) {
  const Recipe& recipe = f.recipe;
  SplitMix random(recipe.seed);
  const int64_t side = (int64_t)(2 * recipe.halfsize / kScale);  // the cube in raw units
  std::map<Key, std::vector<lasfix::Point>> by_octant;
  for (uint32_t i = 0; i < recipe.point_count; i++) {
    lasfix::Point p = lasfix::varied_point(kFormat, i);
    p.X = (int32_t)random.below((uint64_t)side);
    p.Y = (int32_t)random.below((uint64_t)side);
    p.Z = (int32_t)random.below(std::max<uint64_t>(1, (uint64_t)(side * recipe.z_fraction)));
    const int32_t level = pick_level(recipe, random, i);
    const Key key{level, (int32_t)(((int64_t)p.X << level) / side), (int32_t)(((int64_t)p.Y << level) / side),
                  (int32_t)(((int64_t)p.Z << level) / side)};
    by_octant[key].push_back(p);
  }
  std::vector<Key> filled;
  for (const auto& [key, points] : by_octant) filled.push_back(key);
  if (recipe.shuffle_octants) {
    for (size_t i = filled.size(); i > 1; i--) std::swap(filled[i - 1], filled[random.below(i)]);
  }
  for (const Key& key : filled) {
    std::vector<lasfix::Point>& points = by_octant[key];
    f.octants.push_back({key, f.file.points.size(), points.size(), 0});
    for (lasfix::Point& p : points) {
      f.file.points.push_back(std::move(p));
      f.point_keys.push_back(key);
    }
    points.clear();
    points.shrink_to_fit();
  }
  // Ancestors without points of their own keep the tree connected.
  std::map<Key, bool> known;
  for (const Octant& o : f.octants) known[o.key] = true;
  for (size_t i = 0, n = f.octants.size(); i < n; i++) {
    for (Key k = f.octants[i].key; k.level > 0;) {
      k = parent(k);
      if (known[k]) break;
      known[k] = true;
      f.octants.push_back({k, 0, 0, 0});
    }
  }
}

bool starts_page(const Recipe& recipe, const Key& key) {
  return key.level > 0 && std::find(recipe.page_levels.begin(), recipe.page_levels.end(), key.level) != recipe.page_levels.end();
}

// The key of the page an octant's entry goes to: its nearest ancestor (or
// itself) that starts a page; the root page has the key of the root.
Key page_of(const Recipe& recipe, Key key) {
  while (key.level > 0 && !starts_page(recipe, key)) key = parent(key);
  return key;
}

// Lays out the pages (root first, then by key) with their entries; offsets of
// pages and octants need the positions of the payload and the points.
void lay_out_pages(CopcFile& f, uint64_t point_data_position, uint16_t record_length) {
  const Recipe& recipe = f.recipe;
  std::map<Key, std::vector<Entry>> pages;
  pages[Key{}];
  for (Octant& o : f.octants) {
    if (o.point_count > 0) o.offset = point_data_position + o.first_point * record_length;
    pages[page_of(recipe, o.key)].push_back(
        {o.key, o.offset, (int32_t)(o.point_count * record_length), (int32_t)o.point_count, 0});
  }
  // A page is named by a pointer in the page of its key's parent.
  std::map<Key, std::vector<Key>> children;
  for (const auto& [key, entries] : pages) {
    if (key.level > 0) children[page_of(recipe, parent(key))].push_back(key);
  }
  std::map<Key, size_t> size_of;
  for (const auto& [key, entries] : pages) size_of[key] = (entries.size() + children[key].size()) * kEntrySize;
  std::map<Key, uint64_t> offset_of;
  uint64_t at = f.hierarchy_position;
  for (const auto& [key, entries] : pages) {
    offset_of[key] = at;
    at += size_of[key];
  }
  for (auto& [key, entries] : pages) {
    for (const Key& child : children[key]) entries.push_back({child, offset_of[child], (int32_t)size_of[child], -1, 0});
    Page page{offset_of[key], size_of[key], entries};
    for (size_t i = 0; i < page.entries.size(); i++) page.entries[i].position = page.offset + i * kEntrySize;
    f.pages.push_back(page);
  }
}

}  // namespace

CopcFile make_copc(const Recipe& recipe) {
  if (recipe.max_level < 0 || recipe.max_level > 20 || (uint32_t)recipe.max_level >= recipe.point_count)
    throw std::runtime_error("copcfix: max_level must lie in 0..20 and below the point count");
  CopcFile f;
  f.recipe = recipe;
  lasfix::Header& h = f.file.header;
  h.version_minor = 4;
  h.point_data_format = kFormat;
  h.x_scale_factor = h.y_scale_factor = h.z_scale_factor = kScale;
  h.x_offset = recipe.center_x - recipe.halfsize;
  h.y_offset = recipe.center_y - recipe.halfsize;
  h.z_offset = recipe.center_z - recipe.halfsize;
  f.file.vlrs.push_back({"copc", 1, std::string(160, '\0'), "copc info"});
  f.file.evlrs.push_back({"copc", 1000, "", "EPT hierarchy"});

  // Where the points start does not depend on them.
  const lasfix::Built empty = f.file.build();
  place_points(f);
  const uint16_t record_length = empty.record_length;
  f.hierarchy_position = empty.point_data_position + f.file.points.size() * record_length + kEvlrHeaderSize;
  lay_out_pages(f, empty.point_data_position, record_length);

  std::string payload;
  for (const Page& page : f.pages) {
    for (const Entry& e : page.entries) put_entry(payload, e.position - f.hierarchy_position, e);
  }
  double gps_min = 0, gps_max = 0;
  for (size_t i = 0; i < f.file.points.size(); i++) {
    const double t = f.file.points[i].gps_time;
    if (i == 0 || t < gps_min) gps_min = t;
    if (i == 0 || t > gps_max) gps_max = t;
  }
  f.file.vlrs[0].payload = info_payload(recipe, f.pages[0].offset, f.pages[0].size, gps_min, gps_max);
  f.file.evlrs[0].payload = payload;
  f.built = f.file.build();
  if (f.built.evlr_positions.size() != 1 || f.built.evlr_positions[0] + kEvlrHeaderSize != f.hierarchy_position)
    throw std::runtime_error("copcfix: the hierarchy did not land where it was laid out");
  return f;
}

double world_x(const CopcFile& f, const lasfix::Point& p) {
  return p.X * f.file.header.x_scale_factor + f.file.header.x_offset;
}
double world_y(const CopcFile& f, const lasfix::Point& p) {
  return p.Y * f.file.header.y_scale_factor + f.file.header.y_offset;
}

bool Area::contains(double x, double y) const {
  switch (kind) {
    case rectangle:
      return a <= x && x < c && b <= y && y < d;
    case circle:
      return (a - x) * (a - x) + (b - y) * (b - y) < c * c;
    case tile: {
      const float ll_x = (float)a, ll_y = (float)b, size = (float)c;
      const float ur_x = ll_x + size, ur_y = ll_y + size;
      return ll_x <= x && x < ur_x && ll_y <= y && y < ur_y;
    }
  }
  return false;
}

std::vector<size_t> expected_read(const CopcFile& f, Order order, int32_t max_depth, const std::optional<Area>& area) {
  std::vector<const Octant*> chosen;
  for (const Octant& o : f.octants) {
    if (o.point_count > 0 && o.key.level <= max_depth) chosen.push_back(&o);
  }
  std::sort(chosen.begin(), chosen.end(), [order](const Octant* a, const Octant* b) {
    switch (order) {
      case Order::file:
        return a->offset < b->offset;
      case Order::depth:
        return a->key < b->key;
      case Order::spatial:
        return spatial_before(a->key, b->key);
    }
    return false;
  });
  std::vector<size_t> indices;
  for (const Octant* o : chosen) {
    for (size_t i = o->first_point; i < o->first_point + o->point_count; i++) {
      const lasfix::Point& p = f.file.points[i];
      if (!area || area->contains(world_x(f, p), world_y(f, p))) indices.push_back(i);
    }
  }
  return indices;
}

int32_t deepest_level(const CopcFile& f) {
  int32_t deepest = 0;
  for (const Octant& o : f.octants) {
    if (o.point_count > 0) deepest = std::max(deepest, o.key.level);
  }
  return deepest;
}

int32_t depth_for_resolution(const CopcFile& f, double resolution) {
  const int32_t deepest = deepest_level(f);
  for (int32_t level = 0; level <= deepest; level++) {
    if (f.recipe.spacing / cells(level) <= resolution) return level;
  }
  return deepest;
}

}  // namespace copcfix
