// This component as a careful application uses it: an OnRxChar handler
// that takes what has come with ReadString and answers with WriteString,
// events synchronized onto the user-interface thread (the default).
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
    LoopRun run;
    log_ = &log;
    run_ = &run;
    log.Sent();
    port_.WriteString(log.Command());
    run.Exec(std::chrono::seconds(60 + count / 100), "TComPort round trips");
    log_ = nullptr;
  }

  void Receive(uint64_t total) override {
    StreamCheck check(total);
    LoopRun run;
    check_ = &check;
    run_ = &run;
    run.Exec(std::chrono::seconds(120), "TComPort bulk receive");
    check_ = nullptr;
  }

 private:
  void RxChar(TObject*) {
    const std::string data = port_.ReadString();
    if (log_ != nullptr) {
      if (!log_->Received(data.data(), data.size())) return;
      if (log_->Done()) {
        run_->Finish();
      } else {
        log_->Sent();
        port_.WriteString(log_->Command());
      }
    } else if (check_ != nullptr) {
      check_->Received(reinterpret_cast<const uint8_t*>(data.data()), data.size());
      if (check_->Done()) run_->Finish();
    }
  }

  TComPort port_;
  RoundTripLog* log_ = nullptr;
  StreamCheck* check_ = nullptr;
  LoopRun* run_ = nullptr;
};

}  // namespace

std::unique_ptr<Side> MakeComponentSide() { return std::make_unique<ComponentSide>(); }

}  // namespace bench
