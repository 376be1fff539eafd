// Host identity and directory creation, on the real host and through the
// test overrides.
#include "common/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

class HostIdentity : public ::testing::Test {
 protected:
  void TearDown() override { u_host_reset_caches(nullptr); }
};

TEST_F(HostIdentity, RealHostValues) {
  u_host_reset_caches(nullptr);
  const std::string module = u_module_path();
  EXPECT_NE(module.find("felbrin_tests"), std::string::npos) << module;
  char name[16] = {};
  EXPECT_EQ(u_computer_name(name, sizeof name), 0);
  EXPECT_GT(std::strlen(name), 0u);
  EXPECT_LE(std::strlen(name), 15u);
  for (const char* p = name; *p; ++p) EXPECT_FALSE(*p >= 'a' && *p <= 'z') << name;
  EXPECT_NE(u_user_name(nullptr, 0), nullptr);
}

TEST_F(HostIdentity, OverridesCutAndCache) {
  const u_host_overrides_t fake{"C:\\Apps\\Tool\\bin\\MapConv.exe", "AVERYLONGCOMPUTERNAME", "op"};
  u_host_reset_caches(&fake);
#ifdef _WIN32
  EXPECT_STREQ(u_module_path(), "c:\\apps\\tool\\bin\\mapconv.exe");
#else
  EXPECT_STREQ(u_module_path(), "C:\\Apps\\Tool\\bin\\MapConv.exe");  // no case folding
#endif
  char name[16];
  EXPECT_EQ(u_computer_name(name, sizeof name), 0);
  EXPECT_STREQ(name, "AVERYLONGCOMPUT");  // 15 characters
  char small[5];
  EXPECT_EQ(u_computer_name(small, sizeof small), 0);
  EXPECT_STREQ(small, "AVER");
  EXPECT_EQ(u_computer_name(nullptr, 0), 0);

  char user[8];
  EXPECT_STREQ(u_user_name(user, sizeof user), "op");
  EXPECT_EQ(u_user_name(user, 2), nullptr);  // does not fit
  EXPECT_STREQ(u_user_name(nullptr, 0), "op");

  const std::string long_path(300, 'x');
  const u_host_overrides_t too_long{long_path.c_str(), nullptr, nullptr};
  u_host_reset_caches(&too_long);
  felbrin::test::LogCapture log;
  EXPECT_STREQ(u_module_path(), "");
  EXPECT_EQ(log.str(), "u_module_path: path longer than 260 characters\n");
}

TEST(MakeDir, CreatedExistingOrFailed) {
  felbrin::test::TempDir dir;
  const std::string sub = dir.file("sub");
  EXPECT_EQ(u_make_dir(sub.c_str()), 0);
  EXPECT_EQ(u_make_dir(sub.c_str()), 17);
  EXPECT_EQ(u_make_dir(dir.file("missing/deeper").c_str()), -1);
  EXPECT_EQ(u_make_dir(nullptr), -1);
}

}  // namespace
