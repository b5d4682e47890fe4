// Pictures as image objects: RGB, 8 bits, Flate, compressed row by row as they are drawn.
#include <memory>

#include "base/ksExceptions.h"
#include "base/ksPDFResStrs.h"
#include "codec/ksZLib.h"
#include "content/ksPageEditor.h"
#include "document/ksCstPDFDoc.h"
#include "ksPictures.h"

std::shared_ptr<const ksplatform::Picture> TksCustomPDFDocument::LoadPicture(const std::string& fileName) {
  try {
    return ksplatform::Picture::FromFile(fileName);
  } catch (const ksplatform::UnsupportedPicture& e) {
    throw EUnsupportedImageError(ksFormat(ksres::SUnsupportedImage, e.what()));
  } catch (const std::runtime_error& e) {
    throw EInvalidValueError(ksFormat(ksres::SPictureUnreadable, fileName.c_str(), e.what()));
  }
}

std::unique_ptr<TksPDFIndirectReference> TksCustomPDFDocument::AddImageResource(const ksplatform::Picture& picture,
                                                                                const std::string& resourceName) {
  // Only the compressed rows are held: the raster itself never is as a whole.
  auto data = std::make_unique<TksMemoryStream>();
  {
    TCompressionStream z(2, *data);
    std::string damage;
    try {
      damage = picture.DrawRows([&](const uint8_t* rgb, size_t bytes) { z.Write(rgb, static_cast<int64_t>(bytes)); });
    } catch (const std::runtime_error& e) {
      if (dynamic_cast<const Exception*>(&e)) throw;
      throw EInvalidValueError(ksFormat(ksres::SPictureUnreadable, picture.FileName().c_str(), e.what()));
    }
    z.Finish();
    if (!damage.empty()) Warning(ksFormat(ksres::SPictureDamaged, picture.FileName().c_str(), damage.c_str()));
  }
  auto dict = std::make_unique<TksPDFDictObject>();
  dict->AddName("/Type", "/XObject");
  dict->AddName("/Subtype", "/Image");
  if (!resourceName.empty()) dict->AddName("/Name", resourceName);
  dict->AddInteger("/Width", static_cast<int32_t>(picture.Width()));
  dict->AddInteger("/Height", static_cast<int32_t>(picture.Height()));
  dict->AddInteger("/BitsPerComponent", 8);
  dict->AddName("/ColorSpace", "/DeviceRGB");
  dict->AddName("/Filter", "/FlateDecode");
  dict->AddInt64("/Length", static_cast<int64_t>(data->size()));
  TksPageEditor editor(*this);
  return editor.AddObject(std::make_unique<TksPDFStreamObject>(std::move(dict), std::move(data)))->ReferenceTo();
}
