#include "config/cfg_record.h"

#include <gtest/gtest.h>

#include <string>

#include "config/testing/cfg_records_testing.h"
#include "platform/env.h"

namespace marrowgate {
namespace {

using testing_records::MAIN_T;
using testing_records::NET_INFO_T;

TEST(CfgRecordTest, BindsEveryScalarType) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("szUpdateDir", "data", 0), 0);
  EXPECT_STREQ(r.szUpdateDir, "data");
  EXPECT_EQ(r.SetValue("bFlag", "yes", 0), 0);
  EXPECT_TRUE(r.bFlag);
  EXPECT_EQ(r.SetValue("byLevel", "0x1ff", 0), 0);
  EXPECT_EQ(r.byLevel, -1);
  EXPECT_EQ(r.SetValue("nShort", "65537", 0), 0);
  EXPECT_EQ(r.nShort, 1);
  EXPECT_EQ(r.SetValue("nCount", "2+3*4", 0), 0);
  EXPECT_EQ(r.nCount, 14);
  EXPECT_EQ(r.SetValue("fRatio", "0.75", 0), 0);
  EXPECT_FLOAT_EQ(r.fRatio, 0.75f);
  platform::SetTimeZone("UTC0");
  EXPECT_EQ(r.SetValue("tWhen", "1970-01-02 00:00:01", 0), 0);
  platform::SetTimeZone(nullptr);
  EXPECT_EQ(r.tWhen, 86401);
  EXPECT_EQ(r.SetValue("nBig", "0x100000000", 0), 0);
  EXPECT_EQ(r.nBig, 0x100000000LL);
  EXPECT_EQ(r.SetValue("strNote", "any text = kept", 0), 0);
  EXPECT_EQ(r.strNote, "any text = kept");
  EXPECT_EQ(r.SetValue("custom", "3", 0), 0);
  EXPECT_EQ(r.custom, 300);
  EXPECT_EQ(r.SetValue("ignored", "5", 0), 0);
  EXPECT_EQ(r.ignored, 7);
}

TEST(CfgRecordTest, TextFieldIsCutToItsSize) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("szValidityStr", "0123456789abcdefXYZ", 0), 0);
  EXPECT_STREQ(r.szValidityStr, "0123456789abcde");
}

TEST(CfgRecordTest, NumberTextOverItsLimitIsRejected) {
  MAIN_T r;
  r.nCount = 9;
  EXPECT_EQ(r.SetValue("nCount", std::string(2000, '1'), 0), -1);
  EXPECT_EQ(r.nCount, 0);
}

TEST(CfgRecordTest, ArraysFromOneCommaSeparatedValue) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("ports", "80,,8080,9999", 0), 0);
  EXPECT_EQ(r.ports[0], 80);
  EXPECT_EQ(r.ports[1], 0);
  EXPECT_EQ(r.ports[2], 8080);
  EXPECT_EQ(r.SetValue("names", "vave.exe, x", 0), 0);
  EXPECT_STREQ(r.names[0], "vave.exe");
  EXPECT_STREQ(r.names[1], "x");
  EXPECT_EQ(r.SetValue("notes", "one, two two", 0), 0);
  EXPECT_EQ(r.notes[1], "two two");
  // An element longer than its slot is refused, not cut.
  EXPECT_EQ(r.SetValue("names", "ok,zivoridor-long.dll", 0), -1);
  EXPECT_STREQ(r.names[1], "");
}

TEST(CfgRecordTest, Ranges) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("range", "5", 0), 0);
  EXPECT_EQ(r.range.lowest, 0);
  EXPECT_EQ(r.range.span, 5);
  EXPECT_EQ(r.range.single, 0);
  EXPECT_EQ(r.SetValue("range", "10,4", 0), 0);
  EXPECT_EQ(r.range.lowest, 4);
  EXPECT_EQ(r.range.span, 6);
  EXPECT_EQ(r.SetValue("range", "3,3", 0), 0);
  EXPECT_EQ(r.range.lowest, 3);
  EXPECT_EQ(r.range.span, 6);  // left as it was
  EXPECT_EQ(r.range.single, 1);
  EXPECT_EQ(r.SetValue("range", "1,2", 0), 0);
  EXPECT_EQ(r.range.single, 0);
  EXPECT_EQ(r.SetValue("fRange", "2.5, 1", 0), 0);
  EXPECT_FLOAT_EQ(r.fRange.lowest, 1.0f);
  EXPECT_FLOAT_EQ(r.fRange.span, 1.5f);
}

TEST(CfgRecordTest, MaskBitsSelectRows) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("nCount", "4", 1), 0);  // flags 0: accepted, not stored
  EXPECT_EQ(r.nCount, 0);
  EXPECT_EQ(r.SetValue("nMasked", "4", 1), 0);
  EXPECT_EQ(r.nMasked, 0);
  EXPECT_EQ(r.SetValue("nMasked", "4", 3), 0);
  EXPECT_EQ(r.nMasked, 4);
  EXPECT_EQ(r.SetValue("nCount", "4", 0), 0);
  EXPECT_EQ(r.nCount, 4);
}

