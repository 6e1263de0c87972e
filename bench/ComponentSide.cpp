// This component as the level tool uses it: an OnRxChar handler that asks
// InputCount and fetches the bytes with waiting Reads, commands written
// with WriteString, events synchronized onto the user-interface thread
// (the default).
#include <algorithm>
#include <stdexcept>

#include "Side.h"
#include "comport/Comport.h"

namespace bench {
namespace {

class ComponentSide final : public Side {
 public:
  ComponentSide() { port_.SetOnRxChar(TNotifyEvent(this, &ComponentSide::RxChar)); }

  std::string Name() const override { return "TComPort"; }

  void Open(const std::string& path) override {
    port_.SetDeviceName(QString::fromStdString(path));
    port_.SetBaudRate(br115200);
    port_.SetDataBits(db8);
    port_.SetParity(paNone);
    port_.SetStopBits(sb1);
    port_.Open();
  }

  void Close() override { port_.Close(); }

  void RoundTrips(const Exchange& exchange, int count, std::vector<double>* latencies) override {
    RoundTripLog log(exchange, count, latencies);
    const std::string& command = exchange.command;
    LoopRun run;
    onData_ = [&] {
      // As the level tool reads: what InputCount reports, at most 256
      // bytes per Read.
      char buffer[256];
      for (int waiting = port_.InputCount(); waiting > 0;) {
        const int chunk = std::min<int>(waiting, static_cast<int>(sizeof buffer));
        port_.Read(buffer, chunk, true);
        waiting -= chunk;
        if (!log.Received(buffer, static_cast<size_t>(chunk))) continue;
        if (log.Done()) {
          run.Finish();
        } else {
          log.Sent();
          port_.WriteString(command);
        }
      }
    };
    log.Sent();
    port_.WriteString(command);
    run.Exec(std::chrono::seconds(60 + count / 100), "TComPort round trips");
    onData_ = nullptr;
  }

  void Receive(uint64_t total) override {
    StreamCheck check(total);
    LoopRun run;
    onData_ = [&] {
      for (int waiting = port_.InputCount(); waiting > 0;) {
        const int chunk = std::min<int>(waiting, static_cast<int>(sizeof buffer_));
        port_.Read(buffer_, chunk, true);
        waiting -= chunk;
        check.Received(buffer_, static_cast<size_t>(chunk));
      }
      if (check.Done()) run.Finish();
    };
    run.Exec(std::chrono::seconds(120), "TComPort bulk receive");
    onData_ = nullptr;
  }

 private:
  void RxChar(TObject*) {
    if (onData_) onData_();
  }

  TComPort port_;
  std::function<void()> onData_;
  uint8_t buffer_[65536];
};

}  // namespace

std::unique_ptr<Side> MakeComponentSide() { return std::make_unique<ComponentSide>(); }

}  // namespace bench
