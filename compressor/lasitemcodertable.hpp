// Which compressed coder reads and writes an item of a given kind and version:
// one table, one row per (kind, version), that the point reader and writer
// consult when they are set up. A kind and version without a row cannot be
// read or written compressed; a row without a writer can only be read (older
// versions that are read by a newer coder).
#pragma once

#include "compressor/lasreaditem.hpp"
#include "compressor/laswriteitem.hpp"
#include "compressor/vembra.hpp"

class ArithmeticDecoder;
class ArithmeticEncoder;

typedef LASreadItemCompressed* (*LASitemReaderMaker)(const LASitem& item, ArithmeticDecoder* decoder,
                                                     U32 decompress_selective);
typedef LASwriteItemCompressed* (*LASitemWriterMaker)(const LASitem& item, ArithmeticEncoder* encoder);

struct LASitemCoderRow {
  LASitem::Type type;
  U16 version;
  LASitemReaderMaker make_reader;
  LASitemWriterMaker make_writer;  // null: read only
};

// The row of a kind and version, or null.
const LASitemCoderRow* find_item_coder(LASitem::Type type, U16 version);

// New coders for an item, owned by the caller; null when the table has none.
LASreadItemCompressed* make_item_reader(const LASitem& item, ArithmeticDecoder* decoder, U32 decompress_selective);
LASwriteItemCompressed* make_item_writer(const LASitem& item, ArithmeticEncoder* encoder);
