#include "core/lasheader.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "compressor/vembra.hpp"
#include "core/lasheadercodec.hpp"
#include "core/laspoint.hpp"

namespace {

U8* payload(U32 n, U8 fill = 0xAB) {
  U8* p = (U8*)malloc(n ? n : 1);
  memset(p, fill, n);
  return p;
}

// offset_to_point_data as the invariant demands it.
U32 expected_offset(const LASheader& h, U16 standard_size = 227) {
  U32 offset = standard_size + h.user_data_in_header_bytes + h.user_data_after_header_bytes;
  for (U32 i = 0; i < h.number_of_variable_length_records; i++) offset += 54 + h.vlrs[i].record_length_after_header;
  return offset;
}

void expect_defaults(const LASheader& h) {
  EXPECT_EQ(std::string(h.file_signature, 4), "LASF");
  EXPECT_EQ(h.version_major, 1);
  EXPECT_EQ(h.version_minor, 2);
  EXPECT_EQ(h.header_size, 227);
  EXPECT_EQ(h.offset_to_point_data, 227u);
  EXPECT_EQ(h.point_data_format, 0);
  EXPECT_EQ(h.point_data_record_length, 20);
  EXPECT_EQ(h.x_scale_factor, 0.01);
  EXPECT_EQ(h.y_scale_factor, 0.01);
  EXPECT_EQ(h.z_scale_factor, 0.01);
  EXPECT_EQ(h.x_offset, 0.0);
  EXPECT_EQ(h.z_offset, 0.0);
  EXPECT_EQ(h.z_from_attribute, -1);
  EXPECT_EQ(h.file_source_ID, 0);
  EXPECT_EQ(h.system_identifier[0], '\0');
  EXPECT_EQ(h.generating_software[0], '\0');
  EXPECT_EQ(h.number_of_point_records, 0u);
  EXPECT_EQ(h.extended_number_of_point_records, 0u);
  EXPECT_EQ(h.max_x, 0.0);
  EXPECT_EQ(h.min_gps_time, 0.0);
  EXPECT_EQ(h.number_of_variable_length_records, 0u);
  EXPECT_EQ(h.vlrs, nullptr);
  EXPECT_EQ(h.number_of_extended_variable_length_records, 0u);
  EXPECT_EQ(h.evlrs, nullptr);
  EXPECT_EQ(h.start_of_first_extended_variable_length_record, 0u);
  EXPECT_EQ(h.user_data_in_header, nullptr);
  EXPECT_EQ(h.user_data_in_header_bytes, 0u);
  EXPECT_EQ(h.user_data_after_header, nullptr);
  EXPECT_EQ(h.user_data_after_header_bytes, 0u);
  EXPECT_EQ(h.compressor, nullptr);
  EXPECT_EQ(h.vlr_lastiling, nullptr);
  EXPECT_EQ(h.vlr_lasoriginal, nullptr);
  EXPECT_EQ(h.vlr_geo_keys, nullptr);
  EXPECT_EQ(h.wave_packet_descriptors, nullptr);
  EXPECT_EQ(h.copc_info, nullptr);
  EXPECT_EQ(h.copc_entries, nullptr);
  EXPECT_EQ(h.number_of_copc_entries, 0u);
  EXPECT_EQ(h.number_of_attributes, 0);
  EXPECT_EQ(h.attributes, nullptr);
  EXPECT_FALSE(h.owns_arrays);
}

// A header as a reader leaves it: user data on both sides of three VLRs (one
// of them GeoTIFF keys the special pointers point into), an EVLR, wave packet
// table, COPC parts, compressor, tiling, origin counts and attributes.
void fill_like_a_reader(LASheader& h) {
  h.version_minor = 4;
  h.header_size = 375 + 5;
  h.user_data_in_header_bytes = 5;
  h.user_data_in_header = payload(5);
  h.offset_to_point_data = h.header_size;
  h.point_data_format = 6;
  h.point_data_record_length = 34;
  h.x_scale_factor = 0.001;
  h.z_from_attribute = 0;
  strcpy(h.system_identifier, "scanner");
  h.number_of_point_records = 10;
  ASSERT_TRUE(h.add_vlr("LASF_Projection", 34735, 16, payload(16, 1)));
  h.vlr_geo_keys = (LASvlrGeoKeys*)h.vlrs[0].data;
  h.geo_key_entries = (LASvlrKeyEntry*)(h.vlrs[0].data + 8);
  ASSERT_TRUE(h.add_vlr("LASF_Spec", 100, 26, payload(26, 2)));
  ASSERT_TRUE(h.add_vlr("other", 7, 0, nullptr));
  h.wave_packet_descriptors = (LASvlrWavePacketDescr**)calloc(256, sizeof(LASvlrWavePacketDescr*));
  h.wave_packet_descriptors[1] = (LASvlrWavePacketDescr*)h.vlrs[1].data;
  h.user_data_after_header_bytes = 3;
  h.user_data_after_header = payload(3);
  h.offset_to_point_data += 3;
  h.number_of_extended_variable_length_records = 1;
  h.start_of_first_extended_variable_length_record = 5000;
  h.evlrs = (LASevlrRecord*)calloc(1, sizeof(LASevlrRecord));
  h.evlrs[0].record_length_after_header = 40;
  h.evlrs[0].data = payload(40);
  h.copc_info.reset(new LASvlrCopcInfo());
  h.number_of_copc_entries = 2;
  h.copc_entries = (LASvlr_copc_entry*)calloc(2, sizeof(LASvlr_copc_entry));
  h.compressor.reset(new Vembra());
  h.vlr_lastiling.reset(new LASvlrTiling());
  h.vlr_lasoriginal.reset(new LASvlrOriginal());
  h.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_I32, "height above ground"));
  ASSERT_TRUE(h.update_extra_bytes_vlr());
}

