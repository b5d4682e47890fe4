// Form-field records read from the interactive form, and the default appearance font.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "objects/ksPDFObjects.h"

class TksPDFObjectStore;

// What a font is asked for by: the engine core holds no platform font object.
struct TksFontDescription {
  std::string Name;
  int32_t Size = 0;
  bool Bold = false;
  bool Italic = false;
};

// The font and colour a field's "/DA" text asks for.
struct TksFontInfo {
  std::string FontName;  // resource name with its "/", e.g. "/Helv"
  std::unique_ptr<TksPDFIndirectReference> FontReference;
  TksFontDescription Font;
  double FontSize = 0;
  std::string ColorText;  // "r g b rg" or "gray g"; empty when the text sets no colour

  std::unique_ptr<TksFontInfo> Clone() const;
};

enum TksFieldKind : uint8_t {
  fkPushButton = 0, fkRadioButton = 1, fkCheckBox = 2, fkText = 3, fkOther = 4, fkSignature = 5
};

// One field that has a field type, in reading order.
struct TksAcroFormField {
  TksPDFObjectStore* Store = nullptr;
  TksPDFIndirectObject* FieldObject = nullptr;
  std::string FullName;        // partial names joined by ".", in the ANSI code page
  std::u16string FullNameWide; // the same without the code page's losses
  // "/V" as read: a name's or string's text. A value stream is not decoded while the
  // form is read (saving never needs it): ValueStream names it, and
  // TksCustomPDFDocument::FieldValueBytes decodes it when asked.
  std::string FieldValue;
  const TksPDFStreamObject* ValueStream = nullptr;
  std::string DefaultValue;
  uint8_t FieldKind = fkOther;
  std::unique_ptr<TksFontInfo> FontInfo;
  bool ReadOnly = false;
  int32_t AnnotationFlags = 0;
  bool Multiline = false;
  int32_t MaxLen = 0;
  std::vector<std::string> States;
  int32_t Flags = 0;
  uint8_t Quadding = 0;
};

// The kind a field type and its flags give.
uint8_t FieldKindOf(const std::string& fieldType, int32_t flags);
