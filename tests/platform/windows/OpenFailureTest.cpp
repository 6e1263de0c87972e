// Why an open failed, on Windows: the system's codes sorted into causes,
// with the system's text and nothing looked up beyond it.
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/LastError.h"
#include "platform/OpenFailure.h"

namespace {

using platform::DescribeOpenFailure;
using platform::OpenFailureKind;

TEST(WindowsOpenFailureTest, ErrorCodesSortIntoCauses) {
  const struct {
    int code;
    bool listed;
    OpenFailureKind kind;
  } cases[] = {
      {0, true, OpenFailureKind::None},
      {ERROR_ACCESS_DENIED, true, OpenFailureKind::InUse},  // ports open for one program at a time
      {ERROR_ACCESS_DENIED, false, OpenFailureKind::InUse},
      {ERROR_SHARING_VIOLATION, true, OpenFailureKind::InUse},
      {ERROR_FILE_NOT_FOUND, true, OpenFailureKind::Gone},  // listed, then unplugged
      {ERROR_PATH_NOT_FOUND, true, OpenFailureKind::Gone},
      {ERROR_DEV_NOT_EXIST, true, OpenFailureKind::Gone},
      {ERROR_FILE_NOT_FOUND, false, OpenFailureKind::Other},  // a name never listed
      {ERROR_PATH_NOT_FOUND, false, OpenFailureKind::Other},
      {ERROR_GEN_FAILURE, true, OpenFailureKind::Other},
      {ERROR_INVALID_PARAMETER, true, OpenFailureKind::Other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << (c.listed ? " listed" : ""));
    EXPECT_EQ(platform::OpenFailureKindOf(c.code, c.listed), c.kind);
    const auto failure = DescribeOpenFailure(c.code, "COM5", c.listed);
    EXPECT_EQ(failure.kind, c.kind);
    EXPECT_EQ(failure.errorCode, c.code);
    EXPECT_EQ(failure.systemText, c.code ? platform::SystemErrorMessage(c.code) : "");
    EXPECT_EQ(failure.systemText.empty(), c.code == 0);
    EXPECT_TRUE(failure.holders.seen.empty() && failure.holders.unseen.empty());
    EXPECT_TRUE(failure.group.empty());
    EXPECT_FALSE(failure.modemManager);
  }
}

}  // namespace
