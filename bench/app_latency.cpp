// app_latency: how late the program's own window shows what the camera saw.
//
// One process, three parts, each measured for --seconds (default 60) in all. The
// parts take turns in --rounds rounds (default 4: app, defaults, tuned, app, …),
// each round after a warm-up of its own, so that whatever else the machine does
// over the run weighs on all three alike.
//
//   1. presenter-link: the main window TForm1 made from the test layout (the
//      test pattern camera, 640x480 at 30 fps, in place of the USB camera), its
//      real window on Qt's offscreen platform; Button2, Button1, Receive, Send
//      pressed as a user would. Capture time: the camera's stamp record
//      (frame_stamp::NoteCaptured, as a frame leaves the source). Paint time and
//      number: the renderer's paint observer, which reads the number back from
//      the pixels it has just painted into the video area.
//   2. The plain GStreamer pair (bench/plain_pair.h) with the receiver at its
//      defaults: rtpjitterbuffer at its default latency, appsink synced to the
//      clock.
//   3. The same pair tuned: no jitter buffer, one decoder thread, sync=false.
//
// For each: latency p50, p95, p99 and max; frames shown of the frames captured
// in the measured spans; CPU time of the whole process per captured frame
// (getrusage), and with --threads that of each thread (/proc).
//
// It sends to a multicast group: run it only through bench/run.sh, which puts
// it inside tests/run_in_netns.sh. Bounded: each round of a part runs its share
// of --seconds plus about three, and each sender stops by itself after a frame
// count.
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "Unit1.h"
#include "bench/plain_pair.h"
#include "filters/filter_classes.h"
#include "filters/frame_stamp.h"
#include "media/register_components.h"
#include "net/endpoint.h"
#include "platform/com/com.h"
#include "platform/ui/application.h"
#include "support/test_layout.h"

namespace {

using frame_stamp::Clock;

constexpr auto kWarmUp = std::chrono::seconds(2);
// Frames captured near the end of the span get this long to be shown.
constexpr auto kTail = std::chrono::milliseconds(500);
constexpr int kFramesPerSecond = 30;

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string LoadAverage() {
  std::ifstream file("/proc/loadavg");
  std::string one, five, fifteen;
  file >> one >> five >> fifteen;
  return one + " " + five + " " + fifteen;
}

void RunLoopUntil(Clock::time_point when) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(when - Clock::now());
  if (left.count() <= 0) return;
  QEventLoop loop;
  QTimer::singleShot(left, Qt::PreciseTimer, &loop, &QEventLoop::quit);
  loop.exec();
}

// CPU time of each thread of the process, by thread id: name and seconds.
using ThreadTimes = std::map<int, std::pair<std::string, double>>;

ThreadTimes ThreadCpu() {
  ThreadTimes times;
  const double tick = static_cast<double>(sysconf(_SC_CLK_TCK));
  std::error_code error;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", error)) {
    std::ifstream stat(task.path() / "stat");
    std::string line;
    std::getline(stat, line);
    // "tid (name) state ...": utime and stime are fields 14 and 15.
    const auto open = line.find('(');
    const auto close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close + 2 > line.size()) continue;
    std::istringstream rest(line.substr(close + 2));
    std::string field;
    double user = 0, system = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
      if (i == 14) user = std::atof(field.c_str());
      if (i == 15) system = std::atof(field.c_str());
    }
    times[std::atoi(task.path().filename().c_str())] = {line.substr(open + 1, close - open - 1),
                                                        (user + system) / tick};
  }
  return times;
}

// The CPU seconds each thread spent between two snapshots, added up by thread
// name (threads of one name, and the same thread in several rounds, together).
std::map<std::string, double> SpentByName(const ThreadTimes& before, const ThreadTimes& after) {
  std::map<std::string, double> spent;
  for (const auto& [tid, named] : after) {
    const auto earlier = before.find(tid);
    const double seconds = named.second - (earlier == before.end() ? 0.0 : earlier->second.second);
    // Elements are numbered anew in each round ("videotestsrc3:src"): the number goes.
    std::string name;
    for (char c : named.first) {
      if (c < '0' || c > '9') name += c;
    }
    if (seconds > 0) spent[name] += seconds;
  }
  return spent;
}

