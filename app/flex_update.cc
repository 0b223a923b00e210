#include "app/flex_update.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "app/client_version.h"
#include "app/install_bookkeeping.h"
#include "app/own_package.h"
#include "app/payload_check.h"
#include "config/cfg_std_reader.h"
#include "platform/env.h"
#include "transfer/dir_copy.h"
#include "transfer/make_sure_package.h"
#include "util/safe_path.h"
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

namespace {

// The copy's sink during a run from the patch's own package: everything
// goes on to the job's sink, except a read error of a source item. The
// package was opened read-only and its structure checked, so an item that
// cannot be read to its end (its content does not match its MD5) means a
// damaged patch: the copy is told to stop there, and the run ends with
// kRunPatchDamaged instead of leaving the file out and going on.
class DamageWatch : public CPackNotify {
 public:
  explicit DamageWatch(CPackNotify* sink) : sink_(sink) {}

  int32_t Release() override { return 0; }  // lives on the run's stack
  int32_t cb_ENTERDIR(const char* path) override { return sink_->cb_ENTERDIR(path); }
  int32_t cb_LEAVEDIR(const char* path) override { return sink_->cb_LEAVEDIR(path); }
  int32_t cb_FILEBEGIN(const char* source, const char* target, int32_t size) override {
    return sink_->cb_FILEBEGIN(source, target, size);
  }
  int32_t cb_FILEEND() override { return sink_->cb_FILEEND(); }
  int32_t cb_PROGRESS(int32_t written) override { return sink_->cb_PROGRESS(written); }
  int32_t cb_READONLY(const char* source) override { return sink_->cb_READONLY(source); }
  int32_t cb_ERROR(int32_t code, const char* text) override {
    // The statistics pass's failure keeps its own code and text.
    if (code != kNotifyReadError || (text != nullptr && std::strcmp(text, kTextCorrupted) == 0))
      return sink_->cb_ERROR(code, text);
    if (!damaged_) {
      damaged_ = true;
      what_ = text != nullptr ? text : "";
    }
    return 1;
  }
  int32_t cb_INFO(int32_t level, const char* text) override { return sink_->cb_INFO(level, text); }
  int32_t cb_SRCDIRSTAT(SRCDIRSTAT_T* stat) override { return sink_->cb_SRCDIRSTAT(stat); }
  int32_t cb_VERIFIED(const char* target, uint32_t size, const uint8_t* digest,
                      int32_t identical) override {
    return sink_->cb_VERIFIED(target, size, digest, identical);
  }

  bool damaged() const { return damaged_; }
  // The engine's text for the item that could not be read.
  const std::string& what() const { return what_; }

 private:
  CPackNotify* sink_;
  bool damaged_ = false;
  std::string what_;
};

// Tells `notify` (and the debug output) that the patch is damaged.
void ReportPatchDamaged(CPackNotify* notify, const std::string& problem) {
  std::string text = std::string(kTextPatchDamaged) + " (" + problem + ")";
  platform::DebugOutput(("marrowgate, " + text + "\n").c_str());
  notify->cb_ERROR(kNotifyPatchRefused, text.c_str());
}

}  // namespace

// The copy engine goes before the FileManager it writes through.
FlexUpdate::FlexUpdate() = default;
FlexUpdate::~FlexUpdate() { copyEngine_.reset(); }

int FlexUpdate::ParseCfg(VirtualFile* file) {
  if (file == nullptr) return kCfgReadFailed;
  packageNames_.clear();
  CPackNotify* notify = job_ != nullptr ? job_->pNotify : nullptr;
  auto refuse = [notify](const std::string& text, int code) {
    if (notify != nullptr) notify->cb_ERROR(kNotifyCfgError, text.c_str());
    return code;
  };
  CfgStdReader reader;
  reader.RegisterObject(kUpdateBlockName, this);
  int rst = reader.ReadStream(file, true, 0);
  if (rst < 0) {
    std::string errorText = reader.GetErrorText();
    return refuse(FormatText(kTextCanNotAnalyzeCfg, rst, errorText.c_str(), "\n"),
                  kCfgReadFailed);
  }
  // The source folder is looked for in the package, then on the disk: a
  // name that climbs or is absolute would copy a disk folder.
  if (!IsContainedRelativePath(szUpdateDir)) {
    return refuse(FormatText(kTextBadUpdateDir, szUpdateDir), kCfgBadUpdateDir);
  }
  // A requirement that is no version would compare as 0.0.0.0 and let
  // every client through.
  if (szValidityStr[0] != '\0' && !IsClientVersionText(szValidityStr)) {
    return refuse(FormatText(kTextBadValidity, szValidityStr), kCfgBadValidity);
  }
  return 0;
}

