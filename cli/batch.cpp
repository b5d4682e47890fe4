// pagewright-convert --batch: many conversions in processes apart from the batch (so a
// file that hangs, crashes or takes all memory costs only its own conversion), several at
// once, with one progress line, a JSON-lines report and resumption from that report.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "base/ksConsts.h"
#include "commands.h"
#include "document/ksCstPDFDoc.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct TksBatchItem {
  std::string input;
  std::string relative;  // the output's path under the output folder
  uint64_t size = 0;
  std::string refused;   // why it is not converted at all
};

struct TksBatchOptions {
  std::vector<std::string> inputs;
  std::vector<std::string> lists;
  std::string outDir;
  std::string report;
  std::string converter;  // empty: this program, forked without a new image
  unsigned jobs = 0;
  double timeout = 600;          // seconds a conversion may take
  uint64_t memoryMiB = 2048;     // address space beyond the input's own size
  std::vector<std::string> conversionArgs;
};

volatile sig_atomic_t gStop = 0;
void OnStopSignal(int) { gStop = 1; }

bool StartsWith(std::string_view s, std::string_view prefix, std::string_view& rest) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  rest = s.substr(prefix.size());
  return true;
}

bool IsPdfName(const fs::path& path) {
  std::string ext = path.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".pdf";
}

// A relative path without "..": kept under the output folder as given; anything else by
// its file name alone. Then the conversion's own rule: a name not ending in .pdf gets it,
// so that two inputs writing one output are seen as such.
std::string OutputRelative(const std::string& given) {
  const fs::path path = fs::path(given).lexically_normal();
  const std::string kept =
      path.is_relative() && !path.empty() && *path.begin() != ".." ? path.string() : path.filename().string();
  return TksCustomPDFDocument::SaveFileName(kept);
}

// The length of the well-formed UTF-8 sequence at text[at], or 0 when the bytes there
// are none (a stray continuation byte, an overlong form, a surrogate, a cut sequence).
size_t Utf8SequenceAt(std::string_view text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char c = byte(at);
  if (c < 0x80) return 1;
  size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
  if (n == 0 || at + n > text.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  const unsigned char second = byte(at + 1);
  if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
      (c == 0xF4 && second >= 0x90))
    return 0;
  return n;
}

// A JSON string of text. File names are bytes, not always UTF-8: a byte that starts no
// well-formed sequence is written as the lone surrogate \udcXX (XX the byte), the
// escaping Python's "surrogateescape" uses, so every report line parses and the name
// comes back byte for byte.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    char buf[8];
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else if (const size_t n = Utf8SequenceAt(text, at); n > 0) {
          out.append(text.substr(at, n));
          at += n;
          continue;
        } else {
          std::snprintf(buf, sizeof buf, "\\udc%02x", c);
          out += buf;
        }
    }
    ++at;
  }
  return out + "\"";
}

// The string value of key in one report line written by this program; none when absent.
std::optional<std::string> JsonField(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":\"";
  size_t at = line.find(marker);
  if (at == std::string::npos) return std::nullopt;
  std::string value;
  for (at += marker.size(); at < line.size(); ++at) {
    char c = line[at];
    if (c == '"') return value;
    if (c != '\\' || at + 1 >= line.size()) {
      value += c;
      continue;
    }
    c = line[++at];
    switch (c) {
      case 'n': value += '\n'; break;
      case 'r': value += '\r'; break;
      case 't': value += '\t'; break;
      case 'u':
        // Only control characters and escaped bytes (\udcXX) are written this way.
        if (at + 4 < line.size()) value += static_cast<char>(std::stoi(line.substr(at + 1, 4), nullptr, 16) & 0xFF);
        at += 4;
        break;
      default: value += c;
    }
  }
  return std::nullopt;
}

