#include "ksPictures.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <jpeglib.h>
#include <jerror.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace ksplatform {

namespace {

// A name that is no regular file is refused before any library looks at it: a folder
// opens as an empty stream and would pass for a picture of an unknown format.
void CheckIsFile(const std::string& fileName) {
  struct stat st {};
  if (::stat(fileName.c_str(), &st) != 0)
    throw std::runtime_error("Cannot open the picture \"" + fileName + "\": " + std::strerror(errno));
  if (S_ISDIR(st.st_mode)) throw std::runtime_error("it is a folder, not a picture file");
  if (!S_ISREG(st.st_mode)) throw std::runtime_error("it is not a regular file");
}

std::string Head(const std::string& fileName, size_t count) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open the picture \"" + fileName + "\": " + std::strerror(errno));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

uint32_t Le16(const std::string& s, size_t at) {
  return static_cast<uint8_t>(s[at]) | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8;
}
uint32_t Le32(const std::string& s, size_t at) { return Le16(s, at) | Le16(s, at + 2) << 16; }
uint32_t Be32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = v << 8 | static_cast<uint8_t>(s[at + i]);
  return v;
}
void PutLe32(std::string& s, size_t at, uint32_t v) {
  for (size_t i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

void CheckSize(int64_t w, int64_t h) {
  if (w <= 0 || h <= 0) throw std::runtime_error("The picture has no pixels (" + SizeText(w, h) + ")");
  if (w > kMaxPicturePixels / h)
    throw std::runtime_error("The picture is too large: " + SizeText(w, h) + " pixels, at most " +
                             std::to_string(kMaxPicturePixels) + " are drawn");
}

// bytes: what the decoder holds at once; checked after CheckSize, so it cannot overflow.
void CheckBytes(int64_t w, int64_t h, int64_t bytes) {
  if (bytes > kMaxPictureBytes)
    throw std::runtime_error("The picture is too large: " + SizeText(w, h) + " pixels take " +
                             std::to_string((bytes + (1 << 20) - 1) >> 20) + " MiB to decode, at most " +
                             std::to_string(kMaxPictureBytes >> 20) + " MiB are used");
}

bool IsPng(const std::string& head) { return head.size() >= 24 && head.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0; }

// ---- JPEG through libjpeg-turbo ----

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  char damage[JMSG_LENGTH_MAX];  // the first warning that means rows were not read right
  bool damaged;
};

void JpegExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  std::longjmp(e->jump, 1);
}

// libjpeg goes on past damage (a file cut short is filled with grey); those warnings
// are kept, the ones about harmless oddities (bytes between markers) are not.
void JpegWarn(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  ++cinfo->err->num_warnings;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_MUST_RESYNC:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_NOT_SEQUENTIAL:
      if (!e->damaged) (*cinfo->err->format_message)(cinfo, e->damage);
      e->damaged = true;
      break;
    default:
      break;
  }
}

// Reads the header (size only) or the whole picture row by row. Plain C state only
// between setjmp and the end, so a jump out of libjpeg leaves nothing behind.
struct JpegRead {
  const std::string* file = nullptr;
  bool headerOnly = true;
  int64_t width = 0, height = 0;
  // What decoding holds at once: a row, or all coefficients when the picture comes in
  // several scans (progressive, or components in separate scans).
  int64_t decodeBytes = 0;
  const std::function<void(const uint8_t*, size_t)>* row = nullptr;
  std::string error, damage;
};

