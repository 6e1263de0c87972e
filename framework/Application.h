// TApplication: the application object. It holds the title shown in the
// task bar, knows the executable's path, runs the message loop and owns the
// standard exception display. No exception ever crosses Qt's event loop:
// notify() catches whatever escapes an event and hands it to
// HandleException.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <memory>

#include "framework/Event.h"
#include "framework/Exception.h"

class QWidget;

// A call handed to the user-interface thread as one event posted to the
// application's call target, an object living on that thread; Run()
// executes it there (also inside modal loops). Destroying an event that
// never ran (the application went away first) must release whoever waits
// for it.
class TPostedCall : public QEvent {
 public:
  TPostedCall() : QEvent(EventType()) {}
  virtual void Run() noexcept = 0;
  static QEvent::Type EventType();
  // True when 'event', delivered on the user-interface thread, is a posted
  // call. Anything that looks at events there (a filter included) asks
  // this first: it orders the poster's writes, which built the event in
  // the poster's memory, before the event is read.
  static bool Is(const QEvent* event);
};

// Replaces the standard display when assigned: receives the application and
// the exception (anything that is not an Exception arrives as one, with
// what() or an empty message as its text).
using TExceptionEvent = TEvent<void(TObject* Sender, const Exception& E)>;

class TApplication : public QApplication {
  Q_OBJECT

 public:
  TApplication(int& argc, char** argv);
  ~TApplication() override;

  // The application's title: the caption of its standard boxes. Kept here
  // rather than as Qt's display name, which Qt would append to every window
  // caption on X11.
  QString Title() const;
  void SetTitle(const QString& title);

  // Full path of the running executable.
  QString ExeName() const;

  // Runs the message loop until the main window closes; returns its exit code.
  int Run();

  // The standard exception display: EAbort is discarded silently; any other
  // exception is shown in a modal box (caption Title(), error icon, OK)
  // owned by the active window, or given to OnException when that is set.
  // A std::exception shows what(); anything else an empty message. Safe to
  // call from any thread: off the user-interface thread the display is
  // queued to it. Never throws.
  void HandleException(std::exception_ptr error) noexcept;

  // Shows one exception in the standard box (the default display).
  void ShowException(const Exception& error);

  TExceptionEvent OnException;

  // Posted calls work under any QCoreApplication: the call target is made
  // with a TApplication, or when first needed under another application
  // object, and goes with the application.
  //
  // Makes the call target when there is none yet and this is the thread of
  // the running application object. True when there is a target; false
  // with no application object at all (or off its thread before a target
  // was made).
  static bool EnsureCallTarget();
  // Posts a call to the call target, from any thread. Returns false (and
  // destroys the call) when there is none.
  static bool PostCall(std::unique_ptr<TPostedCall> call);
  // Queues an exception to the live TApplication's display from any
  // thread; without one it goes to stderr.
  static void QueueException(std::exception_ptr error) noexcept;
  // True on the user-interface thread: the thread that created the (last)
  // TApplication or call target, else the thread of the application object.
  static bool OnUiThread() noexcept;
  // Runs the calls already posted (user-interface thread only).
  static void RunPostedCalls();

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void DisplayException(std::exception_ptr error);

  QString title_;
};

extern TApplication* Application;
