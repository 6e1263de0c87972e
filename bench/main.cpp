// comport-bench: this serial component against Qt's QSerialPort on one
// pseudo-terminal pair, one side after the other, with a gateway responder
// on the master side in a thread of its own.
//
//   (a) round trip: a 13-byte command answered by a 33-byte reply, timed
//       one by one (median, p99), with CPU time and context switches of the
//       side per round trip; a bare poll+read loop gives the floor
//   (r) the same round trip through a socat relay between the pair and a
//       second pseudo-terminal, which the side opens
//   (b) bulk receive of a streamed pattern: MB/s, CPU time and context
//       switches per MB
//   (c) an idle open port: CPU time and wake-ups (context switches of every
//       thread but the one measuring)
//
// --count-only SIDE runs only the measured round trips of one side (for
// callgrind and strace, see scripts/bench.sh); the far end then stays out
// of callgrind's count and its thread id is printed so a trace can leave
// it out.
#include <QCommandLineParser>
#include <QMetaObject>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <stdexcept>
#include <thread>

#include "FarEnd.h"
#include "Measure.h"
#include "Pty.h"
#include "Relay.h"
#include "Side.h"
#include "framework/Application.h"

#ifdef BENCH_HAVE_CALLGRIND
#include <valgrind/callgrind.h>
#else
#define CALLGRIND_ZERO_STATS
#define CALLGRIND_DUMP_STATS_AT(name)
#endif

namespace bench {
namespace {

struct Options {
  int roundTrips = 5000;
  int warmUp = 200;
  uint64_t bulkBytes = 64ull << 20;
  double idleSeconds = 10;
  bool roundTrip = true, relay = true, bulk = true, idle = true;
  bool ours = true, qt = true, floor = true;
  std::string countOnly;  // a side name: measured round trips of it alone
};

struct RoundTripFigures {
  double medianUs = 0, p99Us = 0, cpuUs = 0, voluntarySwitches = 0, involuntarySwitches = 0;
};
struct BulkFigures {
  double megabytesPerSecond = 0, cpuSeconds = 0, seconds = 0, switchesPerMb = 0;
};
struct IdleFigures {
  double cpuMs = 0;
  long wakeUps = 0;
};

// Figures of one side, per phase that ran.
struct SideFigures {
  std::optional<RoundTripFigures> roundTrip;
  std::optional<RoundTripFigures> relayed;
  std::optional<BulkFigures> bulk;
  std::optional<IdleFigures> idle;
};

// The measured round trips of one side alone, for callgrind and strace:
// the far end is left out of the instruction count and its thread id is
// printed so a trace can leave it out.
RoundTripFigures CountRoundTrips(Side& side, Pty& pty, const Options& options) {
  const Exchange exchange;
  pty.Reset();
  side.Open(pty.SlavePath());
  FarEnd far(pty.Master());
  far.ExcludeFromInstructionCount();
  far.StartResponder(exchange.reply, '\r');
  std::printf("far-end thread id: %d\n", static_cast<int>(far.ThreadId()));
  std::fflush(stdout);
  side.RoundTrips(exchange, options.warmUp, nullptr);

  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(options.roundTrips));
  const Usage far0 = far.ThreadUsageNow();
  TraceMark("bench: begin");
  CALLGRIND_ZERO_STATS;
  const Usage process0 = ProcessUsage();
  side.RoundTrips(exchange, options.roundTrips, &latencies);
  const Usage process1 = ProcessUsage();
  CALLGRIND_DUMP_STATS_AT("measured round trips");
  TraceMark("bench: end");
  const Usage far1 = far.ThreadUsageNow();
  far.Stop();
  side.Close();