void PrintThreadCpu(const std::map<std::string, double>& spent, std::size_t frames) {
  std::vector<std::pair<double, std::string>> sorted;
  for (const auto& [name, seconds] : spent) sorted.emplace_back(seconds, name);
  std::sort(sorted.rbegin(), sorted.rend());
  for (const auto& [seconds, name] : sorted) {
    std::printf("      %-18s %6.3f ms per frame\n", name.c_str(),
                frames ? 1000.0 * seconds / static_cast<double>(frames) : 0.0);
  }
}

bool show_threads = false;
// With --only: the one part to run ("app", "defaults" or "tuned"), for profiling.
std::string only_part;

bool Runs(const char* part) { return only_part.empty() || only_part == part; }

// Every shown frame, from the paint observer (window's thread) or the appsink
// (streaming thread).
class Recorder {
 public:
  static void Observe(const frame_stamp::PaintRecord& record, void* context) {
    auto* self = static_cast<Recorder*>(context);
    std::lock_guard lock(self->mutex_);
    self->records_.push_back(record);
  }
  std::vector<frame_stamp::PaintRecord> Records() {
    std::lock_guard lock(mutex_);
    return records_;
  }

 private:
  std::mutex mutex_;
  std::vector<frame_stamp::PaintRecord> records_;
};

struct Figures {
  bool ran = false;
  std::string failure;
  std::vector<double> latency_ms;  // one per frame captured in the span and shown
  std::size_t captured = 0;        // frames captured in the span
  std::size_t shown = 0;           // of those, shown at least once
  double cpu_seconds = 0;          // whole process, over the span
  std::map<std::string, double> thread_seconds;  // with --threads, by thread name

  bool broken = false;  // a round failed: the part has no figures

  // Adds another round of the same part.
  void Add(const Figures& round) {
    if (!round.ran) {
      broken = true;
      failure = round.failure;
      return;
    }
    ran = true;
    latency_ms.insert(latency_ms.end(), round.latency_ms.begin(), round.latency_ms.end());
    captured += round.captured;
    shown += round.shown;
    cpu_seconds += round.cpu_seconds;
    for (const auto& [name, seconds] : round.thread_seconds) thread_seconds[name] += seconds;
  }
};

// The numbers whose capture time lies in [from, to), with that time.
std::vector<std::pair<std::uint16_t, Clock::time_point>> CapturedBetween(Clock::time_point from,
                                                                         Clock::time_point to) {
  std::vector<std::pair<std::uint16_t, Clock::time_point>> captured;
  for (std::uint32_t n = 0; n <= 0xFFFF; ++n) {
    const auto number = static_cast<std::uint16_t>(n);
    const auto when = frame_stamp::CaptureTime(number);
    if (when && *when >= from && *when < to) captured.emplace_back(number, *when);
  }
  return captured;
}

Figures Collect(Recorder& recorder, Clock::time_point from, Clock::time_point to,
                double cpu_seconds) {
  Figures f;
  f.ran = true;
  f.cpu_seconds = cpu_seconds;
  const auto captured = CapturedBetween(from, to);
  f.captured = captured.size();
  std::set<std::uint16_t> in_span;
  for (const auto& [number, when] : captured) in_span.insert(number);
  std::set<std::uint16_t> shown;
  for (const frame_stamp::PaintRecord& record : recorder.Records()) {
    if (!in_span.contains(record.number) || record.captured < from || record.captured >= to) {
      continue;
    }
    // A number shown twice (a repaint of the same frame) counts once, first showing.
    if (!shown.insert(record.number).second) continue;
    f.latency_ms.push_back(Ms(record.painted - record.captured));
  }
  f.shown = shown.size();
  return f;
}

// Nearest rank: the smallest value with at least q of all at or below it.
double Percentile(std::vector<double> values, double q) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const auto rank = static_cast<std::size_t>(std::ceil(q * static_cast<double>(values.size())));
  return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

struct Row {
  const char* name;
  Figures figures;
};

double CpuPerFrameMs(const Figures& f) {
  return f.captured ? 1000.0 * f.cpu_seconds / static_cast<double>(f.captured) : NAN;
}

