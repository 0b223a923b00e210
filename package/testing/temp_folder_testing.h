// Test support (header only, used by the package tests): a scratch folder
// under the test temp folder with a unique name, removed with everything in
// it at destruction.
#ifndef MARROWGATE_PACKAGE_TESTING_TEMP_FOLDER_TESTING_H_
#define MARROWGATE_PACKAGE_TESTING_TEMP_FOLDER_TESTING_H_

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/env.h"
#include "platform/file_tree.h"

namespace marrowgate {

class TestFolder {
 public:
  TestFolder() {
    static int counter = 0;
    // Windows gives backslashes (C:\users\...\Temp\ with one at the end);
    // every path here is written with '/', which Windows takes as well.
    std::string base = ::testing::TempDir();
    for (char& c : base) {
      if (c == '\\') c = '/';
    }
    while (!base.empty() && base.back() == '/') base.pop_back();
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "_" + info->name() : "t";
    for (char& c : name) {
      if (c == '/') c = '_';
    }
    path_ = base + "/mgpkg_" + name + "_" + std::to_string(platform::TimeNow() % 100000) + "_" +
            std::to_string(++counter);
    platform::MakeFolder(path_.c_str());
  }
  ~TestFolder() { RemoveTree(path_); }
  TestFolder(const TestFolder&) = delete;
  TestFolder& operator=(const TestFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string Child(const std::string& name) const { return path_ + "/" + name; }

  // Writes `content` to `name` below the folder; returns the full path.
  std::string WriteFile(const std::string& name, const std::string& content) const {
    std::string full = Child(name);
    auto stream = platform::FileStream::Open(full.c_str(), "wb");
    if (stream) stream->Write(content.data(), content.size());
    return full;
  }

  // The content of the file at `fullPath` ("" when it cannot be read).
  static std::string ReadFile(const std::string& fullPath) {
    auto stream = platform::FileStream::Open(fullPath.c_str(), "rb");
    std::string content;
    if (!stream) return content;
    char piece[4096];
    size_t got;
    while ((got = stream->Read(piece, sizeof(piece))) > 0) content.append(piece, got);
    return content;
  }

 private:
  static void RemoveTree(const std::string& path) {
    platform::NodeStatus status;
    if (!platform::StatusOf(path.c_str(), &status, nullptr)) return;
    if (status.kind != platform::NodeKind::kFolder) {
      platform::SetWritable(path.c_str(), true);
      platform::RemoveFile(path.c_str());
      return;
    }
    auto enumerator = platform::FolderEnumerator::Open(path.c_str());
    std::string name;
    bool isFolder = false;
    while (enumerator && enumerator->Next(&name, &isFolder)) {
      if (name == "." || name == "..") continue;
      RemoveTree(path + "/" + name);
    }
    enumerator.reset();
    platform::RemoveFolder(path.c_str());
  }

  std::string path_;
};

}  // namespace marrowgate

#endif  // MARROWGATE_PACKAGE_TESTING_TEMP_FOLDER_TESTING_H_
