// Test helpers for calls made on another thread than the user-interface
// thread: running one while the user-interface thread goes on handling
// events, and collecting what Qt logs meanwhile.
#pragma once

#include <QStringList>
#include <QTest>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Runs 'work' on a thread of its own while the user-interface thread goes
// on handling events, running 'meanwhile' between them, so that work
// handed over to the user-interface thread and waited for is done. False
// when 'work' has not ended within a generous time.
inline bool RunOnAnotherThread(const std::function<void()>& work, const std::function<void()>& meanwhile = {}) {
  std::atomic<bool> done{false};
  std::thread thread([&] {
    work();
    done = true;
  });
  const bool ended = QTest::qWaitFor(
      [&] {
        if (meanwhile) meanwhile();
        return done.load();
      },
      10000);
  thread.join();
  return ended;
}

// The messages Qt logs, on any thread, while it lives.
class LoggedMessages {
 public:
  LoggedMessages() {
    std::lock_guard lock(mutex_);
    current_ = this;
    previous_ = qInstallMessageHandler(&Record);
  }
  ~LoggedMessages() {
    qInstallMessageHandler(previous_);
    std::lock_guard lock(mutex_);
    current_ = nullptr;
  }
  LoggedMessages(const LoggedMessages&) = delete;
  LoggedMessages& operator=(const LoggedMessages&) = delete;

  // The messages that mention 'word', one a line.
  std::string Mentioning(const QString& word) const {
    std::lock_guard lock(mutex_);
    return messages_.filter(word, Qt::CaseInsensitive).join('\n').toStdString();
  }

 private:
  static void Record(QtMsgType, const QMessageLogContext&, const QString& text) {
    std::lock_guard lock(mutex_);
    if (current_ != nullptr) current_->messages_ << text;
  }

  static inline std::mutex mutex_;
  static inline LoggedMessages* current_ = nullptr;
  QtMessageHandler previous_ = nullptr;
  QStringList messages_;
};
