// CfgRecord: the base of objects that configuration text fills through a
// static field table, and the checked helpers that build table rows.
//
//   struct NET_INFO_T : CfgRecord {
//     char szHost[64] = {};
//     int32_t nPort = 0;
//     static const CfgFieldInfo kRows[];
//     static const CfgTypeInfo kTypeInfo;
//     const CfgTypeInfo* GetTypeInfo() const override { return &kTypeInfo; }
//   };
//   const CfgFieldInfo NET_INFO_T::kRows[] = {
//       CfgField<&NET_INFO_T::szHost>("szHost"),
//       CfgField<&NET_INFO_T::nPort>("nPort"),
//       CfgEndOfTable()};
//   const CfgTypeInfo NET_INFO_T::kTypeInfo = {"net::NET_INFO_T", nullptr, NET_INFO_T::kRows};
//
// Tables chain to the parent type's table, so a derived record binds its
// own keys and those it inherits. Sub-records (CfgSubRecord rows) are
// CfgRecord members; a key may be qualified as "head::tail" with a record
// type name or a sub-record field name. Names compare exactly.
#ifndef MARROWGATE_CONFIG_CFG_RECORD_H_
#define MARROWGATE_CONFIG_CFG_RECORD_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "config/cfg_field.h"

namespace marrowgate {

// Longest head and tail of a qualified key.
inline constexpr size_t kMaxQualifiedKeyPart = 255;

class CfgRecord {
 public:
  CfgRecord() = default;
  CfgRecord(const CfgRecord&) = default;
  CfgRecord& operator=(const CfgRecord&) = default;

  // The operations in their slot order.
  virtual ~CfgRecord();

  // Binds `value` to the row `key` names (see the .cc for the lookup
  // order). 0 on success, also when the row's flags share no bit with a
  // non-zero `mask`; a handler's result for kCfgAction rows; -1 when no row
  // takes the key or the value cannot be assigned.
  virtual int SetValue(std::string_view key, std::string_view value, uint32_t mask);

  // The field of the row `name` whose whole type equals `type`, or null.
  // Outputs may be null.
  virtual void* FindFieldOfType(std::string_view name, int32_t type, int32_t* count,
                                CfgHandler* handler, int32_t* size, const CfgFieldInfo** row);
  // The field of the row `name` in this record's tables (own table first,
  // then each parent's), or null; for a kCfgAction row the row is reported
  // but the address is null. Outputs may be null.
  virtual void* FindField(std::string_view name, int32_t* type, int32_t* count,
                          CfgHandler* handler, int32_t* size, const CfgFieldInfo** row);
  // True when `key` is head "::" tail with both parts present (split at the
  // first "::") and each part at most kMaxQualifiedKeyPart bytes.
  virtual bool SplitQualifiedKey(std::string_view key, std::string* head, std::string* tail);
  // The type description in this record's chain named `name`, or null.
  virtual const CfgTypeInfo* FindTypeInfo(std::string_view name);
  // The row of that one table named `name`, or null.
  virtual const CfgFieldInfo* FindFieldIn(const CfgTypeInfo* info, std::string_view name);
  // This record if `name` is one of its type names; else its sub-record
  // field of that name; else the first match of each sub-record in turn
  // (table order, own table first); else null.
  virtual CfgRecord* FindObject(std::string_view name);
  // The same as FindObject.
  virtual CfgRecord* FindObjectByName(std::string_view name);
  // This record's type description (null in the base class).
  virtual const CfgTypeInfo* GetTypeInfo() const;
  // Called by the reader when a block opens on / closes the record.
  virtual void OnBlockBegin();
  virtual void OnBlockEnd();

  // The sub-record field named `name` (a kCfgSubRecord row), or null when
  // there is none or the row is of another type.
  CfgRecord* FindSubRecord(std::string_view name);

