#include "transfer/dir_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/env.h"
#include "transfer/testing/memory_file_system_testing.h"
#include "transfer/my_dir_search.h"
#include "transfer/testing/recording_notify_testing.h"
#include "util/releaser.h"

namespace marrowgate {
namespace {

using testing_fs::MemoryFileSystem;
using Events = std::vector<std::string>;

const char* const kNoDelayed[] = {nullptr};

// A source tree "src" and a target "dst" in one in-memory file system.
class DirCopyTest : public ::testing::Test {
 protected:
  DirCopyTest() {
    params_.pSrcFM = &fs_;
    params_.pDstFM = &fs_;
    params_.szSrcDir = "src";
    params_.szDstDir = "dst";
    params_.pNotify = &sink_;
    params_.nBufSize = 100;
    fs_.AddFolder("dst");
  }

  int32_t Run(HeldBackNames delayed, int kind = kDelayedDirCopy) {
    Owned<dircp> engine(CreateDirCopy(kind, delayed));
    return engine->DoIt(params_);
  }

  MemoryFileSystem fs_;
  RecordingNotify sink_;
  DIRCP_PARAM_T params_;
};

TEST_F(DirCopyTest, FullRunReportsInOrderAndHoldsBackListedFiles) {
  fs_.AddFile("src/a.txt", "hello");
  fs_.AddFile("src/skip.exe", "x");
  fs_.AddFile("src/c.tmp", "t");
  fs_.AddFile("src/late.dll", "LL");
  fs_.AddFile("src/sub/b.txt", "bb");
  const char* const excluded[] = {"skip.exe", nullptr};
  const char* const delayed[] = {"late.dll", "missing.txt", nullptr};
  params_.ppszExcludeNames = excluded;
  params_.szExcludeSuffixes = ".tmp|.bak";
  params_.byStatMode = kStatFromInfo;
  params_.nBufSize = 2;

  ASSERT_EQ(Run(delayed), 0);
  EXPECT_EQ(sink_.events,
            (Events{"INFO 0 Calculating src dir stat ...", "SRCDIRSTAT 5 11 1", "ENTERDIR src",
                    "FILEBEGIN src/a.txt dst/a.txt 5", "PROGRESS 2", "PROGRESS 4", "PROGRESS 5",
                    "FILEEND", "ENTERDIR src/sub", "FILEBEGIN src/sub/b.txt dst/sub/b.txt 2",
                    "PROGRESS 2", "FILEEND", "LEAVEDIR src/sub", "LEAVEDIR src",
                    "FILEBEGIN src/late.dll dst/late.dll 2", "PROGRESS 2", "FILEEND"}));
  EXPECT_EQ(fs_.Content("dst/a.txt"), "hello");
  EXPECT_EQ(fs_.Content("dst/sub/b.txt"), "bb");
  EXPECT_EQ(fs_.Content("dst/late.dll"), "LL");
  EXPECT_FALSE(fs_.HasFile("dst/skip.exe"));
  EXPECT_FALSE(fs_.HasFile("dst/c.tmp"));
  EXPECT_FALSE(fs_.HasFile("dst/missing.txt"));
}

TEST_F(DirCopyTest, DebugTextsNameTheHeldBackAndProcessedFiles) {
  fs_.AddFile("src/a.txt", "a");
  fs_.AddFile("src/late.dll", "L");
  const char* const delayed[] = {"late.dll", nullptr};
  const char* previous = platform::GetEnvironment("MARROWGATE_DEBUG");
  std::string saved = previous != nullptr ? previous : "";
  platform::SetEnvironment("MARROWGATE_DEBUG", "1");
  ::testing::internal::CaptureStderr();
  int32_t rc = Run(delayed);
  std::string output = ::testing::internal::GetCapturedStderr();
  platform::SetEnvironment("MARROWGATE_DEBUG", previous != nullptr ? saved.c_str() : nullptr);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(output,
            "in delayed_dircp::DoIt::MyDirSearchDelayed::ActionOnFile,filedelayed, process file "
            "/a.txt\n"
            "in delayed_dircp::DoIt::MyDirSearchDelayed::ActionOnFile,filedelayed,ignore "
            "late.dll when process\n"
            "in delayed_dircp::DoIt::MyDirSearchDelayed::ActionOnDelayedFiles,filedelayed,process "
            "late.dll \n");
}

TEST_F(DirCopyTest, PlainEngineIgnoresTheListAndCopiesInWalkOrder) {
  fs_.AddFile("src/late.dll", "L");
  fs_.AddFile("src/a.txt", "a");
  const char* const delayed[] = {"late.dll", nullptr};
  ASSERT_EQ(Run(delayed, 0), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "FILEBEGIN src/late.dll dst/late.dll 1",
                                  "PROGRESS 1", "FILEEND", "FILEBEGIN src/a.txt dst/a.txt 1",
                                  "PROGRESS 1", "FILEEND", "LEAVEDIR src"}));
}

