#include "ksPlatform.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

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

MappedFile::MappedFile(const std::string& path) : path_(path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(errno));
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    int e = errno;
    ::close(fd);
    throw std::runtime_error("Cannot open file \"" + path + "\". " + std::strerror(e));
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
  }
  fd_ = fd;
}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<uint8_t*>(data_), size_);
  if (fd_ >= 0) ::close(fd_);
}

void MappedFile::ReleasePages() const {
  // A read-only private mapping holds no changes of its own, so nothing is lost.
  if (mapped_) (void)::madvise(const_cast<uint8_t*>(data_), size_, MADV_DONTNEED);
}

bool MappedFile::Unchanged() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  return static_cast<uint64_t>(st.st_size) == size_ && static_cast<uint64_t>(st.st_dev) == device_ &&
         static_cast<uint64_t>(st.st_ino) == inode_ && static_cast<int64_t>(st.st_mtim.tv_sec) == mtimeSec_ &&
         static_cast<int64_t>(st.st_mtim.tv_nsec) == mtimeNsec_;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace ksplatform