std::optional<int64_t> JsonNumber(const std::string& line, const std::string& key) {
  const std::string marker = "\"" + key + "\":";
  const size_t at = line.find(marker);
  if (at == std::string::npos) return std::nullopt;
  try {
    return std::stoll(line.substr(at + marker.size()));
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

int BatchUsage(const std::string& message) {
  std::fprintf(stderr,
               "pagewright-convert: %s\n\n"
               "Usage: pagewright-convert --batch [--jobs=N] [--list=FILE] [--report=FILE] [--timeout=SECONDS]\n"
               "         [--memory-limit=MIB] [--converter=PROGRAM] [conversion options] INPUT... -o OUTDIR\n",
               message.c_str());
  return 1;
}

// What one finished conversion left.
struct TksBatchResult {
  int status = 0;       // the converter's exit status; 2 for a crash or a limit
  std::string error;    // why it failed, when the converter did not say
  std::vector<std::string> warnings;
  std::vector<std::string> messages;  // other lines the converter wrote
  double seconds = 0;
  uint64_t outputSize = 0;
};

struct TksRunning {
  size_t item;
  pid_t pid;
  Clock::time_point start;
  std::string errorFile;
  bool timedOut = false;
};

// A forked copy of the batch that converts one file after another, told which over a
// pipe, answering each with the exit status over another. A file whose conversion crashes
// or runs out of time takes its worker with it, and a new one takes its place; a worker
// also ends after a failed conversion and after kFilesPerWorker files, so nothing a
// conversion left behind reaches many others.
struct TksWorker {
  pid_t pid = -1;
  int requests = -1;  // the batch writes item numbers here
  int answers = -1;   // and reads exit statuses here
  bool busy = false;
  size_t files = 0;   // conversions it has made
};
constexpr size_t kFilesPerWorker = 64;

class TksBatch {
 public:
  TksBatch(TksBatchOptions options, std::vector<TksBatchItem> items, const TksConvertOne& convertOne)
      : options_(std::move(options)), items_(std::move(items)), convertOne_(convertOne) {}
  int Run();

 private:
  void Start(size_t index);
  std::vector<std::string> ConversionArgs(const TksBatchItem& item) const;
  rlim_t MemoryLimit(const TksBatchItem& item) const;
  void StartInWorker(size_t index);
  bool StartWorker();
  void WorkerLoop(int requests, int answers);
  // Takes answers and ended workers (waiting up to wait); false when nothing happened.
  bool CollectFromWorkers(int waitMilliseconds);
  void EndWorker(size_t w, bool kill);
  int RunLoop(const std::vector<size_t>& todo);
  void KillOverdue();
  int Summary();
  void Finish(TksRunning& job, int waitStatus);
  void Record(const TksBatchItem& item, const TksBatchResult& result);
  void Progress(bool force);
  void LoadDone();

  TksBatchOptions options_;
  std::vector<TksBatchItem> items_;
  const TksConvertOne& convertOne_;
  std::vector<TksRunning> running_;
  std::vector<TksWorker> workers_;  // converting without a converter program of its own
  std::map<std::string, uint64_t> done_;  // output relative path -> its size, from the report
  std::FILE* report_ = nullptr;
  std::string scratch_;
  bool terminal_ = false;
  size_t finished_ = 0, failed_ = 0, warned_ = 0, skipped_ = 0;
  uint64_t totalBytes_ = 0, doneBytes_ = 0;
  Clock::time_point begin_ = Clock::now(), lastProgress_{};
};

void TksBatch::LoadDone() {
  std::ifstream in(options_.report);
  std::string line;
  while (std::getline(in, line)) {
    const std::optional<std::string> output = JsonField(line, "output_relative");
    const std::optional<int64_t> status = JsonNumber(line, "status");
    const std::optional<int64_t> size = JsonNumber(line, "output_size");
    if (!output || !status || !size) continue;
    if (*status == 0 || *status == 3)
      done_[*output] = static_cast<uint64_t>(*size);
    else
      done_.erase(*output);
  }
}

std::vector<std::string> TksBatch::ConversionArgs(const TksBatchItem& item) const {
  std::vector<std::string> args{options_.converter.empty() ? std::string("pagewright-convert") : options_.converter};
  args.insert(args.end(), options_.conversionArgs.begin(), options_.conversionArgs.end());
  args.push_back(item.input);
  args.push_back((fs::path(options_.outDir) / item.relative).string());
  return args;
}

rlim_t TksBatch::MemoryLimit(const TksBatchItem& item) const {
  // Sanitizer builds reserve far more address space than they use.
  if (KS_ADDRESS_SANITIZED || options_.memoryMiB == 0) return RLIM_INFINITY;
  return static_cast<rlim_t>(options_.memoryMiB) * (rlim_t{1} << 20) + item.size;
}

void TksBatch::Start(size_t index) {
  const TksBatchItem& item = items_[index];
  std::error_code ec;
  fs::create_directories((fs::path(options_.outDir) / item.relative).parent_path(), ec);
  if (options_.converter.empty()) {
    StartInWorker(index);
    return;
  }
  const std::string errorFile = scratch_ + "/" + std::to_string(index) + ".err";
  std::vector<std::string> args = ConversionArgs(item);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  // Everything the child needs is made before the fork: after it only system calls.
  const rlim_t memory = MemoryLimit(item);
  const pid_t parent = getpid();

  const pid_t pid = fork();
  if (pid == 0) {
    // A batch killed outright takes its conversions along: they stop as on any SIGTERM,
    // leaving neither their output nor a temporary file, and a new run converts them again.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(2);
    const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (err < 0 || null < 0) _exit(2);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (memory != RLIM_INFINITY) {
      struct rlimit limit{memory, memory};
      setrlimit(RLIMIT_AS, &limit);
    }
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execvp(argv[0], argv.data());
    dprintf(STDERR_FILENO, "pagewright-convert: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
  }
  if (pid < 0) {
    TksRunning failedJob{index, -1, Clock::now(), errorFile};
    Finish(failedJob, -1);
    return;
  }
  running_.push_back({index, pid, Clock::now(), errorFile});
}

// ---- workers ----

bool TksBatch::StartWorker() {
  int requests[2], answers[2];
  if (pipe2(requests, O_CLOEXEC) != 0) return false;
  if (pipe2(answers, O_CLOEXEC) != 0) {
    close(requests[0]);
    close(requests[1]);
    return false;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // A batch killed outright takes its workers along (see Start).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(2);
    close(requests[1]);
    close(answers[0]);
    // The other workers' pipes stay the batch's alone, or they would never see their end.
    for (const TksWorker& w : workers_) {
      close(w.requests);
      close(w.answers);
    }
    WorkerLoop(requests[0], answers[1]);
    _exit(0);
  }
  close(requests[0]);
  close(answers[1]);
  if (pid < 0) {
    close(requests[1]);
    close(answers[0]);
    return false;
  }
  workers_.push_back({pid, requests[1], answers[0], false, 0});
  return true;
}

void TksBatch::WorkerLoop(int requests, int answers) {
  const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null < 0) return;
  dup2(null, STDIN_FILENO);
  dup2(null, STDOUT_FILENO);
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  struct rlimit initial{};
  getrlimit(RLIMIT_AS, &initial);
  for (;;) {
    uint64_t index = 0;
    ssize_t got;
    do {
      got = read(requests, &index, sizeof index);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof index) || index >= items_.size()) return;  // the batch is done with it
    const TksBatchItem& item = items_[index];
    const std::string errorFile = scratch_ + "/" + std::to_string(index) + ".err";
    const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (err < 0) _exit(2);
    dup2(err, STDERR_FILENO);
    close(err);
    // This file's own limit; the worker's earlier files gave back what they took.
    struct rlimit limit{std::min(MemoryLimit(item), initial.rlim_max), initial.rlim_max};
    if (limit.rlim_cur == RLIM_INFINITY) limit.rlim_cur = initial.rlim_cur;
    setrlimit(RLIMIT_AS, &limit);
    std::vector<std::string> args = ConversionArgs(item);
    int32_t status = 2;
    try {
      status = convertOne_(args);
    } catch (const std::bad_alloc&) {
      // Past the limit set above; the worker ends after this failed file.
      std::fprintf(stderr, "pagewright-convert: the conversion ran out of its memory limit (%llu MiB)\n",
                   static_cast<unsigned long long>(options_.memoryMiB));
    }
    std::fflush(stdout);
    std::fflush(stderr);
    if (write(answers, &status, sizeof status) != static_cast<ssize_t>(sizeof status)) return;
  }
}

void TksBatch::StartInWorker(size_t index) {
  const std::string errorFile = scratch_ + "/" + std::to_string(index) + ".err";
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto idle = std::find_if(workers_.begin(), workers_.end(), [](const TksWorker& w) { return !w.busy; });
    if (idle == workers_.end()) {
      if (!StartWorker()) break;
      idle = workers_.end() - 1;
    }
    const uint64_t request = index;
    if (write(idle->requests, &request, sizeof request) == static_cast<ssize_t>(sizeof request)) {
      idle->busy = true;
      running_.push_back({index, idle->pid, Clock::now(), errorFile});
      return;
    }
    EndWorker(static_cast<size_t>(idle - workers_.begin()), true);  // it had ended: another one
  }
  TksRunning failedJob{index, -1, Clock::now(), errorFile};
  Finish(failedJob, -1);
}

