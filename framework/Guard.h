// The one guard for every entry from Qt into our code (slots, timers,
// synchronized calls, dispatch, device notices): an exception never travels
// into Qt, it goes to the application's standard exception display.
#pragma once

#include <QObject>

#include <concepts>
#include <exception>
#include <type_traits>
#include <utility>

// Hands an exception to Application->HandleException, or writes it to
// stderr when there is no application object. Never throws.
void ReportException(std::exception_ptr error) noexcept;

// Runs f; any exception it raises is reported, never propagated.
template <class F>
void Guarded(F&& f) noexcept {
  try {
    std::forward<F>(f)();
  } catch (...) {
    ReportException(std::current_exception());
  }
}

// Connects a signal to a functor that runs guarded. The functor may take
// the signal's leading arguments, as with QObject::connect.
template <class Sender, class Signal, class F>
QMetaObject::Connection GuardedConnect(const Sender* sender, Signal signal, const QObject* context, F&& functor,
                                       Qt::ConnectionType type = Qt::AutoConnection) {
  using Fn = std::decay_t<F>;
  auto guarded = [fn = Fn(std::forward<F>(functor))]<class... A>
    requires std::invocable<Fn&, A&...>
  (A&&... args) mutable -> void { Guarded([&] { fn(args...); }); };
  return QObject::connect(sender, signal, context, std::move(guarded), type);
}