  const Usage used = (process1 - process0) - (far1 - far0);
  const double n = options.roundTrips;
  return {Percentile(latencies, 0.5), Percentile(latencies, 0.99), used.cpuSeconds * 1e6 / n,
          used.voluntarySwitches / n, used.involuntarySwitches / n};
}

BulkFigures MeasureBulk(Side& side, Pty& pty, const Options& options) {
  pty.Reset();
  side.Open(pty.SlavePath());
  FarEnd far(pty.Master());
  const Usage process0 = ProcessUsage();
  const Clock::time_point start = Clock::now();
  far.StartStreamer(options.bulkBytes);
  side.Receive(options.bulkBytes);
  const Clock::time_point end = Clock::now();
  const Usage process1 = ProcessUsage();
  const Usage farUsed = far.ThreadUsageNow();  // the thread is new: all of it
  far.Stop();
  side.Close();

  const double seconds = std::chrono::duration<double>(end - start).count();
  const Usage used = (process1 - process0) - farUsed;
  // CPU time per byte depends on how much each wake-up finds, and so on
  // the machine's load; the wake-ups (switches) per MB show it.
  const double mb = static_cast<double>(options.bulkBytes) / 1e6;
  return {mb / seconds, used.cpuSeconds, seconds, static_cast<double>(used.Switches()) / mb};
}

IdleFigures MeasureIdle(Side& side, Pty& pty, const Options& options) {
  pty.Reset();
  side.Open(pty.SlavePath());
  Usage used;
  LoopRun run;
  // The measuring thread waits out the idle time, so the user-interface
  // thread has no timer of its own; its own sleeps are left out.
  std::thread measurer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // let the open settle
    const Usage before = OtherThreadsUsage();
    std::this_thread::sleep_for(std::chrono::duration<double>(options.idleSeconds));
    used = OtherThreadsUsage() - before;
    QMetaObject::invokeMethod(
        Application, [&run] { run.Finish(); }, Qt::QueuedConnection);
  });
  try {
    run.Exec(std::chrono::milliseconds(0), "idle");
  } catch (...) {
    measurer.join();
    throw;
  }
  measurer.join();
  side.Close();
  // Clock reads a few nanoseconds apart can leave a tiny negative remainder.
  return {std::max(0.0, used.cpuSeconds * 1e3), used.Switches()};
}

// The round trips of several sides, each on a pseudo-terminal pair (and
// relay) of its own, taken in turns of a tenth of the count, the side that
// goes first changing from turn to turn. A load on the machine that comes
// and goes then meets every side alike, so the ratio within one run is
// fair; measured one side after the other, a few seconds of load fall on
// one side only.
std::vector<RoundTripFigures> MeasureRoundTripsInTurns(const std::vector<Side*>& sides, const Options& options,
                                                       bool relayed) {
  struct Lane {
    Side* side = nullptr;
    std::unique_ptr<Pty> pty;
    std::optional<Relay> relay;
    std::unique_ptr<FarEnd> far;
    std::vector<double> latencies;
    Usage used;
  };
  const Exchange exchange;
  std::vector<Lane> lanes(sides.size());
  auto closeAll = [&] {
    for (Lane& lane : lanes) {
      if (lane.far) lane.far->Stop();
      if (lane.side != nullptr) lane.side->Close();
    }
  };
  try {
    for (size_t i = 0; i < sides.size(); ++i) {
      Lane& lane = lanes[i];
      lane.side = sides[i];
      lane.pty = std::make_unique<Pty>();
      if (relayed) lane.relay.emplace(lane.pty->SlavePath());
      lane.side->Open(relayed ? lane.relay->Path() : lane.pty->SlavePath());
      lane.far = std::make_unique<FarEnd>(lane.pty->Master());
      lane.far->StartResponder(exchange.reply, '\r');
      lane.side->RoundTrips(exchange, options.warmUp, nullptr);
      lane.latencies.reserve(static_cast<size_t>(options.roundTrips));
    }
    // Every far end's time is left out: the idle ones use next to none.
    auto farUsage = [&] {
      Usage total;
      for (Lane& lane : lanes) {
        const Usage u = lane.far->ThreadUsageNow();
        total = {total.cpuSeconds + u.cpuSeconds, total.voluntarySwitches + u.voluntarySwitches,
                 total.involuntarySwitches + u.involuntarySwitches};
      }
      return total;
    };
    constexpr int kTurns = 10;
    for (int turn = 0; turn < kTurns; ++turn) {
      const int count = options.roundTrips / kTurns + (turn < options.roundTrips % kTurns ? 1 : 0);
      if (count == 0) continue;
      for (size_t k = 0; k < lanes.size(); ++k) {
        Lane& lane = lanes[(k + static_cast<size_t>(turn)) % lanes.size()];
        const Usage far0 = farUsage();
        const Usage process0 = ProcessUsage();
        lane.side->RoundTrips(exchange, count, &lane.latencies);
        const Usage process1 = ProcessUsage();
        const Usage far1 = farUsage();
        const Usage used = (process1 - process0) - (far1 - far0);
        lane.used = {lane.used.cpuSeconds + used.cpuSeconds, lane.used.voluntarySwitches + used.voluntarySwitches,
                     lane.used.involuntarySwitches + used.involuntarySwitches};
      }
    }
  } catch (...) {
    closeAll();
    throw;
  }
  closeAll();
  std::vector<RoundTripFigures> figures;
  const double n = options.roundTrips;
  for (const Lane& lane : lanes)
    figures.push_back({Percentile(lane.latencies, 0.5), Percentile(lane.latencies, 0.99), lane.used.cpuSeconds * 1e6 / n,
                       lane.used.voluntarySwitches / n, lane.used.involuntarySwitches / n});
  return figures;
}

