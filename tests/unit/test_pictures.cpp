// Pictures read from files: the size and memory a picture may ask for, damaged files
// (an error, or a warning when part was recovered), icons, and names that are no
// picture. Every picture is made here, a few hundred bytes at most.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <zlib.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "ksFixture.h"
#include "ksPictures.h"

namespace fs = std::filesystem;
using ksplatform::Picture;
using ksplatform::PictureKind;
using testing::HasSubstr;

namespace {

using Rgb = std::array<uint8_t, 3>;

void Put16(std::string& s, uint32_t v) { s += static_cast<char>(v & 0xFF), s += static_cast<char>(v >> 8 & 0xFF); }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }
void PutBe32(std::string& s, uint32_t v) {
  for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i) & 0xFF);
}

std::string PngChunk(const std::string& type, const std::string& data) {
  std::string c;
  PutBe32(c, static_cast<uint32_t>(data.size()));
  const std::string body = type + data;
  c += body;
  PutBe32(c, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
  return c;
}

// An RGB PNG of w x h pixels of one colour; header sizes may be given apart from the
// rows really stored, to claim more than is there. Level 0 stores the rows as they are.
std::string Png(uint32_t w, uint32_t h, Rgb c, uint32_t rowsStored = ~0u, uint32_t widthStored = ~0u,
                int level = Z_DEFAULT_COMPRESSION) {
  std::string ihdr;
  PutBe32(ihdr, w), PutBe32(ihdr, h);
  ihdr += std::string("\x08\x02\x00\x00\x00", 5);
  std::string raw;
  const uint32_t rw = widthStored == ~0u ? w : widthStored, rh = rowsStored == ~0u ? h : rowsStored;
  for (uint32_t y = 0; y < rh; ++y) {
    raw += '\0';
    for (uint32_t x = 0; x < rw; ++x) raw += {static_cast<char>(c[0]), static_cast<char>(c[1]), static_cast<char>(c[2])};
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string z(size, '\0');
  compress2(reinterpret_cast<Bytef*>(z.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), level);
  z.resize(size);
  return "\x89PNG\r\n\x1a\n" + PngChunk("IHDR", ihdr) + PngChunk("IDAT", z) + PngChunk("IEND", "");
}

// A JPEG of w x h pixels of one colour (with stripes of grey when striped, so the scan
// holds more than its headers), through libjpeg.
std::string Jpeg(int w, int h, Rgb c, bool progressive, bool striped = false) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = static_cast<JDIMENSION>(w), cinfo.image_height = static_cast<JDIMENSION>(h);
  cinfo.input_components = 3, cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  if (progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(w) * 3);
  for (int x = 0; x < w; ++x) row[3 * x] = c[0], row[3 * x + 1] = c[1], row[3 * x + 2] = c[2];
  if (striped)
    for (int x = 0; x < w; x += 3) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = static_cast<uint8_t>(x * 7);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&cinfo, &p, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string bytes(reinterpret_cast<char*>(out), size);
  jpeg_destroy_compress(&cinfo);
  std::free(out);
  return bytes;
}

// The JPEG with its frame header made to claim w x h pixels.
std::string ClaimJpegSize(std::string jpeg, uint16_t w, uint16_t h) {
  size_t sof = jpeg.find("\xff\xc0");
  if (sof == std::string::npos) sof = jpeg.find("\xff\xc2");
  jpeg[sof + 5] = static_cast<char>(h >> 8), jpeg[sof + 6] = static_cast<char>(h & 0xFF);
  jpeg[sof + 7] = static_cast<char>(w >> 8), jpeg[sof + 8] = static_cast<char>(w & 0xFF);
  return jpeg;
}

// A GIF with a screen of w x h and one frame of fw x fh at the corner per colour index
// (0 red, 1 blue, 2 green). The codes are 3 bits throughout: a clear code before every
// pixel keeps the table from growing.
std::string Gif(int w, int h, int fw, int fh, const std::vector<int>& frames) {
  std::string s = "GIF89a";
  Put16(s, w), Put16(s, h);
  s += std::string("\x81\x00\x00", 3);
  s += std::string("\xff\x00\x00\x00\x00\xff\x00\xff\x00\xff\xff\xff", 12);
  for (int colour : frames) {
    s += std::string("\x21\xf9\x04\x00\x0a\x00\x00\x00", 8);
    s += '\x2c';
    Put16(s, 0), Put16(s, 0), Put16(s, fw), Put16(s, fh);
    s += '\0';
    s += '\x02';
    std::string codes;
    uint32_t bits = 0;
    int count = 0;
    auto emit = [&](uint32_t code) {
      bits |= code << count, count += 3;
      while (count >= 8) codes += static_cast<char>(bits & 0xFF), bits >>= 8, count -= 8;
    };
    for (int i = 0; i < fw * fh; ++i) emit(4), emit(static_cast<uint32_t>(colour));
    emit(5);
    if (count) codes += static_cast<char>(bits & 0xFF);
    for (size_t at = 0; at < codes.size(); at += 255) {
      const std::string part = codes.substr(at, 255);
      s += static_cast<char>(part.size());
      s += part;
    }
    s += '\0';
  }
  return s + ";";
}

// A bitmap without its file header as icons hold them: the info header with the height
// doubled, the palette, the rows from the bottom, then the mask (1 = transparent).
// indices are the pixels from the top, as palette indices (or packed RGB for 24 bits).
std::string Dib(int w, int h, int bits, const std::vector<Rgb>& palette, const std::vector<uint32_t>& pixels,
                const std::vector<bool>& transparent = {}) {
  std::string s;
  Put32(s, 40), Put32(s, w), Put32(s, 2 * h), Put16(s, 1), Put16(s, bits), Put32(s, 0), Put32(s, 0);
  Put32(s, 0), Put32(s, 0), Put32(s, static_cast<uint32_t>(palette.size())), Put32(s, 0);
  for (const Rgb& c : palette) s += {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0]), 0};
  const size_t stride = (static_cast<size_t>(w) * bits + 31) / 32 * 4, maskStride = (static_cast<size_t>(w) + 31) / 32 * 4;
  for (int y = h - 1; y >= 0; --y) {
    std::string row(stride, '\0');
    for (int x = 0; x < w; ++x) {
      const uint32_t v = pixels[static_cast<size_t>(y) * w + x];
      if (bits == 24) {
        row[3 * x] = static_cast<char>(v & 0xFF), row[3 * x + 1] = static_cast<char>(v >> 8 & 0xFF);
        row[3 * x + 2] = static_cast<char>(v >> 16);
      } else {
        const int bit = x * bits;
        row[bit / 8] = static_cast<char>(row[bit / 8] | v << (8 - bits - bit % 8));
      }
    }
    s += row;
  }
  for (int y = h - 1; y >= 0; --y) {
    std::string row(maskStride, '\0');
    for (int x = 0; x < w; ++x)
      if (!transparent.empty() && transparent[static_cast<size_t>(y) * w + x]) row[x / 8] = static_cast<char>(row[x / 8] | 0x80 >> (x % 8));
    s += row;
  }
  return s;
}