void PrintRow(const Row& row) {
  const Figures& f = row.figures;
  if (!f.ran || f.broken) {
    std::printf("  %-30s did not run: %s\n", row.name, f.failure.c_str());
    return;
  }
  std::printf("  %-30s %8.2f %8.2f %8.2f %8.2f   %5zu of %5zu   %6.2f ms\n", row.name,
              Percentile(f.latency_ms, 0.50), Percentile(f.latency_ms, 0.95),
              Percentile(f.latency_ms, 0.99),
              f.latency_ms.empty() ? NAN : *std::max_element(f.latency_ms.begin(), f.latency_ms.end()),
              f.shown, f.captured, CpuPerFrameMs(f));
  if (show_threads) PrintThreadCpu(f.thread_seconds, f.captured);
}

// The first part: the program's own window.
Figures MeasureApp(std::chrono::seconds seconds) {
  Figures failed;
  std::vector<std::string> errors;
  Application()->SetErrorPresenterForTesting(
      [&](const std::string& class_name, const std::string& message) {
        errors.push_back(class_name + ": " + message);
      });
  std::unique_ptr<TForm1> form;
  try {
    form = TForm1::Create(TestPatternLayout());
  } catch (const std::exception& error) {
    failed.failure = error.what();
    Application()->SetErrorPresenterForTesting(nullptr);
    return failed;
  }
  form->Show();

  Recorder recorder;
  frame_stamp::SetPaintObserver(&Recorder::Observe, &recorder);
  form->Button2->Click();
  form->Button1->Click();
  form->Button4->Click();
  form->GO->Click();

  const Clock::time_point from = Clock::now() + kWarmUp;
  const Clock::time_point to = from + seconds;
  RunLoopUntil(from);
  const ThreadTimes threads_before = show_threads ? ThreadCpu() : ThreadTimes{};
  const double cpu_before = CpuSeconds();
  RunLoopUntil(to);
  const double cpu = CpuSeconds() - cpu_before;
  const ThreadTimes threads_after = show_threads ? ThreadCpu() : ThreadTimes{};
  RunLoopUntil(to + kTail);
  frame_stamp::SetPaintObserver(nullptr, nullptr);

  Figures figures = Collect(recorder, from, to, cpu);
  figures.thread_seconds = SpentByName(threads_before, threads_after);
  form->Close();
  form.reset();
  QCoreApplication::processEvents();
  Application()->SetErrorPresenterForTesting(nullptr);
  if (!errors.empty()) {
    figures.ran = false;
    figures.failure = errors.front();
  }
  return figures;
}