void ReadJpeg(JpegRead& r) {
  FILE* f = std::fopen(r.file->c_str(), "rb");
  if (!f) {
    r.error = std::string("Cannot open the picture: ") + std::strerror(errno);
    return;
  }
  jpeg_decompress_struct cinfo;
  JpegError err;
  err.damaged = false;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  err.mgr.emit_message = JpegWarn;
  std::vector<uint8_t>* rowBuf = new std::vector<uint8_t>();
  std::vector<uint8_t>* rgbBuf = new std::vector<uint8_t>();
  if (setjmp(err.jump)) {
    r.error = std::string("The JPEG picture is damaged: ") + err.message;
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
    delete rowBuf;
    delete rgbBuf;
    return;
  }
  jpeg_create_decompress(&cinfo);
  // Without a backing store, libjpeg fails a buffer past this instead of allocating it.
  cinfo.mem->max_memory_to_use = static_cast<long>(kMaxPictureBytes);
  jpeg_stdio_src(&cinfo, f);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 14, 0xFFFF);  // the Adobe marker says CMYK is inverted
  jpeg_read_header(&cinfo, TRUE);
  r.width = cinfo.image_width;
  r.height = cinfo.image_height;
  r.decodeBytes = static_cast<int64_t>(cinfo.image_width) * 4 * 2;
  if (cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components) {
    int64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
      blocks += static_cast<int64_t>(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
    r.decodeBytes = blocks * DCTSIZE2 * static_cast<int64_t>(sizeof(JCOEF));
  }
  bool ok = !r.headerOnly;
  if (ok && (r.width <= 0 || r.height <= 0 || r.width > kMaxPicturePixels / r.height ||
             r.decodeBytes > kMaxPictureBytes))
    ok = false;
  if (ok) {
    const J_COLOR_SPACE in = cinfo.jpeg_color_space;
    const bool cmyk = in == JCS_CMYK || in == JCS_YCCK;
    const bool gray = in == JCS_GRAYSCALE;
    cinfo.out_color_space = cmyk ? JCS_CMYK : gray ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    const size_t w = cinfo.output_width;
    const int comps = cinfo.output_components;
    rowBuf->resize(w * static_cast<size_t>(comps));
    rgbBuf->resize(w * 3);
    const bool inverted = cmyk && cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
      JSAMPROW p = rowBuf->data();
      if (jpeg_read_scanlines(&cinfo, &p, 1) != 1) break;
      const uint8_t* s = rowBuf->data();
      uint8_t* d = rgbBuf->data();
      for (size_t x = 0; x < w; ++x) {
        if (comps == 3) {
          d[3 * x] = s[3 * x], d[3 * x + 1] = s[3 * x + 1], d[3 * x + 2] = s[3 * x + 2];
        } else if (comps == 1) {
          d[3 * x] = d[3 * x + 1] = d[3 * x + 2] = s[x];
        } else {
          // Adobe's files store CMYK inverted; others store ink amounts.
          int c = s[4 * x], m = s[4 * x + 1], y = s[4 * x + 2], k = s[4 * x + 3];
          if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
          d[3 * x] = static_cast<uint8_t>(c * k / 255);
          d[3 * x + 1] = static_cast<uint8_t>(m * k / 255);
          d[3 * x + 2] = static_cast<uint8_t>(y * k / 255);
        }
      }
      try {
        (*r.row)(rgbBuf->data(), rgbBuf->size());
      } catch (const std::exception& e) {
        r.error = e.what();
        break;
      }
    }
    if (r.error.empty() && cinfo.output_scanline < cinfo.output_height) r.error = "The JPEG picture ends early";
    if (r.error.empty() && err.damaged) r.damage = std::string("The JPEG picture is damaged: ") + err.damage;
    jpeg_abort_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  delete rowBuf;
  delete rgbBuf;
}

// ---- everything else through gdk-pixbuf ----

std::string UpperExtension(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  const size_t slash = fileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == fileName.size())
    return "unknown";
  std::string ext = fileName.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
}

std::string FormatName(GdkPixbufLoader* loader) {
  GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
  if (!format) return "";
  gchar* text = gdk_pixbuf_format_get_name(format);
  std::string name = text ? text : "";
  g_free(text);
  return name;
}

// What a loader holds per pixel at its peak: 4 bytes of RGBA, twice over for an SVG (its
// drawing surface and the copy handed out).
int64_t LoaderBytesPerPixel(const std::string& format) { return format == "svg" ? 8 : 4; }

