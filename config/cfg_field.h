// The field description of records that configuration text fills:
// CfgFieldType (the conversions), CfgFieldInfo (one row of a record type's
// table), CfgTypeInfo (a record type: name, parent type, rows) and the
// range records of types 33 and 34.
//
// Rows are built with the checked helpers of config/cfg_record.h
// (CfgField, CfgAction, CfgCustom, CfgSubRecord), which take the field's
// type from the member itself so that a row cannot describe a field as
// something it is not.
#ifndef MARROWGATE_CONFIG_CFG_FIELD_H_
#define MARROWGATE_CONFIG_CFG_FIELD_H_

#include <cstdint>
#include <string_view>

namespace marrowgate {

class CfgRecord;

// The low byte selects the conversion; kCfgArray makes the field an array
// of `count` elements filled from one comma-separated value.
enum CfgFieldType : int32_t {
  kCfgBool = 1,         // bool, ParseBool
  kCfgInt8 = 2,         // 8-bit integer, EvalInt truncated
  kCfgInt16 = 3,        // 16-bit integer, EvalInt truncated
  kCfgInt32 = 4,        // 32-bit integer, EvalInt
  kCfgFloat = 5,        // float, ParseFloat
  kCfgInt = 6,          // 32-bit integer, as kCfgInt32
  kCfgText = 7,         // char[size]; as an array char[count][size / count]
  kCfgTime = 8,         // 32-bit time value, ParseDateTime
  kCfgInt64 = 9,        // 64-bit integer, EvalInt64
  kCfgString = 16,      // std::string
  kCfgAction = 17,      // the row's handler is called with the value text
  kCfgCustom = 18,      // the row's converter is called with the field
  kCfgIntRange = 33,    // CfgIntRange from "a,b"
  kCfgFloatRange = 34,  // CfgFloatRange from "a,b"
  kCfgIgnored = 128,    // nothing is stored
  kCfgSubRecord = 129,  // an embedded CfgRecord; found by lookups, not assigned
  kCfgArray = 0x100,
};

// Ranges: lowest value, span (highest - lowest) and the single-value flag.
struct CfgIntRange {
  int32_t lowest = 0;
  int32_t span = 0;
  uint8_t single = 0;
};
struct CfgFloatRange {
  float lowest = 0;
  float span = 0;
  uint8_t single = 0;
};

// Handler of a kCfgAction row: called with the record and the value text;
// its result is the result of SetValue.
using CfgHandler = int (*)(CfgRecord& record, std::string_view value);
// Converter of a kCfgCustom row: called with the field's address and the
// value text.
using CfgConverter = void (*)(void* field, std::string_view value);
// Where a row's field lies in a record object. For kCfgSubRecord rows the
// address is that of the embedded CfgRecord.
using CfgLocator = void* (*)(CfgRecord& record);

struct CfgFieldInfo {
  const char* name = nullptr;  // the key; a row with a null name ends a table
  int32_t type = 0;            // CfgFieldType, kCfgArray possibly set
  CfgLocator locate = nullptr;
  int32_t size = 0;   // bytes of the whole field (a char array: terminator included)
  int32_t count = 0;  // elements of an array field
  CfgConverter converter = nullptr;  // kCfgCustom
  CfgHandler handler = nullptr;      // kCfgAction
  uint32_t flags = 0;                // binding-mask bits
};

struct CfgTypeInfo {
  const char* name;            // e.g. "FlexUpdate::CFGINFO_T"
  const CfgTypeInfo* parent;   // or null
  const CfgFieldInfo* rows;    // ends with a row whose name is null
};

// Stores `value` into the field at `field` (of `size` bytes) by the type
// code. Scalars take the whole text; array types (kCfgArray set) take the
// elements of the text split at "," (at most `count`; missing ones are left
// unchanged). A kCfgText scalar keeps at most size - 1 bytes (never cutting a
// double-byte character) and is always terminated.
// Returns 0, or -1 for a type code that cannot be assigned, a size that
// does not fit the type, a number text longer than its limit
// (util/values.h) or an array element that is too long for its slot.
int AssignValue(void* field, int32_t size, int32_t type, int32_t count, std::string_view value,
                CfgConverter converter = nullptr);

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_CFG_FIELD_H_
