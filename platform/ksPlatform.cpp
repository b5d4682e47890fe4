#include "ksPlatform.h"

#include <fcntl.h>
#include <iconv.h>
#include <limits.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unicode/usprep.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <stdexcept>
#include <system_error>

namespace ksplatform {

namespace {

// One conversion through iconv; on a byte or character it cannot convert, fallback
// supplies the replacement and the conversion goes on after it.
template <class Out, class Fallback>
void Convert(const char* to, const char* from, const char* in, size_t inLen, size_t inUnit, Out& out,
             Fallback fallback) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv cannot convert");
  char buf[4096];
  char* src = const_cast<char*>(in);
  size_t left = inLen;
  while (left > 0) {
    char* dst = buf;
    size_t room = sizeof buf;
    size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(reinterpret_cast<const typename Out::value_type*>(buf),
               (sizeof buf - room) / sizeof(typename Out::value_type));
    if (r == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL: replace one input unit.
      size_t unit = std::min(inUnit, left);
      fallback(src, out);
      src += unit;
      left -= unit;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
}

}  // namespace

std::u16string AnsiToWide(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  bool plain = true;
  for (unsigned char c : ansi) if (c >= 0x80) { plain = false; break; }
  if (plain) {
    for (unsigned char c : ansi) out.push_back(c);
    return out;
  }
  Convert("UTF-16LE", "WINDOWS-1252", ansi.data(), ansi.size(), 1, out,
          [](const char* p, std::u16string& o) { o.push_back(static_cast<unsigned char>(*p)); });
  return out;
}

std::string WideToAnsi(std::u16string_view wide) {
  std::string out;
  out.reserve(wide.size());
  bool plain = true;
  for (char16_t c : wide) if (c >= 0x80) { plain = false; break; }
  if (plain) {
    for (char16_t c : wide) out.push_back(static_cast<char>(c));
    return out;
  }
  Convert("WINDOWS-1252", "UTF-16LE", reinterpret_cast<const char*>(wide.data()), wide.size() * 2, 2, out,
          [](const char*, std::string& o) { o.push_back('?'); });
  return out;
}

std::string Utf16ToUtf8(std::u16string_view w) {
  std::string out;
  for (size_t i = 0; i < w.size(); ++i) {
    uint32_t c = w[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (w[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::optional<std::u16string> SaslPrep(std::u16string_view text) {
  UErrorCode status = U_ZERO_ERROR;
  UStringPrepProfile* profile = usprep_openByType(USPREP_RFC4013_SASLPREP, &status);
  if (U_FAILURE(status)) return std::nullopt;
  struct Close {
    UStringPrepProfile* p;
    ~Close() { usprep_close(p); }
  } close{profile};
  // Mapping and normalisation may lengthen the text; twice its length plus a little is
  // room enough, and the call says how much it needed when it is not.
  std::u16string out(text.size() * 2 + 16, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    status = U_ZERO_ERROR;
    const int32_t n = usprep_prepare(profile, reinterpret_cast<const UChar*>(text.data()),
                                     static_cast<int32_t>(text.size()), reinterpret_cast<UChar*>(out.data()),
                                     static_cast<int32_t>(out.size()), USPREP_DEFAULT, nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      out.assign(static_cast<size_t>(n) + 1, u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::nullopt;
    out.resize(static_cast<size_t>(n));
    return out;
  }
  return std::nullopt;
}

std::u16string Utf8ToUtf16(std::string_view s) {
  std::u16string out;
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) { cp = c; }
    else if ((c >> 5) == 6 && i + 1 < s.size()) { cp = ((c & 0x1F) << 6) | (s[i + 1] & 0x3F); len = 2; }
    else if ((c >> 4) == 14 && i + 2 < s.size()) {
      cp = ((c & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F); len = 3;
    } else if ((c >> 3) == 30 && i + 3 < s.size()) {
      cp = ((c & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
      len = 4;
    }
    i += len;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
    }
  }
  return out;
}

// ---- signals ----
//
// Two process-wide handlers, installed the first time they are needed and never taken
// away: SIGBUS for mapped files cut short, and SIGINT, SIGTERM and SIGHUP for temporary
// output files. Each touches only its fixed table and calls only async-signal-safe
// functions (mmap and unlink are plain system calls); neither ever leaves through the
// frames it interrupted.

namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
  throw std::system_error(error, std::generic_category(), what);
}

// Hands a signal on to the action that was in place before ours. The default action is
// put back and, for a signal that was sent (rather than raised by a fault, which simply
// happens again), the signal raised anew: it takes effect as our handler returns.
void PassOn(int sig, siginfo_t* info, void* context, const struct sigaction& previous, bool resend) {
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) previous.sa_sigaction(sig, info, context);
  } else if (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_IGN) {
    ::sigaction(sig, &previous, nullptr);
    if (resend) ::raise(sig);
  } else {
    previous.sa_handler(sig);
  }
}

// Mapped files the SIGBUS handler knows: [begin, end) page-rounded, and whether a lost
// page was replaced.
constexpr int kMappingSlots = 64;
struct MappingSlot {
  std::atomic<bool> used{false};
  std::atomic<uintptr_t> begin{0};
  std::atomic<uintptr_t> end{0};
  std::atomic<bool> faulted{false};
};
MappingSlot mappingSlots[kMappingSlots];
uintptr_t pageSize = 4096;
struct sigaction previousBusAction;

void OnBusError(int sig, siginfo_t* info, void* context) {
  // si_code > 0: raised by the system for an access, si_addr is the address touched.
  if (info && info->si_code > 0) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
    for (MappingSlot& slot : mappingSlots) {
      const uintptr_t begin = slot.begin.load(std::memory_order_acquire);
      const uintptr_t end = slot.end.load(std::memory_order_acquire);
      if (begin == 0 || at < begin || at >= end) continue;
      // The file ends before this page now, so every later page is lost too: zeros over
      // all of them, and the access that faulted is repeated on the zeros.
      const uintptr_t page = at & ~(pageSize - 1);
      const int saved = errno;
      void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
      errno = saved;
      if (zeros == MAP_FAILED) break;
      slot.faulted.store(true, std::memory_order_release);
      return;
    }
  }
  PassOn(sig, info, context, previousBusAction, !info || info->si_code <= 0);
}

void InstallBusHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    const long size = ::sysconf(_SC_PAGESIZE);
    if (size > 0) pageSize = static_cast<uintptr_t>(size);
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousBusAction);
  });
}

// A slot for the mapping, or -1 when all are taken.
int RegisterMapping(const uint8_t* data, uint64_t size) {
  InstallBusHandler();
  const uintptr_t begin = reinterpret_cast<uintptr_t>(data);
  const uintptr_t end = begin + ((static_cast<uintptr_t>(size) + pageSize - 1) & ~(pageSize - 1));
  for (int i = 0; i < kMappingSlots; ++i) {
    bool expected = false;
    if (!mappingSlots[i].used.compare_exchange_strong(expected, true)) continue;
    mappingSlots[i].faulted.store(false);
    mappingSlots[i].end.store(end, std::memory_order_release);
    mappingSlots[i].begin.store(begin, std::memory_order_release);
    return i;
  }
  return -1;
}

void UnregisterMapping(int slot) {
  if (slot < 0) return;
  mappingSlots[slot].begin.store(0, std::memory_order_release);
  mappingSlots[slot].end.store(0, std::memory_order_release);
  mappingSlots[slot].used.store(false);
}

// Temporary output names that SIGINT, SIGTERM and SIGHUP remove.
constexpr int kTerminatingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kNameSlots = 16;
struct NameSlot {
  std::atomic<bool> used{false};
  std::atomic<bool> armed{false};
  char path[PATH_MAX];
};
NameSlot nameSlots[kNameSlots];
struct sigaction previousTerminatingActions[3];

void OnTerminatingSignal(int sig, siginfo_t* info, void* context) {
  const int saved = errno;
  for (NameSlot& slot : nameSlots)
    if (slot.armed.load(std::memory_order_acquire)) ::unlink(slot.path);
  for (int i = 0; i < 3; ++i)
    if (kTerminatingSignals[i] == sig) PassOn(sig, info, context, previousTerminatingActions[i], true);
  errno = saved;
}

void InstallCleanupHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnTerminatingSignal;
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 3; ++i) {
      struct sigaction current {};
      ::sigaction(kTerminatingSignals[i], nullptr, &current);
      // An ignored signal (nohup) stays ignored: it ends nothing, so nothing is removed.
      if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_IGN) continue;
      ::sigaction(kTerminatingSignals[i], &action, &previousTerminatingActions[i]);
    }
  });
}