// One incremental load. The size is checked when the loader announces it, before it
// allocates anything; the rows it reports show how much of the picture it recovered.
class Loading {
 public:
  Loading() : loader_(gdk_pixbuf_loader_new()) {
    g_signal_connect(loader_, "size-prepared", G_CALLBACK(&Loading::OnSize), this);
    g_signal_connect(loader_, "area-updated", G_CALLBACK(&Loading::OnArea), this);
  }
  ~Loading() {
    if (!closed_) gdk_pixbuf_loader_close(loader_, nullptr);
    g_object_unref(loader_);
  }
  Loading(const Loading&) = delete;
  Loading& operator=(const Loading&) = delete;

  // False once the loader failed or the size was refused: nothing more is worth giving.
  bool Write(const void* data, size_t count) {
    if (failed_ || !refusal_.empty()) return false;
    GError* error = nullptr;
    if (!gdk_pixbuf_loader_write(loader_, static_cast<const guchar*>(data), count, &error)) {
      failed_ = true;
      Keep(error);
    }
    return !failed_ && refusal_.empty();
  }
  bool WriteFile(const std::string& fileName, int64_t count) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot open the picture \"" + fileName + "\": " + std::strerror(errno));
    std::vector<char> chunk(1 << 16);
    while (count != 0) {
      const auto want = static_cast<std::streamsize>(count < 0 ? chunk.size() : std::min<int64_t>(count, chunk.size()));
      in.read(chunk.data(), want);
      const auto got = in.gcount();
      if (got <= 0) break;
      if (count > 0) count -= got;
      if (!Write(chunk.data(), static_cast<size_t>(got))) return false;
    }
    return true;
  }

  // The decoded picture; known says whether the caller recognised the format itself
  // (then a failure is a damaged picture, not an unsupported one). damage receives what
  // was wrong when only part of the picture was recovered.
  GdkPixbuf* Finish(const std::string& fileName, bool known, std::string& format, std::string& damage) {
    GError* error = nullptr;
    closed_ = true;
    if (!gdk_pixbuf_loader_close(loader_, &error)) {
      failed_ = true;
      Keep(error);
    } else {
      g_clear_error(&error);
    }
    if (!refusal_.empty()) throw std::runtime_error(refusal_);
    format = FormatName(loader_);
    if (format.empty() && !known) throw UnsupportedPicture(UpperExtension(fileName));
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader_);
    const bool rows = top_ < bottom_;
    if (!pixbuf || !rows) {
      if (failed_) throw std::runtime_error("The picture cannot be read: " + message_);
      throw std::runtime_error("The picture holds no pixel data");
    }
    const int64_t h = gdk_pixbuf_get_height(pixbuf);
    if (failed_)
      damage = "only part of the picture could be read: " + message_;
    else if (top_ > 0 || bottom_ < h)
      damage = "only rows " + std::to_string(top_ + 1) + " to " + std::to_string(bottom_) + " of " +
               std::to_string(h) + " are in the file";
    return GDK_PIXBUF(g_object_ref(pixbuf));
  }

 private:
  static void OnSize(GdkPixbufLoader* loader, gint w, gint h, gpointer self) {
    auto* l = static_cast<Loading*>(self);
    try {
      CheckSize(w, h);
      CheckBytes(w, h, int64_t{w} * h * LoaderBytesPerPixel(FormatName(loader)));
    } catch (const std::runtime_error& e) {
      l->refusal_ = e.what();
      // A size of 0 tells the format's module to stop before it allocates.
      gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
  }
  static void OnArea(GdkPixbufLoader*, gint, gint y, gint, gint h, gpointer self) {
    auto* l = static_cast<Loading*>(self);
    if (h <= 0) return;
    l->top_ = std::min<int64_t>(l->top_, y);
    l->bottom_ = std::max<int64_t>(l->bottom_, int64_t{y} + h);
  }
  void Keep(GError* error) {
    if (message_.empty()) message_ = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
  }

  GdkPixbufLoader* loader_;
  bool closed_ = false, failed_ = false;
  std::string refusal_, message_;
  int64_t top_ = INT64_MAX, bottom_ = 0;  // the rows reported decoded, [top_, bottom_)
};