void TksBatch::EndWorker(size_t w, bool kill) {
  TksWorker& worker = workers_[w];
  if (kill) ::kill(worker.pid, SIGKILL);
  close(worker.requests);
  close(worker.answers);
  int status = 0;
  while (waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
  }
  workers_.erase(workers_.begin() + static_cast<std::ptrdiff_t>(w));
}

bool TksBatch::CollectFromWorkers(int waitMilliseconds) {
  std::vector<pollfd> fds;
  for (const TksWorker& w : workers_) fds.push_back({w.answers, POLLIN, 0});
  if (fds.empty() || poll(fds.data(), fds.size(), waitMilliseconds) <= 0) return false;
  std::vector<pid_t> ended;
  for (size_t i = 0; i < fds.size(); ++i) {
    if (!fds[i].revents) continue;
    TksWorker& worker = workers_[i];
    const auto job = std::find_if(running_.begin(), running_.end(),
                                  [&](const TksRunning& r) { return r.pid == worker.pid; });
    int32_t status = 0;
    const ssize_t got = read(worker.answers, &status, sizeof status);
    if (got < 0 && errno == EINTR) continue;
    if (got == static_cast<ssize_t>(sizeof status) && job != running_.end()) {
      TksRunning finished = *job;
      running_.erase(job);
      worker.busy = false;
      Finish(finished, (status & 0xff) << 8);  // as a process's exit status
      // A failed conversion may have left anything behind: its worker ends.
      if ((status != 0 && status != 3) || ++worker.files >= kFilesPerWorker) ended.push_back(worker.pid);
      continue;
    }
    // The worker ended: crashed, killed for its time, or done.
    int waitStatus = 0;
    while (waitpid(worker.pid, &waitStatus, 0) < 0 && errno == EINTR) {
    }
    worker.pid = -worker.pid;  // reaped: EndWorker must not wait for it again
    if (job != running_.end()) {
      TksRunning finished = *job;
      running_.erase(job);
      Finish(finished, waitStatus);
    }
    ended.push_back(worker.pid);
  }
  for (pid_t pid : ended) {
    const auto w = std::find_if(workers_.begin(), workers_.end(), [pid](const TksWorker& x) { return x.pid == pid; });
    if (w == workers_.end()) continue;
    if (pid < 0) {
      close(w->requests);
      close(w->answers);
      workers_.erase(w);
    } else {
      EndWorker(static_cast<size_t>(w - workers_.begin()), false);
    }
  }
  return true;
}