// Holds SIGINT, SIGTERM and SIGHUP back while a name is created or registered together,
// so the handler never sees one without the other.
class TerminatingSignalsHeld {
 public:
  TerminatingSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int sig : kTerminatingSignals) sigaddset(&held, sig);
    ::pthread_sigmask(SIG_BLOCK, &held, &saved_);
  }
  ~TerminatingSignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }
  TerminatingSignalsHeld(const TerminatingSignalsHeld&) = delete;
  TerminatingSignalsHeld& operator=(const TerminatingSignalsHeld&) = delete;

 private:
  sigset_t saved_;
};

// A slot for the name, or -1 when the table is full or the name too long (the file is
// then still written, only not removed on a signal).
int RegisterName(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < kNameSlots; ++i) {
    bool expected = false;
    if (!nameSlots[i].used.compare_exchange_strong(expected, true)) continue;
    std::memcpy(nameSlots[i].path, path.c_str(), path.size() + 1);
    nameSlots[i].armed.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void UnregisterName(int slot) {
  if (slot < 0) return;
  nameSlots[slot].armed.store(false, std::memory_order_release);
  nameSlots[slot].used.store(false);
}

// Unnamed files are given their name through /proc/self/fd; without it they could never
// be linked in.
bool UnnamedFilesUsable() {
  static const bool usable = ::access("/proc/self/fd", X_OK) == 0;
  return usable;
}

// ".NAME.XXXXXXXX.pwtmp" beside target, with a fresh random part.
std::string TemporaryNameFor(const std::string& target) {
  const size_t slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  if (base.size() > 100) base.resize(100);  // keeps the temporary name within NAME_MAX
  static std::random_device random;
  static const char digits[] = "0123456789abcdef";
  std::string suffix;
  uint32_t r = random();
  for (int i = 0; i < 8; ++i, r >>= 4) suffix.push_back(digits[r & 15]);
  return dir + "." + base + "." + suffix + ".pwtmp";
}

}  // namespace