TEST_F(DirCopyTest, NoListedFileMetMeansNoDelayedPass) {
  fs_.AddFile("src/a.txt", "a");
  fs_.AddFile("src/other.dll", "o");
  const char* const delayed[] = {"late.dll", "other.dll2", nullptr};
  ASSERT_EQ(Run(delayed), 0);
  EXPECT_EQ(sink_.events.back(), "LEAVEDIR src");
  ASSERT_EQ(Run(kNoDelayed), 0);
}

TEST_F(DirCopyTest, ExcludedNameIsNotHeldBackButTheDelayedPassCopiesIt) {
  fs_.AddFile("src/late.dll", "L");
  fs_.AddFile("src/skip.exe", "S");
  const char* const excluded[] = {"skip.exe", nullptr};
  const char* const delayed[] = {"skip.exe", "late.dll", nullptr};
  params_.ppszExcludeNames = excluded;
  ASSERT_EQ(Run(delayed), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "LEAVEDIR src",
                                  "FILEBEGIN src/skip.exe dst/skip.exe 1", "PROGRESS 1",
                                  "FILEEND", "FILEBEGIN src/late.dll dst/late.dll 1",
                                  "PROGRESS 1", "FILEEND"}));
  // Only excluded files held back: nothing is held, nothing is copied later.
  fs_.Find("src/late.dll")->openFails = false;
  RecordingNotify quiet;
  params_.pNotify = &quiet;
  const char* const only_excluded[] = {"skip.exe", nullptr};
  EXPECT_EQ(Run(only_excluded), 0);
  EXPECT_EQ(quiet.events.back(), "LEAVEDIR src");
}

// Each refusal point of the sink and the code it gives.
TEST_F(DirCopyTest, SinkRefusalsGiveTheirCodes) {
  fs_.AddFile("src/a.txt", "abc");
  fs_.AddFile("src/late.dll", "L");
  const char* const delayed[] = {"late.dll", nullptr};
  struct Case {
    const char* prefix;
    int32_t expected;
  };
  for (const Case& c : {Case{"ENTERDIR", -1}, Case{"LEAVEDIR", -3}, Case{"FILEBEGIN", -1011},
                        Case{"PROGRESS", -1023}, Case{"FILEEND", -1030}}) {
    RecordingNotify sink;
    sink.answer = RecordingNotify::RefuseFirst(c.prefix);
    params_.pNotify = &sink;
    EXPECT_EQ(Run(delayed), c.expected) << c.prefix;
    EXPECT_EQ(sink.events.back().rfind(c.prefix, 0), 0u) << c.prefix;
  }
}

TEST_F(DirCopyTest, HeldBackFileThatCannotBeWrittenGivesMinus4013) {
  fs_.AddFile("src/a.txt", "abc");
  fs_.AddFile("src/late.dll", "L");
  fs_.AddFile("dst/late.dll", "old")->createFails = true;
  const char* const delayed[] = {"late.dll", nullptr};
  sink_.answer = [](const std::string& e) { return e.rfind("ERROR -4 ", 0) == 0 ? 1 : 0; };
  EXPECT_EQ(Run(delayed), -4013);
  EXPECT_EQ(sink_.events.back(),
            "ERROR -4 Can not write dst/late.dll: the system gave no reason");
  EXPECT_EQ(fs_.Content("dst/a.txt"), "abc");  // not rolled back
}

