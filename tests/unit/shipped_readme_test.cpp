// The ReadMe.txt that the Windows zip ships: the window's banner reads its version from that
// file's head, so the head must give this release's major.minor, the "3.8" of the About box.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "app/version_text.hpp"

namespace quarn {
namespace {

TEST(ShippedReadme, HeadGivesTheBannerThisReleasesVersion) {
  std::ifstream readme(QUARN_SHIPPED_README, std::ios::binary);
  ASSERT_TRUE(readme) << "cannot open " << QUARN_SHIPPED_README;
  ReadmeHead head{};
  readme.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  ASSERT_GT(readme.gcount(), 0);

  const std::string release = QUARN_RELEASE_MAJOR_MINOR;
  EXPECT_EQ(versionTextFromReadme(head), WideText(release.begin(), release.end()));
}

}  // namespace
}  // namespace quarn