MappedFile::MappedFile(const std::string& path) : path_(path) {
  // Non-blocking, so a FIFO put in the file's place cannot hold the open; it is refused below.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(e));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    throw std::runtime_error("Cannot open file \"" + path + "\". Not a regular file");
  }
  size_ = static_cast<uint64_t>(st.st_size);
  device_ = static_cast<uint64_t>(st.st_dev);
  inode_ = static_cast<uint64_t>(st.st_ino);
  mtimeSec_ = static_cast<int64_t>(st.st_mtim.tv_sec);
  mtimeNsec_ = static_cast<int64_t>(st.st_mtim.tv_nsec);
  if (size_ > 0) {
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
    if (p == MAP_FAILED) {
      int e = errno;
      ::close(fd);
      throw std::runtime_error("Cannot read file \"" + path + "\". " + std::strerror(e));
    }
    data_ = static_cast<const uint8_t*>(p);
    mapped_ = true;
    slot_ = RegisterMapping(data_, size_);
    if (slot_ < 0) {
      // Every slot of the SIGBUS handler is taken: a copy in memory cannot be cut short.
      ::munmap(p, size_);
      mapped_ = false;
      auto* copy = new (std::nothrow) uint8_t[size_];
      uint64_t done = 0;
      while (copy && done < size_) {
        ssize_t n = ::pread(fd, copy + done, static_cast<size_t>(std::min<uint64_t>(size_ - done, 1u << 30)),
                            static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint64_t>(n);
      }
      if (!copy || done < size_) {
        const int e = copy ? (errno ? errno : EIO) : ENOMEM;
        delete[] copy;
        ::close(fd);
        throw std::runtime_error("Cannot read file \"" + path + "\". " + std::strerror(e));
      }
      data_ = copy;
    }
  }
  fd_ = fd;
}

MappedFile::~MappedFile() {
  if (mapped_) {
    UnregisterMapping(slot_);
    ::munmap(const_cast<uint8_t*>(data_), size_);
  } else {
    delete[] data_;
  }
  if (fd_ >= 0) ::close(fd_);
}

void MappedFile::ReleasePages() const {
  // A read-only private mapping holds no changes of its own, so nothing is lost.
  if (mapped_) (void)::madvise(const_cast<uint8_t*>(data_), size_, MADV_DONTNEED);
}

void MappedFile::ReleasePages(uint64_t offset, uint64_t length) const {
  if (!mapped_ || offset >= size_) return;
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t from = offset / page * page;
  const uint64_t to = std::min<uint64_t>(size_, offset + length);
  if (to > from) (void)::madvise(const_cast<uint8_t*>(data_) + from, to - from, MADV_DONTNEED);
}

bool MappedFile::Faulted() const {
  return slot_ >= 0 && mappingSlots[slot_].faulted.load(std::memory_order_acquire);
}