void TksBatch::Finish(TksRunning& job, int waitStatus) {
  const TksBatchItem& item = items_[job.item];
  TksBatchResult result;
  result.seconds = std::chrono::duration<double>(Clock::now() - job.start).count();
  std::ifstream err(job.errorFile);
  std::string line;
  while (std::getline(err, line)) {
    std::string_view rest;
    if (StartsWith(line, "pagewright-convert: warning: ", rest))
      result.warnings.emplace_back(rest);
    else if (StartsWith(line, "pagewright-convert: ", rest))
      result.messages.emplace_back(rest);
    else if (!line.empty())
      result.messages.push_back(line);
  }
  err.close();
  ::unlink(job.errorFile.c_str());
  if (waitStatus < 0) {
    result.status = 2;
    result.error = std::string("could not start the conversion: ") + std::strerror(errno);
  } else if (job.timedOut) {
    result.status = 2;
    result.error = "stopped after " + std::to_string(static_cast<long>(options_.timeout)) + " s";
  } else if (WIFSIGNALED(waitStatus)) {
    result.status = 2;
    result.error = std::string("the conversion ended with signal ") + std::to_string(WTERMSIG(waitStatus)) + " (" +
                   strsignal(WTERMSIG(waitStatus)) + ")";
  } else {
    result.status = WEXITSTATUS(waitStatus);
    if (result.status != 0 && result.status != 3 && result.messages.empty())
      result.error = "the conversion ended with exit status " + std::to_string(result.status);
  }
  if (result.error.empty() && result.status != 0 && result.status != 3 && !result.messages.empty())
    result.error = result.messages.back();
  const fs::path output = fs::path(options_.outDir) / item.relative;
  std::error_code ec;
  if (result.status == 0 || result.status == 3) {
    const uint64_t size = fs::file_size(output, ec);
    if (ec) {
      // A conversion that says it succeeded but left no output has not.
      result.status = 2;
      result.error = "no output was written to " + output.string();
    } else {
      result.outputSize = size;
    }
  }
  Record(item, result);
}

