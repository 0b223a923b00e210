// Links and FIFOs in test trees, made where the system has them. On
// POSIX systems both are always made (a failure fails the test); Windows
// has no FIFOs, and makes links only with a privilege or in developer
// mode, so there a name that could not be made is simply not there and the
// test's expectations about the rest of the tree still hold.
#ifndef MARROWGATE_PLATFORM_TESTING_LINKS_TESTING_H_
#define MARROWGATE_PLATFORM_TESTING_LINKS_TESTING_H_

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/file_tree.h"

namespace marrowgate::platform {

#ifdef _WIN32
inline constexpr bool kSystemHasFifos = false;
inline constexpr bool kSystemAlwaysMakesLinks = false;
#else
inline constexpr bool kSystemHasFifos = true;
inline constexpr bool kSystemAlwaysMakesLinks = true;
#endif

// A symbolic link at `at` to `target`; true when the system made it.
inline bool MakeTestLink(const std::filesystem::path& target, const std::filesystem::path& at,
                         bool folder = false) {
  std::string reason;
  const bool made =
      MakeSymbolicLink(target.string().c_str(), at.string().c_str(), folder, &reason);
  if (kSystemAlwaysMakesLinks) {
    EXPECT_TRUE(made) << at.string() << ": " << reason;
  }
  return made;
}

// A FIFO at `at`; true when the system made it (never on Windows).
inline bool MakeTestFifo(const std::filesystem::path& at) {
  std::string reason;
  const bool made = MakeFifo(at.string().c_str(), &reason);
  EXPECT_EQ(made, kSystemHasFifos) << at.string() << ": " << reason;
  return made;
}

// Whether links can be made in `folder` by this process.
inline bool LinksAreMade(const std::filesystem::path& folder) {
  const std::filesystem::path probe = folder / "mg_link_probe";
  std::string reason;
  const bool made = MakeSymbolicLink("mg_missing", probe.string().c_str(), false, &reason);
  if (made) RemoveNode(probe.string().c_str());
  return made;
}

}  // namespace marrowgate::platform

#endif  // MARROWGATE_PLATFORM_TESTING_LINKS_TESTING_H_