// An icon file of the given images; each directory entry gives size as its byte (0 for 256).
std::string Ico(const std::vector<std::pair<int, std::string>>& images) {
  std::string head, data;
  Put16(head, 0), Put16(head, 1), Put16(head, static_cast<uint32_t>(images.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
  for (const auto& [size, bytes] : images) {
    head += {static_cast<char>(size & 0xFF), static_cast<char>(size & 0xFF), 0, 0};
    Put16(head, 1), Put16(head, 32), Put32(head, static_cast<uint32_t>(bytes.size())), Put32(head, offset);
    offset += static_cast<uint32_t>(bytes.size());
    data += bytes;
  }
  return head + data;
}

// A 24-bit BMP file of w x h pixels of one colour.
std::string Bmp(int w, int h, Rgb c) {
  std::string pixels;
  for (int y = 0; y < h; ++y) {
    std::string row;
    for (int x = 0; x < w; ++x) row += {static_cast<char>(c[2]), static_cast<char>(c[1]), static_cast<char>(c[0])};
    while (row.size() % 4) row += '\0';
    pixels += row;
  }
  std::string s = "BM";
  Put32(s, static_cast<uint32_t>(54 + pixels.size())), Put32(s, 0), Put32(s, 54);
  Put32(s, 40), Put32(s, w), Put32(s, h), Put16(s, 1), Put16(s, 24), Put32(s, 0);
  Put32(s, static_cast<uint32_t>(pixels.size())), Put32(s, 2835), Put32(s, 2835), Put32(s, 0), Put32(s, 0);
  return s + pixels;
}

std::string Svg(const std::string& size) {
  return "<svg xmlns='http://www.w3.org/2000/svg' " + size + "><rect width='5' height='5' fill='#00f'/></svg>";
}

struct Drawn {
  std::string rgb, damage;
  size_t rows = 0;
  int64_t width = 0;
  Rgb At(int64_t x, int64_t y) const {
    const size_t at = (static_cast<size_t>(y) * width + x) * 3;
    return {static_cast<uint8_t>(rgb[at]), static_cast<uint8_t>(rgb[at + 1]), static_cast<uint8_t>(rgb[at + 2])};
  }
};

Drawn Draw(const Picture& p) {
  Drawn d;
  d.width = p.Width();
  d.damage = p.DrawRows([&](const uint8_t* rgb, size_t bytes) {
    d.rgb.append(reinterpret_cast<const char*>(rgb), bytes);
    ++d.rows;
  });
  return d;
}

std::string Cut(const std::string& s, size_t keep) { return s.substr(0, keep); }

const Rgb kRed{255, 0, 0}, kBlue{0, 0, 255}, kYellow{255, 255, 0}, kWhite{255, 255, 255};

}  // namespace

// Inside the pixel cap, a picture of a few hundred bytes may still need gigabytes to
// decode; each of these is refused before decoding, with the same words.
TEST(Pictures, PicturesThatNeedTooMuchMemoryAreRefusedBeforeDecoding) {
  struct Case {
    std::string name, bytes;
  } cases[] = {
      {"wide.png", Png(2147483647u, 1, kRed, 1, 1)},
      {"square.png", Png(16384, 16384, kRed, 1, 1)},
      {"huge.svg", Svg("width='16384' height='16384'")},
      {"progressive.jpg", ClaimJpegSize(Jpeg(16, 16, kRed, true), 16384, 16384)},
      {"screen.gif", Gif(16384, 16384, 1, 1, {0, 1, 2})},
      {"icon.ico", Ico({{0, Png(16384, 16384, kRed, 1, 1)}})},
  };
  for (const Case& c : cases) {
    const std::string path = ksfixture::WriteTempFile(c.name, c.bytes);
    try {
      Picture::FromFile(path);
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr("The picture is too large")) << c.name;
    }
  }
  // A baseline JPEG is decoded a row at a time, so its size alone does not refuse it.
  const auto big = Picture::FromFile(ksfixture::WriteTempFile("baseline.jpg", ClaimJpegSize(Jpeg(16, 16, kRed, false), 16384, 16384)));
  EXPECT_EQ(big->Width(), 16384);
}

