// Font subsets through HarfBuzz's subsetter: it closes composite glyphs over their
// components and cuts TrueType and CFF outlines alike.
#include <hb-subset.h>
#include <hb.h>

#include <memory>

#include "ksFonts.h"

namespace ksplatform {

namespace {

template <typename T, void (*Destroy)(T*)>
struct HbDeleter {
  void operator()(T* p) const { Destroy(p); }
};
template <typename T, void (*Destroy)(T*)>
using HbPtr = std::unique_ptr<T, HbDeleter<T, Destroy>>;
using Blob = HbPtr<hb_blob_t, hb_blob_destroy>;
using Face = HbPtr<hb_face_t, hb_face_destroy>;
using Input = HbPtr<hb_subset_input_t, hb_subset_input_destroy>;
using Plan = HbPtr<hb_subset_plan_t, hb_subset_plan_destroy>;

// Tables a PDF reader never asks for: shaping and layout, which the drawn text no longer
// needs, and the vertical and colour extras.
constexpr const char* kDroppedTables[] = {"GSUB", "GPOS", "GDEF", "BASE", "JSTF", "MATH", "kern", "morx", "mort",
                                          "kerx", "feat", "trak", "ltag", "DSIG", "COLR", "CPAL", "SVG ",
                                          "sbix", "CBDT", "CBLC", "EBDT", "EBLC", "EBSC", "hdmx", "VDMX",
                                          "LTSH", "PCLT", "vhea", "vmtx", "VORG", "meta", "STAT"};

}  // namespace

std::optional<FontSubset> SubsetFontProgram(std::string_view program, const std::vector<char32_t>& characters,
                                            const std::vector<uint32_t>& glyphs, bool keepGlyphNumbers) {
  if (program.empty() || program.size() > 0x7FFFFFFF) return std::nullopt;
  // The subsetter reads the bytes in place; the blob never outlives this call.
  Blob blob(hb_blob_create_or_fail(program.data(), static_cast<unsigned>(program.size()),
                                   HB_MEMORY_MODE_READONLY, nullptr, nullptr));
  if (!blob) return std::nullopt;
  Face face(hb_face_create(blob.get(), 0));
  if (hb_face_get_glyph_count(face.get()) == 0) return std::nullopt;
  Input input(hb_subset_input_create_or_fail());
  if (!input) return std::nullopt;
  hb_set_t* unicodes = hb_subset_input_unicode_set(input.get());
  for (char32_t c : characters) hb_set_add(unicodes, c);
  hb_set_t* wanted = hb_subset_input_glyph_set(input.get());
  for (uint32_t g : glyphs) hb_set_add(wanted, g);
  hb_set_t* dropped = hb_subset_input_set(input.get(), HB_SUBSET_SETS_DROP_TABLE_TAG);
  for (const char* tag : kDroppedTables) hb_set_add(dropped, HB_TAG(tag[0], tag[1], tag[2], tag[3]));
  // Glyph names stay: a simple font's encoding finds CFF glyphs by name.
  unsigned flags = HB_SUBSET_FLAGS_DEFAULT;
  if (keepGlyphNumbers) flags |= HB_SUBSET_FLAGS_RETAIN_GIDS;
  hb_subset_input_set_flags(input.get(), flags);

  Plan plan(hb_subset_plan_create_or_fail(face.get(), input.get()));
  if (!plan) return std::nullopt;
  Face result(hb_subset_plan_execute_or_fail(plan.get()));
  if (!result) return std::nullopt;
  Blob bytes(hb_face_reference_blob(result.get()));
  unsigned length = 0;
  const char* data = hb_blob_get_data(bytes.get(), &length);
  if (!data || length == 0) return std::nullopt;

  FontSubset subset;
  subset.Program.assign(data, length);
  const hb_map_t* mapping = hb_subset_plan_old_to_new_glyph_mapping(plan.get());
  subset.NewGlyphs.reserve(glyphs.size());
  for (uint32_t g : glyphs) {
    const hb_codepoint_t to = hb_map_get(mapping, g);
    if (to == HB_MAP_VALUE_INVALID) return std::nullopt;  // a glyph the program does not have
    subset.NewGlyphs.push_back(to);
  }
  return subset;
}

}  // namespace ksplatform
