// The layered POINT14 reader (see lasreaditemcompressed_v3.hpp).
#include "compressor/lasreaditemcompressed_v3.hpp"

#include "compressor/laslayeredstreams.hpp"

LASreadItemCompressed_POINT14_v3::LASreadItemCompressed_POINT14_v3(ArithmeticDecoder* dec, U32 decompress_selective)
    : dec(dec) {
  for (U32 s = STREAM_Z; s < POINT14_STREAMS; s++) requested[s] = (decompress_selective >> (s - 1)) & 1;
}

bool LASreadItemCompressed_POINT14_v3::chunk_sizes() {
  return read_stream_sizes(dec->getByteStreamIn(), bytes, POINT14_STREAMS);
}

bool LASreadItemCompressed_POINT14_v3::init(const U8* item, U32& context) {
  ByteStreamIn* in = dec->getByteStreamIn();
  if (!in) return false;
  if (!streams[0]) {
    for (U32 s = 0; s < POINT14_STREAMS; s++) {
      if (Endian::IS_LITTLE_ENDIAN)
        streams[s] = std::make_unique<ByteStreamInArrayLE>();
      else
        streams[s] = std::make_unique<ByteStreamInArrayBE>();
      decoders[s] = std::make_unique<ArithmeticDecoder>();
      coders[s] = decoders[s].get();
    }
  }

  bool wanted[POINT14_STREAMS];
  for (U32 s = 0; s < POINT14_STREAMS; s++) wanted[s] = (s == STREAM_XY) || requested[s];
  U64 starts[POINT14_STREAMS] = {};
  fetch_streams(in, bytes, wanted, POINT14_STREAMS, buffer, starts);
  for (U32 s = 0; s < POINT14_STREAMS; s++) {
    changed[s] = false;
    if (s != STREAM_XY && !requested[s]) continue;
    streams[s]->init(bytes[s] ? buffer.data() + starts[s] : nullptr, bytes[s]);
    // An empty stream 0 leaves the decoder without its start bytes: that
    // throws the end of data, as a truncated chunk does.
    if (s == STREAM_XY || bytes[s] > 0) {
      decoders[s]->init(streams[s].get(), true);
      changed[s] = true;
    }
  }

  for (auto& channel : channels) channel.in_use = false;
  Point14Block first;
  memcpy(&first, item, sizeof(first));
  current_channel = first.channel();
  context = current_channel;
  channels[current_channel].seed(coders, first);
  return true;
}

void LASreadItemCompressed_POINT14_v3::read(U8* item, U32& context) {
  ArithmeticDecoder* xy = coders[STREAM_XY];
  Point14Channel<ArithmeticDecoder>* state = &channels[current_channel];
  const U32 mask = xy->decodeSymbol(state->changed_fields_models[previous_kind(state->last)].get());
  if (mask & point14_mask::CHANNEL) {
    const U32 k = (current_channel + xy->decodeSymbol(state->channel_model.get()) + 1) & 3;
    if (!channels[k].in_use) channels[k].seed(coders, state->last);
    current_channel = k;
    Point14Block& last = channels[k].last;
    last.extended_flags_byte = (U8)((last.extended_flags_byte & ~LASpoint::EXTENDED_SCANNER_CHANNEL_MASK) | (k << 2));
    context = k;
  } else if (context_on_every_point) {
    context = current_channel;
  }

  Point14Channel<ArithmeticDecoder>& s = channels[current_channel];
  Point14Block& q = s.last;
  const U32 t = (mask & point14_mask::TIME) ? 1 : 0;
  U32 n = q.returns(), r = q.return_number();
  if (mask & point14_mask::RETURNS) n = xy->decodeSymbol(s.per_value(s.return_count_models, n, xy, 16));
  switch (mask & point14_mask::RETURN_NUMBER) {
    case 1:
      r = (r + 1) & 15;
      break;
    case 2:
      r = (r + 15) & 15;
      break;
    case 3:
      if (t)
        r = xy->decodeSymbol(s.per_value(s.return_number_models, r, xy, 16));
      else
        r = (r + xy->decodeSymbol(s.return_step_model.get()) + 2) & 15;
      break;
  }
  q.extended_return_byte = (U8)((n << 4) | r);
  set_legacy_returns(q, n, r);

  const U32 m = number_return_map_6ctx[n * 16 + r];
  const U32 l = number_return_level_8ctx[n * 16 + r];
  const U32 e = return_kind(n, r);
  const U32 slot = median_slot(m, t);

  const I32 dx = s.dx_coder->decompress(s.dx_medians[slot].median(), dx_context(n));
  q.X = (I32)((U32)q.X + (U32)dx);
  s.dx_medians[slot].insert(dx);
  const U32 x_class = s.dx_coder->getLastClass();
  const I32 dy = s.dy_coder->decompress(s.dy_medians[slot].median(), dy_context(n, x_class));
  q.Y = (I32)((U32)q.Y + (U32)dy);
  s.dy_medians[slot].insert(dy);

  if (changed[STREAM_Z]) {
    const U32 xy_class = x_class + s.dy_coder->getLastClass();
    q.Z = s.z_coder->decompress(s.z_by_level[l], z_context(n, xy_class));
    s.z_by_level[l] = q.Z;
  }
  if (changed[STREAM_CLASSIFICATION]) {
    ArithmeticDecoder* c = coders[STREAM_CLASSIFICATION];
    q.extended_classification =
        (U8)c->decodeSymbol(s.per_value(s.classification_models, 2 * (q.class_byte & 31) + (e == 3 ? 1 : 0), c, 256));
    set_legacy_classification(q);
  }
  if (changed[STREAM_FLAGS]) {
    ArithmeticDecoder* c = coders[STREAM_FLAGS];
    const U32 f = c->decodeSymbol(s.per_value(s.flags_models, q.flags(), c, 64));
    q.return_byte = (U8)((q.return_byte & 0x3F) | (((f >> 4) & 1) << 6) | (((f >> 5) & 1) << 7));
    q.extended_flags_byte = (U8)((q.extended_flags_byte & 0x0F) | ((f & 15) << 4));
    q.class_byte = (U8)((q.class_byte & 0x1F) | ((f & 7) << 5));
  }
  if (changed[STREAM_INTENSITY]) {
    q.intensity = (U16)s.intensity_coder->decompress(s.intensity_by_kind[2 * e + t], e);
    s.intensity_by_kind[2 * e + t] = q.intensity;
  }
  if (changed[STREAM_SCAN_ANGLE] && (mask & point14_mask::SCAN_ANGLE)) {
    q.extended_scan_angle = (I16)s.scan_angle_coder->decompress(q.extended_scan_angle, t);
    q.scan_angle_rank = scan_angle_rank_of_extended(q.extended_scan_angle);
  }
  if (changed[STREAM_USER_DATA]) {
    ArithmeticDecoder* c = coders[STREAM_USER_DATA];
    q.user_data = (U8)c->decodeSymbol(s.per_value(s.user_data_models, q.user_data / 4, c, 256));
  }
  if (changed[STREAM_POINT_SOURCE] && (mask & point14_mask::POINT_SOURCE))
    q.point_source_ID = (U16)s.point_source_coder->decompress(q.point_source_ID, 0);
  if (changed[STREAM_GPS_TIME] && t) {
    const U64 time = s.gps->read();
    memcpy(&q.gps_time, &time, sizeof(time));
  }

  memcpy(item, &q, sizeof(q));
  q.time_change_flag = (U8)t;
}
