// FlexUpdate: the object of one patch run. It is the bindable record of
// the UPDATE block of the package's "cfg.txt" (type "FlexUpdate::CFGINFO_T",
// no parent):
//
//   UPDATE
//   {
//     szUpdateDir = update       // folder of the package copied (259 chars)
//     szValidityStr = 1.2.0.0    // lowest client version served (15 chars)
//     PACKAGE = data/sound       // each line: MakeSurePackage of that name
//   }
//
// Longer text values are cut to the field (259 and 15 characters).
//
//   FlexUpdate update;
//   update.SetJob(&job);                  // borrowed for the run
//   update.SetFileManager(fileManager);   // owned from now on
//   int rc = update.ParseCfg(cfgFile);    // 0, or -1 after cb_ERROR(-1000)
//   if (rc == 0 && IsVersionLower(job.pszClientVersion, update.szValidityStr)) ...
//
// A PACKAGE line is checked while the file is read (CheckPackageName of
// transfer/make_sure_package.h: a name that would leave the install folder
// or does not fit fails that line and so the read) and kept; MakePackages
// makes the kept packages (MakeSurePackage with the job's szInstallDir and
// pNotify and the run's FileManager) once the run has passed the version
// check, so a refused run leaves the install folder untouched.
//
// One object serves one run; the job, the FileManager and the copy engine
// live exactly as long as the run.
#ifndef MARROWGATE_APP_FLEX_UPDATE_H_
#define MARROWGATE_APP_FLEX_UPDATE_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/patch_job.h"
#include "config/cfg_record.h"
#include "package/manager/file_manager.h"
#include "package/file/virtual_file.h"
#include "util/releaser.h"

namespace marrowgate {

class dircp;  // transfer/dir_copy.h

// Texts and codes of ParseCfg.
inline constexpr char kTextCanNotAnalyzeCfg[] = "Can not analyze cfgfile rst:%d %s%s";
constexpr int32_t kNotifyCfgError = -1000;
// szUpdateDir must name a folder inside the package: a contained relative
// path (util/safe_path.h). Otherwise ParseCfg says so at cb_ERROR (code
// -1000) and gives kCfgBadUpdateDir, and the run ends with -10002 before
// anything is copied.
inline constexpr char kTextBadUpdateDir[] = "szUpdateDir %s is not a folder inside the package";
constexpr int32_t kCfgBadUpdateDir = -2;
// szValidityStr, when given, must be a version (IsClientVersionText of
// app/client_version.h): a text that is none would read as 0.0.0.0 and let
// every client through. ParseCfg says so at cb_ERROR (code -1000) and gives
// kCfgBadValidity; the run ends with -10003 before anything is touched.
inline constexpr char kTextBadValidity[] = "szValidityStr %s is not a version";
constexpr int32_t kCfgBadValidity = -3;
// The reader failed, or a package of a PACKAGE line could not be made.
constexpr int32_t kCfgReadFailed = -1;

// Texts and codes of Run.
inline constexpr char kTextParseCfgError[] = "ParseCfg %s err:%d";
inline constexpr char kTextNeedClientVersion[] = "Need Client Version: %s, Current: %s";
inline constexpr char kCfgFileName[] = "cfg.txt";
constexpr int32_t kNotifyVersionTooLow = -5;
constexpr int32_t kRunCfgOffset = 10000;
constexpr int32_t kRunCfgFailed = kCfgReadFailed - kRunCfgOffset;      // -10001
constexpr int32_t kRunBadUpdateDir = kCfgBadUpdateDir - kRunCfgOffset;  // -10002
constexpr int32_t kRunBadValidity = kCfgBadValidity - kRunCfgOffset;    // -10003
constexpr int32_t kRunVersionTooLow = -10100;
// The update carries a version file (kUpdateVersionFile) whose text is no
// version: what it brings cannot be told, so nothing is installed.
constexpr int32_t kRunBadTargetVersion = -10004;
inline constexpr char kTextBadTargetVersion[] = "The update's version file holds no version: %s";
// The installed client is newer than the version the update brings: a
// downgrade, refused unless it was allowed (SetAllowDowngrade).
constexpr int32_t kRunDowngrade = -10101;
inline constexpr char kTextDowngrade[] =
    "The patch brings version %s, older than the installed %s: not installed "
    "(--allow-downgrade installs it)";
// The installed client already has the version the update brings: the run
// succeeds without writing anything (a result above 0).
constexpr int32_t kRunAlreadyUpToDate = 1;
inline constexpr char kTextAlreadyUpToDate[] = "already up to date";
// The patch's own package is damaged or incomplete (app/payload_check.h).
// A cut download or a damaged structure stops the run before anything is
// written; an item whose content does not match its MD5 stops the copy at
// that item: the files copied before it are new, the rest (the version
// file included) old.
constexpr int32_t kRunPatchDamaged = -10205;
// cb_ERROR code of the refusals above (shown under message 307).
constexpr int32_t kNotifyPatchRefused = -1001;
constexpr int32_t kRunBadJob = -10200;
constexpr int32_t kRunNoMemory = -10201;
constexpr int32_t kRunFailed = -10202;
// The copy ended but left files out after errors it was told to skip: the
// install folder did not get the whole update.
constexpr int32_t kRunFilesLeftOut = -10203;
// The copy ended, but a package it wrote into (a PACKAGE line's, or one
// reached on the way) could not be saved: its new items are not on disk.
constexpr int32_t kRunPackageNotSaved = -10204;
// Sent to cb_ERROR (code -4, a write error) for each package not saved.
inline constexpr char kTextPackageNotSaved[] = "Can not save package %s: error %d";
constexpr int32_t kNotifyPackageNotSaved = -4;
// The copy succeeded but the install folder's local file list could not be
// written (message 209 has said so): the run did not get everything it was
// to write on disk. The delete list was not applied.
constexpr int32_t kRunFileListUnwritten = -10209;

// The update's version file, relative to the update folder (the install
// folder's "/mb/etc/version.txt").
inline constexpr char kUpdateVersionFile[] = "mb/etc/version.txt";

// Block name of the record in "cfg.txt".
inline constexpr char kUpdateBlockName[] = "UPDATE";

class FlexUpdate : public CfgRecord {
 public:
  static constexpr int32_t kUpdateDirSize = 260;
  static constexpr int32_t kValiditySize = 16;

