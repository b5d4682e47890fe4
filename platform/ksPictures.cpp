#include "ksPictures.h"

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

namespace ksplatform {

namespace {

std::string Head(const std::string& fileName, size_t count) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) throw std::runtime_error("Cannot open the picture \"" + fileName + "\": " + std::strerror(errno));
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

std::string SizeText(int64_t w, int64_t h) { return std::to_string(w) + " x " + std::to_string(h); }

void CheckSize(int64_t w, int64_t h) {
  if (w <= 0 || h <= 0) throw std::runtime_error("The picture has no pixels (" + SizeText(w, h) + ")");
  if (w > kMaxPicturePixels / h)
    throw std::runtime_error("The picture is too large: " + SizeText(w, h) + " pixels, at most " +
                             std::to_string(kMaxPicturePixels) + " are drawn");
}

// ---- JPEG through libjpeg-turbo ----

struct JpegError {
  jpeg_error_mgr mgr;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<JpegError*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, e->message);
  std::longjmp(e->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

// Reads the header (size only) or the whole picture row by row. Plain C state only
// between setjmp and the end, so a jump out of libjpeg leaves nothing behind.
struct JpegRead {
  const std::string* file = nullptr;
  bool headerOnly = true;
  int64_t width = 0, height = 0;
  const std::function<void(const uint8_t*, size_t)>* row = nullptr;
  std::string error;
};

void ReadJpeg(JpegRead& r) {
  FILE* f = std::fopen(r.file->c_str(), "rb");
  if (!f) {
    r.error = std::string("Cannot open the picture: ") + std::strerror(errno);
    return;
  }
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegExit;
  err.mgr.emit_message = JpegSilence;
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
  jpeg_stdio_src(&cinfo, f);
  jpeg_save_markers(&cinfo, JPEG_APP0 + 14, 0xFFFF);  // the Adobe marker says CMYK is inverted
  jpeg_read_header(&cinfo, TRUE);
  r.width = cinfo.image_width;
  r.height = cinfo.image_height;
  bool ok = !r.headerOnly;
  if (ok && (r.width <= 0 || r.height <= 0 || r.width > kMaxPicturePixels / r.height)) ok = false;
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
    jpeg_abort_decompress(&cinfo);
  }
  jpeg_destroy_decompress(&cinfo);
  std::fclose(f);
  delete rowBuf;
  delete rgbBuf;
}

// ---- everything else through gdk-pixbuf ----

struct PixbufFree {
  void operator()(GdkPixbuf* p) const { g_object_unref(p); }
};

std::string UpperExtension(const std::string& fileName) {
  const size_t dot = fileName.rfind('.');
  const size_t slash = fileName.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot + 1 == fileName.size())
    return "unknown";
  std::string ext = fileName.substr(dot + 1);
  for (char& c : ext) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return ext;
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
    return p;
  }
  // Vector formats no library here draws.
  if (head.size() >= 44 && head.compare(40, 4, " EMF") == 0) throw UnsupportedPicture("EMF");
  if (head.size() >= 4 && head.compare(0, 4, "\xD7\xCD\xC6\x9A") == 0) throw UnsupportedPicture("WMF");

  gint w = 0, h = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(fileName.c_str(), &w, &h);
  if (!format) throw UnsupportedPicture(UpperExtension(fileName));
  gchar* nameText = gdk_pixbuf_format_get_name(format);
  const std::string name = nameText ? nameText : "";
  g_free(nameText);
  if (name == "svg")
    p->kind_ = PictureKind::Metafile;
  else if (name == "ico" || name == "icns" || name == "ani")
    p->kind_ = PictureKind::Icon;
  else if (name == "jpeg")
    p->kind_ = PictureKind::Jpeg;
  else
    p->kind_ = PictureKind::Bitmap;
  CheckSize(w, h);
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(fileName.c_str(), &error);
  if (!pixbuf) {
    const std::string why = error && error->message ? error->message : "unknown error";
    g_clear_error(&error);
    throw std::runtime_error("The picture cannot be read: " + why);
  }
  p->pixbuf_ = std::shared_ptr<void>(pixbuf, [](void* q) { g_object_unref(q); });
  if (gdk_pixbuf_get_colorspace(pixbuf) != GDK_COLORSPACE_RGB || gdk_pixbuf_get_bits_per_sample(pixbuf) != 8)
    throw std::runtime_error("The picture's pixels are not 8-bit RGB");
  // An icon file holds several images; the loader hands the largest one.
  p->width_ = gdk_pixbuf_get_width(pixbuf);
  p->height_ = gdk_pixbuf_get_height(pixbuf);
  CheckSize(p->width_, p->height_);
  return p;
}

void Picture::DrawRows(const std::function<void(const uint8_t* rgb, size_t bytes)>& row) const {
  if (jpegLib_) {
    JpegRead r;
    r.file = &file_;
    r.headerOnly = false;
    r.row = &row;
    ReadJpeg(r);
    if (!r.error.empty()) throw std::runtime_error(r.error);
    if (r.width != width_ || r.height != height_) throw std::runtime_error("The JPEG picture changed while it was read");
    return;
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
}

}  // namespace ksplatform

