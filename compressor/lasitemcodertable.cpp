// The table of compressed item coders (see lasitemcodertable.hpp). A new coder
// joins with one row per version it serves.
#include "compressor/lasitemcodertable.hpp"

#include "compressor/lasreaditemcompressed_layered.hpp"
#include "compressor/lasreaditemcompressed_v1.hpp"
#include "compressor/lasreaditemcompressed_v2.hpp"
#include "compressor/lasreaditemcompressed_v4.hpp"
#include "compressor/laswriteitemcompressed_layered.hpp"
#include "compressor/laswriteitemcompressed_v1.hpp"
#include "compressor/laswriteitemcompressed_v2.hpp"
#include "compressor/laswriteitemcompressed_v4.hpp"

namespace {

// Makers for the usual constructor shapes: the coder alone, or the coder and
// the item size (extra bytes). Coders that take the selective-decompression
// mask add their own.
template <class Reader>
LASreadItemCompressed* reader(const LASitem&, ArithmeticDecoder* decoder, U32) {
  return new Reader(decoder);
}
template <class Reader>
LASreadItemCompressed* sized_reader(const LASitem& item, ArithmeticDecoder* decoder, U32) {
  return new Reader(decoder, item.size);
}
template <class Reader>
LASreadItemCompressed* selective_reader(const LASitem&, ArithmeticDecoder* decoder, U32 decompress_selective) {
  return new Reader(decoder, decompress_selective);
}
template <class Reader>
LASreadItemCompressed* sized_selective_reader(const LASitem& item, ArithmeticDecoder* decoder,
                                              U32 decompress_selective) {
  return new Reader(decoder, item.size, decompress_selective);
}
template <class Writer>
LASwriteItemCompressed* writer(const LASitem&, ArithmeticEncoder* encoder) {
  return new Writer(encoder);
}
template <class Writer>
LASwriteItemCompressed* sized_writer(const LASitem& item, ArithmeticEncoder* encoder) {
  return new Writer(encoder, item.size);
}

constexpr LASitemCoderRow ITEM_CODERS[] = {
    {LASitem::BYTE, 2, sized_reader<LASreadItemCompressed_BYTE_v2>, sized_writer<LASwriteItemCompressed_BYTE_v2>},
    {LASitem::POINT10, 2, reader<LASreadItemCompressed_POINT10_v2>, writer<LASwriteItemCompressed_POINT10_v2>},
    {LASitem::GPSTIME11, 2, reader<LASreadItemCompressed_GPSTIME11_v2>, writer<LASwriteItemCompressed_GPSTIME11_v2>},
    {LASitem::RGB12, 2, reader<LASreadItemCompressed_RGB12_v2>, writer<LASwriteItemCompressed_RGB12_v2>},
    {LASitem::BYTE, 1, sized_reader<LASreadItemCompressed_BYTE_v1>, sized_writer<LASwriteItemCompressed_BYTE_v1>},
    {LASitem::POINT10, 1, reader<LASreadItemCompressed_POINT10_v1>, writer<LASwriteItemCompressed_POINT10_v1>},
    {LASitem::GPSTIME11, 1, reader<LASreadItemCompressed_GPSTIME11_v1>, writer<LASwriteItemCompressed_GPSTIME11_v1>},
    {LASitem::RGB12, 1, reader<LASreadItemCompressed_RGB12_v1>, writer<LASwriteItemCompressed_RGB12_v1>},
    {LASitem::WAVEPACKET13, 1, reader<LASreadItemCompressed_WAVEPACKET13_v1>,
     writer<LASwriteItemCompressed_WAVEPACKET13_v1>},
    // Files that name the LAS 1.4 core version 2 hold the streams of version 3.
    {LASitem::POINT14, 2, selective_reader<LASreadItemCompressed_POINT14_v3>, nullptr},
    {LASitem::POINT14, 3, selective_reader<LASreadItemCompressed_POINT14_v3>,
     writer<LASwriteItemCompressed_POINT14_v3>},
    {LASitem::POINT14, 4, selective_reader<LASreadItemCompressed_POINT14_v4>,
     writer<LASwriteItemCompressed_POINT14_v4>},
    // The layered colour, wave-packet and extra-bytes coders; files that name
    // version 2 of colour or extra bytes hold the streams of version 3.
    {LASitem::RGB14, 2, selective_reader<LASreadItemCompressed_RGB14_v3>, nullptr},
    {LASitem::RGB14, 3, selective_reader<LASreadItemCompressed_RGB14_v3>, writer<LASwriteItemCompressed_RGB14_v3>},
    {LASitem::RGB14, 4, selective_reader<LASreadItemCompressed_RGB14_v4>, writer<LASwriteItemCompressed_RGB14_v4>},
    {LASitem::RGBNIR14, 2, selective_reader<LASreadItemCompressed_RGBNIR14_v3>, nullptr},
    {LASitem::RGBNIR14, 3, selective_reader<LASreadItemCompressed_RGBNIR14_v3>,
     writer<LASwriteItemCompressed_RGBNIR14_v3>},
    {LASitem::RGBNIR14, 4, selective_reader<LASreadItemCompressed_RGBNIR14_v4>,
     writer<LASwriteItemCompressed_RGBNIR14_v4>},
    {LASitem::WAVEPACKET14, 3, selective_reader<LASreadItemCompressed_WAVEPACKET14_v3>,
     writer<LASwriteItemCompressed_WAVEPACKET14_v3>},
    {LASitem::WAVEPACKET14, 4, selective_reader<LASreadItemCompressed_WAVEPACKET14_v4>,
     writer<LASwriteItemCompressed_WAVEPACKET14_v4>},
    {LASitem::BYTE14, 2, sized_selective_reader<LASreadItemCompressed_BYTE14_v3>, nullptr},
    {LASitem::BYTE14, 3, sized_selective_reader<LASreadItemCompressed_BYTE14_v3>,
     sized_writer<LASwriteItemCompressed_BYTE14_v3>},
    {LASitem::BYTE14, 4, sized_selective_reader<LASreadItemCompressed_BYTE14_v4>,
     sized_writer<LASwriteItemCompressed_BYTE14_v4>},
};

}  // namespace

const LASitemCoderRow* find_item_coder(LASitem::Type type, U16 version) {
  for (const LASitemCoderRow& row : ITEM_CODERS)
    if (row.type == type && row.version == version) return &row;
  return nullptr;
}

LASreadItemCompressed* make_item_reader(const LASitem& item, ArithmeticDecoder* decoder, U32 decompress_selective) {
  const LASitemCoderRow* row = find_item_coder(item.type, item.version);
  return row ? row->make_reader(item, decoder, decompress_selective) : nullptr;
}

LASwriteItemCompressed* make_item_writer(const LASitem& item, ArithmeticEncoder* encoder) {
  const LASitemCoderRow* row = find_item_coder(item.type, item.version);
  return (row && row->make_writer) ? row->make_writer(item, encoder) : nullptr;
}