// The phases one side runs alone: bulk receive and the idle port.
void MeasureSide(Side& side, Pty& pty, const Options& options, SideFigures& figures) {
  if (!side.Streams() || !(options.bulk || options.idle)) return;
  std::fprintf(stderr, "measuring %s ...\n", side.Name().c_str());
  if (options.bulk) figures.bulk = MeasureBulk(side, pty, options);
  if (options.idle) figures.idle = MeasureIdle(side, pty, options);
}

// ---- report -----------------------------------------------------------

void Row(const char* label, std::optional<double> ours, std::optional<double> theirs, const char* format) {
  char a[32] = "-", b[32] = "-", r[32] = "-";
  if (ours) std::snprintf(a, sizeof a, format, *ours);
  if (theirs) std::snprintf(b, sizeof b, format, *theirs);
  if (ours && theirs && *theirs != 0) std::snprintf(r, sizeof r, "%.2f", *ours / *theirs);
  std::printf("%-38s %14s %14s %8s\n", label, a, b, r);
}

template <class T, class F>
std::optional<double> Pick(const std::optional<T>& figures, F field) {
  if (!figures) return std::nullopt;
  return field(*figures);
}

void Report(const SideFigures& ours, const SideFigures& theirs, const SideFigures& floor,
            const Options& options) {
  std::printf("\n%-38s %14s %14s %8s\n", "figure", "TComPort", "QSerialPort", "ratio");
  auto roundTripRows = [&](const char* heading, auto pick) {
    const auto& a = pick(ours);
    const auto& b = pick(theirs);
    if (!a && !b) return;
    std::printf(heading, options.roundTrips);
    auto rt = [&](const char* label, auto field, const char* format) {
      Row(label, Pick(a, field), Pick(b, field), format);
    };
    rt(
        "  median (us)", [](auto& f) { return f.medianUs; }, "%.1f");
    rt(
        "  p99 (us)", [](auto& f) { return f.p99Us; }, "%.1f");
    rt(
        "  CPU per round trip (us)", [](auto& f) { return f.cpuUs; }, "%.1f");
    rt(
        "  voluntary switches per round trip", [](auto& f) { return f.voluntarySwitches; }, "%.2f");
    rt(
        "  involuntary switches per round trip", [](auto& f) { return f.involuntarySwitches; }, "%.2f");
  };
  roundTripRows("(a) round trip, %d exchanges of 13 + 33 bytes\n",
                [](const SideFigures& f) -> const auto& { return f.roundTrip; });
  roundTripRows("(r) round trip through a socat pty relay, %d exchanges\n",
                [](const SideFigures& f) -> const auto& { return f.relayed; });
  if (ours.bulk || theirs.bulk) {
    std::printf("(b) bulk receive, %.0f MiB\n", static_cast<double>(options.bulkBytes) / (1 << 20));
    auto bulk = [&](const char* label, auto field, const char* format) {
      Row(label, Pick(ours.bulk, field), Pick(theirs.bulk, field), format);
    };
    bulk(
        "  throughput (MB/s)", [](auto& f) { return f.megabytesPerSecond; }, "%.1f");
    bulk(
        "  CPU (s)", [](auto& f) { return f.cpuSeconds; }, "%.3f");
    bulk(
        "  CPU per MB (ms)",
        [&](auto& f) { return f.cpuSeconds * 1e3 / (static_cast<double>(options.bulkBytes) / 1e6); }, "%.3f");
    bulk(
        "  context switches per MB", [](auto& f) { return f.switchesPerMb; }, "%.1f");
  }
  if (ours.idle || theirs.idle) {
    std::printf("(c) idle open port, %.1f s\n", options.idleSeconds);
    auto idle = [&](const char* label, auto field, const char* format) {
      Row(label, Pick(ours.idle, field), Pick(theirs.idle, field), format);
    };
    idle(
        "  CPU (ms)", [](auto& f) { return f.cpuMs; }, "%.3f");
    idle(
        "  wake-ups", [](auto& f) { return static_cast<double>(f.wakeUps); }, "%.0f");
  }
  auto floorLine = [](const char* phase, const std::optional<RoundTripFigures>& figures) {
    if (!figures) return;
    const RoundTripFigures& f = *figures;
    std::printf("floor for %s, bare poll+read loop: median %.1f us, p99 %.1f us, CPU %.1f us, "
                "%.2f voluntary switches per round trip\n",
                phase, f.medianUs, f.p99Us, f.cpuUs, f.voluntarySwitches);
  };
  floorLine("(a)", floor.roundTrip);
  floorLine("(r)", floor.relayed);
  if (ours.idle && ours.idle->wakeUps != 0)
    std::printf(
        "WARNING: the idle open TComPort woke %ld times; it must not "
        "wake at all\n",
        ours.idle->wakeUps);
}