TEST_F(DirCopyTest, HeldBackItemTheSourceHasButCannotGiveIsAnError) {
  fs_.AddFile("src/a.txt", "abc");
  fs_.AddFile("src/late.dll", "L")->openFails = true;
  const char* const delayed[] = {"late.dll", "absent.dll", nullptr};
  // Named and skipped; the name the source lacks is passed over silently.
  EXPECT_EQ(Run(delayed), 0);
  EXPECT_EQ(sink_.events.back(), "ERROR -1 Can not open src/late.dll!");
  EXPECT_FALSE(fs_.HasFile("dst/late.dll"));
  RecordingNotify stopping;
  stopping.answer = [](const std::string& e) { return e.rfind("ERROR -1 ", 0) == 0 ? 1 : 0; };
  params_.pNotify = &stopping;
  EXPECT_EQ(Run(delayed), -4002);
}

TEST_F(DirCopyTest, FailedStatisticsPassGivesMinus31010) {
  fs_.AddFile("src/a.txt", "abc")->statFails = true;
  params_.byStatMode = kStatFromInfo;
  EXPECT_EQ(Run(kNoDelayed), -31010);
  EXPECT_EQ(sink_.events, (Events{"INFO 0 Calculating src dir stat ...",
                                  "ERROR -3 Source files are probably corrupted"}));
  EXPECT_FALSE(fs_.HasFile("dst/a.txt"));
}

TEST_F(DirCopyTest, StatByOpeningCountsUnopenableFilesAndTheCopyReportsThem) {
  fs_.AddFile("src/a.txt", "abc")->openFails = true;
  fs_.AddFile("src/b.txt", "de");
  params_.byStatMode = kStatByOpening;
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events,
            (Events{"INFO 0 Calculating src dir stat ...", "SRCDIRSTAT 2 2 0", "ENTERDIR src",
                    "ERROR -1 Can not open src/a.txt!", "FILEBEGIN src/b.txt dst/b.txt 2",
                    "PROGRESS 2", "FILEEND", "LEAVEDIR src"}));
  // Neither the information nor the content can be read: the copy stops at
  // the file with -1001 after a successful pass.
  fs_.Find("src/a.txt")->statFails = true;
  params_.pNotify = &sink_;
  sink_.events.clear();
  EXPECT_EQ(Run(kNoDelayed), -1001);
  EXPECT_EQ(sink_.events.back(), "ENTERDIR src");
}

TEST_F(DirCopyTest, FileErrorsStopOnlyWhenTheSinkSaysSo) {
  fs_.AddFile("src/open.txt", "o")->openFails = true;
  fs_.AddFile("src/read.txt", "rrrr")->readFailsAtCall = 1;
  fs_.AddFile("src/write.txt", "wwww");
  fs_.AddFile("dst/write.txt", "")->writeLimit = 2;
  fs_.AddFile("src/ok.txt", "k");
  params_.nBufSize = 2;
  // A sink that ignores errors: every failing file is skipped, the run succeeds.
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events,
            (Events{"ENTERDIR src", "ERROR -1 Can not open src/open.txt!",
                    "FILEBEGIN src/read.txt dst/read.txt 4",
                    "ERROR -3 ERROR reading file src/read.txt!",
                    "FILEBEGIN src/write.txt dst/write.txt 4", "PROGRESS 2",
                    "ERROR -4 ERROR writng file dst/write.txt! (the system gave no reason)",
                    "FILEBEGIN src/ok.txt dst/ok.txt 1", "PROGRESS 1", "FILEEND", "LEAVEDIR src"}));
  // A target that is not a disk file is opened only once its source has
  // been read whole: a source that fails leaves no target.
  EXPECT_EQ(fs_.Content("dst/read.txt"), "<missing>");
  EXPECT_EQ(fs_.Content("dst/write.txt"), "ww");

  struct Case {
    const char* error;
    int32_t expected;
  };
  for (const Case& c : {Case{"ERROR -1 ", -1002}, Case{"ERROR -3 ", -1021},
                        Case{"ERROR -4 ", -1022}}) {
    RecordingNotify sink;
    sink.answer = [&](const std::string& e) { return e.rfind(c.error, 0) == 0 ? 1 : 0; };
    params_.pNotify = &sink;
    EXPECT_EQ(Run(kNoDelayed), c.expected) << c.error;
  }
}

