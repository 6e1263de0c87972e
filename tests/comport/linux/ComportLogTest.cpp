// The component's log on Linux: what a FIFO or a link at the log's name and
// a file that cannot grow do to it.
#include <sys/resource.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <functional>

#include "comport/ComportTestSupport.h"

using namespace comporttest;

namespace {

// While it lives, no file of this process grows past 'bytes': writes
// beyond fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(qint64 bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    savedSignal_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, savedSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  void (*savedSignal_)(int) = SIG_DFL;
};

QByteArray ReadFile(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return f.readAll();
}

}  // namespace

TEST(ComportLog, AnythingButARegularFileAtTheLogsNameIsRefusedAtOnce) {
  // A FIFO would block the open (nobody reads it) or a later entry (its
  // reader stops reading); a link would send the log elsewhere, or create
  // its target there.
  struct Case {
    const char* what;
    std::function<void(const QString& at, const QString& target)> plant;
    int code;
  };
  const Case cases[] = {
      {"FIFO", [](const QString& at, const QString&) { ASSERT_EQ(::mkfifo(QFile::encodeName(at), 0600), 0); },
       ENXIO},
      {"dangling link", [](const QString& at, const QString& target) { QFile::link(target, at); }, ELOOP},
      {"link to a file",
       [](const QString& at, const QString& target) {
         QFile(target).open(QIODevice::WriteOnly);
         QFile::link(target, at);
       },
       ELOOP},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    QTemporaryDir dir;
    const QString path = dir.filePath("port.log");
    const QString target = dir.filePath("elsewhere");
    c.plant(path, target);
    FakePort f;
    f.port.SetLogFile(path);
    try {
      f.port.Open();
      ADD_FAILURE() << "no error";
    } catch (const EInOutError& e) {
      EXPECT_EQ(e.ErrorCode, c.code);
    }
    EXPECT_TRUE(ReadFile(target).isEmpty());
    f.port.SetLogFile({});
  }
}

TEST(ComportLog, AReadWhoseEntryCannotBeWrittenKeepsItsBytesAndTheLogEndsWithAWholeEntry) {
  // The log cannot grow past a few more bytes (a full disk): the entry of
  // the completed read fails after its bytes left the queue.
  ShownExceptions shown;
  QTemporaryDir dir;
  const QString path = dir.filePath("port.log");
  FakePort f;
  f.port.Open();
  f.port.SetLogFile(path);
  f.port.WriteLog("first");
  const std::string data(4000, 'x');
  f.device->Receive(data);

  std::string received;
  {
    FileSizeLimit limit(QFileInfo(path).size() + 100);
    received = f.port.ReadString();
  }
  EXPECT_EQ(received, data);
  const QByteArray log = ReadFile(path);
  EXPECT_TRUE(log.endsWith("\r\n")) << log.right(40).toStdString();
  EXPECT_FALSE(log.contains("Read complete"));
  // The failure is shown once the read has returned.
  ASSERT_TRUE(WaitUntil([&] { return !shown.messages.empty(); }));
  EXPECT_NE(shown.messages.front().find("Cannot write the log file"), std::string::npos) << shown.messages.front();
}
