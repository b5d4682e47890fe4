// Pictures from files for the engine: a picture's kind, its size, and its pixels as rows
// of 8-bit RGB from the top. Well-kept libraries decode (libjpeg-turbo for JPEG,
// gdk-pixbuf for bitmaps, icons and, through librsvg, SVG); the engine sees none of
// their types.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace ksplatform {

// The desktop's picture classes: a bitmap (BMP, PNG, GIF, TIFF, PNM), a vector metafile
// (SVG here, drawn at its own size), an icon (the largest image of the file), a JPEG.
enum class PictureKind : uint8_t { Bitmap, Metafile, Icon, Jpeg };

// Pictures with more pixels than this are refused before they are decoded: a file of a
// kilobyte may claim 65500 x 65500 pixels.
inline constexpr int64_t kMaxPicturePixels = int64_t{1} << 28;
// What a decoder may hold at once for one picture (its pixels, a progressive JPEG's
// coefficients, an SVG's drawing surface), checked before decoding starts: inside the
// pixel cap a picture of a few hundred bytes could still ask for gigabytes.
inline constexpr int64_t kMaxPictureBytes = int64_t{1} << 28;

// A file that is no picture these libraries read; what() names the format found.
class UnsupportedPicture : public std::runtime_error {
 public:
  explicit UnsupportedPicture(const std::string& format) : std::runtime_error(format) {}
};

class Picture {
 public:
  // The kind and size are read without decoding the pixels. UnsupportedPicture for a
  // format that is not read (EMF, text, ...); std::runtime_error for a name that is no
  // file, a picture that cannot be read or has no pixels, or one that is too large
  // (more than kMaxPicturePixels, or more than kMaxPictureBytes to decode).
  static std::unique_ptr<Picture> FromFile(const std::string& fileName);
  ~Picture();

  PictureKind Kind() const { return kind_; }
  // The class a desktop would give it ("bitmap", "metafile", "icon", "JPEG").
  const char* KindName() const;
  int64_t Width() const { return width_; }
  int64_t Height() const { return height_; }
  const std::string& FileName() const { return file_; }
  // Each row from the top as width x 3 bytes of red, green, blue; transparent pixels are
  // put over white. std::runtime_error when the data turn out damaged beyond use. When
  // the decoder recovered only part of the picture (a file cut short, a damaged stretch)
  // the rows are drawn as recovered and what was wrong is returned; empty otherwise.
  std::string DrawRows(const std::function<void(const uint8_t* rgb, size_t bytes)>& row) const;

 private:
  Picture() = default;
  std::string file_;
  bool jpegLib_ = false;          // decoded row by row when drawn
  std::shared_ptr<void> pixbuf_;  // everything else, decoded once its size was checked
  std::string damage_;            // what the decoder of pixbuf_ could not read
  PictureKind kind_ = PictureKind::Bitmap;
  int64_t width_ = 0, height_ = 0;
};

}  // namespace ksplatform
