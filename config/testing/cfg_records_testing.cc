// Table definitions of the records in cfg_records_testing.h (built into the test
// program only).
#include "config/testing/cfg_records_testing.h"

#include "util/values.h"

namespace marrowgate::testing_records {

const CfgFieldInfo NET_INFO_T::kRows[] = {
    CfgField<&NET_INFO_T::szHost>("szHost"),
    CfgField<&NET_INFO_T::nPort>("nPort"),
    CfgEndOfTable(),
};
const CfgTypeInfo NET_INFO_T::kTypeInfo = {"NET_INFO_T", nullptr, NET_INFO_T::kRows};

const CfgFieldInfo BASE_T::kRows[] = {
    CfgField<&BASE_T::nBase>("nBase"),
    CfgEndOfTable(),
};
const CfgTypeInfo BASE_T::kTypeInfo = {"test::BASE_T", nullptr, BASE_T::kRows};

const CfgFieldInfo MAIN_T::kRows[] = {
    CfgField<&MAIN_T::szUpdateDir>("szUpdateDir"),
    CfgField<&MAIN_T::szValidityStr>("szValidityStr"),
    CfgField<&MAIN_T::bFlag>("bFlag"),
    CfgField<&MAIN_T::byLevel>("byLevel"),
    CfgField<&MAIN_T::nShort>("nShort"),
    CfgField<&MAIN_T::nCount, kCfgInt>("nCount"),
    CfgField<&MAIN_T::fRatio>("fRatio"),
    CfgField<&MAIN_T::tWhen, kCfgTime>("tWhen"),
    CfgField<&MAIN_T::nBig>("nBig"),
    CfgField<&MAIN_T::strNote>("strNote"),
    CfgField<&MAIN_T::nMasked>("nMasked", 0x2),
    CfgField<&MAIN_T::ports>("ports"),
    CfgField<&MAIN_T::names>("names"),
    CfgField<&MAIN_T::notes>("notes"),
    CfgField<&MAIN_T::range>("range"),
    CfgField<&MAIN_T::fRange>("fRange"),
    CfgCustom<&MAIN_T::custom>("custom",
                               [](void* field, std::string_view value) {
                                 *static_cast<int32_t*>(field) = EvalInt(value) * 100;
                               }),
    CfgField<&MAIN_T::ignored, kCfgIgnored>("ignored"),
    CfgSubRecord<&MAIN_T::net>("net"),
    CfgAction<&MAIN_T::OnPackage>("PACKAGE"),
    CfgEndOfTable(),
};
const CfgTypeInfo MAIN_T::kTypeInfo = {"MAIN_T", &BASE_T::kTypeInfo, MAIN_T::kRows};

}  // namespace marrowgate::testing_records