std::unique_ptr<Side> MakeSide(const std::string& name) {
  if (name == "ours") return MakeComponentSide();
  if (name == "qt") return MakeQtSide();
  if (name == "floor") return MakeFloorSide();
  throw std::runtime_error("unknown side \"" + name + "\" (ours, qt or floor)");
}

Options ParseOptions(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription("Serial component against QSerialPort on one pseudo-terminal pair.");
  parser.addHelpOption();
  const QCommandLineOption roundTrips("round-trips", "Measured exchanges (5000).", "n", "5000");
  const QCommandLineOption warmUp("warm-up", "Exchanges before measuring (200).", "n", "200");
  const QCommandLineOption bulkMib("bulk-mib", "MiB streamed in the bulk phase (64).", "n", "64");
  const QCommandLineOption idleSeconds("idle-seconds", "Idle phase length (10).", "s", "10");
  const QCommandLineOption phases("phases", "Phases to run: any of rt,relay,bulk,idle (all).", "list",
                                  "rt,relay,bulk,idle");
  const QCommandLineOption sides("sides", "Sides to run: any of ours,qt,floor (all).", "list",
                                 "ours,qt,floor");
  const QCommandLineOption countOnly("count-only",
                                     "Only the measured round trips of one side: ours, qt or floor.", "side");
  parser.addOptions({roundTrips, warmUp, bulkMib, idleSeconds, phases, sides, countOnly});
  parser.process(arguments);

  auto number = [&](const QCommandLineOption& option) {
    bool ok = false;
    const double value = parser.value(option).toDouble(&ok);
    if (!ok || value < 0 || !std::isfinite(value))
      throw std::runtime_error("--" + option.names().first().toStdString() + " wants a number >= 0");
    return value;
  };
  Options options;
  options.roundTrips = static_cast<int>(number(roundTrips));
  options.warmUp = static_cast<int>(number(warmUp));
  options.bulkBytes = static_cast<uint64_t>(number(bulkMib) * (1 << 20));
  options.idleSeconds = number(idleSeconds);
  if (options.roundTrips < 1) throw std::runtime_error("--round-trips wants at least 1");
  const QStringList chosen = parser.value(phases).split(',', Qt::SkipEmptyParts);
  for (const QString& phase : chosen)
    if (phase != "rt" && phase != "relay" && phase != "bulk" && phase != "idle")
      throw std::runtime_error("unknown phase \"" + phase.toStdString() + "\" (rt, relay, bulk or idle)");
  options.roundTrip = chosen.contains("rt");
  options.relay = chosen.contains("relay");
  options.bulk = chosen.contains("bulk");
  options.idle = chosen.contains("idle");
  const QStringList chosenSides = parser.value(sides).split(',', Qt::SkipEmptyParts);
  for (const QString& side : chosenSides)
    if (side != "ours" && side != "qt" && side != "floor")
      throw std::runtime_error("unknown side \"" + side.toStdString() + "\" (ours, qt or floor)");
  options.ours = chosenSides.contains("ours");
  options.qt = chosenSides.contains("qt");
  options.floor = chosenSides.contains("floor");
  options.countOnly = parser.value(countOnly).toStdString();
  return options;
}