// The second and third parts: the plain pair.
Figures MeasurePlain(bool receiver_defaults, std::uint16_t first_number,
                     std::chrono::seconds seconds) {
  PlainPair::Options options;
  options.receiver_defaults = receiver_defaults;
  options.first_number = first_number;
  options.max_frames =
      static_cast<int>(kFramesPerSecond * (seconds + kWarmUp + std::chrono::seconds(2)).count());
  PlainPair pair(options);
  Recorder recorder;
  pair.SetObserver(&Recorder::Observe, &recorder);
  std::string error;
  if (!pair.Start(&error)) {
    Figures failed;
    failed.failure = error;
    return failed;
  }
  const Clock::time_point from = Clock::now() + kWarmUp;
  const Clock::time_point to = from + seconds;
  RunLoopUntil(from);
  const ThreadTimes threads_before = show_threads ? ThreadCpu() : ThreadTimes{};
  const double cpu_before = CpuSeconds();
  RunLoopUntil(to);
  const double cpu = CpuSeconds() - cpu_before;
  const ThreadTimes threads_after = show_threads ? ThreadCpu() : ThreadTimes{};
  // The defaults hold frames for the jitter buffer's latency: give them longer.
  RunLoopUntil(to + (receiver_defaults ? 2 * kTail : kTail));
  pair.Stop();
  pair.SetObserver(nullptr, nullptr);
  Figures figures = Collect(recorder, from, to, cpu);
  figures.thread_seconds = SpentByName(threads_before, threads_after);
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 60;
  int rounds = 4;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::clamp(std::atoi(argv[++i]), 3, 600);
    } else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
      rounds = std::clamp(std::atoi(argv[++i]), 1, 20);
    } else if (std::strcmp(argv[i], "--threads") == 0) {
      show_threads = true;
    } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc &&
               (std::strcmp(argv[i + 1], "app") == 0 || std::strcmp(argv[i + 1], "defaults") == 0 ||
                std::strcmp(argv[i + 1], "tuned") == 0)) {
      only_part = argv[++i];
    } else {
      std::fprintf(stderr, "usage: app_latency [--seconds N] [--rounds R] [--threads] [--only PART]\n"
                           "  --seconds N  measured per part, 3 to 600 (default 60)\n"
                           "  --rounds R   parts taken in turn R times, N/R seconds each (default 4)\n"
                           "  --threads    CPU per frame of each thread as well\n"
                           "  --only PART  app, defaults or tuned alone (for profiling)\n");
      return 2;
    }
  }
  if (std::getenv("PRESENTER_LINK_IN_NETNS") == nullptr) {
    std::fprintf(stderr, "app_latency sends to %s:%u: run it through bench/run.sh\n",
                 net::kGroupAddress, net::kPort);
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const bool com_started = SUCCEEDED(CoInitialize(nullptr));
  int status = 0;
  {
    TApplication application(argc, argv);
    RegisterPresenterLinkClasses();
    RegisterMediaComponentClasses();
    EnsureGStreamer();

    // The parts take turns, so that what else the machine does over the run
    // weighs on all of them alike.
    rounds = std::min(rounds, seconds / 3);
    const auto span = std::chrono::seconds(seconds / rounds);
    std::printf("app_latency: capture -> paint, test pattern camera 640x480 at %d fps, RTP MPEG-4 "
                "over %s:%u on loopback;\n%lld s measured per part in %d rounds of %lld s, each "
                "after %lld s of warm-up; load average before: %s\n",
                kFramesPerSecond, net::kGroupAddress, net::kPort,
                static_cast<long long>(span.count() * rounds), rounds,
                static_cast<long long>(span.count()), static_cast<long long>(kWarmUp.count()),
                LoadAverage().c_str());
    std::fflush(stdout);
    Row rows[] = {
        {"presenter-link window", {}},
        {"plain pair, receiver defaults", {}},
        {"plain pair, tuned", {}},
    };
    for (Row& row : rows) row.figures.failure = "not asked for (--only)";
    for (int round = 0; round < rounds; ++round) {
      if (Runs("app")) rows[0].figures.Add(MeasureApp(span));
      if (Runs("defaults")) rows[1].figures.Add(MeasurePlain(true, 20000, span));
      if (Runs("tuned")) rows[2].figures.Add(MeasurePlain(false, 40000, span));
    }
    std::printf("\n  %-30s %8s %8s %8s %8s   %14s   %9s\n", "latency in ms", "p50", "p95", "p99",
                "max", "shown", "CPU/frame");
    for (const Row& row : rows) PrintRow(row);
    std::printf("load average after: %s\n", LoadAverage().c_str());

    const Figures& app = rows[0].figures;
    const Figures& tuned = rows[2].figures;
    if (!app.ran || app.broken) {
      status = Runs("app") ? 1 : 0;
    } else {
      const double p50 = Percentile(app.latency_ms, 0.50);
      const double p95 = Percentile(app.latency_ms, 0.95);
      const double p99 = Percentile(app.latency_ms, 0.99);
      const bool latency_met = p50 <= 4.0 && p95 <= 8.0 && p99 <= 15.0;
      const bool none_lost = app.captured > 0 && app.shown == app.captured;
      const bool cheaper = tuned.ran && !tuned.broken && CpuPerFrameMs(app) < CpuPerFrameMs(tuned);
      std::printf("\ngoal (p50 <= 4, p95 <= 8, p99 <= 15 ms; no frame lost; CPU per frame below "
                  "the tuned pair's): latency %s, frames %s, CPU %s\n",
                  latency_met ? "met" : "MISSED",
                  none_lost ? "all shown" : "LOST SOME", cheaper ? "met" : "MISSED");
    }
  }
  if (com_started) CoUninitialize();
  return status;
}