  // The type description "FlexUpdate::CFGINFO_T" and its rows.
  static const CfgFieldInfo CFGINFO_ROWS[];
  static const CfgTypeInfo CFGINFO_T;

  FlexUpdate();
  FlexUpdate(const FlexUpdate&) = delete;
  FlexUpdate& operator=(const FlexUpdate&) = delete;
  ~FlexUpdate() override;  // in flex_update.cc, where dircp is complete

  const CfgTypeInfo* GetTypeInfo() const override { return &CFGINFO_T; }

  // The job of the run (borrowed; may be null to detach).
  void SetJob(PatchJob* job) { job_ = job; }
  PatchJob* job() const { return job_; }

  // Hands over the run's FileManager (owned from now on; an earlier one is
  // released). PACKAGE lines mount their packages in it.
  void SetFileManager(FileManager* fileManager) { fileManager_.reset(fileManager); }
  FileManager* file_manager() const { return fileManager_.get(); }

  // Reads the UPDATE block of the open `file` (not closed here). 0, or -1
  // when the reader failed: then "Can not analyze cfgfile rst:<rst>
  // <error text>\n" was sent to cb_ERROR(-1000) of the job's sink (when
  // there is a job with a sink); kCfgBadUpdateDir or kCfgBadValidity for a
  // value read but refused (see above). A null file gives -1 and sends
  // nothing. Values bound before a failure stay. Nothing is created: the
  // PACKAGE names are only kept (earlier ones are forgotten).
  int ParseCfg(VirtualFile* file);

  // The handler of PACKAGE: CheckPackageName of `name` for the job's
  // install folder and the run's FileManager (kPackageNameRefused without a
  // job or a FileManager); a name that passes is kept for MakePackages.
  int OnPackage(std::string_view name);

  // MakeSurePackage of every kept PACKAGE name, in file order. 0, or the
  // first non-zero result (the packages made before it stay; the later
  // names are not tried).
  int MakePackages();
  const std::vector<std::string>& package_names() const { return packageNames_; }

  // The record.
  char szUpdateDir[kUpdateDirSize] = "update";
  char szValidityStr[kValiditySize] = {};