// Where the first image of a GIF ends: only it is drawn, so an animation's other frames
// are never decoded. -1 when the file ends first (the loader then says what is wrong).
int64_t GifFirstFrameEnd(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  auto byte = [&]() -> int {
    const int c = in.get();
    return in ? c : -1;
  };
  auto skip = [&](int64_t n) { in.seekg(n, std::ios::cur); };
  auto subBlocks = [&]() -> bool {
    for (;;) {
      const int n = byte();
      if (n < 0) return false;
      if (n == 0) return true;
      skip(n);
    }
  };
  skip(10);
  const int flags = byte();
  if (flags < 0) return -1;
  skip(2);
  if (flags & 0x80) skip(3 << ((flags & 7) + 1));
  for (;;) {
    const int block = byte();
    if (block == 0x21) {
      skip(1);
      if (!subBlocks()) return -1;
    } else if (block == 0x2C) {
      skip(8);
      const int local = byte();
      if (local < 0) return -1;
      if (local & 0x80) skip(3 << ((local & 7) + 1));
      skip(1);  // the LZW code size
      if (!subBlocks()) return -1;
      return static_cast<int64_t>(in.tellg());
    } else {
      return -1;
    }
  }
}

// ---- icons: the largest image, decoded alone ----

struct IconEntry {
  int64_t width = 0, height = 0, depth = 0;
  std::string data;
  bool png = false;
};

// Every image of the directory is measured by its own header (the directory's byte
// sizes stop at 256 and may be wrong); the one with most pixels, then most bits, wins.
// Only the winner's bytes are copied: entries may all point at the same large image.
IconEntry LargestIcon(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  const std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const uint32_t count = Le16(all, 4);
  if (count == 0 || all.size() < 6 + 16 * static_cast<size_t>(count))
    throw std::runtime_error("The icon's directory is cut short");
  IconEntry best;
  size_t bestAt = 0, bestSize = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const size_t at = 6 + 16 * static_cast<size_t>(i);
    const size_t offset = Le32(all, at + 12);
    if (offset >= all.size()) continue;
    const size_t size = std::min<size_t>(Le32(all, at + 8), all.size() - offset);
    if (size < 40) continue;
    const std::string head = all.substr(offset, 40);
    IconEntry e;
    if (IsPng(head)) {
      // PNG sizes stop at 2^31 - 1; larger ones are damage, and would overflow below.
      e.png = true;
      e.width = std::min<int64_t>(Be32(head, 16), INT32_MAX), e.height = std::min<int64_t>(Be32(head, 20), INT32_MAX);
      e.depth = 32;
    } else {
      e.width = static_cast<int32_t>(Le32(head, 4));
      e.height = static_cast<int32_t>(Le32(head, 8)) / 2;  // the colours, then the mask
      e.depth = Le16(head, 14);
    }
    if (e.width <= 0 || e.height <= 0) continue;
    if (bestSize == 0 || e.width * e.height > best.width * best.height ||
        (e.width * e.height == best.width * best.height && e.depth > best.depth)) {
      best = e;
      bestAt = offset, bestSize = size;
    }
  }
  if (bestSize == 0) throw std::runtime_error("The icon holds no image that can be read");
  CheckSize(best.width, best.height);
  CheckBytes(best.width, best.height, best.width * best.height * 4);
  best.data = all.substr(bestAt, bestSize);
  return best;
}