int FlexUpdate::OnPackage(std::string_view name) {
  CPackNotify* notify = job_ != nullptr ? job_->pNotify : nullptr;
  const char* installDir = job_ != nullptr ? job_->szInstallDir : nullptr;
  std::string nameText(name);
  int refused = CheckPackageName(fileManager_.get(), installDir, notify, nameText.c_str());
  if (refused != 0) return refused;
  packageNames_.push_back(std::move(nameText));
  return 0;
}

int FlexUpdate::MakePackages() {
  CPackNotify* notify = job_ != nullptr ? job_->pNotify : nullptr;
  const char* installDir = job_ != nullptr ? job_->szInstallDir : nullptr;
  for (const std::string& name : packageNames_) {
    int rc = MakeSurePackage(fileManager_.get(), installDir, notify, name.c_str());
    if (rc != 0) return rc;
  }
  return 0;
}

int32_t FlexUpdate::SavePackages(CPackNotify* notify) {
  if (!fileManager_) return 0;
  std::vector<std::string> failed;
  int first = fileManager_->CloseAllPackages(&failed);
  if (first == 0) return 0;
  for (const std::string& path : failed) {
    std::string text = FormatText(kTextPackageNotSaved, path.c_str(), first);
    platform::DebugOutput(("marrowgate, " + text + "\n").c_str());
    if (notify != nullptr) notify->cb_ERROR(kNotifyPackageNotSaved, text.c_str());
  }
  return kRunPackageNotSaved;
}

int32_t FlexUpdate::CheckTargetVersion(Package* package, CPackNotify* notify) {
  targetVersion_.clear();
  std::string carried;
  int found = ReadCarriedVersion(package, szUpdateDir, &carried);
  if (found == 0) return 0;  // no version file: the lower bound alone
  if (found < 0) {
    std::string shown = EscapeControlCharacters(carried);
    notify->cb_ERROR(kNotifyPatchRefused, FormatText(kTextBadTargetVersion, shown.c_str()).c_str());
    return kRunBadTargetVersion;
  }
  targetVersion_ = carried;
  const char* installed = job_->pszClientVersion != nullptr ? job_->pszClientVersion : "";
  // A new-file list still in the install folder is a run that ended
  // after the version file but before its bookkeeping (a package that
  // could not be saved, a list that could not be written): that run is
  // repeated, not called up to date.
  const std::string pending = std::string(job_->szInstallDir) + kNewFileListPath;
  if (ScanClientVersion(installed) == ScanClientVersion(carried) &&
      !job_->pFileSystem->Exists(pending.c_str())) {
    notify->cb_INFO(0, (std::string(kTextAlreadyUpToDate) + ": " + carried).c_str());
    return kRunAlreadyUpToDate;
  }
  if (IsVersionLower(carried.c_str(), installed) && !allowDowngrade_) {
    std::string shown(TrimView(installed));
    notify->cb_ERROR(kNotifyPatchRefused,
                     FormatText(kTextDowngrade, carried.c_str(), shown.c_str()).c_str());
    return kRunDowngrade;
  }
  return 0;
}

namespace {

// The run's FileManager over the job's parts (none of them owned by it).
FileManager* NewRunFileManager(const PatchJob& job) {
  FileManagerConfig config;
  config.searchMode = 3;
  config.acceptHosts = 1;
  config.ownFileSystem = 0;
  config.reservedFlags[0] = 0;
  config.reservedFlags[1] = 0;
  config.reservedFlags[2] = 1;
  config.fileSystem = job.pFileSystem;
  config.defaultMode = kOpenUpdate;
  config.compressor = job.pCodec;
  config.cipherAEnc = job.pCipherA;
  config.cipherADec = job.pCipherB;
  config.cipherBEnc = job.pCipherC;
  config.cipherBDec = job.pCipherD;
  config.blockSize = job.nBlockSize;
  // Passwords longer than the key fields are cut to them.
  auto copyKey = [](const char* password, int32_t length, uint8_t* key, int* keyLength) {
    if (password == nullptr || length <= 0) return;
    size_t n = std::min<size_t>(static_cast<size_t>(length), sizeof config.keyA);
    std::memcpy(key, password, n);
    *keyLength = static_cast<int>(n);
  };
  copyKey(job.szPassword, job.nPasswordLen, config.keyA, &config.keyALen);
  copyKey(job.szPassword2, job.nPassword2Len, config.keyB, &config.keyBLen);
  config.mountList = nullptr;
  return new (std::nothrow) FileManager(config);
}

}  // namespace

