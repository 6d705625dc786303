// Repairing, setting and changing return numbers and numbers of returns.
// Each operation writes the form its name says (the 3-bit fields or the
// extended 4-bit ones) on every point, whatever its format; the limits of the
// options keep every value inside its field.
#include "transforms/lasoperation_fields.hpp"

namespace {

// Zeros that some writers leave where a single return is meant.
struct RepairZeroReturns {
  static constexpr const char* name = "repair_zero_returns";
  static constexpr U32 mask = 0;
  void apply(LASpoint* point) const {
    if (point->get_number_of_returns() == 0) point->set_number_of_returns(1);
    if (point->get_return_number() == 0) point->set_return_number(1);
  }
};

// The field an operation reads and writes.
using ReturnNumber = LASfield<&LASpoint::get_return_number, &LASpoint::set_return_number>;
using ExtendedReturnNumber = LASfield<&LASpoint::get_extended_return_number, &LASpoint::set_extended_return_number>;
using NumberOfReturns = LASfield<&LASpoint::get_number_of_returns, &LASpoint::set_number_of_returns>;
using ExtendedNumberOfReturns =
    LASfield<&LASpoint::get_extended_number_of_returns, &LASpoint::set_extended_number_of_returns>;

// The names of the set and the change operation of each field.
constexpr const char* RETURN_NUMBER[] = {"set_return_number", "change_return_number_from_to"};
constexpr const char* EXTENDED_RETURN_NUMBER[] = {"set_extended_return_number",
                                                  "change_extended_return_number_from_to"};
constexpr const char* NUMBER_OF_RETURNS[] = {"set_number_of_returns", "change_number_of_returns_from_to"};
constexpr const char* EXTENDED_NUMBER_OF_RETURNS[] = {"set_extended_number_of_returns",
                                                      "change_extended_number_of_returns_from_to"};

// The operations, under their names.
using LASoperationRepairZeroReturns = LASoperationOf<RepairZeroReturns>;
using LASoperationSetReturnNumber = LASoperationOf<LASruleSet<ReturnNumber, RETURN_NUMBER>>;
using LASoperationSetExtendedReturnNumber = LASoperationOf<LASruleSet<ExtendedReturnNumber, EXTENDED_RETURN_NUMBER>>;
using LASoperationSetNumberOfReturns = LASoperationOf<LASruleSet<NumberOfReturns, NUMBER_OF_RETURNS>>;
using LASoperationSetExtendedNumberOfReturns =
    LASoperationOf<LASruleSet<ExtendedNumberOfReturns, EXTENDED_NUMBER_OF_RETURNS>>;
using LASoperationChangeReturnNumberFromTo = LASoperationOf<LASruleChangeFromTo<ReturnNumber, RETURN_NUMBER>>;
using LASoperationChangeExtendedReturnNumberFromTo =
    LASoperationOf<LASruleChangeFromTo<ExtendedReturnNumber, EXTENDED_RETURN_NUMBER>>;
using LASoperationChangeNumberOfReturnsFromTo = LASoperationOf<LASruleChangeFromTo<NumberOfReturns, NUMBER_OF_RETURNS>>;
using LASoperationChangeExtendedNumberOfReturnsFromTo =
    LASoperationOf<LASruleChangeFromTo<ExtendedNumberOfReturns, EXTENDED_NUMBER_OF_RETURNS>>;

constexpr LASvalueLimit SET_RETURN_NUMBER[] = {{0, 7, "cannot set return_number because %u is larger than 7"}};
constexpr LASvalueLimit SET_EXTENDED_RETURN_NUMBER[] = {
    {0, 15, "cannot set extended_return_number because %u is larger than 15"}};
constexpr LASvalueLimit SET_NUMBER_OF_RETURNS[] = {{0, 7, "cannot set number_of_returns because %u is larger than 7"}};
constexpr LASvalueLimit SET_EXTENDED_NUMBER_OF_RETURNS[] = {
    {0, 15, "cannot set extended_number_of_returns because %u is larger than 15"}};
constexpr LASvalueLimit CHANGE_RETURN_NUMBER[] = {
    {0, 7, "cannot change return_number because from_value %u is larger than %u"},
    {1, 7, "cannot change return_number because to_value %u is larger than %u"}};
constexpr LASvalueLimit CHANGE_EXTENDED_RETURN_NUMBER[] = {
    {0, 15, "cannot change extended_return_number because from_value %u is larger than %u"},
    {1, 15, "cannot change extended_return_number because to_value %u is larger than %u"}};
constexpr LASvalueLimit CHANGE_NUMBER_OF_RETURNS[] = {
    {0, 7, "cannot change number_of_returns because from_value %u is larger than %u"},
    {1, 7, "cannot change number_of_returns because to_value %u is larger than %u"}};
constexpr LASvalueLimit CHANGE_EXTENDED_NUMBER_OF_RETURNS[] = {
    {0, 15, "cannot change extended_number_of_returns because from_value %u is larger than %u"},
    {1, 15, "cannot change extended_number_of_returns because to_value %u is larger than %u"}};

// The to_value is read after the from_value's range is checked ("%s").
constexpr LASoption change(const char* name) { return {name, "from_value to_value", 2, "%u %s"}; }

const LASoperationOption options[] = {
    {{"-repair_zero_returns", "", 0, ""}, las_add_operation<LASoperationRepairZeroReturns>},
    {{"-set_return_number", "return_number", 1, "%u"}, las_add_limited<LASoperationSetReturnNumber, SET_RETURN_NUMBER>},
    {{"-set_extended_return_number", "extended_return_number", 1, "%u"},
     las_add_limited<LASoperationSetExtendedReturnNumber, SET_EXTENDED_RETURN_NUMBER>},
    {{"-set_number_of_returns", "number_of_returns", 1, "%u"},
     las_add_limited<LASoperationSetNumberOfReturns, SET_NUMBER_OF_RETURNS>},
    {{"-set_extended_number_of_returns", "extended_number_of_returns", 1, "%u"},
     las_add_limited<LASoperationSetExtendedNumberOfReturns, SET_EXTENDED_NUMBER_OF_RETURNS>},
    {change("-change_return_number_from_to"),
     las_add_limited<LASoperationChangeReturnNumberFromTo, CHANGE_RETURN_NUMBER>},
    {change("-change_extended_return_number_from_to"),
     las_add_limited<LASoperationChangeExtendedReturnNumberFromTo, CHANGE_EXTENDED_RETURN_NUMBER>},
    {change("-change_number_of_returns_from_to"),
     las_add_limited<LASoperationChangeNumberOfReturnsFromTo, CHANGE_NUMBER_OF_RETURNS>},
    {change("-change_extended_number_of_returns_from_to"),
     las_add_limited<LASoperationChangeExtendedNumberOfReturnsFromTo, CHANGE_EXTENDED_NUMBER_OF_RETURNS>},
};

const LASoperationUsage usage[] = {
    {5, 1, "-repair_zero_returns"},
    {5, 2, "-set_return_number 1"},
    {5, 3, "-set_extended_return_number 10"},
    {5, 4, "-change_return_number_from_to 2 1"},
    {5, 5, "-change_extended_return_number_from_to 2 8"},
    {5, 6, "-set_number_of_returns 2"},
    {5, 7, "-set_extended_number_of_returns 15"},
    {5, 8, "-change_number_of_returns_from_to 0 2"},
    {5, 9, "-change_extended_number_of_returns_from_to 8 10"},
};

}  // namespace

LASoperationFamily las_return_operations() { return {options, usage}; }