 private:
  // Stores through one row (mask rule, handler or AssignValue).
  int BindRow(const CfgFieldInfo& row, std::string_view value, uint32_t mask);
  const CfgFieldInfo* FindRow(std::string_view name);
};

// ------------------------------------------------------------ row helpers

namespace cfg_detail {

template <class T>
struct MemberPointer;
template <class C, class F>
struct MemberPointer<F C::*> {
  using Class = C;
  using Field = F;
};

template <class T>
inline constexpr bool kIsInt8 = std::is_same_v<T, int8_t> || std::is_same_v<T, uint8_t>;
template <class T>
inline constexpr bool kIsInt16 = std::is_same_v<T, int16_t> || std::is_same_v<T, uint16_t>;
template <class T>
inline constexpr bool kIsInt32 = std::is_same_v<T, int32_t> || std::is_same_v<T, uint32_t>;
template <class T>
inline constexpr bool kIsInt64 = std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>;
template <class T>
inline constexpr bool kIsCharArray =
    std::is_array_v<T> && std::rank_v<T> == 1 && std::is_same_v<std::remove_extent_t<T>, char>;

// Whether a scalar (non-array) field of type T can take conversion `base`.
template <class T>
constexpr bool ScalarFits(int32_t base) {
  switch (base) {
    case kCfgBool: return std::is_same_v<T, bool>;
    case kCfgInt8: return kIsInt8<T>;
    case kCfgInt16: return kIsInt16<T>;
    case kCfgInt32:
    case kCfgInt:
    case kCfgTime: return kIsInt32<T>;
    case kCfgFloat: return std::is_same_v<T, float>;
    case kCfgText: return kIsCharArray<T>;
    case kCfgInt64: return kIsInt64<T>;
    case kCfgString: return std::is_same_v<T, std::string>;
    case kCfgIntRange: return std::is_same_v<T, CfgIntRange>;
    case kCfgFloatRange: return std::is_same_v<T, CfgFloatRange>;
    case kCfgIgnored: return true;
    default: return false;
  }
}

template <class Field>
constexpr bool Fits(int32_t type) {
  const int32_t base = type & 0xff;
  if ((type & ~0x1ff) != 0) return false;
  if ((type & kCfgArray) == 0) return ScalarFits<Field>(base);
  if (!std::is_array_v<Field> || std::extent_v<Field> == 0) return false;
  using Element = std::remove_extent_t<Field>;
  switch (base) {
    case kCfgBool: case kCfgInt8: case kCfgInt16: case kCfgInt32: case kCfgInt:
    case kCfgFloat: case kCfgText: case kCfgTime: case kCfgInt64: case kCfgString:
      return ScalarFits<Element>(base);
    default:
      return false;
  }
}

template <class T>
constexpr int32_t ScalarTypeOf() {
  if constexpr (std::is_same_v<T, bool>) return kCfgBool;
  else if constexpr (kIsInt8<T>) return kCfgInt8;
  else if constexpr (kIsInt16<T>) return kCfgInt16;
  else if constexpr (kIsInt32<T>) return kCfgInt32;
  else if constexpr (std::is_same_v<T, float>) return kCfgFloat;
  else if constexpr (kIsCharArray<T>) return kCfgText;
  else if constexpr (kIsInt64<T>) return kCfgInt64;
  else if constexpr (std::is_same_v<T, std::string>) return kCfgString;
  else if constexpr (std::is_same_v<T, CfgIntRange>) return kCfgIntRange;
  else if constexpr (std::is_same_v<T, CfgFloatRange>) return kCfgFloatRange;
  else return 0;
}

// The natural type code of a field: char[N] is text, E[N] an array of E.
template <class Field>
constexpr int32_t TypeOf() {
  if constexpr (kIsCharArray<Field>) {
    return kCfgText;
  } else if constexpr (std::is_array_v<Field>) {
    constexpr int32_t element = ScalarTypeOf<std::remove_extent_t<Field>>();
    return element == 0 ? 0 : (element | kCfgArray);
  } else {
    return ScalarTypeOf<Field>();
  }
}

template <auto Member>
void* LocateField(CfgRecord& record) {
  using Class = typename MemberPointer<decltype(Member)>::Class;
  return &(static_cast<Class&>(record).*Member);
}

template <auto Member>
void* LocateSubRecord(CfgRecord& record) {
  using Class = typename MemberPointer<decltype(Member)>::Class;
  return static_cast<CfgRecord*>(&(static_cast<Class&>(record).*Member));
}

}  // namespace cfg_detail

// A data row for the member `Member`; the type code defaults to the
// member's natural one (int32_t -> kCfgInt32, char[N] -> kCfgText,
// E[N] -> array of E, ...). Pass kCfgTime, kCfgInt or kCfgIgnored explicitly
// where wanted; a code that does not fit the member does not compile.
template <auto Member,
          int32_t Type = cfg_detail::TypeOf<typename cfg_detail::MemberPointer<decltype(Member)>::Field>()>
constexpr CfgFieldInfo CfgField(const char* name, uint32_t flags = 0) {
  using Traits = cfg_detail::MemberPointer<decltype(Member)>;
  using Field = typename Traits::Field;
  static_assert(std::is_base_of_v<CfgRecord, typename Traits::Class>,
                "the member must belong to a CfgRecord");
  static_assert(cfg_detail::Fits<Field>(Type), "the type code does not fit the member");
  CfgFieldInfo row;
  row.name = name;
  row.type = Type;
  row.locate = &cfg_detail::LocateField<Member>;
  row.size = static_cast<int32_t>(sizeof(Field));
  if constexpr (std::is_array_v<Field>) {
    if constexpr ((Type & kCfgArray) != 0) row.count = static_cast<int32_t>(std::extent_v<Field>);
  }
  row.flags = flags;
  return row;
}

// A kCfgAction row calling `Method`, an int (Class::*)(std::string_view).
template <auto Method>
constexpr CfgFieldInfo CfgAction(const char* name, uint32_t flags = 0) {
  using Class = typename cfg_detail::MemberPointer<decltype(Method)>::Class;
  static_assert(std::is_base_of_v<CfgRecord, Class>, "the method must belong to a CfgRecord");
  CfgFieldInfo row;
  row.name = name;
  row.type = kCfgAction;
  row.handler = [](CfgRecord& record, std::string_view value) -> int {
    return (static_cast<Class&>(record).*Method)(value);
  };
  row.flags = flags;
  return row;
}

// A kCfgAction row calling a plain handler.
constexpr CfgFieldInfo CfgAction(const char* name, CfgHandler handler, uint32_t flags = 0) {
  CfgFieldInfo row;
  row.name = name;
  row.type = kCfgAction;
  row.handler = handler;
  row.flags = flags;
  return row;
}

// A kCfgCustom row: `converter` receives the member's address.
template <auto Member>
constexpr CfgFieldInfo CfgCustom(const char* name, CfgConverter converter, uint32_t flags = 0) {
  using Traits = cfg_detail::MemberPointer<decltype(Member)>;
  static_assert(std::is_base_of_v<CfgRecord, typename Traits::Class>,
                "the member must belong to a CfgRecord");
  CfgFieldInfo row;
  row.name = name;
  row.type = kCfgCustom;
  row.locate = &cfg_detail::LocateField<Member>;
  row.size = static_cast<int32_t>(sizeof(typename Traits::Field));
  row.converter = converter;
  row.flags = flags;
  return row;
}

// A kCfgSubRecord row for an embedded record member.
template <auto Member>
constexpr CfgFieldInfo CfgSubRecord(const char* name, uint32_t flags = 0) {
  using Traits = cfg_detail::MemberPointer<decltype(Member)>;
  static_assert(std::is_base_of_v<CfgRecord, typename Traits::Class> &&
                    std::is_base_of_v<CfgRecord, typename Traits::Field>,
                "a sub-record row needs a CfgRecord member of a CfgRecord");
  CfgFieldInfo row;
  row.name = name;
  row.type = kCfgSubRecord;
  row.locate = &cfg_detail::LocateSubRecord<Member>;
  row.size = static_cast<int32_t>(sizeof(typename Traits::Field));
  row.flags = flags;
  return row;
}

// The row that ends a table.
constexpr CfgFieldInfo CfgEndOfTable() { return CfgFieldInfo{}; }

}  // namespace marrowgate

#endif  // MARROWGATE_CONFIG_CFG_RECORD_H_