void TksBatch::Record(const TksBatchItem& item, const TksBatchResult& result) {
  const fs::path output = fs::path(options_.outDir) / item.relative;
  std::string json = "{\"input\":" + JsonString(item.input) + ",\"output\":" + JsonString(output.string()) +
                     ",\"output_relative\":" + JsonString(item.relative) +
                     ",\"status\":" + std::to_string(result.status);
  if (!result.error.empty()) json += ",\"error\":" + JsonString(result.error);
  json += ",\"warnings\":[";
  for (size_t i = 0; i < result.warnings.size(); ++i) json += (i ? "," : "") + JsonString(result.warnings[i]);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", result.seconds);
  json += "],\"seconds\":" + std::string(seconds) + ",\"input_size\":" + std::to_string(item.size) +
          ",\"output_size\":" + std::to_string(result.outputSize) + "}\n";
  std::fputs(json.c_str(), report_);
  // Each line reaches the file at once: a batch killed now resumes from it.
  std::fflush(report_);

  ++finished_;
  doneBytes_ += item.size;
  if (result.status == 3) ++warned_;
  if (result.status != 0 && result.status != 3) ++failed_;
  if (!terminal_) {
    std::fprintf(stderr, "[%zu/%zu] exit %d %.2f s %s -> %s%s%s\n", finished_ + skipped_, items_.size(),
                 result.status, result.seconds, item.input.c_str(), output.c_str(), result.error.empty() ? "" : ": ",
                 result.error.c_str());
  } else if (result.status != 0 && result.status != 3) {
    // Failures stay on the terminal above the progress line.
    std::fprintf(stderr, "\r\033[Kfailed: %s: %s\n", item.input.c_str(), result.error.c_str());
  }
}

