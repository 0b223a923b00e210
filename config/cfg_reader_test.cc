#include "config/cfg_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/cfg_std_reader.h"
#include "config/testing/cfg_records_testing.h"
#include "package/file/memory_file.h"
#include "package/testing/temp_folder_testing.h"

namespace marrowgate {
namespace {

using testing_records::MAIN_T;

// A reader with MAIN_T registered as "UPDATE".
class CfgReaderTest : public ::testing::Test {
 protected:
  CfgReaderTest() { reader_.RegisterObject("UPDATE", &record_); }

  int Read(const std::string& text, uint32_t mask = 0) {
    MemoryFile file(std::vector<uint8_t>(text.begin(), text.end()));
    return reader_.ReadStream(&file, true, mask);
  }

  MAIN_T record_;
  CfgStdReader reader_;
};

TEST_F(CfgReaderTest, BindsABlock) {
  EXPECT_EQ(Read("UPDATE\n{\nszUpdateDir = data\n}\n"), 0);
  EXPECT_STREQ(record_.szUpdateDir, "data");
}

TEST_F(CfgReaderTest, CarriageReturnsAndIndentationAreTrimmed) {
  EXPECT_EQ(Read("  UPDATE\r\n\t{\r\n  szUpdateDir = data \r\n}"), 0);
  EXPECT_STREQ(record_.szUpdateDir, "data");
}

TEST_F(CfgReaderTest, NameAndBraceOnOneLineOpenNothing) {
  EXPECT_EQ(Read("UPDATE {\nszUpdateDir = data\n"), 0);
  EXPECT_STREQ(record_.szUpdateDir, "");
  EXPECT_EQ(Read("UPDATE {\nszUpdateDir = data\n}\n"), -12);
  EXPECT_EQ(reader_.error_code(), -11);
}

TEST_F(CfgReaderTest, UnregisteredTopLevelBlockIsSkippedButDefinesTakeEffect) {
  const char* text =
      "OTHER\n{\n  a = b\n  inner\n  {\n    #define SEEN yes\n  }\n  PACKAGE = no\n}\n"
      "UPDATE\n{\n  szUpdateDir = $(SEEN)\n}\n";
  EXPECT_EQ(Read(text), 0);
  EXPECT_STREQ(record_.szUpdateDir, "yes");
  EXPECT_TRUE(record_.packages.empty());
}

TEST_F(CfgReaderTest, UnknownOrNonRecordNestedBlockFails) {
  EXPECT_EQ(Read("UPDATE\n{\nnothing\n{\n}\n}\n"), -11);
  EXPECT_EQ(reader_.error_code(), -10);
  EXPECT_EQ(reader_.line_number(), 4);
  EXPECT_EQ(Read("UPDATE\n{\nszUpdateDir\n{\n}\n}\n"), -11);
  EXPECT_EQ(reader_.error_code(), -10);
}

TEST_F(CfgReaderTest, SubRecordBlocksAndQualifiedKeys) {
  EXPECT_EQ(Read("UPDATE\n{\nnet\n{\nszHost = h1\n}\nnBase = 3\nnet::nPort = 80\n}\n"), 0);
  EXPECT_STREQ(record_.net.szHost, "h1");
  EXPECT_EQ(record_.net.blockBegins, 1);
  EXPECT_EQ(record_.net.blockEnds, 1);
  EXPECT_EQ(record_.nBase, 3);
  EXPECT_EQ(record_.net.nPort, 80);
}

TEST_F(CfgReaderTest, RangesArraysAndActions) {
  EXPECT_EQ(Read("UPDATE\n{\nrange = 3,3\nports = 1,,3\nPACKAGE = a.dpk\n}\n"), 0);
  EXPECT_EQ(record_.range.single, 1);
  EXPECT_EQ(record_.ports[1], 0);
  EXPECT_EQ(record_.packages, std::vector<std::string>{"a.dpk"});
}

TEST_F(CfgReaderTest, MaskSelectsFields) {
  EXPECT_EQ(Read("UPDATE\n{\nnCount = 5\nnMasked = 6\n}\n", 2), 0);
  EXPECT_EQ(record_.nCount, 0);
  EXPECT_EQ(record_.nMasked, 6);
}

TEST_F(CfgReaderTest, RejectedKeys) {
  EXPECT_EQ(Read("UPDATE\n{\nnoSuchKey = 1\n}\n"), -13);
  EXPECT_EQ(reader_.error_code(), -11);
  EXPECT_EQ(reader_.line_number(), 3);
  reader_.set_tolerate_rejected_keys(true);
  EXPECT_EQ(Read("UPDATE\n{\nnoSuchKey = 1\nnCount = 2\n}\n"), 0);
  EXPECT_EQ(record_.nCount, 2);
}

TEST_F(CfgReaderTest, AssignmentOutsideABlockIsIgnored) {
  EXPECT_EQ(Read("szUpdateDir = data\n"), 0);
  EXPECT_STREQ(record_.szUpdateDir, "");
}

TEST_F(CfgReaderTest, MalformedLines) {
  EXPECT_EQ(Read("#else\n"), -14);
  EXPECT_EQ(reader_.error_code(), -11);
  EXPECT_EQ(Read("#endif\n"), 0);
  EXPECT_EQ(Read("UPDATE\n{\nszUpdateDir = $(X)\n}\n"), -14);
  EXPECT_EQ(Read("#ifdef NOPE\nUPDATE\n{\nszUpdateDir = $(X)\n}\n#endif\n"), 0);
  EXPECT_EQ(Read("UPDATE\n{ // open\n"), -14);
  EXPECT_EQ(Read("}\n"), -12);
  // A malformed line inside a skipped block.
  EXPECT_EQ(Read("OTHER\n{\nk = $(X)\n}\n"), -1);
  EXPECT_EQ(reader_.error_code(), -11);
}

TEST_F(CfgReaderTest, ConditionNameTooLongIsErrorCodeMinusOne) {
  EXPECT_EQ(Read("#ifdef && " + std::string(1024, 'N') + "\n"), -14);
  EXPECT_EQ(reader_.error_code(), -1);
}

TEST_F(CfgReaderTest, LongPhysicalLineIsReadAsTwo) {
  std::string text = "UPDATE\n{\nstrNote = " + std::string(4990, 'x') + "\nnCount = 1\n}\n";
  EXPECT_EQ(Read(text), 0);
  EXPECT_EQ(record_.strNote.size(), 4094u - 10u);
  EXPECT_EQ(record_.nCount, 1);
  // The line after the long one is line 5.
  EXPECT_EQ(Read("UPDATE\n{\nstrNote = " + std::string(4990, 'x') + "\nbad\n{\n"), -11);
  EXPECT_EQ(reader_.line_number(), 6);
}

TEST_F(CfgReaderTest, HostileTextsEndWithACodeOrWork) {
  std::string braces = "OTHER\n";
  for (int i = 0; i < 10000; ++i) braces += "{\n";
  for (int i = 0; i < 10000; ++i) braces += "}\n";
  EXPECT_EQ(Read(braces), 0);

  std::string conditionals;
  for (int i = 0; i < 10000; ++i) conditionals += "#ifdef WIN32\n";
  conditionals += "UPDATE\n{\nnCount = 4\n}\n";
  EXPECT_EQ(Read(conditionals), 0);
  EXPECT_EQ(record_.nCount, 4);

  std::string doubling = "#define A " + std::string(1000, 'a') + "\n";
  for (char c = 'B'; c <= 'H'; ++c)
    doubling += std::string("#define ") + c + " $(" + static_cast<char>(c - 1) + ")$(" +
                static_cast<char>(c - 1) + ")\n";
  EXPECT_EQ(Read(doubling), -14);

  EXPECT_EQ(Read(std::string(100000, '{')), -14);
  EXPECT_EQ(Read("UPDATE\n" + std::string(3000, '{') + "\n"), -14);
}

TEST_F(CfgReaderTest, IncludesFromTheDisk) {
  TestFolder folder;
  platform::MakeFolder(folder.Child("inc").c_str());
  folder.WriteFile("inc/net.txt", "nCount = 7\n#include ../more.txt\n");
  folder.WriteFile("more.txt", "nBase = 8\n");
  std::string top = folder.WriteFile("top.txt", "UPDATE\n{\n#include inc/net.txt\n}\n");
  EXPECT_EQ(reader_.ReadFile(top.c_str(), true, 0), 0);
  EXPECT_EQ(record_.nCount, 7);
  EXPECT_EQ(record_.nBase, 8);
}

TEST_F(CfgReaderTest, MissingIncludeAndOverlongIncludePath) {
  TestFolder folder;
  std::string top = folder.WriteFile("top.txt", "#include missing.txt\n");
  EXPECT_EQ(reader_.ReadFile(top.c_str(), true, 0), -2);
  EXPECT_EQ(reader_.error_code(), -1);
  std::string longName = folder.WriteFile("long.txt", "#include " + std::string(300, 'n') + "\n");
  EXPECT_EQ(reader_.ReadFile(longName.c_str(), true, 0), -2);
  EXPECT_EQ(reader_.error_code(), -1);
  EXPECT_EQ(reader_.ReadFile("", true, 0), 0);
  EXPECT_EQ(reader_.ReadFile(nullptr, true, 0), 0);
}

TEST_F(CfgReaderTest, SelfIncludeIsRefusedAndTheChainShown) {
  TestFolder folder;
  platform::MakeFolder(folder.Child("inc").c_str());
  std::string inner = folder.WriteFile("inc/net.txt", "// loops\n#include net.txt\n");
  std::string top = folder.WriteFile("top.txt", "#include inc/net.txt\n");
  EXPECT_EQ(reader_.ReadFile(top.c_str(), true, 0), -1);
  EXPECT_EQ(reader_.error_code(), -2);
  EXPECT_EQ(reader_.line_number(), 2);
  EXPECT_EQ(reader_.GetErrorText(),
            "fileinclude:[" + inner + "<-" + top + "<-] errcode:-2 line:2 content:#include net.txt");
  // The text consumed the include stack.
  EXPECT_EQ(reader_.GetErrorText(), "fileinclude:[] errcode:-2 line:2 content:#include net.txt");
  // A fresh read of the same file is not mistaken for a recursive include.
  folder.WriteFile("inc/net.txt", "// fixed\n");
  EXPECT_EQ(reader_.ReadFile(top.c_str(), true, 0), 0);
}

TEST_F(CfgReaderTest, TopStreamIncludingItselfIsReadOnceMore) {
  TestFolder folder;
  std::string self = folder.Child("self.txt");
  folder.WriteFile("self.txt", "#include " + self + "\n");
  Owned<FileSystem> fs(CreateFileSystem());
  Owned<VirtualFile> file(fs->Open(self.c_str(), kOpenRead));
  ASSERT_TRUE(file);
  EXPECT_EQ(reader_.ReadStream(file.get(), true, 0), -1);
  EXPECT_EQ(reader_.error_code(), -2);
  EXPECT_EQ(reader_.GetErrorText(),
            "fileinclude:[" + self + "<-] errcode:-2 line:1 content:#include " + self);
}

TEST_F(CfgReaderTest, ErrorTextOfARejectedKeyInAnIncludedFile) {
  TestFolder folder;
  std::string net = folder.WriteFile("net.txt", "\n\n\n\n\n\nbad = 1\n");
  EXPECT_EQ(Read("UPDATE\n{\n#include " + net + "\n}\n"), -13);
  EXPECT_EQ(reader_.line_number(), 7);
  EXPECT_EQ(reader_.GetErrorText(), "fileinclude:[" + net + "<-] errcode:-11 line:7 content:bad = 1");
}

TEST_F(CfgReaderTest, ErrorTextIsBoundedByTheBuffer) {
  EXPECT_EQ(Read("UPDATE\n{\nnoSuchKey = 1\n}\n"), -13);
  char small[20];
  int32_t size = sizeof small;
  EXPECT_STREQ(reader_.GetErrorText(small, &size), "fileinclude:[] errc");
  int32_t sharedSize = 0;
  const char* shared = reader_.GetErrorText(nullptr, &sharedSize);
  EXPECT_EQ(sharedSize, 1024);
  EXPECT_STREQ(shared, "fileinclude:[] errcode:-11 line:3 content:noSuchKey = 1");
}

TEST_F(CfgReaderTest, IncludeChainIsBounded) {
  TestFolder folder;
  // Each file includes the next through a longer path to the same folder.
  for (int i = 0; i < 100; ++i)
    folder.WriteFile("f" + std::to_string(i) + ".txt",
                     "#include ./f" + std::to_string(i + 1) + ".txt\n");
  folder.WriteFile("f100.txt", "\n");
  std::string top = folder.Child("f0.txt");
  EXPECT_EQ(reader_.ReadFile(top.c_str(), true, 0), -2);
  EXPECT_EQ(reader_.error_code(), -1);
}

// A line parser for an ini-like dialect: "[NAME]" is a section line, "{" and
// "}" open and close, "key = value" assigns, anything else is text.
class SectionLineParser : public CfgLineParser {
 public:
  LineKind Classify(std::string_view line) override {
    value_.clear();
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      name_ = std::string(line.substr(1, line.size() - 2));
      return LK_SECTION;
    }
    if (line == "{") return LK_OPEN;
    if (line == "}") return LK_CLOSE;
    const size_t equals = line.find(" = ");
    if (equals != std::string_view::npos) {
      name_ = std::string(line.substr(0, equals));
      value_ = std::string(line.substr(equals + 3));
      return LK_ASSIGN;
    }
    name_ = std::string(line);  // a pending block name
    return LK_TEXT;
  }
  const char* Name() const override { return name_.c_str(); }
  const char* Value() const override { return value_.c_str(); }