  // The program file that carries the package (optional): Run mounts its
  // package under the package root whatever the file's extension. Without
  // it, the FileManager finds "<szPackageRoot>.dpk" or ".exe", or a file
  // at szPackageRoot itself (a program without an extension).
  void SetOwnProgram(std::string modulePath) { ownProgram_ = std::move(modulePath); }
  // Before anything else, check the structure of the own program's package
  // (CheckPayload of app/payload_check.h, PayloadDepth::kStructure); only
  // with SetOwnProgram. The content is judged by the copy.
  void SetCheckPayload(bool check) { checkPayload_ = check; }
  // Install an update older than the installed client.
  void SetAllowDowngrade(bool allow) { allowDowngrade_ = allow; }
  // The version the update brings, once Run has read it (empty: none).
  const std::string& target_version() const { return targetVersion_; }

  // The patch run over `job` (borrowed for the call; the run's own
  // FileManager and copy engine live for the call only):
  //  1. a FileManager over the job's file system, codec, ciphers and
  //     passwords (packages first, then disk; hosts accepted; packages
  //     opened for update), the package at szPackageRoot opened read-only;
  //  0. with SetCheckPayload, the structure of the own program's package is
  //     checked; a damaged or incomplete one sends cb_ERROR(-1001,
  //     kTextPatchDamaged and what was found) and gives kRunPatchDamaged;
  //  2. "<szPackageRoot>/cfg.txt", when it opens, is parsed (PACKAGE lines
  //     checked and kept). A failed parse sends cb_INFO(0, "ParseCfg <path>
  //     err:<rc>") and gives rc - 10000 (-10001, -10002, -10003); an
  //     installed version below szValidityStr sends cb_ERROR(-5, "Need
  //     Client Version: <required>, Current: <installed>") and gives -10100.
  //     When the update carries a version file (kUpdateVersionFile below
  //     szUpdateDir, read from the package only), the installed version is
  //     compared with it: equal gives kRunAlreadyUpToDate (cb_INFO, nothing
  //     made or copied) unless the install folder still holds a new-file
  //     list (an earlier run ended before its bookkeeping: it is
  //     repeated); installed newer sends cb_ERROR(-1001, kTextDowngrade) and
  //     gives kRunDowngrade unless downgrades are allowed; a file that holds
  //     no version gives kRunBadTargetVersion. The version file is also
  //     looked at when there is no "cfg.txt".
  //     Only then are the PACKAGE lines' packages made (MakePackages); a
  //     failure there ends the run like a failed parse (-10001). Without
  //     "cfg.txt" the defaults hold and szValidityStr is not compared;
  //  3. the version file (kUpdateVersionFile) is held back behind every
  //     other held-back name, so it is the very last file copied, and only
  //     when no file before it was left out: a run that stops or skips
  //     files never leaves the new version in the install folder;
  //  4. the delayed copy engine (held-back names `delayedNames`, may be
  //     null) copies "<szPackageRoot>/<szUpdateDir>" into szInstallDir with
  //     the job's copy settings; its result is the run's (0 or negative).
  //     Copying from the own package (SetOwnProgram), a source item that
  //     cannot be read (cb_ERROR code kNotifyReadError, not passed on) stops
  //     the copy there, and the run ends, after step 5, with cb_ERROR(-1001,
  //     kTextPatchDamaged and the engine's text) and kRunPatchDamaged;
  //  5. every package the run's FileManager mounted is closed, so saved,
  //     and checked: one that could not be saved is sent as cb_ERROR(-4,
  //     "Can not save package <path>: error <code>") and, when the copy
  //     itself succeeded, gives kRunPackageNotSaved.
  // A job without a package root, install folder or sink gives
  // kRunBadJob; no FileManager or engine, kRunNoMemory. Nothing thrown
  // inside leaves the call: an integer thrown is returned as the result,
  // anything else gives kRunFailed.
  int Run(PatchJob* job, const char* const* delayedNames = nullptr);

 private:
  // Step 5 of Run: 0, or kRunPackageNotSaved.
  int32_t SavePackages(CPackNotify* notify);

  // The version check against the carried version file: 0 go on, or the
  // run's result.
  int32_t CheckTargetVersion(Package* package, CPackNotify* notify);

  std::string ownProgram_;
  bool checkPayload_ = false;
  bool allowDowngrade_ = false;
  std::string targetVersion_;
  PatchJob* job_ = nullptr;           // borrowed for the run
  Owned<FileManager> fileManager_;    // the run's FileManager; null until set
  Owned<dircp> copyEngine_;           // the run's copy engine; null until made
  std::vector<std::string> packageNames_;  // PACKAGE lines, checked, in order
};

}  // namespace marrowgate

#endif  // MARROWGATE_APP_FLEX_UPDATE_H_
