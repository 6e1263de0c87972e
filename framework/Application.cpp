#include "framework/Application.h"

#include <QThread>
#include <QWidget>

#include <cstdio>
#include <atomic>
#include <mutex>

#include "framework/Guard.h"
#include "framework/MessageBox.h"

TApplication* Application = nullptr;

namespace {

// The live TApplication (the exception display queued from other threads)
// and the call target. Guarded by their own mutex so that a worker thread
// never posts to an object being destroyed.
std::mutex postMutex;
TApplication* displayTarget = nullptr;
QObject* callTarget = nullptr;

// Counts the posted calls. The poster counts up before it posts and the
// user-interface thread reads the count before it runs a call: that orders
// the poster's writes before the call, also for race checkers that cannot
// see the locking inside Qt's event queue, without a lock the poster may
// still hold while the call is woken.
std::atomic<unsigned> postedCalls{0};

// The thread that created the TApplication or the call target. Kept after
// they go, so that thread is still recognised as the user-interface thread.
std::atomic<Qt::HANDLE> uiThread{nullptr};

// Runs posted calls on the user-interface thread. A child of the
// application object, so it goes with it at the latest.
class CallTarget final : public QObject {
 public:
  explicit CallTarget(QCoreApplication* application) : QObject(application) {
    uiThread.store(QThread::currentThreadId(), std::memory_order_release);
    std::lock_guard lock(postMutex);
    callTarget = this;
  }

  ~CallTarget() override {
    {
      std::lock_guard lock(postMutex);
      if (callTarget == this) callTarget = nullptr;
    }
    // Calls still queued never run; destroying them releases their callers.
    QCoreApplication::removePostedEvents(this, TPostedCall::EventType());
  }

 protected:
  bool event(QEvent* event) override {
    if (TPostedCall::Is(event)) {
      static_cast<TPostedCall*>(event)->Run();
      return true;
    }
    return QObject::event(event);
  }
};

// Removes the call target while the application object is still whole:
// from TApplication's destructor, or as a post routine early in the
// destructor of another application object.
void DropCallTarget() {
  QObject* target = nullptr;
  {
    std::lock_guard lock(postMutex);
    target = callTarget;
  }
  delete target;
}

void WriteToStderr(std::exception_ptr error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Unhandled exception: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "Unhandled exception\n");
  }
}

}  // namespace

bool TPostedCall::Is(const QEvent* event) {
  static_cast<void>(postedCalls.load(std::memory_order_acquire));
  return event->type() == EventType();
}

QEvent::Type TPostedCall::EventType() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  Application = this;
  uiThread.store(QThread::currentThreadId(), std::memory_order_release);
  {
    std::lock_guard lock(postMutex);
    displayTarget = this;
  }
  new CallTarget(this);
}

TApplication::~TApplication() {
  {
    std::lock_guard lock(postMutex);
    if (displayTarget == this) displayTarget = nullptr;
  }
  DropCallTarget();
  if (Application == this) Application = nullptr;
}

QString TApplication::Title() const { return title_; }

void TApplication::SetTitle(const QString& title) { title_ = title; }

QString TApplication::ExeName() const { return applicationFilePath(); }

int TApplication::Run() {
  // The loop ends when the last window closes; the main window is the one
  // that stays open for the life of the program.
  return exec();
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
  if (!error) return;
  try {
    if (QThread::currentThread() != thread()) {
      // Widgets live on the user-interface thread only: queue the display.
      QueueException(error);
      return;
    }
    DisplayException(error);
  } catch (...) {
    // The display itself failed (or OnException raised): nowhere left but stderr.
    WriteToStderr(std::current_exception());
  }
}

void TApplication::DisplayException(std::exception_ptr error) {
  auto show = [this](const Exception& e) {
    if (OnException) {
      const TExceptionEvent handler = OnException;  // survives reassignment inside the call
      handler(this, e);
    } else {
      ShowException(e);
    }
  };
  try {
    std::rethrow_exception(error);
  } catch (const EAbort&) {
    // The silent abort.
  } catch (const Exception& e) {
    show(e);
  } catch (const std::exception& e) {
    show(Exception(e.what()));
  } catch (...) {
    show(Exception(std::string()));
  }
}

void TApplication::ShowException(const Exception& error) {
  QWidget* owner = activeModalWidget();
  if (owner == nullptr) owner = activeWindow();
  MessageBox(owner, QString::fromStdString(error.Message()), Title(), MB_OK | MB_ICONERROR);
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    HandleException(std::current_exception());
    return false;
  }
}

bool TApplication::EnsureCallTarget() {
  {
    std::lock_guard lock(postMutex);
    if (callTarget != nullptr) return true;
  }
  QCoreApplication* application = QCoreApplication::instance();
  if (application == nullptr || application->thread() != QThread::currentThread()) return false;
  new CallTarget(application);
  qAddPostRoutine(DropCallTarget);
  return true;
}

bool TApplication::PostCall(std::unique_ptr<TPostedCall> call) {
  std::lock_guard lock(postMutex);
  if (callTarget == nullptr) return false;
  postedCalls.fetch_add(1, std::memory_order_release);
  QCoreApplication::postEvent(callTarget, call.release());
  return true;
}

void TApplication::RunPostedCalls() {
  QObject* target = nullptr;
  {
    std::lock_guard lock(postMutex);
    target = callTarget;
  }
  if (target != nullptr) QCoreApplication::sendPostedEvents(target, TPostedCall::EventType());
}

bool TApplication::OnUiThread() noexcept {
  const Qt::HANDLE ui = uiThread.load(std::memory_order_acquire);
  if (ui != nullptr) return ui == QThread::currentThreadId();
  const QCoreApplication* application = QCoreApplication::instance();
  return application != nullptr && application->thread() == QThread::currentThread();
}

void TApplication::QueueException(std::exception_ptr error) noexcept {
  std::lock_guard lock(postMutex);
  if (displayTarget == nullptr) {
    WriteToStderr(error);
    return;
  }
  try {
    TApplication* target = displayTarget;
    QMetaObject::invokeMethod(
        target, [target, error] { target->HandleException(error); }, Qt::QueuedConnection);
  } catch (...) {
    WriteToStderr(error);
  }
}

void ReportException(std::exception_ptr error) noexcept {
  if (TApplication::OnUiThread() && Application != nullptr)
    Application->HandleException(error);
  else
    TApplication::QueueException(error);
}