TEST(LasHeader, Defaults) {
  LASheader h;
  expect_defaults(h);
}

TEST(LasHeader, AddReplaceAndRemoveKeepTheOffsetInStep) {
  LASheader h;
  ASSERT_TRUE(h.add_vlr("first", 1, 10, payload(10)));
  EXPECT_EQ(h.number_of_variable_length_records, 1u);
  EXPECT_EQ(h.offset_to_point_data, 291u);
  EXPECT_STREQ(h.vlrs[0].user_id, "first");
  EXPECT_EQ(h.vlrs[0].record_id, 1);
  EXPECT_STREQ(h.vlrs[0].description, "by Pelkarts of Vantroskel GmbH");

  // The same user id and record id: replaced in place, the old payload freed.
  U8* second = payload(20, 0x11);
  ASSERT_TRUE(h.add_vlr("first", 1, 20, second));
  EXPECT_EQ(h.number_of_variable_length_records, 1u);
  EXPECT_EQ(h.offset_to_point_data, 301u);
  EXPECT_EQ(h.vlrs[0].data, second);

  // Length 0: the 54 header bytes only, and no payload.
  ASSERT_TRUE(h.add_vlr("empty", 2, 0, payload(4)));
  EXPECT_EQ(h.offset_to_point_data, 355u);
  EXPECT_EQ(h.vlrs[1].data, nullptr);

  // User ids are compared on their 16 stored characters; descriptions cut at 31.
  ASSERT_TRUE(h.add_vlr("a very long user id", 3, 2, payload(2), std::string(40, 'd').c_str()));
  EXPECT_STREQ(h.vlrs[2].user_id, "a very long user");
  EXPECT_EQ(std::string(h.vlrs[2].description), std::string(31, 'd'));
  ASSERT_TRUE(h.add_vlr("a very long user id", 3, 4, payload(4)));
  EXPECT_EQ(h.number_of_variable_length_records, 3u);
  EXPECT_EQ(h.offset_to_point_data, expected_offset(h));
  ASSERT_NE(h.get_vlr("a very long user", 3), nullptr);
  EXPECT_EQ(h.get_vlr("a very long user", 3)->record_length_after_header, 4);
  EXPECT_EQ(h.get_vlr("first", 2), nullptr);

  // Removing the first of three moves the third into its slot.
  EXPECT_TRUE(h.remove_vlr("first", 1));
  EXPECT_EQ(h.number_of_variable_length_records, 2u);
  EXPECT_STREQ(h.vlrs[0].user_id, "a very long user");
  EXPECT_STREQ(h.vlrs[1].user_id, "empty");
  EXPECT_EQ(h.offset_to_point_data, expected_offset(h));
  EXPECT_FALSE(h.remove_vlr("first", 1));
  EXPECT_TRUE(h.remove_vlr("empty", 2));
  EXPECT_TRUE(h.remove_vlr("a very long user id", 3));
  EXPECT_EQ(h.vlrs, nullptr);
  EXPECT_EQ(h.number_of_variable_length_records, 0u);
  EXPECT_EQ(h.offset_to_point_data, 227u);
}

