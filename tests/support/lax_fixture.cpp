#include "support/lax_fixture.hpp"

#include <cstring>
#include <stdexcept>

namespace laxfix {

namespace {

void put_u32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; i++) out.push_back((char)((v >> (8 * i)) & 0xFF));
}
void put_f32(std::string& out, float f) {
  uint32_t v;
  memcpy(&v, &f, 4);
  put_u32(out, v);
}
void put_signature(std::string& out, const std::string& s) {
  std::string four = s.substr(0, 4);
  four.resize(4, '\0');
  out += four;
}
uint32_t level_start(uint32_t level) { return (uint32_t)(((1ull << (2 * level)) - 1) / 3); }

}  // namespace

std::string Lax::bytes() const {
  std::string out;
  put_signature(out, signature);
  put_u32(out, version);
  put_signature(out, spatial_signature);
  put_u32(out, spatial_type);
  if (with_lasq) {
    put_signature(out, "LASQ");
    put_u32(out, quadtree_version);
  }
  put_u32(out, levels);
  put_u32(out, level_index);
  put_u32(out, implicit_levels);
  put_f32(out, min_x);
  put_f32(out, max_x);
  put_f32(out, min_y);
  put_f32(out, max_y);
  put_signature(out, interval_signature);
  put_u32(out, interval_version);
  put_u32(out, number_of_cells ? *number_of_cells : (uint32_t)cells.size());
  for (const Cell& c : cells) {
    put_u32(out, (uint32_t)c.index);
    put_u32(out, (uint32_t)c.runs.size());
    uint32_t covered = 0;
    for (const auto& r : c.runs) covered += r.second - r.first + 1;
    put_u32(out, c.point_count ? *c.point_count : covered);
    for (const auto& r : c.runs) {
      put_u32(out, r.first);
      put_u32(out, r.second);
    }
  }
  return out;
}

static uint32_t local_cell_of(double x, double y, uint32_t levels, float min_x, float max_x, float min_y, float max_y) {
  uint32_t local = 0;
  for (uint32_t l = 0; l < levels; l++) {
    const float mid_x = (min_x + max_x) * 0.5f;
    const float mid_y = (min_y + max_y) * 0.5f;
    uint32_t q = 0;
    if (x >= (double)mid_x) {
      q |= 1;
      min_x = mid_x;
    } else {
      max_x = mid_x;
    }
    if (y >= (double)mid_y) {
      q |= 2;
      min_y = mid_y;
    } else {
      max_y = mid_y;
    }
    local = 4 * local + q;
  }
  return local;
}

uint32_t cell_of(double x, double y, uint32_t levels, float min_x, float max_x, float min_y, float max_y) {
  return level_start(levels) + local_cell_of(x, y, levels, min_x, max_x, min_y, max_y);
}

Builder::Builder(uint32_t levels, float min_x, float max_x, float min_y, float max_y) {
  if (levels > 12) throw std::invalid_argument("laxfix::Builder: at most 12 levels");
  lax.levels = levels;
  lax.min_x = min_x;
  lax.max_x = max_x;
  lax.min_y = min_y;
  lax.max_y = max_y;
  slot_of.assign((size_t)1 << (2 * levels), -1);
}

void Builder::add(double x, double y) {
  const uint32_t local = local_cell_of(x, y, lax.levels, lax.min_x, lax.max_x, lax.min_y, lax.max_y);
  int64_t& slot = slot_of[local];
  if (slot < 0) {
    slot = (int64_t)lax.cells.size();
    lax.cells.push_back({(int32_t)(level_start(lax.levels) + local), {}, std::nullopt});
  }
  auto& runs = lax.cells[(size_t)slot].runs;
  if (!runs.empty() && runs.back().second + 1 == next_point) {
    runs.back().second = next_point;
  } else {
    runs.push_back({next_point, next_point});
  }
  next_point++;
}

Lax Builder::finish() const { return lax; }

Lax index_points(const std::vector<std::pair<double, double>>& xy, uint32_t levels, float min_x, float max_x,
                 float min_y, float max_y) {
  Builder builder(levels, min_x, max_x, min_y, max_y);
  for (const auto& p : xy) builder.add(p.first, p.second);
  return builder.finish();
}

}  // namespace laxfix