TEST_F(DirCopyTest, TargetSideFailuresAreNamedAndStopOnlyWhenTheSinkSaysSo) {
  fs_.AddFile("src/sub/a.txt", "a");
  fs_.AddFile("src/sub/b.txt", "b");
  fs_.makeFolderFails = true;
  // Named, skipped, and the rest is still tried.
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(std::count(sink_.events.begin(), sink_.events.end(),
                       "ERROR -4 Can not write dst/sub/a.txt: the system gave no reason"),
            1);
  EXPECT_EQ(std::count(sink_.events.begin(), sink_.events.end(),
                       "ERROR -4 Can not write dst/sub/b.txt: the system gave no reason"),
            1);
  RecordingNotify stopping;
  stopping.answer = [](const std::string& e) { return e.rfind("ERROR -4 ", 0) == 0 ? 1 : 0; };
  params_.pNotify = &stopping;
  EXPECT_EQ(Run(kNoDelayed), -1012);
  fs_.makeFolderFails = false;
  fs_.AddFile("dst/sub/a.txt", "")->createFails = true;
  EXPECT_EQ(Run(kNoDelayed), -1013);
  params_.pNotify = &sink_;
  sink_.events.clear();
  EXPECT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(fs_.Content("dst/sub/b.txt"), "b");
}

TEST_F(DirCopyTest, StopTextEndsTheWalkWithZeroAndHeldBackFilesAreStillCopied) {
  fs_.AddFile("src/late.dll", "L");
  fs_.AddFile("src/a.txt", "a");
  fs_.AddFile("src/b.txt", "b");
  char stop[8] = "old";
  params_.szStop = stop;
  sink_.answer = [&](const std::string& e) {
    if (e == "FILEEND") stop[0] = 's';
    return 0;
  };
  const char* const delayed[] = {"late.dll", nullptr};
  ASSERT_EQ(Run(delayed), 0);
  EXPECT_TRUE(fs_.HasFile("dst/a.txt"));
  EXPECT_FALSE(fs_.HasFile("dst/b.txt"));
  EXPECT_EQ(fs_.Content("dst/late.dll"), "L");
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "FILEBEGIN src/a.txt dst/a.txt 1", "PROGRESS 1",
                                  "FILEEND", "LEAVEDIR src",
                                  "FILEBEGIN src/late.dll dst/late.dll 1", "PROGRESS 1",
                                  "FILEEND"}));
}

TEST_F(DirCopyTest, ReadOnlySourcesAreLeftOutOnlyWithFlag2) {
  fs_.AddFile("src/ro.txt", "r", 1234)->readOnly = true;
  params_.byFlags = kCopyFileTimes;
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(fs_.Content("dst/ro.txt"), "r");
  EXPECT_EQ(fs_.Find("dst/ro.txt")->time, 1234);

  fs_.DeleteFile("dst/ro.txt");
  sink_.events.clear();
  params_.byFlags = kCopySkipReadOnly | kCopyFileTimes;
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "READONLY src/ro.txt", "LEAVEDIR src"}));
  EXPECT_FALSE(fs_.HasFile("dst/ro.txt"));
}

TEST_F(DirCopyTest, TimesAreCopiedOnlyWithFlag4) {
  fs_.AddFile("src/a.txt", "a", 777);
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(fs_.Find("dst/a.txt")->time, 0);
  params_.byFlags = kCopyFileTimes;
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(fs_.Find("dst/a.txt")->time, 777);
}