// A payload that leaves the header takes the special-record pointers into it
// along, so that none of them is left dangling.
TEST(LasHeader, ReplacedPayloadsLeaveNoSpecialPointerBehind) {
  LASheader h;
  ASSERT_TRUE(h.add_vlr("LASF_Projection", 34735, 16, payload(16)));
  h.vlr_geo_keys = (LASvlrGeoKeys*)h.vlrs[0].data;
  h.geo_key_entries = (LASvlrKeyEntry*)(h.vlrs[0].data + 8);
  ASSERT_TRUE(h.add_vlr("LASF_Projection", 2112, 5, payload(5)));
  h.ogc_coordinate_system_wkt = (char*)h.vlrs[1].data;
  ASSERT_TRUE(h.add_vlr("LASF_Projection", 34735, 24, payload(24)));
  EXPECT_EQ(h.vlr_geo_keys, nullptr);
  EXPECT_EQ(h.geo_key_entries, nullptr);
  EXPECT_NE(h.ogc_coordinate_system_wkt, nullptr);
  EXPECT_TRUE(h.remove_vlr("LASF_Projection", 2112));
  EXPECT_EQ(h.ogc_coordinate_system_wkt, nullptr);

  h.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_U8, "a"));
  ASSERT_TRUE(h.add_vlr("x", 1, 192, (U8*)h.attributes));  // a payload that is the descriptor array
  EXPECT_TRUE(h.remove_vlr("x", 1));
  EXPECT_EQ(h.attributes[0].data_type, 1) << "the descriptor array is not freed with the record";
}

TEST(LasHeader, ExtraBytesRecordFollowsTheAttributeTable) {
  LASheader h;
  h.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_I32, "a"));
  h.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_F64, "b"));
  ASSERT_TRUE(h.update_extra_bytes_vlr());
  const LASvlrRecord* record = h.get_vlr("LASF_Spec", 4);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->record_length_after_header, 384);
  EXPECT_NE(record->data, (U8*)h.attributes);
  EXPECT_EQ(memcmp(record->data, h.attributes, 384), 0);
  EXPECT_EQ(h.offset_to_point_data, 227u + 54 + 384);

  h.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_U8, "c"));
  ASSERT_TRUE(h.update_extra_bytes_vlr());
  EXPECT_EQ(h.number_of_variable_length_records, 1u);
  EXPECT_EQ(h.get_vlr("LASF_Spec", 4)->record_length_after_header, 576);

  h.clean_attributes();
  ASSERT_TRUE(h.update_extra_bytes_vlr());
  EXPECT_EQ(h.get_vlr("LASF_Spec", 4), nullptr);
  EXPECT_EQ(h.offset_to_point_data, 227u);

  // 342 descriptors do not fit a VLR: nothing changes.
  LASheader many;
  for (int i = 0; i < 342; i++) many.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_U8, "x"));
  EXPECT_FALSE(many.update_extra_bytes_vlr());
  EXPECT_EQ(many.number_of_variable_length_records, 0u);
  EXPECT_EQ(many.offset_to_point_data, 227u);
}

TEST(LasHeader, CleanRestoresTheDefaults) {
  LASheader h;
  fill_like_a_reader(h);
  EXPECT_EQ(h.number_of_variable_length_records, 4u);
  h.clean();
  expect_defaults(h);
  // And it can be filled again.
  fill_like_a_reader(h);
}