void TksBatch::Progress(bool force) {
  if (!terminal_) return;
  const Clock::time_point now = Clock::now();
  if (!force && now - lastProgress_ < std::chrono::milliseconds(200)) return;
  lastProgress_ = now;
  const size_t done = finished_ + skipped_;
  const int width = 24;
  const int filled = items_.empty() ? width : static_cast<int>(width * done / items_.size());
  std::string bar(static_cast<size_t>(filled), '#');
  bar.resize(width, '.');
  std::string eta = "--:--";
  const double elapsed = std::chrono::duration<double>(now - begin_).count();
  if (doneBytes_ > 0 && totalBytes_ > doneBytes_) {
    const long left = static_cast<long>(elapsed * static_cast<double>(totalBytes_ - doneBytes_) / doneBytes_);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", left / 60, left % 60);
    eta = buf;
  } else if (done == items_.size()) {
    eta = "0:00";
  }
  std::fprintf(stderr, "\r\033[K[%s] %zu/%zu files  %.1f/%.1f MiB  %zu failed  %zu running  left %s", bar.c_str(), done,
               items_.size(), doneBytes_ / 1048576.0, totalBytes_ / 1048576.0, failed_, running_.size(), eta.c_str());
  std::fflush(stderr);
}

int TksBatch::Run() {
  std::error_code ec;
  fs::create_directories(options_.outDir, ec);
  if (ec) {
    std::fprintf(stderr, "pagewright-convert: cannot create %s: %s\n", options_.outDir.c_str(), ec.message().c_str());
    return 2;
  }
  LoadDone();
  // Not inherited by the conversions ("e": close on exec).
  report_ = std::fopen(options_.report.c_str(), "ae");
  if (!report_) {
    std::fprintf(stderr, "pagewright-convert: cannot write the report %s: %s\n", options_.report.c_str(),
                 std::strerror(errno));
    return 2;
  }
  // The converters' messages wait here until their conversion ends.
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pagewright-batch-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::fprintf(stderr, "pagewright-convert: cannot make a scratch folder: %s\n", std::strerror(errno));
    std::fclose(report_);
    return 2;
  }
  scratch_ = pattern;
  terminal_ = isatty(STDERR_FILENO);

  struct sigaction stop{};
  stop.sa_handler = OnStopSignal;
  sigaction(SIGINT, &stop, nullptr);
  sigaction(SIGTERM, &stop, nullptr);
  // A conversion's end is waited for, not polled for: SIGCHLD stays pending until taken.
  sigset_t childEnded;
  sigemptyset(&childEnded);
  sigaddset(&childEnded, SIGCHLD);
  sigprocmask(SIG_BLOCK, &childEnded, nullptr);

  // Outputs a finished run recorded and that are still there in full are not made again:
  // every output appears only once complete and read back, so one that exists is whole.
  std::vector<size_t> todo;
  for (size_t i = 0; i < items_.size(); ++i) {
    totalBytes_ += items_[i].size;
    const auto done = done_.find(items_[i].relative);
    std::error_code sizeError;
    const uint64_t size = fs::file_size(fs::path(options_.outDir) / items_[i].relative, sizeError);
    if (!items_[i].refused.empty()) {
      TksBatchResult refused;
      refused.status = 2;
      refused.error = items_[i].refused;
      Record(items_[i], refused);
    } else if (done != done_.end() && !sizeError && size == done->second) {
      ++skipped_;
      doneBytes_ += items_[i].size;
    } else {
      todo.push_back(i);
    }
  }
  if (skipped_ && !terminal_)
    std::fprintf(stderr, "pagewright-convert: %zu files converted by an earlier run are kept\n", skipped_);

  if (options_.converter.empty()) return RunLoop(todo);
  size_t next = 0;
  while ((next < todo.size() || !running_.empty()) && !gStop) {
    while (running_.size() < options_.jobs && next < todo.size() && !gStop) Start(todo[next++]);
    int status = 0;
    const pid_t pid = waitpid(-1, &status, WNOHANG);
    if (pid > 0) {
      const auto job = std::find_if(running_.begin(), running_.end(), [pid](const TksRunning& r) { return r.pid == pid; });
      if (job != running_.end()) {
        TksRunning finished = *job;
        running_.erase(job);
        Finish(finished, status);
      }
    }
    KillOverdue();  // also while others keep ending: the wait reports them
    Progress(false);
    if (pid > 0) continue;
    const struct timespec tick{0, 50'000'000};
    sigtimedwait(&childEnded, nullptr, &tick);
  }
  if (gStop) {
    // Stopped by the user: the running conversions stop too and leave no output.
    for (const TksRunning& job : running_) kill(job.pid, SIGTERM);
    for (const TksRunning& job : running_) {
      waitpid(job.pid, nullptr, 0);
      ::unlink(job.errorFile.c_str());
    }
  }
  return Summary();
}

