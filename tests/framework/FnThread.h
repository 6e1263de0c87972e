// Test helper: a TThread that runs a function object as Execute.
#pragma once

#include <functional>
#include <future>
#include <utility>

#include "framework/Thread.h"

// Runs a function object as Execute.
class FnThread : public TThread {
 public:
  explicit FnThread(std::function<void(FnThread&)> body, bool createSuspended = true)
      : TThread(createSuspended), body_(std::move(body)) {}
  ~FnThread() override {
    Terminate();
    if (!FreeOnTerminate()) WaitFor();
    if (destroyed) destroyed->set_value();
  }
  std::promise<void>* destroyed = nullptr;
  using TThread::Terminated;

 protected:
  void Execute() override { body_(*this); }

 private:
  std::function<void(FnThread&)> body_;
};