// Damage: nothing decoded is an error; part decoded is drawn and reported.
TEST(Pictures, DamagedPicturesAreErrorsOrReportWhatWasMissing) {
  const std::string jpeg = Jpeg(64, 64, kBlue, false, true);
  const std::string bmp = Bmp(4, 4, kRed);
  const std::string png = Png(64, 64, kRed, ~0u, ~0u, 0);
  struct Case {
    std::string name, bytes;
    std::string error;   // when the picture cannot be used at all
    std::string damage;  // otherwise what DrawRows reports
  } cases[] = {
      {"cut.jpg", Cut(jpeg, jpeg.size() * 2 / 3), "", "Premature end of JPEG file"},
      {"header-only.bmp", Cut(bmp, 54), "The picture holds no pixel data", ""},
      {"half.bmp", Cut(bmp, 54 + 24), "", "only rows 3 to 4 of 4"},
      {"cut.png", Cut(png, png.size() / 2), "", "only rows 1 to 31 of 64 are in the file"},
      {"no-data.png", Cut(png, 33), "The picture cannot be read", ""},
      {"sound.bmp", bmp, "", ""},
      {"short-entry.ico", Ico({{16, "short"}}), "The icon holds no image that can be read", ""},
      {"cut-directory.ico", Ico({{16, Dib(4, 4, 24, {}, std::vector<uint32_t>(16, 0))}}).substr(0, 12), "The icon's directory is cut short", ""},
  };
  for (const Case& c : cases) {
    const std::string path = ksfixture::WriteTempFile(c.name, c.bytes);
    try {
      const auto p = Picture::FromFile(path);
      const Drawn d = Draw(*p);
      EXPECT_TRUE(c.error.empty()) << c.name << " was drawn";
      EXPECT_EQ(d.rows, static_cast<size_t>(p->Height())) << c.name;
      if (c.damage.empty()) {
        EXPECT_EQ(d.damage, "") << c.name;
      } else {
        EXPECT_THAT(d.damage, HasSubstr(c.damage)) << c.name;
      }
    } catch (const std::runtime_error& e) {
      EXPECT_FALSE(c.error.empty()) << c.name << ": " << e.what();
      if (!c.error.empty()) {
        EXPECT_THAT(e.what(), HasSubstr(c.error)) << c.name;
      }
    }
  }
}