void TksBatch::KillOverdue() {
  // A conversion past its time is killed (with its worker); its end is reported as any.
  const Clock::time_point now = Clock::now();
  for (TksRunning& job : running_)
    if (!job.timedOut && options_.timeout > 0 && now - job.start > std::chrono::duration<double>(options_.timeout)) {
      job.timedOut = true;
      kill(job.pid, SIGKILL);
    }
}

int TksBatch::RunLoop(const std::vector<size_t>& todo) {
  // A worker gone between two files must not take the batch along on the next request.
  signal(SIGPIPE, SIG_IGN);
  size_t next = 0;
  while ((next < todo.size() || !running_.empty()) && !gStop) {
    while (running_.size() < options_.jobs && next < todo.size() && !gStop) Start(todo[next++]);
    CollectFromWorkers(50);
    KillOverdue();
    Progress(false);
  }
  if (gStop) {
    // Stopped by the user: the running conversions stop too and leave no output.
    for (const TksWorker& w : workers_) kill(w.pid, SIGTERM);
    for (const TksRunning& job : running_) ::unlink(job.errorFile.c_str());
  }
  while (!workers_.empty()) EndWorker(workers_.size() - 1, false);
  return Summary();
}

int TksBatch::Summary() {
  std::fclose(report_);
  ::rmdir(scratch_.c_str());
  Progress(true);
  if (terminal_) std::fputc('\n', stderr);
  std::fprintf(stderr,
               "pagewright-convert: %zu files: %zu converted (%zu with warnings), %zu failed, %zu kept from an earlier "
               "run%s; report in %s\n",
               items_.size(), finished_ - failed_, warned_, failed_, skipped_, gStop ? ", stopped" : "",
               options_.report.c_str());
  if (gStop) return 130;
  return failed_ ? 2 : warned_ ? 3 : 0;
}

// The inputs: files as named, folders searched for *.pdf, list files a name a line.
std::string CollectInputs(const TksBatchOptions& options, std::vector<TksBatchItem>& items) {
  // A folder walk never enters the output folder: a rerun would convert the last run's
  // outputs again, one level deeper each time.
  std::error_code outError;
  const fs::path outDir = fs::weakly_canonical(options.outDir, outError);
  const auto addFile = [&](const std::string& name, const std::string& relative) {
    std::error_code ec;
    const uint64_t size = fs::file_size(name, ec);
    items.push_back({name, relative, ec ? 0 : size, {}});
  };
  for (const std::string& list : options.lists) {
    std::ifstream in(list);
    if (!in) return "cannot read the list " + list;
    std::string line;
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      addFile(line, OutputRelative(line));
    }
  }
  for (const std::string& input : options.inputs) {
    std::error_code ec;
    if (fs::is_directory(input, ec)) {
      std::vector<fs::path> found;
      fs::recursive_directory_iterator it(input, fs::directory_options::skip_permission_denied, ec), end;
      if (ec) return "cannot read the folder " + input + ": " + ec.message();
      for (; it != end; it.increment(ec)) {
        if (ec) return "cannot read the folder " + input + ": " + ec.message();
        std::error_code same;
        if (!outError && it->is_directory(same) && fs::equivalent(it->path(), outDir, same)) {
          it.disable_recursion_pending();
          continue;
        }
        if (it->is_regular_file(ec) && IsPdfName(it->path())) found.push_back(it->path());
      }
      std::sort(found.begin(), found.end());
      for (const fs::path& path : found) addFile(path.string(), path.lexically_relative(input).string());
    } else {
      addFile(input, OutputRelative(input));
    }
  }
  return {};
}

}  // namespace