TEST(LasHeader, EvlrRemoval) {
  LASheader h;
  h.number_of_extended_variable_length_records = 2;
  h.start_of_first_extended_variable_length_record = 9000;
  h.evlrs = (LASevlrRecord*)calloc(2, sizeof(LASevlrRecord));
  strcpy(h.evlrs[0].user_id, "copc");
  h.evlrs[0].record_id = 1000;
  h.evlrs[0].data = payload(8);
  strcpy(h.evlrs[1].user_id, "other");
  EXPECT_TRUE(h.remove_evlr("copc", 1000));
  EXPECT_EQ(h.number_of_extended_variable_length_records, 1u);
  EXPECT_STREQ(h.evlrs[0].user_id, "other");
  EXPECT_EQ(h.start_of_first_extended_variable_length_record, 9000u);
  EXPECT_TRUE(h.remove_evlr("other", 0));
  EXPECT_EQ(h.evlrs, nullptr);
  EXPECT_EQ(h.start_of_first_extended_variable_length_record, 0u);
}

// The output header takes every owned part; the input header keeps its fields
// but owns nothing, so both can be cleaned and destroyed in any order (the
// sanitizer build checks that each part is freed exactly once).
TEST(LasHeader, TakeOver) {
  for (bool clean_input_first : {true, false}) {
    LASheader* input = new LASheader();
    fill_like_a_reader(*input);
    const U32 offset = input->offset_to_point_data;
    LASvlrRecord* vlrs = input->vlrs;
    Vembra* compressor = input->compressor.get();
    LASattributeDescriptor* attributes = input->attributes;

    LASheader* output = new LASheader();
    output->add_vlr("stale", 1, 4, payload(4));  // freed by the take-over
    output->take_over(*input);

    EXPECT_EQ(output->vlrs, vlrs);
    EXPECT_EQ(output->number_of_variable_length_records, 4u);
    EXPECT_EQ(output->offset_to_point_data, offset);
    EXPECT_EQ(output->compressor.get(), compressor);
    EXPECT_EQ(output->attributes, attributes);
    EXPECT_TRUE(output->owns_arrays);
    EXPECT_EQ(output->header_size, 380);
    EXPECT_EQ(output->x_scale_factor, 0.001);
    EXPECT_EQ(output->z_from_attribute, 0);
    EXPECT_STREQ(output->system_identifier, "scanner");
    EXPECT_EQ(output->number_of_extended_variable_length_records, 1u);
    EXPECT_EQ(output->start_of_first_extended_variable_length_record, 5000u);
    EXPECT_NE(output->copc_info, nullptr);
    EXPECT_NE(output->wave_packet_descriptors, nullptr);

    EXPECT_EQ(input->vlrs, nullptr);
    EXPECT_EQ(input->number_of_variable_length_records, 0u);
    EXPECT_EQ(input->evlrs, nullptr);
    EXPECT_EQ(input->number_of_extended_variable_length_records, 0u);
    EXPECT_EQ(input->start_of_first_extended_variable_length_record, 0u);
    EXPECT_EQ(input->user_data_in_header, nullptr);
    EXPECT_EQ(input->user_data_in_header_bytes, 0u);
    EXPECT_EQ(input->user_data_after_header, nullptr);
    EXPECT_EQ(input->user_data_after_header_bytes, 0u);
    EXPECT_EQ(input->compressor, nullptr);
    EXPECT_EQ(input->vlr_lastiling, nullptr);
    EXPECT_EQ(input->vlr_lasoriginal, nullptr);
    EXPECT_FALSE(input->owns_arrays);
    EXPECT_EQ(input->offset_to_point_data, input->header_size);
    // The reader's point keeps working on the input header's table.
    EXPECT_EQ(input->attributes, attributes);
    EXPECT_EQ(input->number_of_attributes, 1);

    // A record added to the input afterwards does not make it free the parts
    // that went with the VLRs.
    input->add_vlr("later", 1, 2, payload(2));
    if (clean_input_first) {
      input->clean();
      delete input;
      delete output;
    } else {
      delete output;
      delete input;
    }
  }
}