// An icon's bitmap is a BMP without its file header and with its height doubled for the
// transparency mask below the colours: the BMP loader gets the colours with a header of
// their own, and the mask (or a 32-bit image's alpha) is applied here.
GdkPixbuf* IconBitmap(const std::string& fileName, const IconEntry& e, std::string& damage) {
  const std::string& dib = e.data;
  const uint32_t headerSize = Le32(dib, 0);
  if (headerSize < 40 || headerSize > dib.size()) throw std::runtime_error("The icon's image has no bitmap header");
  const uint32_t bits = Le16(dib, 14), compression = Le32(dib, 16);
  if (compression != 0 && compression != 3)
    throw std::runtime_error("The icon's image uses a compression icons do not use (" + std::to_string(compression) + ")");
  const int64_t w = e.width, h = e.height;
  const int64_t colours = bits <= 8 ? (Le32(dib, 32) != 0 ? std::min<int64_t>(Le32(dib, 32), 256) : int64_t{1} << bits) : 0;
  const int64_t masks = compression == 3 && headerSize == 40 ? 12 : 0;
  const int64_t pixelsAt = headerSize + masks + 4 * colours;
  const int64_t stride = (w * bits + 31) / 32 * 4, maskStride = (w + 31) / 32 * 4;
  const int64_t maskAt = pixelsAt + stride * h;

  std::string bmp = "BM" + std::string(12, '\0') + dib;
  PutLe32(bmp, 2, static_cast<uint32_t>(bmp.size()));
  PutLe32(bmp, 10, static_cast<uint32_t>(14 + pixelsAt));
  PutLe32(bmp, 14 + 8, static_cast<uint32_t>(h));
  PutLe32(bmp, 14 + 20, 0);  // the image size: the loader works it out
  Loading loading;
  loading.Write(bmp.data(), bmp.size());
  std::string format;
  GdkPixbuf* colour = loading.Finish(fileName, true, format, damage);
  GdkPixbuf* pixbuf = gdk_pixbuf_add_alpha(colour, FALSE, 0, 0, 0);
  g_object_unref(colour);
  if (!pixbuf) throw std::runtime_error("The icon's image cannot be read");
  if (gdk_pixbuf_get_width(pixbuf) != w || gdk_pixbuf_get_height(pixbuf) != h) {
    g_object_unref(pixbuf);
    throw std::runtime_error("The icon's image is not of the size its header gives");
  }

  // Rows are stored from the bottom. A 32-bit image carries its alpha, unless every alpha
  // byte is 0 (older icons), when the mask decides as for the other depths.
  const auto* raw = reinterpret_cast<const uint8_t*>(dib.data());
  const int64_t size = static_cast<int64_t>(dib.size());
  bool alpha = false;
  if (bits == 32 && compression == 0 && maskAt <= size)
    for (int64_t i = pixelsAt + 3; i < maskAt && !alpha; i += 4) alpha = raw[i] != 0;
  const bool masked = !alpha && maskAt + maskStride * h <= size;
  if (!alpha && !masked && damage.empty()) damage = "the icon's transparency mask is cut short";
  uint8_t* out = gdk_pixbuf_get_pixels(pixbuf);
  const int64_t outStride = gdk_pixbuf_get_rowstride(pixbuf);
  for (int64_t y = 0; y < h && (alpha || masked); ++y) {
    const int64_t fileRow = h - 1 - y;
    for (int64_t x = 0; x < w; ++x) {
      uint8_t a = 255;
      if (alpha)
        a = raw[pixelsAt + fileRow * stride + x * 4 + 3];
      else if (raw[maskAt + fileRow * maskStride + x / 8] & (0x80 >> (x % 8)))
        a = 0;
      out[y * outStride + x * 4 + 3] = a;
    }
  }
  return pixbuf;
}

}  // namespace

Picture::~Picture() = default;

const char* Picture::KindName() const {
  switch (kind_) {
    case PictureKind::Metafile: return "metafile";
    case PictureKind::Icon: return "icon";
    case PictureKind::Jpeg: return "JPEG";
    default: return "bitmap";
  }
}

