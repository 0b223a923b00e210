#include "app/patcher_dialog.h"

#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include "app/app_file_manager.h"
#include "app/code_format.h"
#include "app/delayed_name_list.h"
#include "app/dialog_pack_notify.h"
#include "app/flex_update.h"
#include "app/install_bookkeeping.h"
#include "app/message_file.h"
#include "app/own_package.h"
#include "app/patch_job.h"
#include "app/payload_check.h"
#include "app/run_job.h"
#include "app/patcher_log.h"
#include "package/file/file_system.h"
#include "platform/env.h"
#include "util/releaser.h"
#include "util/safe_path.h"
#include "util/text.h"
#include "platform/file_tree.h"

namespace marrowgate {

namespace {

// The window's own words where the patch's messages lack them, so that no
// control of the window is blank.
struct BuiltInText {
  int32_t number;
  const char* text;
};
constexpr BuiltInText kBuiltInTexts[] = {
    {kMessageTitle, "Patch"},
    {kMessagePathLabel, "Install folder:"},
    {kMessageBrowse, "Browse..."},
    {kMessageStart, "Start"},
    {kMessageExit, "Exit"},
    {kMessageRunning, "Patching, please wait..."},
    {kMessageClose, "Close"},
    {kMessagePickerPrompt, "Choose the folder where the game is installed"},
};

}  // namespace

std::string PatcherDialog::WindowText(int32_t number) {
  std::string text = MessageText(number);
  if (!text.empty()) return text;
  for (const BuiltInText& builtIn : kBuiltInTexts)
    if (builtIn.number == number) return builtIn.text;
  return text;
}

namespace {

// The folder part of a module path: up to its last separator, or empty.
std::string FolderOf(const std::string& path) {
  size_t at = path.find_last_of("/\\");
  return at == std::string::npos ? std::string() : path.substr(0, at);
}


}  // namespace

PatcherDialogSettings::PatcherDialogSettings() : fileManagerOptions(AppFileManagerOptions()) {}

PatcherDialog::PatcherDialog(PatcherView* view, ParentLink* link, std::string installPath,
                             PatcherDialogSettings settings)
    : view_(view),
      ownLink_(link == nullptr ? std::make_unique<ParentLink>() : nullptr),
      link_(link != nullptr ? link : ownLink_.get()),
      settings_(std::move(settings)),
      delivery_(&messages_, link_, view),
      m_strInstallPath(std::move(installPath)) {
  modulePath_ =
      settings_.modulePath.empty() ? platform::OwnExecutablePath() : settings_.modulePath;
}

PatcherDialog::~PatcherDialog() = default;

void PatcherDialog::CloseAsOk() {
  closeRequested_ = true;
  view_->CloseAsOk();
}

void PatcherDialog::PushMembersToControls() {
  view_->SetControlText(kControlInstallPath, m_strInstallPath);
  view_->SetControlText(kControlStatus, m_strStatus);
}

bool PatcherDialog::OnInitDialog() {
  m_strSelfBase = SelfBaseOf(modulePath_);
  ownFolder_ = FolderOf(modulePath_);

  std::string failure;
  if (!LoadMessageFile(settings_.fileManagerOptions, modulePath_, &messages_, &failure)) {
    // A program file that is there but whose package is cut or damaged
    // is a broken download: say so plainly.
    std::string problem;
    platform::NodeStatus program;
    if (platform::StatusOf(modulePath_.c_str(), &program, nullptr) &&
        program.kind == platform::NodeKind::kFile &&
        !CheckPayload(modulePath_, nullptr, &problem)) {
      platform::DebugOutput(("marrowgate, " + failure + ": " + problem + "\n").c_str());
      failure = kTextPatchDamaged;
    }
    view_->MessageBox(failure, "");
    CloseAsOk();
  } else {
    // What the patch is for, until a run replaces it.
    PatchFacts facts;
    if (ReadPatchFacts(modulePath_, &facts, nullptr)) m_strStatus = DescribePatch(facts);
  }

  view_->SetTitle(WindowText(kMessageTitle));
  view_->SetControlText(kControlPathLabel, WindowText(kMessagePathLabel));
  view_->SetControlText(kControlBrowse, WindowText(kMessageBrowse));
  view_->SetControlText(kControlStart, WindowText(kMessageStart));
  view_->SetControlText(kControlExit, WindowText(kMessageExit));
  view_->ShowControl(kControlHiddenEdit, false);
  view_->ShowControl(kControlProgress, true);
  // Start waits for a run's end or a folder from Browse.
  view_->EnableControl(kControlStart, false);
  view_->EnableControl(kControlExit, true);
  view_->EnableControl(kControlBrowse, true);
  PushMembersToControls();

  if (m_strInstallPath == kHiddenRunArgument) {
    m_strInstallPath = ownFolder_;
    view_->HideWindow();
    OnStart();
    CloseAsOk();
  }

  if (!delayedNamesBuilt_) {
    DelayedNameList list;
    list.Build(messages_);
    delayedNames_.assign(list.names(), list.names() + list.size() + 1);
    delayedNamesBuilt_ = true;
  }
  return true;
}

void PatcherDialog::OnShowWindow() {
  if (closeRequested_ || autoStartDone_ || running_ || m_strInstallPath.empty()) return;
  autoStartDone_ = true;
  OnStart();
  // In a window the last status stays on screen until the user closes it;
  // a launcher or a terminal ends with the run.
  if (!settings_.keepWindowAfterRun || !link_->IsInteractive()) CloseAsOk();
}

bool PatcherDialog::RequestCancel() {
  if (!running_) return false;
  if (!cancelRequested_) {
    cancelRequested_ = true;
    platform::DebugOutput("marrowgate, stop requested");
  }
  return true;
}

void PatcherDialog::OnBrowse() {
  std::optional<std::string> chosen =
      view_->PickFolder(WindowText(kMessagePickerPrompt), platform::CurrentFolder());
  if (!chosen) return;
  // Only an existing folder is taken: a picker may hand back a name typed
  // into it that names nothing, or a file.
  platform::NodeStatus status;
  if (chosen->empty() || !platform::StatusOf(chosen->c_str(), &status, nullptr) ||
      status.kind != platform::NodeKind::kFolder) {
    platform::DebugOutput(("marrowgate, picked folder not taken: " + *chosen + "\n").c_str());
    return;
  }
  m_strInstallPath = *chosen;
  PushMembersToControls();
  // During a run Start stays disabled; the run's end enables it.
  if (!m_strInstallPath.empty() && !running_) view_->EnableControl(kControlStart, true);
}

void PatcherDialog::OnStart() {
  if (running_) return;
  if (m_bFinished) {
    CloseAsOk();
    return;
  }
  if (m_strInstallPath.empty()) {
    delivery_.ShowMessageById(kMessageNoFolder);
    return;
  }
  try {
    RunPatch();
  } catch (...) {
    // Nothing leaves a handler; the dialog is usable again.
    running_ = false;
    view_->SetControlText(kControlExit, WindowText(kMessageExit));
    view_->EnableControl(kControlStart, true);
    view_->EnableControl(kControlExit, true);
  }
}

void PatcherDialog::BuildSkipList() {
  m_skipFiles.clear();
  const std::string* countText = messages_.Find(kMessageSkipCount);
  int32_t count = countText != nullptr ? MessageCount(*countText) : 0;
  if (count != 0) {
    for (int32_t i = 0; i < count; ++i) {
      const std::string* name = messages_.Find(kMessageSkipCount + 1 + i);
      // A missing message reads as an empty name, as the table gives it.
      std::string_view trimmed =
          TrimView(name != nullptr ? std::string_view(*name) : std::string_view());
      // A name is a path below the install folder, as in the other lists;
      // one that would leave it is refused.
      std::string normalised;
      if (!NormaliseListName(trimmed, &normalised)) {
        platform::DebugOutput(("marrowgate, skip name refused (not a path inside the install "
                               "folder): " + EscapeControlCharacters(trimmed) + "\n")
                                  .c_str());
        continue;
      }
      m_skipFiles.emplace(std::move(normalised), true);
    }
  } else {
    for (const char* name : kDefaultSkipFiles) m_skipFiles.emplace(name, true);
  }
  excludeNames_.assign(m_skipFiles.size() + 1, nullptr);
  m_skipCounts = 0;
}

void PatcherDialog::MarkPresentSkipFiles(const std::string& installDir) {
  Owned<FileSystem> disk(CreateFileSystem());
  for (auto& [name, flag] : m_skipFiles) {
    std::string path = installDir + "/" + name;
    if (disk && disk->Exists(path.c_str())) {
      ++m_skipCounts;
    } else {
      platform::DebugOutput(("marrowgate, skip name matches nothing in the install folder: " +
                             EscapeControlCharacters(name) + "\n")
                                .c_str());
      flag = false;
    }
  }
}

void PatcherDialog::FillSkipArray() {
  excludeNames_.assign(m_skipFiles.size() + 1, nullptr);
  size_t at = 0;
  for (const auto& [name, flag] : m_skipFiles) {
    if (flag) excludeNames_[at++] = name.c_str();
  }
}

void PatcherDialog::RunPatch() {
  running_ = true;
  cancelRequested_ = false;
  // The run's own copy: a folder picked during the run does not reach it.
  const std::string installDir = m_strInstallPath;
  view_->EnableControl(kControlStart, false);
  view_->SetControlText(kControlExit, kTextCancel);
  view_->EnableControl(kControlExit, true);
  view_->ShowControl(kControlProgress, true);

  const std::string packageRoot = PackageRootOf(modulePath_);
  link_->StartParentProgress();

  std::string version;
  bool versionUsable =
      ReadInstalledVersion(settings_.fileManagerOptions, installDir, &delivery_, &version);
  CopyBounded(m_szClientVersion, sizeof m_szClientVersion, version.c_str());
  if (!versionUsable) {
    // The message shown says what; the status says where and why.
    m_strStatus = VersionFileTrouble(installDir);
    WriteLog(m_strStatus);
  } else {
    m_strStatus = WindowText(kMessageRunning);
    PushMembersToControls();

    int32_t result = kRunFailed;
    // The files this update installed, relative to the install folder: no
    // delete line of it takes them away again.
    std::vector<std::string> carried;
    KnownRecords known;
    try {
      DialogPackNotify notify(this);
      BuildSkipList();
      MarkPresentSkipFiles(installDir);
      FillSkipArray();
      RunJob runJob(packageRoot.c_str(), installDir.c_str(), &notify, m_szClientVersion,
                    excludeNames_.data());
      auto update = std::make_unique<FlexUpdate>();
      update->SetOwnProgram(modulePath_);
      update->SetCheckPayload(true);
      update->SetAllowDowngrade(settings_.allowDowngrade);
      result = update->Run(&runJob.job(), delayedNames_.data());
      // The copy refused the next file because a stop was asked for.
      if (result < 0 && cancelRequested_ && notify.stopped()) result = kRunStopped;
      if (result >= 0 && notify.files_left_out() > 0) {
        WriteLog(FormatText(kTextFilesLeftOut, static_cast<int>(notify.files_left_out())) +
                 (notify.first_left_out().empty() ? "" : ": " + notify.first_left_out()));
        result = kRunFilesLeftOut;
      }
      const std::string prefix = installDir + "/";
      for (const std::string& target : notify.copied_targets()) {
        if (target.compare(0, prefix.size(), prefix) == 0)
          carried.push_back(target.substr(prefix.size()));
      }
      for (const DialogPackNotify::VerifiedTarget& v : notify.verified_targets()) {
        if (v.target.compare(0, prefix.size(), prefix) == 0)
          known[v.target.substr(prefix.size())] = FileRecord{v.size, v.digest};
      }
    } catch (...) {
      result = kRunFailed;
    }
    // A list that cannot be written fails the run (message 209 came
    // first); the other bookkeeping failures leave the outcome as it is.
    const bool upToDate = result == kRunAlreadyUpToDate;
    if (result >= 0 && !upToDate &&
        UpdateFileLists(settings_.fileManagerOptions, installDir, &delivery_, carried, known) ==
            kMessageLocalListUnwritable) {
      result = kRunFileListUnwritten;
    }
    lastResult_ = result;

    if (result == kRunStopped) {
      m_strStatus = MessageText(kMessageCopyStopped);
      if (m_strStatus.empty()) m_strStatus = kTextRunStopped;
      WriteLog(m_strStatus + " (" + std::to_string(result) + ")");
      // The user asked for it: no box; a launcher hears of it.
      if (!link_->IsInteractive()) link_->NotifyParent(kMessageCopyStopped, m_strStatus);
    } else if (result >= 0) {
      // Whatever the counts said, a whole run ends with the bar full.
      progressBar_.SetPosition(progressBar_.upper());
      view_->SetProgressPosition(progressBar_.position());
      m_strStatus = upToDate ? std::string(kTextAlreadyUpToDate) + " (" +
                                   std::string(TrimView(m_szClientVersion)) + ")"
                             : MessageText(kMessageSucceeded);
      if (m_strStatus.empty()) m_strStatus = kTextRunSucceeded;
      view_->SetControlText(kControlStart, WindowText(kMessageClose));
      link_->FinishParentProgress();
      m_bFinished = true;
    } else {
      std::string failed = MessageText(kMessageFailed);
      if (failed.empty()) failed = kTextRunFailed;
      m_strStatus = FormatWithCode(failed, result);
      WriteLog(m_strStatus);
      delivery_.ReportError(kMessageFailed, result);
    }
  }

  running_ = false;
  view_->SetControlText(kControlExit, WindowText(kMessageExit));
  view_->EnableControl(kControlStart, true);
  view_->EnableControl(kControlExit, true);
  PushMembersToControls();
}

}  // namespace marrowgate