int RunBatch(int argc, char** argv, const std::function<int(const std::vector<std::string>&)>& checkOptions,
             const TksConvertOne& convertOne) {
  TksBatchOptions options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    // A value is the end of its argument, so rest.data() is a terminated string too.
    std::string_view rest;
    if (a == "--batch") continue;
    if (a == "-o" || a == "--output-dir") {
      if (i + 1 >= argc) return BatchUsage("-o needs the output folder");
      options.outDir = argv[++i];
    } else if (StartsWith(a, "--output-dir=", rest)) {
      options.outDir = rest;
    } else if (StartsWith(a, "--jobs=", rest)) {
      char* end = nullptr;
      const long n = std::strtol(rest.data(), &end, 10);
      if (rest.empty() || *end || n < 1 || n > 1024) return BatchUsage("--jobs takes a number of 1 to 1024");
      options.jobs = static_cast<unsigned>(n);
    } else if (StartsWith(a, "--list=", rest)) {
      options.lists.emplace_back(rest);
    } else if (StartsWith(a, "--report=", rest)) {
      options.report = rest;
    } else if (StartsWith(a, "--converter=", rest)) {
      options.converter = rest;
    } else if (StartsWith(a, "--timeout=", rest)) {
      char* end = nullptr;
      options.timeout = std::strtod(rest.data(), &end);
      if (rest.empty() || *end || !(options.timeout >= 0)) return BatchUsage("--timeout takes seconds (0: none)");
    } else if (StartsWith(a, "--memory-limit=", rest)) {
      char* end = nullptr;
      const long long n = std::strtoll(rest.data(), &end, 10);
      if (rest.empty() || *end || n < 0) return BatchUsage("--memory-limit takes MiB (0: none)");
      options.memoryMiB = static_cast<uint64_t>(n);
    } else if (a == "--info" || a == "--open-after-save" || a == "--progress" || StartsWith(a, "--page-info", rest)) {
      return BatchUsage(std::string(a) + " does not go with --batch");
    } else if (a == "--" || StartsWith(a, "--", rest)) {
      options.conversionArgs.emplace_back(a);
    } else {
      options.inputs.emplace_back(a);
    }
  }
  if (options.outDir.empty()) return BatchUsage("--batch needs the output folder: -o OUTDIR");
  if (options.inputs.empty() && options.lists.empty()) return BatchUsage("--batch needs input files, folders or --list");
  // The conversion options are checked once here rather than failing every file.
  if (const int status = checkOptions(options.conversionArgs); status != 0) return status;
  if (options.jobs == 0) options.jobs = std::max(1u, std::thread::hardware_concurrency());
  if (options.report.empty()) options.report = (fs::path(options.outDir) / "pagewright-batch.jsonl").string();

  std::vector<TksBatchItem> items;
  if (std::string error = CollectInputs(options, items); !error.empty()) return BatchUsage(error);
  // Two inputs that would write one output: the second would silently replace the first.
  std::map<std::string, size_t> seen;
  for (size_t i = 0; i < items.size(); ++i) {
    const auto [at, added] = seen.emplace(items[i].relative, i);
    if (!added) items[i].refused = "not converted: " + items[at->second].input + " writes the same output";
  }
  TksBatch batch(std::move(options), std::move(items), convertOne);
  return batch.Run();
}