// An icon gives its largest image, whatever the directory's size bytes say, with its
// palette and its mask.
TEST(Pictures, IconsGiveTheirLargestImageInItsColours) {
  std::vector<uint32_t> checker(64);
  for (int i = 0; i < 64; ++i) checker[i] = static_cast<uint32_t>((i / 8 + i % 8) % 2);
  std::vector<uint32_t> red24(16, 0xFF0000);
  std::vector<bool> corner(16, false);
  corner[0] = true;
  struct Case {
    std::string name, bytes;
    int64_t size;
    std::vector<std::pair<std::pair<int, int>, Rgb>> pixels;  // (x, y) from the top left
  } cases[] = {
      {"one-bit.ico", Ico({{8, Dib(8, 8, 1, {kBlue, kYellow}, checker)}}), 8, {{{0, 0}, kBlue}, {{1, 0}, kYellow}, {{7, 7}, kBlue}}},
      {"png-256.ico", Ico({{16, Dib(4, 4, 24, {}, red24)}, {192, Dib(192, 192, 24, {}, std::vector<uint32_t>(192 * 192, 0xFF0000))},
                           {0, Png(256, 256, kYellow)}}),
       256, {{{0, 0}, kYellow}, {{255, 255}, kYellow}}},
      {"masked.ico", Ico({{4, Dib(4, 4, 24, {}, red24, corner)}}), 4, {{{0, 0}, kWhite}, {{1, 0}, kRed}, {{3, 3}, kRed}}},
      {"eight-bit.ico", Ico({{8, Dib(8, 8, 8, {kRed, kBlue, kYellow}, std::vector<uint32_t>(64, 2))}}), 8, {{{4, 4}, kYellow}}},
  };
  for (const Case& c : cases) {
    const auto p = Picture::FromFile(ksfixture::WriteTempFile(c.name, c.bytes));
    EXPECT_EQ(p->Kind(), PictureKind::Icon) << c.name;
    ASSERT_EQ(p->Width(), c.size) << c.name;
    ASSERT_EQ(p->Height(), c.size) << c.name;
    const Drawn d = Draw(*p);
    EXPECT_EQ(d.damage, "") << c.name;
    for (const auto& [xy, rgb] : c.pixels)
      EXPECT_EQ(d.At(xy.first, xy.second), rgb) << c.name << " at " << xy.first << "," << xy.second;
  }
}

TEST(Pictures, AnAnimationGivesItsFirstFrame) {
  const auto p = Picture::FromFile(ksfixture::WriteTempFile("two.gif", Gif(4, 2, 4, 2, {1, 0})));
  ASSERT_EQ(p->Width(), 4);
  const Drawn d = Draw(*p);
  EXPECT_EQ(d.damage, "");
  EXPECT_EQ(d.At(3, 1), kBlue);
}

// Names that are no picture get a message of their own, and no library writes to stderr.
TEST(Pictures, NamesThatAreNoPictureSaySoQuietly) {
  const std::string folder = (fs::path(ksfixture::WriteTempFile("probe.txt", "")).parent_path() / "folder.png").string();
  fs::create_directories(folder);
  struct Case {
    std::string path, message;
  } cases[] = {
      {folder, "it is a folder"},
      {ksfixture::WriteTempFile("zero.svg", Svg("width='0' height='0'")), "The picture has no pixels (0 x 0)"},
      {ksfixture::WriteTempFile("flat.svg", Svg("width='10' height='0'")), "The picture has no pixels (10 x 0)"},
      {ksfixture::WriteTempFile("none.svg", Svg("viewBox='0 0 0 0'")), "The picture has no pixels"},
  };
  for (const Case& c : cases) {
    testing::internal::CaptureStderr();
    std::string message;
    try {
      Picture::FromFile(c.path);
    } catch (const std::runtime_error& e) {
      message = e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << c.path;
    EXPECT_THAT(message, HasSubstr(c.message)) << c.path;
  }
}