std::unique_ptr<Picture> Picture::FromFile(const std::string& fileName) {
  CheckIsFile(fileName);
  const std::string head = Head(fileName, 64);
  std::unique_ptr<Picture> p(new Picture());
  p->file_ = fileName;
  if (head.size() >= 3 && static_cast<uint8_t>(head[0]) == 0xFF && static_cast<uint8_t>(head[1]) == 0xD8 &&
      static_cast<uint8_t>(head[2]) == 0xFF) {
    JpegRead r;
    r.file = &fileName;
    ReadJpeg(r);
    if (!r.error.empty()) throw std::runtime_error(r.error);
    p->kind_ = PictureKind::Jpeg;
    p->jpegLib_ = true;
    p->width_ = r.width;
    p->height_ = r.height;
    CheckSize(p->width_, p->height_);
    CheckBytes(p->width_, p->height_, r.decodeBytes);
    return p;
  }
  // Vector formats no library here draws.
  if (head.size() >= 44 && head.compare(40, 4, " EMF") == 0) throw UnsupportedPicture("EMF");
  if (head.size() >= 4 && head.compare(0, 4, "\xD7\xCD\xC6\x9A") == 0) throw UnsupportedPicture("WMF");

  GdkPixbuf* pixbuf = nullptr;
  std::string format;
  const bool icon = head.size() >= 6 && Le16(head, 0) == 0 && (Le16(head, 2) == 1 || Le16(head, 2) == 2) &&
                    Le16(head, 4) > 0;
  if (icon) {
    const IconEntry e = LargestIcon(fileName);
    if (e.png) {
      Loading loading;
      loading.Write(e.data.data(), e.data.size());
      pixbuf = loading.Finish(fileName, true, format, p->damage_);
    } else {
      pixbuf = IconBitmap(fileName, e, p->damage_);
    }
    p->kind_ = PictureKind::Icon;
  } else {
    const bool png = IsPng(head);
    // The PNG library refuses sizes past its own limit before the loader tells it; the
    // header says what was asked for.
    if (png) {
      CheckSize(Be32(head, 16), Be32(head, 20));
      CheckBytes(Be32(head, 16), Be32(head, 20), int64_t{Be32(head, 16)} * Be32(head, 20) * 4);
    }
    const bool gif = head.compare(0, 6, "GIF87a") == 0 || head.compare(0, 6, "GIF89a") == 0;
    Loading loading;
    const int64_t firstFrame = gif ? GifFirstFrameEnd(fileName) : -1;
    if (firstFrame > 0) {
      if (loading.WriteFile(fileName, firstFrame)) loading.Write(";", 1);  // the GIF trailer
    } else {
      loading.WriteFile(fileName, -1);
    }
    pixbuf = loading.Finish(fileName, png || gif, format, p->damage_);
    if (format == "svg")
      p->kind_ = PictureKind::Metafile;
    else if (format == "ico" || format == "icns" || format == "ani")
      p->kind_ = PictureKind::Icon;
    else if (format == "jpeg")
      p->kind_ = PictureKind::Jpeg;
    else
      p->kind_ = PictureKind::Bitmap;
  }
  p->pixbuf_ = std::shared_ptr<void>(pixbuf, [](void* q) { g_object_unref(q); });
  if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8)
    throw std::runtime_error("The picture's pixels are not 8-bit RGB");
  p->width_ = gdk_pixbuf_get_width(pixbuf);
  p->height_ = gdk_pixbuf_get_height(pixbuf);
  CheckSize(p->width_, p->height_);
  return p;
}

std::string Picture::DrawRows(const std::function<void(const uint8_t* rgb, size_t bytes)>& row) const {
  if (jpegLib_) {
    JpegRead r;
    r.file = &file_;
    r.headerOnly = false;
    r.row = &row;
    ReadJpeg(r);
    if (!r.error.empty()) throw std::runtime_error(r.error);
    if (r.width != width_ || r.height != height_) throw std::runtime_error("The JPEG picture changed while it was read");
    return r.damage;
  }
  auto* pixbuf = static_cast<GdkPixbuf*>(pixbuf_.get());
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const bool alpha = gdk_pixbuf_get_has_alpha(pixbuf);
  const size_t stride = static_cast<size_t>(gdk_pixbuf_get_rowstride(pixbuf));
  const uint8_t* pixels = gdk_pixbuf_read_pixels(pixbuf);
  std::vector<uint8_t> rgb(static_cast<size_t>(width_) * 3);
  for (int64_t y = 0; y < height_; ++y) {
    const uint8_t* s = pixels + static_cast<size_t>(y) * stride;
    for (int64_t x = 0; x < width_; ++x) {
      const uint8_t* px = s + x * channels;
      for (int c = 0; c < 3; ++c) {
        // Over white, so transparent parts come out the same on every run.
        const int v = alpha ? (px[c] * px[3] + 255 * (255 - px[3]) + 127) / 255 : px[c];
        rgb[static_cast<size_t>(x) * 3 + c] = static_cast<uint8_t>(v);
      }
    }
    row(rgb.data(), rgb.size());
  }
  return damage_;
}

}  // namespace ksplatform
