// The component's description of why Open failed, from the error Open
// raised: a port held by another port of this process names this process,
// and a listed name whose node is gone says so.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>

#include "comport/ComportTestSupport.h"
#include "comport/ComportOpenFailure.h"
#include "platform/PtyPair.h"
#include "support/FakeTree.h"

namespace {

using comporttest::CatchComError;
using platform::OpenFailureKind;

class ComportOpenFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.ok());
    tree_.Link(tree_.dev() / "ttyUSB0", pty_.path());
    for (TComPort* port : {&first_, &second_}) {
      port->SetDeviceRoots(QString::fromStdString(tree_.Sys()), QString::fromStdString(tree_.Dev()));
      port->SetDeviceName(QStringLiteral("ttyUSB0"));
    }
    roots_.sys = tree_.Sys();
    roots_.dev = tree_.Dev();  // the system's process tree: this process is the holder
  }

  PtyPair pty_;
  FakeTree tree_;
  TComPort first_;
  TComPort second_;
  platform::SystemRoots roots_;
};

TEST_F(ComportOpenFailureTest, APortHeldByAnotherPortNamesThisProcess) {
  first_.Open();
  const EComError e = CatchComError([&] { second_.Open(); });
  const auto cause = DescribeComOpenFailure(second_.DeviceName(), e.ComErrorCode, true, roots_);
  first_.Close();
  EXPECT_EQ(cause.kind, OpenFailureKind::InUse);
  ASSERT_EQ(cause.holders.seen.size(), 1u);
  EXPECT_EQ(cause.holders.seen[0].pid, ::getpid());
}

TEST_F(ComportOpenFailureTest, AListedNameWhoseNodeWentAwayIsGone) {
  QFile::remove(QString::fromStdString((tree_.dev() / "ttyUSB0").string()));  // unplugged after listing
  const EComError e = CatchComError([&] { second_.Open(); });
  EXPECT_EQ(DescribeComOpenFailure(second_.DeviceName(), e.ComErrorCode, true, roots_).kind, OpenFailureKind::Gone);
  EXPECT_EQ(DescribeComOpenFailure(second_.DevicePath(), e.ComErrorCode, false, roots_).kind,
            OpenFailureKind::Other);
}

}  // namespace