TEST_F(DirCopyTest, CutTailAndSuffixRenameTargets) {
  fs_.AddFile("src/a/b.tmp", "B");
  params_.nCutTail = 4;
  params_.szDstSuffix = ".new";
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(fs_.Content("dst/a/b.new"), "B");
  EXPECT_FALSE(fs_.HasFile("dst/a/b.tmp"));
}

TEST_F(DirCopyTest, ZeroLengthFileHasNoProgress) {
  fs_.AddFile("src/empty", "");
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "FILEBEGIN src/empty dst/empty 0", "FILEEND",
                                  "LEAVEDIR src"}));
  EXPECT_TRUE(fs_.HasFile("dst/empty"));
  EXPECT_EQ(fs_.Content("dst/empty"), "");
}

TEST_F(DirCopyTest, BadParametersAreRefusedWithoutNotification) {
  EXPECT_EQ(Run(kNoDelayed), -2);  // no "src" folder to list
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src"}));
  sink_.events.clear();
  DIRCP_PARAM_T empty;
  Owned<dircp> engine(CreateDirCopy(0, nullptr));
  EXPECT_EQ(engine->DoIt(empty), kDirCopyBadParams);
  // Each missing part is refused before the sink hears anything.
  for (int missing = 0; missing < 5; ++missing) {
    SCOPED_TRACE(missing);
    DIRCP_PARAM_T bad = params_;
    if (missing == 0) bad.nBufSize = 0;
    if (missing == 1) bad.nBufSize = -1;
    if (missing == 2) bad.pSrcFM = nullptr;
    if (missing == 3) bad.szDstDir = nullptr;
    if (missing == 4) bad.pDstFM = nullptr;
    EXPECT_EQ(engine->DoIt(bad), kDirCopyBadParams);
  }
  params_.nBufSize = 0;
  EXPECT_EQ(Run(kNoDelayed), kDirCopyBadParams);
  EXPECT_TRUE(sink_.events.empty());
  Owned<dircp> null_list(CreateDirCopy(kDelayedDirCopy, nullptr));
  params_.nBufSize = 10;
  fs_.AddFolder("src");
  EXPECT_EQ(null_list->DoIt(params_), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "LEAVEDIR src"}));
}

TEST_F(DirCopyTest, PathTooLongHasACodeOfItsOwn) {
  // Not one of the codes a sink shows under a message of its own (-1 .. -5,
  // and -100 which stops the run), nor any other code of the engine.
  EXPECT_TRUE(kNotifyPathTooLong < -5 && kNotifyPathTooLong != -100);
  for (int32_t other : {kNotifyCanNotOpen, kNotifyReadError, kNotifyWriteError, kNotifyUnsafePath})
    EXPECT_NE(kNotifyPathTooLong, other);
}

// Mends: nothing is written outside the target folder.
TEST_F(DirCopyTest, DelayedNamesThatClimbOutAreRefused) {
  fs_.AddFile("src/late.dll", "L");
  fs_.AddFile("evil.txt", "E");
  fs_.AddFile("src/x/evil.txt", "E");
  const char* const delayed[] = {"late.dll", "../evil.txt", "/abs.txt", "c:/x.txt",
                                 "x/../../evil.txt", "x\\..\\..\\evil.txt", nullptr};
  ASSERT_EQ(Run(delayed), 0);  // a sink answering 0 skips them
  Events errors;
  for (const std::string& e : sink_.events)
    if (e.rfind("ERROR", 0) == 0) errors.push_back(e);
  EXPECT_EQ(errors, (Events{"ERROR -6 Unsafe path refused: ../evil.txt",
                            "ERROR -6 Unsafe path refused: /abs.txt",
                            "ERROR -6 Unsafe path refused: c:/x.txt",
                            "ERROR -6 Unsafe path refused: x/../../evil.txt",
                            "ERROR -6 Unsafe path refused: x\\..\\..\\evil.txt"}));
  EXPECT_EQ(fs_.Content("evil.txt"), "E");
  EXPECT_FALSE(fs_.Exists("dst/evil.txt"));
  EXPECT_FALSE(fs_.Exists("abs.txt"));

  RecordingNotify strict;
  strict.answer = [](const std::string& e) { return e.rfind("ERROR -6", 0) == 0 ? 1 : 0; };
  params_.pNotify = &strict;
  EXPECT_EQ(Run(delayed), -4014);
}