 private:
  std::string name_;
  std::string value_;
};

class CfgSectionTest : public ::testing::Test {
 protected:
  CfgSectionTest() {
    registry_["UPDATE"] = &record_;
    reader_.SetRegistry(&registry_);
    reader_.SetLineParser(&parser_);
  }
  int Read(const std::string& text) {
    MemoryFile file(std::vector<uint8_t>(text.begin(), text.end()));
    return reader_.ReadStream(&file, true, 0);
  }

  MAIN_T record_;
  CfgRegistry registry_;
  SectionLineParser parser_;
  CfgReader reader_;
};

TEST_F(CfgSectionTest, SectionLinesCloseTheBlockAndOpenTheNamedOne) {
  // At the top level: an unregistered section is skipped up to the next
  // section line, which opens its block again.
  EXPECT_EQ(Read("[UPDATE]\nszUpdateDir = first\n[OTHER]\nszUpdateDir = skipped\n"
                 "{\nnBase = 99\n}\n[UPDATE]\nnBase = 4\n"),
            0);
  EXPECT_STREQ(record_.szUpdateDir, "first");
  EXPECT_EQ(record_.nBase, 4);
  // Inside a block: the sub-record ends and begins again.
  EXPECT_EQ(Read("UPDATE\n{\nnet\n{\nszHost = a\n[net]\nszHost = b\n}\n}\n"), 0);
  EXPECT_STREQ(record_.net.szHost, "b");
  EXPECT_EQ(record_.net.blockBegins, 2);
  EXPECT_EQ(record_.net.blockEnds, 2);
  // A section naming nothing inside a block fails like an unknown block.
  EXPECT_EQ(Read("UPDATE\n{\nnet\n{\n[nothing]\n}\n}\n"), -11);
  EXPECT_EQ(reader_.error_code(), -10);
}

TEST_F(CfgReaderTest, UnregisteredBlockDepthLimitDecidesSkipOrFail) {
  const std::string nested = "UPDATE\n{\nnothing\n{\nszUpdateDir = no\n}\nszUpdateDir = yes\n}\n";
  EXPECT_EQ(Read(nested), -11);  // the limit is 1: only top-level blocks are skipped
  EXPECT_EQ(reader_.error_code(), -10);
  reader_.set_unregistered_block_depth_limit(2);
  EXPECT_EQ(Read(nested), 0);
  EXPECT_STREQ(record_.szUpdateDir, "yes");
  reader_.set_unregistered_block_depth_limit(0);
  EXPECT_EQ(Read("OTHER\n{\n}\n"), -11);  // not even at the top level
  EXPECT_EQ(reader_.error_code(), -10);
}

// An endless text: `pattern` repeated for ever, or a read failure after
// `failAfter` bytes.
class EndlessFile : public VirtualFile {
 public:
  explicit EndlessFile(std::string pattern, int64_t failAfter = -1)
      : pattern_(std::move(pattern)), failAfter_(failAfter) {}
  int32_t Size() override { return INT32_MAX; }
  int32_t GetTime() override { return 0; }
  int32_t SetTime(int32_t) override { return 0; }
  int32_t Read(void* buffer, int32_t n) override {
    auto* out = static_cast<char*>(buffer);
    for (int32_t i = 0; i < n; ++i, ++position_) {
      if (position_ == failAfter_) return i > 0 ? i : -30;
      out[i] = pattern_[static_cast<size_t>(position_) % pattern_.size()];
    }
    return n;
  }
  int32_t Seek(int64_t, int) override { return -1; }
  bool AtEnd() override { return false; }
  int64_t Tell() override { return position_; }
  int32_t Write(const void*, int32_t) override { return -1; }
  int32_t Flush() override { return 0; }
  int64_t consumed() const { return position_; }

