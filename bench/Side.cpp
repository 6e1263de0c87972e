#include "Side.h"

#include <QEventLoop>
#include <QTimer>
#include <cstdio>
#include <stdexcept>

#include "FarEnd.h"
#include "framework/Application.h"

namespace bench {

bool RoundTripLog::Received(const char* data, size_t count) {
  received_.append(data, count);
  if (received_.size() < exchange_.reply.size()) return false;
  const Clock::time_point now = Clock::now();
  if (received_ != exchange_.reply)
    throw std::runtime_error("reply differs from the one sent: \"" + received_ + "\"");
  if (latencies_ != nullptr) latencies_->push_back(MicrosecondsBetween(sentAt_, now));
  received_.clear();
  --remaining_;
  return true;
}

void StreamCheck::Received(const uint8_t* data, size_t count) {
  if (count == 0) return;
  if (data[0] != PatternByte(received_) || data[count - 1] != PatternByte(received_ + count - 1))
    throw std::runtime_error("streamed data out of order at byte " + std::to_string(received_));
  received_ += count;
  if (received_ > total_) throw std::runtime_error("more bytes streamed than were sent");
}

struct LoopRun::State {
  QEventLoop loop;
  std::string error;
  bool finished = false;
};

namespace {
LoopRun* current = nullptr;
}

LoopRun::LoopRun() : d(std::make_unique<State>()) {}
LoopRun::~LoopRun() {
  if (current == this) current = nullptr;
}

LoopRun* LoopRun::Current() { return current; }

void LoopRun::Exec(std::chrono::milliseconds limit, const char* what) {
  d->error.clear();
  d->finished = false;
  QTimer watchdog;
  if (limit.count() > 0) {
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout,
                     [this, what] { Fail(std::string(what) + ": no end within the time limit"); });
    watchdog.start(limit);
  }
  LoopRun* outer = current;
  current = this;
  d->loop.exec();
  current = outer;
  if (!d->error.empty()) throw std::runtime_error(d->error);
}

void LoopRun::Finish() {
  d->finished = true;
  d->loop.quit();
}

void LoopRun::Fail(const std::string& why) {
  if (d->error.empty()) d->error = why;
  d->loop.quit();
}

void RouteExceptionsToRuns() {
  Application->OnException = TExceptionEvent::Bind([](TObject*, const Exception& e) {
    if (LoopRun* run = LoopRun::Current())
      run->Fail(e.Message());
    else
      std::fprintf(stderr, "error outside a measurement: %s\n", e.Message().c_str());
  });
}

}  // namespace bench
