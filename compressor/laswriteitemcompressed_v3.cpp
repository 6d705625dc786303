// The layered POINT14 writer (see laswriteitemcompressed_v3.hpp).
#include "compressor/laswriteitemcompressed_v3.hpp"

#include "compressor/laswriteitemraw.hpp"

namespace {

constexpr I64 FIRST_STREAM_BYTES = 4096;

// The point as the reader of the chunk will hold it: the raw first point of
// a chunk goes through the POINT14 record, so every point does, and legacy
// and extended fields that disagree in memory cannot make the two sides
// choose different models.
void as_read_back(Point14Block& block, const U8* item) {
  memcpy(&block, item, sizeof(block));
  point14_as_read_back((U8*)&block, item);
}

}  // namespace

bool LASwriteItemCompressed_POINT14_v3::init(const U8* item, U32& context) {
  if (!streams[0]) {
    for (U32 s = 0; s < POINT14_STREAMS; s++) {
      if (Endian::IS_LITTLE_ENDIAN)
        streams[s] = std::make_unique<ByteStreamOutArrayLE>(FIRST_STREAM_BYTES);
      else
        streams[s] = std::make_unique<ByteStreamOutArrayBE>(FIRST_STREAM_BYTES);
      encoders[s] = std::make_unique<ArithmeticEncoder>();
      coders[s] = encoders[s].get();
    }
  }
  for (U32 s = 0; s < POINT14_STREAMS; s++) {
    streams[s]->seek(0);
    if (!encoders[s]->init(streams[s].get())) return false;
    changed[s] = false;
  }
  for (auto& channel : channels) channel.in_use = false;
  Point14Block first;
  as_read_back(first, item);
  current_channel = first.channel();
  context = current_channel;
  channels[current_channel].seed(coders, first);
  return true;
}