int FlexUpdate::Run(PatchJob* job, const char* const* delayedNames) {
  try {
    job_ = job;
    if (job == nullptr || job->szPackageRoot == nullptr || job->szInstallDir == nullptr ||
        job->pNotify == nullptr || job->pFileSystem == nullptr) {
      return kRunBadJob;
    }
    CPackNotify* notify = job->pNotify;
    targetVersion_.clear();
    // A cut download or a damaged structure is found before anything is
    // written; damaged content, while the copy reads it (DamageWatch).
    std::vector<ItemHeaderFacts> auditedHeaders;
    if (checkPayload_ && !ownProgram_.empty()) {
      std::string problem;
      if (!CheckPayload(ownProgram_, nullptr, &problem, PayloadDepth::kStructure,
                        &auditedHeaders)) {
        ReportPatchDamaged(notify, problem);
        return kRunPatchDamaged;
      }
    }
    auto releaseAll = [this]() {
      copyEngine_.reset();
      fileManager_.reset();
    };

    fileManager_.reset(NewRunFileManager(*job));
    if (!fileManager_) return kRunNoMemory;
    fileManager_->SetPackageMode(job->szPackageRoot, kOpenRead);
    // The own package, when it is known here: the carried version file is
    // read from it alone, never from a disk folder beside the program.
    Package* ownPackage = nullptr;
    if (!ownProgram_.empty()) {
      ownPackage = MountOwnPackage(fileManager_.get(), ownProgram_);
      // The audit read every item's header: the statistics pass and the
      // copy need not read them again.
      if (ownPackage != nullptr) ownPackage->LearnItemHeaders(auditedHeaders);
    } else if (job->pFileSystem->Exists(job->szPackageRoot) &&
               !job->pFileSystem->IsFolder(job->szPackageRoot)) {
      ownPackage = fileManager_->OpenPackage(job->szPackageRoot, "", kOpenRead);
    }

    std::string cfgPath = std::string(job->szPackageRoot) + "/" + kCfgFileName;
    Owned<VirtualFile> cfgFile(fileManager_->Open(cfgPath.c_str(), kOpenRead));
    if (cfgFile) {
      int rc = ParseCfg(cfgFile.get());
      cfgFile.reset();
      if (rc != 0) {
        releaseAll();
        notify->cb_INFO(0, FormatText(kTextParseCfgError, cfgPath.c_str(), rc).c_str());
        return rc - kRunCfgOffset;
      }
      const char* installed = job->pszClientVersion != nullptr ? job->pszClientVersion : "";
      if (IsVersionLower(installed, szValidityStr)) {
        releaseAll();
        notify->cb_ERROR(kNotifyVersionTooLow,
                         FormatText(kTextNeedClientVersion, szValidityStr, installed).c_str());
        return kRunVersionTooLow;
      }
      if (int32_t refused = CheckTargetVersion(ownPackage, notify); refused != 0) {
        releaseAll();
        return refused;
      }
      // The run is allowed: only now is anything made in the install folder.
      if (MakePackages() != 0) {
        releaseAll();  // the packages made so far are saved and stay
        notify->cb_INFO(0, FormatText(kTextParseCfgError, cfgPath.c_str(), kCfgReadFailed).c_str());
        return kRunCfgFailed;
      }
    } else if (int32_t refused = CheckTargetVersion(ownPackage, notify); refused != 0) {
      releaseAll();
      return refused;
    }

    std::string sourceDir = std::string(job->szPackageRoot) + "/" + szUpdateDir;
    // The version file says the update is in place: it goes last.
    copyEngine_.reset(CreateDirCopy(kDelayedDirCopy, delayedNames, kUpdateVersionFile));
    if (!copyEngine_) {
      releaseAll();
      return kRunNoMemory;
    }
    DIRCP_PARAM_T params;
    params.pSrcFM = fileManager_.get();
    params.pDstFM = fileManager_.get();
    params.szSrcDir = sourceDir.c_str();
    params.szDstDir = job->szInstallDir;
    params.nCutTail = job->nCutTail;
    params.szDstSuffix = job->szDstSuffix;
    // Read from the patch's own package, an item that cannot be read is a
    // damaged patch.
    DamageWatch watch(notify);
    if (ownPackage != nullptr) params.pNotify = &watch;
    else params.pNotify = notify;
    params.pStatSink = job->pStatSink;
    params.nBufSize = job->nBufSize;
    params.byFlags = job->byFlags;
    params.byStatMode = job->byStatMode;
    params.szStop = job->szStop;
    params.ppszExcludeNames = job->ppszExcludeNames;
    params.szExcludeSuffixes = job->szExcludeSuffixes;
    int32_t result;
    try {
      result = copyEngine_->DoIt(params);
    } catch (int thrown) {
      releaseAll();
      return thrown;
    }
    copyEngine_.reset();
    // What went into packages is on disk only once each package is saved.
    int32_t saved = SavePackages(notify);
    fileManager_.reset();
    if (watch.damaged()) {
      ReportPatchDamaged(notify, watch.what());
      return kRunPatchDamaged;
    }
    return result < 0 ? result : saved;
  } catch (int thrown) {
    copyEngine_.reset();
    fileManager_.reset();
    return thrown;
  } catch (...) {
    copyEngine_.reset();
    fileManager_.reset();
    return kRunFailed;
  }
}

}  // namespace marrowgate