 private:
  std::string pattern_;
  int64_t failAfter_;
  int64_t position_ = 0;
};

TEST_F(CfgReaderTest, EndlessBlankTextStopsAtTheByteBound) {
  EndlessFile zeros(std::string(1, '\0'));
  EXPECT_EQ(reader_.ReadStream(&zeros, true, 0), -16);
  EXPECT_EQ(reader_.error_code(), -13);
  EXPECT_LE(zeros.consumed(), CfgReader::kMaxReadBytes + CfgReader::kMaxLineBytes);
  EXPECT_GE(zeros.consumed(), CfgReader::kMaxReadBytes);
}

TEST_F(CfgReaderTest, EndlessShortLinesStopAtTheLineBound) {
  EndlessFile lines("UPDATE\n{\nnCount = 1\n}\n");
  EXPECT_EQ(reader_.ReadStream(&lines, true, 0), -16);
  EXPECT_EQ(reader_.error_code(), -13);
  EXPECT_EQ(reader_.line_number(), CfgReader::kMaxReadLines + 1);
  EXPECT_EQ(record_.nCount, 1);
  // The next read starts with fresh bounds.
  EXPECT_EQ(Read("UPDATE\n{\nnCount = 2\n}\n"), 0);
  EXPECT_EQ(record_.nCount, 2);
}

TEST_F(CfgReaderTest, BoundsCountIncludedFilesIn) {
  TestFolder folder;
  // 600000 lines included twice exceed the line bound together.
  std::string big;
  for (int i = 0; i < 600000; ++i) big += "\n";
  std::string part = folder.WriteFile("part.txt", big);
  std::string top = folder.WriteFile("top.txt", "#include part.txt\n#include " + part + "\n");
  EXPECT_EQ(reader_.ReadFile(top.c_str(), true, 0), -16);
  EXPECT_EQ(reader_.error_code(), -13);
  // Once is within the bounds.
  std::string once = folder.WriteFile("once.txt", "#include part.txt\n");
  EXPECT_EQ(reader_.ReadFile(once.c_str(), true, 0), 0);
}

TEST_F(CfgReaderTest, ReadFailureIsAnErrorNotAnEnd) {
  // A failure in the middle of the text (a damaged package item fails its
  // last read) ends the read with its own code; the line is not used.
  EndlessFile damaged("UPDATE\n{\nszUpdateDir = data\n}\n", 20);
  EXPECT_EQ(reader_.ReadStream(&damaged, true, 0), -15);
  EXPECT_EQ(reader_.error_code(), -12);
  EXPECT_EQ(reader_.line_number(), 3);
  EXPECT_STREQ(record_.szUpdateDir, "");
}

TEST_F(CfgReaderTest, IncludesOfDevicesAndFoldersAreRefused) {
  EXPECT_EQ(Read("UPDATE\n{\n#include /dev/zero\n}\n"), -2);
  EXPECT_EQ(reader_.error_code(), -1);
  TestFolder folder;
  platform::MakeFolder(folder.Child("sub").c_str());
  EXPECT_EQ(Read("#include " + folder.Child("sub") + "\n"), -2);
  EXPECT_EQ(reader_.error_code(), -1);
  // Backslashes name the same ordinary file.
  folder.WriteFile("sub/ok.txt", "nCount = 5\n");
  std::string back = folder.Child("sub") + "\\ok.txt";
  EXPECT_EQ(Read("UPDATE\n{\n#include " + back + "\n}\n"), 0);
  EXPECT_EQ(record_.nCount, 5);
}

}  // namespace
}  // namespace marrowgate