int Run(const QStringList& arguments) {
  const Options options = ParseOptions(arguments);
  RouteExceptionsToRuns();
  Pty pty;

  if (!options.countOnly.empty()) {
    std::unique_ptr<Side> side = MakeSide(options.countOnly);
    const RoundTripFigures f = CountRoundTrips(*side, pty, options);
    std::printf("%s: %d round trips, median %.1f us, CPU %.1f us per round trip\n", side->Name().c_str(),
                options.roundTrips, f.medianUs, f.cpuUs);
    return 0;
  }

  SideFigures ours, theirs, floor;
  std::unique_ptr<Side> oursSide = MakeComponentSide(), qtSide = MakeQtSide(), floorSide = MakeFloorSide();
  std::vector<Side*> sides;
  std::vector<SideFigures*> figures;
  if (options.ours) sides.push_back(oursSide.get()), figures.push_back(&ours);
  if (options.qt) sides.push_back(qtSide.get()), figures.push_back(&theirs);
  if (options.floor) sides.push_back(floorSide.get()), figures.push_back(&floor);
  if (options.roundTrip && !sides.empty()) {
    std::fprintf(stderr, "measuring round trips ...\n");
    const std::vector<RoundTripFigures> measured = MeasureRoundTripsInTurns(sides, options, false);
    for (size_t i = 0; i < sides.size(); ++i) figures[i]->roundTrip = measured[i];
  }
  if (options.relay && !sides.empty()) {
    std::fprintf(stderr, "measuring round trips through the relay ...\n");
    try {
      const std::vector<RoundTripFigures> measured = MeasureRoundTripsInTurns(sides, options, true);
      for (size_t i = 0; i < sides.size(); ++i) figures[i]->relayed = measured[i];
    } catch (const std::exception& e) {
      // The relay is optional: the other phases still count.
      std::fprintf(stderr, "relayed round trips not measured: %s\n", e.what());
    }
  }
  if (options.ours) MeasureSide(*oursSide, pty, options, ours);
  if (options.qt) MeasureSide(*qtSide, pty, options, theirs);
  Report(ours, theirs, floor, options);
  return 0;
}

}  // namespace
}  // namespace bench

int main(int argc, char** argv) {
  // A bench has no window: run without a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TApplication app(argc, argv);
  try {
    return bench::Run(app.arguments());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "comport-bench: %s\n", e.what());
    return 1;
  }
}