TEST(CfgRecordTest, InheritedQualifiedAndSubRecordKeys) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("nBase", "11", 0), 0);  // parent's table
  EXPECT_EQ(r.nBase, 11);
  EXPECT_EQ(r.SetValue("net::szHost", "example.org", 0), 0);  // sub-record field name
  EXPECT_STREQ(r.net.szHost, "example.org");
  EXPECT_EQ(r.SetValue("NET_INFO_T::nPort", "81", 0), 0);  // sub-record type name
  EXPECT_EQ(r.net.nPort, 81);
  EXPECT_EQ(r.SetValue("nPort", "82", 0), 0);  // only the sub-record knows it
  EXPECT_EQ(r.net.nPort, 82);
  EXPECT_EQ(r.SetValue("MAIN_T::nCount", "3", 0), 0);  // own type name
  EXPECT_EQ(r.nCount, 3);
  EXPECT_EQ(r.SetValue("MAIN_T::MAIN_T::net::nPort", "83", 0), 0);
  EXPECT_EQ(r.net.nPort, 83);
  // A type name with "::" cannot be used as a head: the split is at the
  // first "::".
  EXPECT_EQ(r.SetValue("test::BASE_T::nBase", "12", 0), -1);
  EXPECT_EQ(r.SetValue("nothing", "1", 0), -1);
  EXPECT_EQ(r.SetValue("net::nothing", "1", 0), -1);
}

TEST(CfgRecordTest, SelfQualifiedKeysAndThePartLimit) {
  MAIN_T r;
  std::string key;
  for (int i = 0; i < 31; ++i) key += "MAIN_T::";
  key += "nCount";  // the tail stays within 255 bytes
  EXPECT_EQ(r.SetValue(key, "6", 0), 0);
  EXPECT_EQ(r.nCount, 6);
  // A longer tail does not split, and the whole key names no row.
  std::string longKey;
  for (int i = 0; i < 40; ++i) longKey += "MAIN_T::";
  EXPECT_EQ(r.SetValue(longKey + "nCount", "7", 0), -1);
  EXPECT_EQ(r.nCount, 6);
}

TEST(CfgRecordTest, ActionRowCallsTheHandler) {
  MAIN_T r;
  EXPECT_EQ(r.SetValue("PACKAGE", "data.dpk", 0), 0);
  r.packageResult = -7;
  EXPECT_EQ(r.SetValue("PACKAGE", "more.dpk", 0), -7);
  EXPECT_EQ(r.packages, (std::vector<std::string>{"data.dpk", "more.dpk"}));
}

TEST(CfgRecordTest, Lookups) {
  MAIN_T r;
  int32_t type = 0, count = 0, size = 0;
  const CfgFieldInfo* row = nullptr;
  void* field = r.FindField("ports", &type, &count, nullptr, &size, &row);
  EXPECT_EQ(field, static_cast<void*>(r.ports));
  EXPECT_EQ(type, kCfgInt32 | kCfgArray);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(size, static_cast<int32_t>(sizeof r.ports));
  EXPECT_EQ(r.FindFieldOfType("ports", kCfgInt32, nullptr, nullptr, nullptr, nullptr), nullptr);
  EXPECT_EQ(r.FindFieldOfType("nBase", kCfgInt32, nullptr, nullptr, nullptr, nullptr), &r.nBase);
  EXPECT_EQ(r.FindObject("MAIN_T"), &r);
  EXPECT_EQ(r.FindObject("test::BASE_T"), &r);
  EXPECT_EQ(r.FindObject("net"), &r.net);
  EXPECT_EQ(r.FindObjectByName("NET_INFO_T"), &r.net);
  EXPECT_EQ(r.FindObject("szHost"), nullptr);
  EXPECT_EQ(r.FindSubRecord("net"), &r.net);
  EXPECT_EQ(r.FindSubRecord("nCount"), nullptr);  // not a sub-record
  std::string head, tail;
  EXPECT_TRUE(r.SplitQualifiedKey("a::b::c", &head, &tail));
  EXPECT_EQ(head, "a");
  EXPECT_EQ(tail, "b::c");
  EXPECT_FALSE(r.SplitQualifiedKey("a::", &head, &tail));
  EXPECT_FALSE(r.SplitQualifiedKey("::b", &head, &tail));
  EXPECT_FALSE(r.SplitQualifiedKey(std::string(300, 'h') + "::b", &head, &tail));
}

TEST(AssignValueTest, RefusesUnassignableTypesAndWrongSizes) {
  int32_t value = 0;
  EXPECT_EQ(AssignValue(&value, 4, kCfgAction, 0, "1"), -1);
  EXPECT_EQ(AssignValue(&value, 4, kCfgSubRecord, 0, "1"), -1);
  EXPECT_EQ(AssignValue(&value, 4, 77, 0, "1"), -1);
  EXPECT_EQ(AssignValue(&value, 2, kCfgInt32, 0, "1"), -1);
  EXPECT_EQ(AssignValue(&value, 4, kCfgCustom, 0, "1"), -1);  // no converter
  EXPECT_EQ(AssignValue(&value, 4, kCfgFloatRange | kCfgArray, 1, "1"), -1);
  EXPECT_EQ(AssignValue(&value, 4, kCfgInt32, 0, "12"), 0);
  EXPECT_EQ(value, 12);
}

}  // namespace
}  // namespace marrowgate