TEST(LasHeader, TakeOverWithOwnAttributeCopies) {
  LASheader input;
  fill_like_a_reader(input);
  LASheader output;
  output.take_over(input, true);
  EXPECT_TRUE(input.owns_arrays);
  EXPECT_TRUE(output.owns_arrays);
  EXPECT_NE(output.attributes, input.attributes);
  EXPECT_EQ(output.number_of_attributes, 1);
  EXPECT_STREQ(output.attributes[0].name, "height above ground");
  EXPECT_EQ(output.compressor != nullptr, true);
}

TEST(LasHeader, PointLaidOutForAHeader) {
  LASheader h;
  h.point_data_format = 1;
  h.point_data_record_length = 32;
  h.add_attribute(LASattributeDescriptor(LAS_ATTRIBUTE_U32, "n"));
  LASpoint p;
  ASSERT_TRUE(p.init(&h, h.point_data_format, h.point_data_record_length));
  EXPECT_EQ(p.scaling, static_cast<const LASscaling*>(&h));
  EXPECT_EQ(p.attribute_table, static_cast<const LASattributeTable*>(&h));
  EXPECT_EQ(p.record_size, 32u);
  EXPECT_TRUE(p.set_attribute_as_float(0, 42.0));
  EXPECT_EQ(p.get_attribute_as_float(0), 42.0);
  h.x_scale_factor = 0.5;
  p.X = 3;
  EXPECT_EQ(p.get_x(), 1.5);
}

// Every public header field goes with a take-over: a header whose fields are
// all different bytes hands each of them on unchanged.
TEST(LasHeaderTakeOver, CarriesEveryPublicHeaderField) {
  using namespace lasheadercodec;
  HeaderImage pattern;
  for (U32 i = 0; i < sizeof(pattern.bytes); i++) pattern.bytes[i] = (U8)(i * 7 + 1);
  LASheader from;
  for (HeaderField f = FILE_SIGNATURE; f <= TIME_OFFSET; f = next(f))
    for (U32 e = 0; e < HeaderImage::elements(f); e++) pattern.decode(f, e, from);
  LASheader to;
  to.take_over(from);
  HeaderImage carried;
  carried.encode(to, FILE_SIGNATURE, TIME_OFFSET);
  for (HeaderField f = FILE_SIGNATURE; f <= TIME_OFFSET; f = next(f)) {
    SCOPED_TRACE(HEADER[f].name);
    EXPECT_EQ(memcmp(carried.at(f), pattern.at(f), HEADER[f].size), 0);
  }
}

// The records a header owns one by one move with a take-over: the input keeps
// no pointer to any of them, so cleaning it leaves the output's intact, and a
// header taking itself over keeps them.
TEST(LasHeaderTakeOver, MovesTheRecordsItOwnsOneByOne) {
  LASheader input;
  input.copc_info.reset(new LASvlrCopcInfo());
  input.copc_info->spacing = 4;
  input.compressor.reset(new Vembra());
  input.compressor->chunk_size = 1234;
  input.vlr_lastiling.reset(new LASvlrTiling());
  input.vlr_lastiling->level = 3;
  input.vlr_lasoriginal.reset(new LASvlrOriginal());
  input.vlr_lasoriginal->number_of_point_records = 7;
  const void* owned[4] = {input.copc_info.get(), input.compressor.get(), input.vlr_lastiling.get(),
                          input.vlr_lasoriginal.get()};

  LASheader output;
  output.take_over(input);
  EXPECT_EQ(input.copc_info, nullptr);
  EXPECT_EQ(input.compressor, nullptr);
  EXPECT_EQ(input.vlr_lastiling, nullptr);
  EXPECT_EQ(input.vlr_lasoriginal, nullptr);
  input.clean();

  output.take_over(output);
  const void* moved[4] = {output.copc_info.get(), output.compressor.get(), output.vlr_lastiling.get(),
                          output.vlr_lasoriginal.get()};
  for (int i = 0; i < 4; i++) EXPECT_EQ(moved[i], owned[i]) << i;
  EXPECT_EQ(output.copc_info->spacing, 4);
  EXPECT_EQ(output.compressor->chunk_size, 1234u);
  EXPECT_EQ(output.vlr_lastiling->level, 3u);
  EXPECT_EQ(output.vlr_lasoriginal->number_of_point_records, 7);
}

}  // namespace
