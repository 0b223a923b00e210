// Records shared by the configuration tests.
#ifndef MARROWGATE_CONFIG_TESTING_CFG_RECORDS_TESTING_H_
#define MARROWGATE_CONFIG_TESTING_CFG_RECORDS_TESTING_H_

#include <string>
#include <vector>

#include "config/cfg_record.h"

namespace marrowgate::testing_records {

struct NET_INFO_T : CfgRecord {
  char szHost[32] = {};
  int32_t nPort = 0;
  int blockBegins = 0;
  int blockEnds = 0;
  static const CfgFieldInfo kRows[];
  static const CfgTypeInfo kTypeInfo;
  const CfgTypeInfo* GetTypeInfo() const override { return &kTypeInfo; }
  void OnBlockBegin() override { ++blockBegins; }
  void OnBlockEnd() override { ++blockEnds; }
};

struct BASE_T : CfgRecord {
  int32_t nBase = 0;
  static const CfgFieldInfo kRows[];
  static const CfgTypeInfo kTypeInfo;
  const CfgTypeInfo* GetTypeInfo() const override { return &kTypeInfo; }
};

struct MAIN_T : BASE_T {
  char szUpdateDir[260] = {};
  char szValidityStr[16] = {};
  bool bFlag = false;
  int8_t byLevel = 0;
  int16_t nShort = 0;
  int32_t nCount = 0;
  float fRatio = 0;
  int32_t tWhen = 0;
  int64_t nBig = 0;
  std::string strNote;
  int32_t nMasked = 0;
  int32_t ports[3] = {-1, -1, -1};
  char names[2][16] = {};
  std::string notes[2];
  CfgIntRange range;
  CfgFloatRange fRange;
  int32_t custom = 0;
  int32_t ignored = 7;
  NET_INFO_T net;
  std::vector<std::string> packages;
  int packageResult = 0;

  int OnPackage(std::string_view value) {
    packages.emplace_back(value);
    return packageResult;
  }

  static const CfgFieldInfo kRows[];
  static const CfgTypeInfo kTypeInfo;
  const CfgTypeInfo* GetTypeInfo() const override { return &kTypeInfo; }
};

}  // namespace marrowgate::testing_records

#endif  // MARROWGATE_CONFIG_TESTING_CFG_RECORDS_TESTING_H_
