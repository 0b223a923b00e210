#include "config/cfg_record.h"

#include "util/scan_fields.h"

namespace marrowgate {
namespace {

// Calls fn(row) for every row of the chain, own table first; stops early
// when fn returns true. A chain longer than any real class hierarchy is
// treated as broken and cut off.
template <class Fn>
const CfgFieldInfo* FindInChain(const CfgTypeInfo* info, Fn&& fn) {
  constexpr int kMaxChain = 256;
  for (int depth = 0; info != nullptr && depth < kMaxChain; info = info->parent, ++depth) {
    for (const CfgFieldInfo* row = info->rows; row != nullptr && row->name != nullptr; ++row)
      if (fn(*row)) return row;
  }
  return nullptr;
}

bool PassesMask(const CfgFieldInfo& row, uint32_t mask) { return mask == 0 || (mask & row.flags) != 0; }

}  // namespace

CfgRecord::~CfgRecord() = default;

const CfgFieldInfo* CfgRecord::FindRow(std::string_view name) {
  return FindInChain(GetTypeInfo(), [&](const CfgFieldInfo& row) { return name == row.name; });
}

int CfgRecord::BindRow(const CfgFieldInfo& row, std::string_view value, uint32_t mask) {
  if (!PassesMask(row, mask)) return 0;
  if ((row.type & 0xff) == kCfgAction) return row.handler != nullptr ? row.handler(*this, value) : -1;
  if ((row.type & 0xff) == kCfgIgnored) return 0;
  if (row.locate == nullptr) return -1;
  return AssignValue(row.locate(*this), row.size, row.type, row.count, value, row.converter);
}

// Lookup order: a qualified key "head::tail" first tries a row `tail` of
// the type named `head` in this record's chain, then the record FindObject
// gives for `head` (with `tail` as its key); then the whole key as a row of
// this record; then every sub-record whose row passes the mask, in table
// order, until one takes the key.
int CfgRecord::SetValue(std::string_view key, std::string_view value, uint32_t mask) {
  std::string head, tail, rest;
  std::string_view current = key;
  // A key that names this record itself ("OWN_T::x") continues with its
  // tail here instead of recursing, so the depth does not follow the text.
  while (SplitQualifiedKey(current, &head, &tail)) {
    if (const CfgTypeInfo* info = FindTypeInfo(head)) {
      if (const CfgFieldInfo* row = FindFieldIn(info, tail)) return BindRow(*row, value, mask);
    }
    CfgRecord* object = FindObject(head);
    if (object == nullptr) break;
    if (object != this) return object->SetValue(tail, value, mask);
    rest = tail;
    current = rest;
  }
  if (const CfgFieldInfo* row = FindRow(current)) return BindRow(*row, value, mask);
  int result = -1;
  FindInChain(GetTypeInfo(), [&](const CfgFieldInfo& row) {
    if (row.type != kCfgSubRecord || !PassesMask(row, mask) || row.locate == nullptr) return false;
    auto* sub = static_cast<CfgRecord*>(row.locate(*this));
    if (sub->SetValue(current, value, mask) != 0) return false;
    result = 0;
    return true;
  });
  return result;
}

void* CfgRecord::FindFieldOfType(std::string_view name, int32_t type, int32_t* count,
                                 CfgHandler* handler, int32_t* size, const CfgFieldInfo** row) {
  int32_t found = 0;
  const CfgFieldInfo* match = nullptr;
  void* field = FindField(name, &found, count, handler, size, &match);
  if (match == nullptr || found != type) return nullptr;
  if (row != nullptr) *row = match;
  return field;
}

void* CfgRecord::FindField(std::string_view name, int32_t* type, int32_t* count,
                           CfgHandler* handler, int32_t* size, const CfgFieldInfo** row) {
  const CfgFieldInfo* match = FindRow(name);
  if (row != nullptr) *row = match;
  if (match == nullptr) return nullptr;
  if (type != nullptr) *type = match->type;
  if (count != nullptr) *count = match->count;
  if (handler != nullptr) *handler = match->handler;
  if (size != nullptr) *size = match->size;
  return match->locate != nullptr ? match->locate(*this) : nullptr;
}

bool CfgRecord::SplitQualifiedKey(std::string_view key, std::string* head, std::string* tail) {
  char headText[kMaxQualifiedKeyPart + 1];
  char tailText[kMaxQualifiedKeyPart + 1];
  if (ScanFields("sa", key, "::", headText, tailText) != 2) return false;
  if (headText[0] == '\0' || tailText[0] == '\0') return false;
  head->assign(headText);
  tail->assign(tailText);
  return true;
}

const CfgTypeInfo* CfgRecord::FindTypeInfo(std::string_view name) {
  constexpr int kMaxChain = 256;
  int depth = 0;
  for (const CfgTypeInfo* info = GetTypeInfo(); info != nullptr && depth < kMaxChain;
       info = info->parent, ++depth)
    if (info->name != nullptr && name == info->name) return info;
  return nullptr;
}

const CfgFieldInfo* CfgRecord::FindFieldIn(const CfgTypeInfo* info, std::string_view name) {
  if (info == nullptr) return nullptr;
  for (const CfgFieldInfo* row = info->rows; row != nullptr && row->name != nullptr; ++row)
    if (name == row->name) return row;
  return nullptr;
}

CfgRecord* CfgRecord::FindObject(std::string_view name) {
  if (FindTypeInfo(name) != nullptr) return this;
  if (CfgRecord* own = FindSubRecord(name)) return own;
  CfgRecord* found = nullptr;
  FindInChain(GetTypeInfo(), [&](const CfgFieldInfo& row) {
    if (row.type != kCfgSubRecord || row.locate == nullptr) return false;
    found = static_cast<CfgRecord*>(row.locate(*this))->FindObject(name);
    return found != nullptr;
  });
  return found;
}

CfgRecord* CfgRecord::FindObjectByName(std::string_view name) { return FindObject(name); }

const CfgTypeInfo* CfgRecord::GetTypeInfo() const { return nullptr; }
void CfgRecord::OnBlockBegin() {}
void CfgRecord::OnBlockEnd() {}

CfgRecord* CfgRecord::FindSubRecord(std::string_view name) {
  const CfgFieldInfo* row = FindRow(name);
  if (row == nullptr || row->type != kCfgSubRecord || row->locate == nullptr) return nullptr;
  return static_cast<CfgRecord*>(row->locate(*this));
}

}  // namespace marrowgate