bool LASwriteItemCompressed_POINT14_v3::write(const U8* raw, U32& context) {
  Point14Block item;
  as_read_back(item, raw);

  Point14Channel<ArithmeticEncoder>* state = &channels[current_channel];
  const U32 p = previous_kind(state->last);
  const U32 k = item.channel();
  // A channel met before in this chunk predicts from its own last point; any
  // other point from the point before it.
  const Point14Block& before = (k != current_channel && channels[k].in_use) ? channels[k].last : state->last;

  const U32 n = item.returns(), r = item.return_number();
  const U32 n_before = before.returns(), r_before = before.return_number();
  const bool t = item.gps_time != before.gps_time;  // as doubles: -0.0 equals 0.0, NaN differs

  U32 mask = 0;
  if (k != current_channel) mask |= point14_mask::CHANNEL;
  if (item.point_source_ID != before.point_source_ID) mask |= point14_mask::POINT_SOURCE;
  if (t) mask |= point14_mask::TIME;
  if (item.extended_scan_angle != before.extended_scan_angle) mask |= point14_mask::SCAN_ANGLE;
  if (n != n_before) mask |= point14_mask::RETURNS;
  if (r != r_before) {
    if (r == ((r_before + 1) & 15))
      mask |= 1;
    else if (r == ((r_before + 15) & 15))
      mask |= 2;
    else
      mask |= 3;
  }
  coders[STREAM_XY]->encodeSymbol(state->changed_fields_models[p].get(), mask);

  if (mask & point14_mask::CHANNEL) {
    coders[STREAM_XY]->encodeSymbol(state->channel_model.get(), (k + 3 - current_channel) & 3);
    if (!channels[k].in_use) channels[k].seed(coders, state->last);
    current_channel = k;
    context = k;
  } else if (context_on_every_point) {
    context = current_channel;
  }

  Point14Channel<ArithmeticEncoder>& s = channels[current_channel];
  const Point14Block& q = s.last;
  ArithmeticEncoder* xy = coders[STREAM_XY];
  if (mask & point14_mask::RETURNS) xy->encodeSymbol(s.per_value(s.return_count_models, n_before, xy, 16), n);
  if ((mask & point14_mask::RETURN_NUMBER) == 3) {
    if (t) {
      xy->encodeSymbol(s.per_value(s.return_number_models, r_before, xy, 16), r);
    } else {
      const I32 step = (I32)r - (I32)r_before;
      xy->encodeSymbol(s.return_step_model.get(), (U32)(step > 1 ? step - 2 : step + 14));
    }
  }

  const U32 m = number_return_map_6ctx[n * 16 + r];
  const U32 l = number_return_level_8ctx[n * 16 + r];
  const U32 e = return_kind(n, r);
  const U32 slot = median_slot(m, t);

  const I32 dx = (I32)((U32)item.X - (U32)q.X);
  s.dx_coder->compress(s.dx_medians[slot].median(), dx, dx_context(n));
  s.dx_medians[slot].insert(dx);
  const U32 x_class = s.dx_coder->getLastClass();
  const I32 dy = (I32)((U32)item.Y - (U32)q.Y);
  s.dy_coder->compress(s.dy_medians[slot].median(), dy, dy_context(n, x_class));
  s.dy_medians[slot].insert(dy);
  const U32 xy_class = x_class + s.dy_coder->getLastClass();
  s.z_coder->compress(s.z_by_level[l], item.Z, z_context(n, xy_class));
  s.z_by_level[l] = item.Z;

  ArithmeticEncoder* c = coders[STREAM_CLASSIFICATION];
  if (item.extended_classification != q.extended_classification) changed[STREAM_CLASSIFICATION] = true;
  c->encodeSymbol(s.per_value(s.classification_models, 2 * (q.class_byte & 31) + (e == 3 ? 1 : 0), c, 256),
                  item.extended_classification);

  c = coders[STREAM_FLAGS];
  if (item.flags() != q.flags()) changed[STREAM_FLAGS] = true;
  c->encodeSymbol(s.per_value(s.flags_models, q.flags(), c, 64), item.flags());

  if (item.intensity != q.intensity) changed[STREAM_INTENSITY] = true;
  s.intensity_coder->compress(s.intensity_by_kind[2 * e + t], item.intensity, e);
  s.intensity_by_kind[2 * e + t] = item.intensity;

  if (mask & point14_mask::SCAN_ANGLE) {
    changed[STREAM_SCAN_ANGLE] = true;
    s.scan_angle_coder->compress(q.extended_scan_angle, item.extended_scan_angle, t);
  }

  c = coders[STREAM_USER_DATA];
  if (item.user_data != q.user_data) changed[STREAM_USER_DATA] = true;
  c->encodeSymbol(s.per_value(s.user_data_models, q.user_data / 4, c, 256), item.user_data);

  if (mask & point14_mask::POINT_SOURCE) {
    changed[STREAM_POINT_SOURCE] = true;
    s.point_source_coder->compress(q.point_source_ID, item.point_source_ID, 0);
  }

  if (t) {
    changed[STREAM_GPS_TIME] = true;
    s.gps->write(item.time_bits());
  }

  s.last = item;
  s.last.time_change_flag = t;
  return true;
}

// Streams 0 and 1 always count; a later stream only when some point of the
// chunk differed in its field (its code is not stored otherwise).
U32 LASwriteItemCompressed_POINT14_v3::stream_bytes(U32 stream) const {
  if (stream > STREAM_Z && !changed[stream]) return 0;
  return (U32)streams[stream]->getCurr();
}

bool LASwriteItemCompressed_POINT14_v3::chunk_sizes() {
  ByteStreamOut* out = enc->getByteStreamOut();
  if (!out || !streams[0]) return false;
  for (U32 s = 0; s < POINT14_STREAMS; s++)
    if (s <= STREAM_Z || changed[s]) encoders[s]->done();
  for (U32 s = 0; s < POINT14_STREAMS; s++) {
    // A stream that could not grow has lost its bytes: the chunk cannot be read.
    if (streams[s]->getData() == nullptr) return false;
    const U32 bytes = stream_bytes(s);
    if (!out->put32bitsLE((const U8*)&bytes)) return false;
  }
  return true;
}

bool LASwriteItemCompressed_POINT14_v3::chunk_bytes() {
  ByteStreamOut* out = enc->getByteStreamOut();
  if (!out || !streams[0]) return false;
  for (U32 s = 0; s < POINT14_STREAMS; s++) {
    const U32 bytes = stream_bytes(s);
    if (bytes && !out->putBytes(streams[s]->getData(), bytes)) return false;
  }
  return true;
}