TEST_F(DirCopyTest, ListedEntriesThatClimbOutAreRefused) {
  fs_.AddFolder("src");
  fs_.AddRawEntry("src", false, "..");
  fs_.AddRawEntry("src", false, "../up.txt");
  fs_.AddRawEntry("src", false, "c:evil");
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "ERROR -6 Unsafe path refused: /..",
                                  "ERROR -6 Unsafe path refused: /../up.txt",
                                  "ERROR -6 Unsafe path refused: /c:evil", "LEAVEDIR src"}));
  EXPECT_EQ(fs_.NodeCount(), 3u);  // root, dst, src: nothing written

  RecordingNotify strict;
  strict.answer = [](const std::string& e) { return e.rfind("ERROR", 0) == 0 ? 1 : 0; };
  params_.pNotify = &strict;
  EXPECT_EQ(Run(kNoDelayed), -1014);
}

TEST_F(DirCopyTest, CutTailThatEatsTheWholePathOrSuffixThatClimbsIsRefused) {
  fs_.AddFile("src/ab", "x");
  params_.nCutTail = 3;  // "/ab" would leave nothing: target = "dst" itself
  params_.szDstSuffix = ".new";
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events[1], "ERROR -6 Unsafe path refused: /ab.new");
  EXPECT_FALSE(fs_.Exists("dst.new"));
  params_.nCutTail = 100;
  ASSERT_EQ(Run(kNoDelayed), 0);
  params_.nCutTail = 0;
  params_.szDstSuffix = "/../../out";
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_FALSE(fs_.Exists("out"));
  EXPECT_EQ(fs_.NodeCount(), 4u);
}

// Paths longer than kMaxPath characters.
TEST_F(DirCopyTest, OverlongFilePathsAreRefusedLikeUnopenableSources) {
  std::string long_name(kMaxPath - 3, 'n');  // "src/" + name is 260
  fs_.AddFile("src/" + long_name, "x");
  fs_.AddFile("src/ok", "k");
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink_.events[1], "ERROR -7 Path too long: src/" + long_name);
  EXPECT_EQ(fs_.Content("dst/ok"), "k");

  RecordingNotify strict;
  strict.answer = RecordingNotify::RefuseFirst("ERROR -7 Path too long");
  params_.pNotify = &strict;
  EXPECT_EQ(Run(kNoDelayed), -1002);

  // The target side alone too long.
  std::string long_dst(kMaxPath - 4, 'd');  // + "/okay" is 260 characters
  fs_.AddFolder(long_dst);
  fs_.AddFile("src2/okay", "o");
  params_.szSrcDir = "src2";
  params_.szDstDir = long_dst.c_str();
  RecordingNotify sink;
  params_.pNotify = &sink;
  ASSERT_EQ(Run(kNoDelayed), 0);
  EXPECT_EQ(sink.events[1], "ERROR -7 Path too long: " + long_dst + "/okay");
}

TEST_F(DirCopyTest, OverlongFolderPathsEndTheRunWithMinus2) {
  std::string long_folder(kMaxPath - 3, 'f');  // "src/" + name is 260
  fs_.AddFile("src/" + long_folder + "/a", "x");
  EXPECT_EQ(Run(kNoDelayed), -2);
  EXPECT_EQ(sink_.events, (Events{"ENTERDIR src", "ERROR -7 Path too long: src/" + long_folder}));

  std::string long_root(kMaxPath + 1, 'r');
  params_.szDstDir = long_root.c_str();
  RecordingNotify sink;
  params_.pNotify = &sink;
  EXPECT_EQ(Run(kNoDelayed), -2);
  EXPECT_EQ(sink.events, (Events{"ERROR -7 Path too long: " + long_root}));
}

}  // namespace
}  // namespace marrowgate
