#include "app/flex_update.h"

#include <cstdio>
#include <string>

#include "config/cfg_std_reader.h"
#include "transfer/make_sure_package.h"
#include "util/text.h"

namespace marrowgate {

const CfgFieldInfo FlexUpdate::CFGINFO_ROWS[] = {
    CfgField<&FlexUpdate::szUpdateDir>("szUpdateDir"),
    CfgField<&FlexUpdate::szValidityStr>("szValidityStr"),
    CfgAction<&FlexUpdate::OnPackage>("PACKAGE"),
    CfgEndOfTable(),
};

const CfgTypeInfo FlexUpdate::CFGINFO_T = {"FlexUpdate::CFGINFO_T", nullptr,
                                           FlexUpdate::CFGINFO_ROWS};

// The copy engine goes before the FileManager it writes through.
FlexUpdate::~FlexUpdate() { copyEngine_.reset(); }

int FlexUpdate::ParseCfg(VirtualFile* file) {
  if (file == nullptr) return -1;
  CfgStdReader reader;
  reader.RegisterObject(kUpdateBlockName, this);
  int rst = reader.ReadStream(file, true, 0);
  if (rst >= 0) return 0;
  if (job_ != nullptr && job_->pNotify != nullptr) {
    std::string errorText = reader.GetErrorText();
    std::string text = FormatText(kTextCanNotAnalyzeCfg, rst, errorText.c_str(), "\n");
    job_->pNotify->cb_ERROR(kNotifyCfgError, text.c_str());
  }
  return -1;
}

int FlexUpdate::OnPackage(std::string_view name) {
  CPackNotify* notify = job_ != nullptr ? job_->pNotify : nullptr;
  const char* installDir = job_ != nullptr ? job_->szInstallDir : nullptr;
  std::string nameText(name);
  return MakeSurePackage(fileManager_.get(), installDir, notify, nameText.c_str());
}

}  // namespace marrowgate