bool MappedFile::Unchanged() const {
  if (Faulted()) return false;
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  return static_cast<uint64_t>(st.st_size) == size_ && static_cast<uint64_t>(st.st_dev) == device_ &&
         static_cast<uint64_t>(st.st_ino) == inode_ && static_cast<int64_t>(st.st_mtim.tv_sec) == mtimeSec_ &&
         static_cast<int64_t>(st.st_mtim.tv_nsec) == mtimeNsec_;
}

// ---- output files ----

OutputFile::OutputFile(const std::string& target, Naming naming) : target_(target) {
  InstallCleanupHandlers();
  struct stat st;
  replacing_ = ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  // Opened for reading too: the saved file is read back before it is published.
  if (naming == onUnnamedWhereSupported && UnnamedFilesUsable()) {
    const size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : target.substr(0, slash ? slash : 1);
    // Where the file system has no unnamed files (EOPNOTSUPP; EISDIR or EINVAL from
    // kernels that predate them), and for any other failure, the named way is taken; it
    // reports a failure of its own with the reason.
    fd_ = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  }
  if (fd_ < 0) {
    int error = 0;
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
      const std::string name = TemporaryNameFor(target);
      TerminatingSignalsHeld held;
      fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      error = errno;
      if (fd_ >= 0) {
        temp_ = name;
        slot_ = RegisterName(name);
      } else if (error != EEXIST) {
        break;
      }
    }
    if (fd_ < 0) ThrowErrno(error, "create");
  }
  // A file that is replaced keeps its owner (where this process may give it) and its
  // permissions; the owner first, as a change of owner clears set-id bits.
  if (replacing_) {
    (void)!::fchown(fd_, st.st_uid, st.st_gid);
    (void)::fchmod(fd_, st.st_mode & 07777);
  }
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temp_.empty() && !published_) {
    TerminatingSignalsHeld held;
    ::unlink(temp_.c_str());
    UnregisterName(slot_);
  }
}

void OutputFile::Close(bool sync) {
  if (fd_ < 0) return;
  // Some file systems cannot sync (EINVAL), and a read-only one has nothing to sync.
  if (sync && ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS) ThrowErrno(errno, "sync");
  // An unnamed file closed now would be gone: it stays open until Publish links it.
  if (temp_.empty()) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) ThrowErrno(errno, "close");
}

void OutputFile::Publish() {
  if (published_) return;
  if (!temp_.empty()) {
    if (fd_ >= 0) Close(false);
    TerminatingSignalsHeld held;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) ThrowErrno(errno, "rename");
    published_ = true;
    UnregisterName(slot_);
    return;
  }
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
  // A new target is linked in under its own name: it appears whole or not at all. Where
  // a file is there (or has just appeared), the new one is linked under a temporary name
  // and renamed over it, so the old file is there until the new one takes its place.
  bool linked = false;
  if (!replacing_) {
    linked = ::linkat(AT_FDCWD, self, AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0;
    if (!linked && errno != EEXIST) ThrowErrno(errno, "link");
  }
  for (int attempt = 0; !linked && attempt < 100; ++attempt) {
    const std::string name = TemporaryNameFor(target_);
    TerminatingSignalsHeld held;
    const int slot = RegisterName(name);
    if (::linkat(AT_FDCWD, self, AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      const int error = errno;
      UnregisterName(slot);
      if (error == EEXIST) continue;
      ThrowErrno(error, "link");
    }
    if (::rename(name.c_str(), target_.c_str()) != 0) {
      const int error = errno;
      ::unlink(name.c_str());
      UnregisterName(slot);
      ThrowErrno(error, "rename");
    }
    UnregisterName(slot);
    linked = true;
  }
  if (!linked) ThrowErrno(EEXIST, "link");
  published_ = true;
  const int fd = fd_;
  fd_ = -1;
  ::close(fd);  // the data are in the file already: linked, nothing is left to lose here
}

std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat st;
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    if (hops == 40) ThrowErrno(ELOOP, current);  // as many as the system itself follows
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
    if (n < 0) ThrowErrno(errno, current);
    link.resize(static_cast<size_t>(n));
    if (link.empty()) ThrowErrno(ENOENT, current);
    const size_t slash = current.rfind('/');
    if (link[0] != '/' && slash != std::string::npos) link = current.substr(0, slash + 1) + link;
    current = link;
  }
}

FileKind KindOfFile(const std::string& path, uint32_t* mode) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? fkMissing : fkUnknown;
  if (mode) *mode = static_cast<uint32_t>(st.st_mode & 07777);
  if (S_ISREG(st.st_mode)) return fkRegular;
  if (S_ISDIR(st.st_mode)) return fkDirectory;
  return fkOther;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace ksplatform
