// The core document component: loading, structure walk, saving and the document's
// settings. Implementation is split by concern over the ksCstPDFDoc*.cpp files.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <string_view>
#include <utility>
#include <vector>

#include "document/ksAcroForm.h"
#include "document/ksEMailInfo.h"
#include "document/ksObjectResolver.h"
#include "document/ksPageObjects.h"
#include "document/ksVersionReport.h"
#include "base/ksByteStreams.h"
#include "base/ksConsts.h"
#include "crypt/ksPDFCrypt.h"
#include "objects/ksPDFObjects.h"
#include "document/ksPDFOutline.h"
#include "objects/ksPDFObjectStore.h"
#include "codec/ksFilterChain.h"

namespace ksplatform { class MappedFile; }
class TksPDFStreamReader;
class TksPDFDecryptor;
class TksCustomPDFDocument;
class TksPDFOutline;
struct TksAcroFormField;

// True for a dictionary whose "/D" names something outside this file's destinations
// (a remote or embedded go-to, a collection's initial document).
bool HoldsForeignDestination(const TksPDFDictObject& dict);

enum TksPageMode : uint8_t { pmNone = 0, pmUseOutlines, pmUseThumbs, pmFullScreen, pmUseAttachments };
enum TksPageLayout : uint8_t { plNone = 0, plSinglePage, plOneColumn, plTwoColumnLeft, plTwoColumnRight };
enum TksMeasurementUnit : uint8_t { muPixels = 0, muPoints, muInches, muMM, muTwips };
enum TksMergeOption : uint8_t { moIncludeOutlines = 0, moIncludeFormFields, moRenameLikeNameFields };
// A page box in points (or another unit): lower left x1, y1, upper right x2, y2.
struct TksPageRect {
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  bool operator==(const TksPageRect&) const = default;
};
// What a later layer keeps for a document between its operations and the next save (the
// fonts drawn text created, whose programs must hold the glyphs of every application):
// it finishes its objects just before each save.
class TksDocumentExtension {
 public:
  virtual ~TksDocumentExtension() = default;
  virtual void PrepareForSave(TksCustomPDFDocument& document) = 0;
};
struct TksFont;
class TksWatermarkTemplate;
namespace ksplatform {
class Picture;
}
// The page operations' own state: the document-wide bracket streams ("q" and "Q"; -1
// until made), the generator of resource names and the fonts made for drawn text. A
// reset starts it afresh.
struct TksPageEditState {
  int32_t SaveStreamNumber = -1;
  int32_t RestoreStreamNumber = -1;
  // Seeded from the document on first use, so one input gives the same names every run.
  bool NamesSeeded = false;
  uint64_t NameState = 0;
  // The source's refusal of changes was warned about.
  bool ChangeWarned = false;
  // How each content stream pairs its q and Q (Q without q, q left open), by object number:
  // pages that share a stream have it decoded once. Unreadable: why it could not be read.
  struct ContentBalance {
    int64_t Unmatched = 0, Open = 0;
    std::string Unreadable;
  };
  std::unordered_map<int32_t, ContentBalance> ContentBalances;
  std::shared_ptr<TksDocumentExtension> Fonts;
};
// How AttachPageContent places operators on a page: above or beneath its own content,
// with an opacity in percent (100 opaque) and moved by an offset in the document's
// MeasurementUnit.
struct TksContentPlacement {
  bool Overlay = true;
  double Opacity = 100;
  double OffsetX = 0, OffsetY = 0;
};
// How the newest cross-reference section is kept: a table, a stream, or a table whose
// trailer names a cross-reference stream as well.
// xkRebuilt: the file's own data were unusable and were rebuilt by scanning it.
enum TksXRefKind : uint8_t { xkNone = 0, xkTable, xkStream, xkHybrid, xkRebuilt };

// The document information dictionary with cached, decoded properties.
class TksPDFInfo {
 public:
  explicit TksPDFInfo(TksCustomPDFDocument* document = nullptr) : Document(document) {}
  std::u16string Title() { return GetText("/Title", title_); }
  std::u16string Author() { return GetText("/Author", author_); }
  std::u16string Subject() { return GetText("/Subject", subject_); }
  std::u16string Keywords() { return GetText("/Keywords", keywords_); }
  std::u16string Creator() { return GetText("/Creator", creator_); }
  std::u16string Producer() { return GetText("/Producer", producer_); }
  std::string CreationDate() { return GetDate("/CreationDate", creationDate_); }
  std::string ModDate() { return GetDate("/ModDate", modDate_); }
  void SetTitle(const std::u16string& v) { SetText("/Title", title_, v); }
  void SetAuthor(const std::u16string& v) { SetText("/Author", author_, v); }
  void SetSubject(const std::u16string& v) { SetText("/Subject", subject_, v); }
  void SetKeywords(const std::u16string& v) { SetText("/Keywords", keywords_, v); }
  void SetCreator(const std::u16string& v) { SetText("/Creator", creator_, v); }
  void SetProducer(const std::u16string& v) { SetText("/Producer", producer_, v); }
  void SetCreationDate(const std::string& v);
  void SetModDate(const std::string& v);
  // Replaces the dictionary (loading) and forgets the cached values.
  void SetDictionary(std::unique_ptr<TksPDFDictObject> dict);
  TksPDFDictObject& Dictionary() { return *dict_; }
  bool IsEmpty() const { return dict_->Count() == 0; }

  // Decoding of a text string as stored in a file (UTF-16BE or UTF-8 behind a byte-order
  // mark, else PDFDocEncoding); empty for anything else.
  static std::u16string DecodeTextString(const TksPDFObject* value);
  static std::u16string DecodePDFDocEncoding(std::string_view bytes);
  // FE FF + UTF-16BE bytes of a text (before any encryption or escaping).
  static std::string EncodeTextBytes(const std::u16string& text);

  TksCustomPDFDocument* Document;

 private:
  std::u16string GetText(const char* key, std::u16string& cache);
  std::string GetDate(const char* key, std::string& cache);
  void SetText(const char* key, std::u16string& cache, const std::u16string& value);
  std::unique_ptr<TksPDFDictObject> dict_ = std::make_unique<TksPDFDictObject>();
  std::u16string title_, author_, subject_, keywords_, creator_, producer_;
  std::string creationDate_, modDate_;
};

// The catalog's "/ViewerPreferences" dictionary.
class TksPDFViewerPreferences {
 public:
  bool HideToolbar() const { return GetFlag("/HideToolbar"); }
  bool HideMenubar() const { return GetFlag("/HideMenubar"); }
  bool HideWindowUI() const { return GetFlag("/HideWindowUI"); }
  bool FitWindow() const { return GetFlag("/FitWindow"); }
  bool CenterWindow() const { return GetFlag("/CenterWindow"); }
  bool DisplayDocTitle() const { return GetFlag("/DisplayDocTitle"); }
  void SetHideToolbar(bool v) { SetFlag("/HideToolbar", v); }
  void SetHideMenubar(bool v) { SetFlag("/HideMenubar", v); }
  void SetHideWindowUI(bool v) { SetFlag("/HideWindowUI", v); }
  void SetFitWindow(bool v) { SetFlag("/FitWindow", v); }
  void SetCenterWindow(bool v) { SetFlag("/CenterWindow", v); }
  void SetDisplayDocTitle(bool v) { SetFlag("/DisplayDocTitle", v); }
  void SetDictionary(std::unique_ptr<TksPDFDictObject> dict) {
    dict_ = dict ? std::move(dict) : std::make_unique<TksPDFDictObject>();
  }
  TksPDFDictObject& Dictionary() { return *dict_; }
  // The "<< ... >>" text the catalog embeds; empty when no line results. Keys outside the
  // twelve the engine knows are carried through as they are, written through hooks
  // (references renumbered, strings encrypted) when given.
  std::string CatalogText(TksTextFormHooks* hooks = nullptr) const;
  // One of the twelve keys written by the engine's own rules (a flag, or a name).
  static bool IsModelledKey(std::string_view key);

 private:
  bool GetFlag(const char* key) const;
  void SetFlag(const char* key, bool value);
  std::unique_ptr<TksPDFDictObject> dict_ = std::make_unique<TksPDFDictObject>();
};

// Catalog values the walk keeps and the writer rebuilds the catalog from.
struct TksPDFCatalog {
  TksPDFViewerPreferences ViewerPreferences;
  TksPDFObjectPtr Names, Outlines, OpenAction, AcroForm, Metadata, AA;
  // Entries the catalog does not rebuild (structure tree, language, page labels,
  // layers, ...): kept so a conversion loses none of them.
  std::unique_ptr<TksPDFDictObject> OtherEntries = std::make_unique<TksPDFDictObject>();

  // Keys the writer builds the catalog from: the members above, the page tree and the
  // page mode and layout. Kept entries under these names would double them.
  static bool IsBuiltKey(std::string_view key);
  // Keys a conversion drops on purpose: the version and its extensions follow the version
  // the user picks, and signature-based permissions do not survive a rewrite.
  static bool IsDroppedKey(std::string_view key);
};

// Bounds on what a load decodes: a small hostile stream can inflate almost without end,
// so each kind of stream the engine decodes has a cap of its own, and all decoding of one
// load has a budget in proportion to the file's size. The process-wide decoder cap
// (ksDecodeLimit) stays above them all.
struct TksDecodeBounds {
  // One object or cross-reference stream: they hold objects and entries only.
  uint64_t StructureStream = uint64_t{256} << 20;
  // One form field's value, decoded only when asked for.
  uint64_t FieldValue = uint64_t{4} << 20;
  // One load decodes at most BudgetFactor times the file's size plus BudgetFloor bytes.
  uint64_t BudgetFactor = 64;
  uint64_t BudgetFloor = uint64_t{32} << 20;
};

// A settings dialog a caller supplies (the window's dialogs derive from it).
class TksSetupDialog {
 public:
  virtual ~TksSetupDialog() = default;
  // The document being edited, set only while the dialog is shown; not owned.
  TksCustomPDFDocument* Document = nullptr;
  // Shows the dialog modally: TksCustomPDFDocument::kModalOK, kModalCancel or a result of its own.
  virtual int ShowModal() = 0;
};

class TksCustomPDFDocument : public TksComponent {
 public:
  TksCustomPDFDocument();
  ~TksCustomPDFDocument() override;
  TksCustomPDFDocument(const TksCustomPDFDocument&) = delete;
  TksCustomPDFDocument& operator=(const TksCustomPDFDocument&) = delete;

  // ---- events (an empty function is skipped) ----
  std::function<void(TksCustomPDFDocument* sender, const std::string& statMsg)> OnStatusMessage;
  std::function<void(TksCustomPDFDocument* sender, int percentage)> OnIOProgress;
  std::function<void(TksCustomPDFDocument* sender, const std::string& warning)> OnWarning;
  // The password as the user typed it: the security handler decides which bytes it stands for.
  std::function<void(TksCustomPDFDocument* sender, std::u16string& password, bool& cont, int tries)> OnPassword;
  std::function<void(TksCustomPDFDocument* sender)> OnBeginRead;
  std::function<void(TksCustomPDFDocument* sender)> OnEndRead;

  // ---- life cycle and properties ----
  void Reset();
  int32_t DocumentID = 0;
  std::string WorkFileName;
  std::string Filename;
  bool IsLoaded = false;
  bool IsEncrypted = false;
  TksPDFVersion PDFVersion = pvPDF14;
  // Where the version comes from: the header, and the catalog's "/Version" when it names a
  // known version (an incremental update may raise the version there). A load sets
  // PDFVersion to the later of the two.
  TksPDFVersion HeaderVersion = pvPDF14;
  std::optional<TksPDFVersion> CatalogVersion;
  TksPageMode PageMode = pmNone;
  TksPageLayout PageLayout = plNone;
  // The catalog's "/PageMode" or "/PageLayout" name when the enumerations have no value
  // for it (later versions' "/UseOC", "/TwoPageLeft", ...): carried through as it stands
  // while PageMode is pmNone or PageLayout plNone.
  std::string OtherPageMode, OtherPageLayout;
  // The names the catalog is written with ("/UseOutlines", "/UseOC"); empty for none.
  std::string PageModeName() const;
  std::string PageLayoutName() const;
  // The enumeration value a catalog name stands for; pmNone / plNone for any other name.
  static TksPageMode PageModeFromName(std::string_view name);
  static TksPageLayout PageLayoutFromName(std::string_view name);
  TksMeasurementUnit MeasurementUnit = muPixels;
  std::vector<TksMergeOption> MergeOptions;
  bool ShowSetupDialog = true;
  bool OpenAfterSave = false;
  // E-mail after a save is requested; stored for the caller, the engine sends nothing.
  bool EMailAfterSave = false;
  // The document owns its e-mail data from construction on. Assigning another object frees
  // the previous one and takes ownership; assigning the object already held changes
  // nothing, and assigning none gives an empty object, so EMailInfo() is always there.
  TksEMailInfo& EMailInfo() { return *emailInfo_; }
  void SetEMailInfo(TksEMailInfo* info);
  int32_t PageCount() const { return static_cast<int32_t>(Pages.size()); }
  TksPDFInfo& Info() { return *Info_; }
  TksPDFViewerPreferences& ViewerPreferences() { return Catalog->ViewerPreferences; }

  // ---- object store, cross-reference data, reading objects ----
  std::unique_ptr<TksPDFObjectStore> Store;
  // Indexed by object number; empty slots where no entry was read.
  std::vector<std::optional<TksXRefItem>> XRefEntries;
  std::vector<std::optional<TksXRefStmItem>> XRefStreamEntries;
  TksPDFTrailer Trailer;
  // The reader over the source file while it is being read (from ParseFile until the
  // structure walk ends or the load fails); none otherwise.
  TksPDFStreamReader* Reader() const { return load_ ? load_->Reader.get() : nullptr; }
  // Begins reading size bytes at data as the source (ParseFile: the mapped file; a fuzzer:
  // its input); CloseReader ends it. The bytes must outlive the reading.
  void OpenReader(const uint8_t* data, size_t size);
  void CloseReader();
  // The mapped source file (none before a load); kept while the document lives, as stream
  // data may borrow its bytes.
  const ksplatform::MappedFile* Source() const { return SourceFile.get(); }

  // A generation that matches any: for numbers that come without one.
  static constexpr int32_t kAnyGeneration = -1;
  int64_t FindObjectOffset(int32_t objectNumber) const;
  // Whether a reference leads nowhere under the entries in force: its number was freed, or its
  // generation names an object a newer section replaced. Other generation mismatches (common in
  // sloppy files) are tolerated.
  bool ReferenceGone(int32_t objectNumber, int32_t generation) const;
  // The indirect object at the reader's position (none at position 0), with its stream data.
  std::unique_ptr<TksPDFIndirectObject> ReadObjectAt();
  // Object objectNumber as the entries place it; none when they place none or the reference
  // (number, generation) is gone.
  std::unique_ptr<TksPDFIndirectObject> ReadObject(int32_t objectNumber, int32_t generation = kAnyGeneration);
  // The loaded object for a number: by its exact generation, else the one stored as generation 0
  // or under the generation the file gave it (references and objects may disagree); none when
  // the reference is gone.
  TksPDFIndirectObject* FindLoaded(int32_t objectNumber, int32_t generation) const;
  // Stores an object read from the file, unless one with its identity is there already
  // (then that one is returned and the new copy dropped).
  TksPDFIndirectObject* AddLoaded(std::unique_ptr<TksPDFIndirectObject> object);
  // A number no object of this document uses yet, neither in the store nor in the file:
  // for every object an operation creates.
  int32_t NewObjectNumber();
  // Follows references for everything that reads the structure (see TksFollowPolicy).
  TksObjectResolver& Resolver() { return *resolver_; }

  // ---- loading ----
  bool LoadFromFile(const std::string& fileName);
  // When LoadFromFile rebuilds the cross-reference data by scanning the file: only when
  // reading them fails or they do not describe the file, always, or never.
  enum TksRepairMode : uint8_t { rmFallback = 0, rmAlways, rmNever };
  TksRepairMode RepairMode = rmFallback;
  // What the load repaired, one line each; empty when the file was read as it stands.
  std::vector<std::string> RepairNotes;
  bool Repaired() const { return !RepairNotes.empty(); }
  // Reads header, cross-reference data and trailer of the source; sets PDFVersion,
  // IsEncrypted and IsLoaded. With rebuild the cross-reference data come from a scan of
  // the whole file.
  void ParseFile(bool rebuild = false);
  // Maps fileName as the source and parses it, without the structure walk or passwords:
  // for tools and tests that look at a file's cross-reference data and objects.
  void ParseFileAt(const std::string& fileName);
  // Whether the document opens with password; when it does, the structure is read.
  bool TryPassword(const std::u16string& password);
  // The structure walk with its events.
  void FinishLoad();
  // Whether a password was accepted (or none was needed) and the structure was read.
  bool IsOpened() const { return IsLoaded && StructureRead; }

  // ---- security ----
  // Builds a new decrypting handler from the encryption dictionary and "/ID", installs it
  // in the reader, fills Encryption and authenticates password.
  bool CheckPassword(const std::u16string& password);
  // True after the owner password was accepted, and for documents that are not encrypted.
  bool IsOwner() const;
  // What an encrypted save uses; recreated at every reset (disabled, 40 bits, no passwords).
  TksPDFEncryptionSettings& Encryption() { return *Encryption_; }
  bool IsEncryptionEnabled() const { return Encryption_->Enabled(); }
  // Replaces the encrypting handler: the source's keys when the settings are still those
  // the source was opened with, else new ones made from the settings.
  void CreateEncryptionHandler();
  // Bytes encrypted for object objectNumber (generation 0), creating the handler when
  // needed: a string, or the data of a stream with the dictionary given.
  std::string EncryptData(std::string_view bytes, int32_t objectNumber, const TksPDFDictObject* streamDict = nullptr);
  // The encryption a save writes: the handler's, else what the settings will make.
  TksPDFEncryptionLevel OutputEncryptionLevel() const;
  // The dictionary written as the last object of an encrypted save; also gives the trailer
  // its new identifier.
  std::unique_ptr<TksPDFDictObject> BuildEncryptionDictionary();
  std::unique_ptr<TksPDFDecrypt> Decryptor;
  std::unique_ptr<TksPDFEncryption> Encryptor;

  // ---- reading the file structure ----
  // The cross-reference chain from "startxref", then the object streams (or, while the
  // reader rebuilds, the scan that replaces them).
  void ReadCrossReference();
  // Entries for every "N G obj" of the source (the last definition of a number wins) and
  // the trailer from the last trailer dictionaries found; see TksXRefRebuilder.
  void RebuildCrossReference();
  // After the password of an encrypted file whose data were rebuilt: the entries of the
  // objects in the object streams the scan found (their lists are encrypted till then).
  void EnterScannedObjectStreams();
  // One section and, first, every section it chains to.
  void ReadXRefTable(int64_t offset);
  void ReadXRefStream(int64_t offset);
  // Places the objects of every object stream named by the entries in the store.
  void ExpandObjectStreams();
  // Undoes PNG row prediction (one byte per sample) from data's position on.
  static std::unique_ptr<TksMemoryStream> UndoPNGPrediction(TksMemoryStream& data, int32_t columns);
  // The same over the whole buffer, in place: each row's bytes move to the front.
  static void UndoPNGPredictionInPlace(TksDecodeBuffer& data, int32_t columns);
  TksXRefKind XRefKind = xkNone;
  // ---- structure walk ----
  // Reads the catalog, the page tree, destinations, annotations, the form and the
  // outlines; releases the reader when it ends.
  void ReadStructure();
  std::unique_ptr<TksPDFCatalog> Catalog;
  std::vector<TksPDFIndirectObject*> Pages;  // into Store
  // Marks and loads everything a value refers to. A stream's indirect /Length is not
  // followed (the writer gives every stream a direct one), nor is a source object the
  // writer rebuilds.
  // The features of the version report it meets are noted for the page being walked
  // (NotePage), or for the document outside pages.
  void MarkReachable(TksPDFObject* value);
  // What the output holds that target does not know, from the structure walk and what
  // the save adds (compression, encryption), in the order of the feature table.
  std::vector<TksVersionFinding> VersionFindings(TksPDFVersion target) const;
  // Notes features found outside the walk (page 0: the document outside pages).
  void NoteFeatures(uint32_t features, int32_t page = 0) { versionReport_.Note(features, page); }
  // Source objects the writer writes in a new form: the catalog, the information
  // dictionary, every page tree node and every outline item. Their old form is never
  // written; a reference to one is written as a reference to what replaces it.
  enum TksRebuiltAs : int32_t { rbOutlineItem = 0, rbCatalog = 1, rbInformation = 2, rbPageTree = 3 };
  void NoteRebuilt(int32_t objectNumber, TksRebuiltAs as) { rebuilt_.try_emplace(objectNumber, as); }
  // What the source object objectNumber was noted as; none when it is written as it stands.
  std::optional<TksRebuiltAs> RebuiltAs(int32_t objectNumber) const {
    auto it = rebuilt_.find(objectNumber);
    return it == rebuilt_.end() ? std::nullopt : std::optional<TksRebuiltAs>(it->second);
  }
  // Each returns the value when it already has the kind (or is absent); follows references
  // through the store or the file; keepInStore says whether an object read is stored.
  TksPDFArrayObject* ResolveArray(TksPDFObject* value, bool keepInStore);
  TksPDFStringObject* ResolveString(TksPDFObject* value, bool keepInStore);
  TksPDFNameObject* ResolveName(TksPDFObject* value, bool keepInStore);
  TksPDFDictObject* ResolveDictionary(TksPDFObject* value, bool keepInStore);
  // Named destinations: (name, explicit destination or null), in reading order.
  std::vector<std::pair<std::string, TksPDFObjectPtr>> Dests;
  TksPDFObjectPtr FindDest(const std::string& name) const;

  // Reads the page tree node (objectNumber, generation) and everything below it into the
  // page list. Entries that do not resolve, or are neither pages nor nodes, are skipped
  // with a warning.
  void ReadPageTree(int32_t objectNumber, int32_t generation, const TksPDFDictObject* inherited);
  // Fill the destination table from the catalog's "/Dests" value (reference or
  // dictionary) and from the "/Dests" tree of its "/Names" value.
  void ReadDests(TksPDFObject* dests);
  void ReadNameTree(TksPDFObject* names);
  // Reads the outline tree from the catalog's "/Outlines" value.
  void ReadOutlines(TksPDFObject* outlines);
  // The root item (the catalog's "/Outlines"), or none.
  std::unique_ptr<TksPDFOutline> OutlineRoot;
  // Items read, the root included.
  int32_t OutlineCount = 0;
  // The interactive form: its own entries are followed, the field tree becomes records.
  void ReadAcroForm(TksPDFObject* form);
  TksPDFArrayObject* FieldList(TksPDFObject* value);
  // What one reading of the field tree has met: the field objects on the path being
  // read, and every field object read. It lives as long as that reading.
  struct TksFieldTreeWalk {
    std::unordered_set<int32_t> Path, Seen;
  };
  void ReadField(TksFieldTreeWalk& walk, TksAcroFormField* parent, const std::u16string* parentName,
                 const std::string* inheritedDA, const TksPDFDictObject* inheritedFonts,
                 TksPDFObject* fieldReference);
  void ReadFieldValue(TksAcroFormField& field, const TksPDFDictObject& dict);
  void ReadFieldStates(TksAcroFormField& field, const TksPDFDictObject& dict);
  std::unique_ptr<TksFontInfo> ParseDefaultAppearance(const std::string* appearance, const TksPDFDictObject* fonts);
  // The object from the store, or read from the file and stored; marked either way.
  TksPDFIndirectObject* LoadObject(int32_t objectNumber, int32_t generation = kAnyGeneration);
  std::vector<std::unique_ptr<TksAcroFormField>> AcroFormFields;
  // A field's value as bytes: the text of a name or string, or the data of its value
  // stream, decoded on the first request (within DecodeBounds.FieldValue and what is left
  // of the load's budget) and then kept once for every field that names that stream.
  // The view lives until the next reset. Refusals: EDecodedSizeError past a bound,
  // Exception naming the field when its filters cannot be undone.
  std::string_view FieldValueBytes(const TksAcroFormField& field);

  // ---- decoding ----
  // Kept across resets, so a caller (or a test) may lower them before a load.
  TksDecodeBounds DecodeBounds;
  // What the load that read the current document may decode in all, and what it has.
  uint64_t DecodeBudget() const;
  uint64_t DecodedBytes() const { return decoded_; }
  // The stream's data decoded through filter (its /Filter, resolved) within cap and within
  // what is left of the budget. Past cap, EDecodedSizeError with tooLarge(cap as text);
  // past the budget, EDecodedSizeError saying so. The bytes produced are spent either way.
  TksDecodeBuffer DecodeStreamData(const TksPDFStreamObject& stream, const TksPDFObject* filter, uint64_t cap,
                                   const std::function<std::string(const std::string& limit)>& tooLarge);

  // ---- saving ----
  // Turns the outline tree into new objects of the save-time store.
  void BuildOutlines(TksPDFObjectStore& saveStore);
  // Writes the document to fileName (".pdf" appended unless its extension is .pdf).
  // needAppearancesMode: 0 sets the form's "/NeedAppearances" true, 1 false, others leave it.
  // The file is written beside the target and takes its place only when complete; a
  // symbolic link is followed (its target is replaced). Refused: an empty name, a name
  // that is a folder or no regular file, an existing file without write permission.
  void SaveToFile(const std::string& fileName, uint8_t needAppearancesMode);
  // Whether SaveToFile reads the written file back (its table, every object, pages,
  // outline items, annotations, form fields, catalog) before it replaces the target; a
  // mismatch fails the save with ESaveError and leaves the target as it was.
  bool VerifySave = true;
  // Threads that compress stream data while a save with compression on writes (0: one
  // per core, 1: none besides the writer's own). The file is the same for any number.
  int32_t SaveThreads = 0;
  // The name SaveToFile writes to for fileName.
  static std::string SaveFileName(const std::string& fileName);
  // Set by the load once the structure walk has finished: a document read only part-way
  // is refused by SaveToFile rather than written as if it were whole.
  bool StructureRead = false;
  // Modal results of the settings dialog shown before a save.
  static constexpr int kModalNone = 0, kModalOK = 1, kModalCancel = 2;
  // A dialog the caller supplies instead of the built-in one; not owned, reused across saves.
  TksSetupDialog* SetupDialog = nullptr;
  // Shows the built-in settings dialog for the document and gives its modal result. Filled
  // by the window's library (the engine has no display); none on the command line.
  std::function<int(TksCustomPDFDocument& document)> SetupDialogHook;
  // SetupDialog when assigned (its Document set to this document only while it is shown),
  // else the built-in dialog; kModalNone when there is neither. SaveToFile calls it first
  // when ShowSetupDialog is true, and writes nothing when it gives kModalCancel.
  int ShowSettingsDialog();
  // Opens the saved file when OpenAfterSave is true; its failures are ignored. A new
  // document hands the file to the desktop's opener (xdg-open); the window may put its own.
  std::function<void(const std::string& fileName)> OpenFileHook;

  // ---- pages: sizes, units, transitions, resources, content (defined in content/) ----
  // Pixels convert to points at this resolution: there is no screen to ask on the command
  // line or in CI, and the window lays itself out at 96 pixels per inch as well.
  static constexpr double kScreenPixelsPerInch = 96;
  // EInvalidPageError "Invalid page number (%d)" unless 1 <= pageNo <= PageCount.
  void CheckPageNumber(int32_t pageNo) const;
  // The page's /Rotate (resolved), 0 when it has none or it is no integer.
  int32_t PageRotation(int32_t pageNo);
  // The page's visible box: /CropBox clipped to /MediaBox, else /MediaBox; corners put in
  // order, references resolved. A page without /MediaBox (damaged) is taken as 612 x 792
  // with a warning. An entry that is not a number, or a box that is no array of four,
  // raises EUnexpectedObjectError.
  TksPageRect GetPageBox(int32_t pageNo, TksMeasurementUnit unit);
  // Width and height of that box (x2 - x1 and y2 - y1) in unit.
  std::pair<double, double> GetPageSize(int32_t pageNo, TksMeasurementUnit unit);
  static double ToPoints(TksMeasurementUnit unit, double value);
  static double FromPoints(TksMeasurementUnit unit, double value);
  // A page transition: effect 0-16 (above 16 as 0), duration in seconds as /D.
  static std::unique_ptr<TksPDFDictObject> CreateTransitionDict(uint8_t effect, float duration);
  // Sets /Dur and /Trans on the pages of pageRange. A duration below 0 or not finite, and
  // a range that does not parse, change no page.
  void SetPageTransition(const std::string& pageRange, uint8_t effect, float duration);
  // Page numbers of a range text ("1,3,5-12"; empty for all pages), in the order written.
  // EInvalidPageError "Invalid page range (%s)" or "Invalid page number (%d)".
  static std::vector<int32_t> ParsePageRange(const std::string& text, int32_t pageCount);
  // Adds name -> reference under category of resources unless name is there already; the
  // object referred to is marked used. No resources: EUnexpectedError.
  void AddPageResource(TksPDFDictObject* resources, std::string_view category, std::string_view name,
                       const TksPDFIndirectReference& reference);
  // The same for the /ExtGState of page pageIndex + 1, given /Resources when it has none;
  // nothing without a reference.
  void AddExtGStateToPage(int32_t pageIndex, std::string_view name, const TksPDFIndirectReference* reference);
  // A name for a new resource of category, prefix and digits, used by none of the pages.
  std::string NewPageResourceName(std::string_view category, std::string_view prefix,
                                  const std::vector<int32_t>& pageNumbers);
  // The page's own object and every object reachable from it, as owned copies; other
  // pages are not entered. Virtual with its step, so derived documents can extend them.
  virtual std::unique_ptr<TksPageObjectList> GetPageObjects(int32_t pageNo);
  // Makes the document's "q" and "Q" streams unless they exist.
  void EnsureBracketStreams();
  // Attaches the stream newContent names to page pageIndex + 1: above its content (whose
  // state is then closed off by the bracket streams) or beneath it.
  void AppendPageContent(int32_t pageIndex, const TksPDFIndirectReference& newContent, bool overlay);
  // A new graphics state with these opacities (percent, clamped to 0-100); none when both
  // are 100. Its object is marked used once a page refers to it.
  std::unique_ptr<TksPDFIndirectReference> CreateOpacityGState(double fillOpacity, double strokeOpacity);
  // A new stream object holding data (unmarked until a page refers to it).
  std::unique_ptr<TksPDFIndirectReference> AddContentStream(std::string data);
  // Puts content operators on the pages of pageRange, wrapped in "q" ... "Q" so that
  // nothing they set reaches the page's own content, with one stream shared by all.
  void AttachPageContent(const std::string& pageRange, std::string_view operators,
                         const TksContentPlacement& placement);
  const TksPageEditState& PageEditState() const { return pageEdit_; }

  // ---- fonts and stamped text (defined in content/) ----
  // The font resource for font: a font this document made for an equal description, a
  // loaded simple font of a page that can show text, or a new one. embedMode 0 none, 1
  // the whole program, 2 a subset; encodingIndex 0 WinAnsi, 1 MacRoman, 3 Standard (2
  // MacExpert and 4 PDFDoc cannot show ordinary text and are refused).
  std::unique_ptr<TksPDFIndirectReference> AddFontResource(const TksFont& font, const std::string& resourceName,
                                                           uint8_t embedMode, uint8_t encodingIndex,
                                                           const std::u16string& text);
  // The key under which fontDictionary holds the font AddFontResource would use for font
  // and text; empty when none.
  std::string FindFontResourceName(TksPDFDictObject* fontDictionary, const TksFont& font, uint8_t encodingIndex,
                                   uint8_t embedMode, const std::u16string& text);
  // A picture from a file: EUnsupportedImageError "Unsupported image format (%s)" for a
  // format that is not read, EInvalidValueError for a damaged or oversized one.
  static std::shared_ptr<const ksplatform::Picture> LoadPicture(const std::string& fileName);
  // A new image object (RGB, 8 bits, Flate) of the picture; marked used once a page
  // refers to it.
  std::unique_ptr<TksPDFIndirectReference> AddImageResource(const ksplatform::Picture& picture,
                                                            const std::string& resourceName);
  // Stamps the template on the pages of pageRange (empty: all pages).
  void ApplyWatermark(TksWatermarkTemplate& templ, const std::string& pageRange);
  // Gives the value of a placeholder of the caller's own ("<%Name%>") on page pageNo.
  std::function<void(TksCustomPDFDocument* sender, const std::u16string& variable, std::u16string& value,
                     int32_t pageNo)>
      OnCalcVariables;

  // Save-time re-filtering of stream data: method 0 Flate, 1 RunLength; level 0 none,
  // 1 fastest, 2 default, 3 maximum. Off after every reset.
  void SetCompression(uint8_t method, uint8_t level) { Compression = {true, method, level}; }
  TksCompression Compression;

  // The text of a value as a save writes it (references resolve through the document's
  // store; -1 as context: strings never encrypted).
  std::string WriteValue(int32_t context, const TksPDFObject* value);
  static std::string KeyLine(std::string_view key, std::string_view value);
  // The 17 bytes every saved file begins with.
  static std::string HeaderText(TksPDFVersion version);
  // One 20-byte cross-reference entry; an offset beyond ten digits raises ESaveError.
  static std::string XRefEntry(int64_t offset, int32_t generation, char letter);
  // SaveNumber of the object a reference names; 0 when it is not being written.
  int32_t SaveNumberOf(const TksPDFIndirectReference& ref) const;

 protected:
  // One step of GetPageObjects: walks value, taking copies of the objects it refers to
  // into list and leaving what is still to be walked on pending (walked last first).
  virtual void CollectPageObjects(TksPDFObject* value, TksPageObjectList& list, std::vector<TksPDFObject*>& pending);
  void StatusMessage(const std::string& text);
  void IOProgress(int percentage);
  // The stream a save writes through: the output file itself; a derived document may put
  // a stream of its own in front of it (it must pass every byte and the position on).
  virtual TksStream& SaveOutput(TksStream& file) { return file; }
  void Warning(const std::string& text);
  // Findings a damaged file can repeat thousands of times: the first few are reported one
  // by one, the rest counted and reported in one line when the load ends.
  enum TksRepeatedFinding : uint8_t {
    rfLengthRepaired = 0, rfOtherGeneration, rfUntypedPageTreeEntry, rfAESPadding, rfCount
  };
  void RepeatedWarning(TksRepeatedFinding kind, const std::string& text);
  void ReportRepeatedWarnings();

 private:
  std::unique_ptr<ksplatform::MappedFile> SourceFile;
  friend class TksObjectResolver;  // reports through RepeatedWarning
  std::unique_ptr<TksObjectResolver> resolver_;

  // Drops what the structure walk built (called by Reset).
  void ResetStructure();
  // Any value behind a chain of references (none when it leads nowhere); objects read
  // are kept aside, not stored.
  TksPDFObject* ResolveValue(TksPDFObject* value);
  // Replaces a destination given by name with the explicit one; false when the value
  // is of a kind a destination cannot have.
  bool ReplaceNamedDestination(TksPDFDictObject& dict, int32_t index);
  // Enters one name of the destination tables with what its value stands for.
  void AddNamedDestination(std::string name, TksPDFObject* value);
  void NormaliseAction(TksPDFDictObject& action);
  std::unordered_map<int32_t, TksRebuiltAs> rebuilt_;
  // The version report: the page being walked (1-based; 0 outside pages), and for each
  // object the walk has followed the features below it, so a page that reaches a shared
  // object again gets them without a second walk.
  TksVersionReport versionReport_;
  int32_t walkPage_ = 0;
  std::unordered_map<const TksPDFIndirectObject*, uint32_t> objectFeatures_;
  // Name -> first index in Dests, filled as entries are appended.
  mutable std::unordered_map<std::string, size_t> destIndex_;
  mutable size_t destIndexed_ = 0;
  // Value streams decoded so far, one entry per stream however many fields name it.
  std::unordered_map<const TksPDFStreamObject*, std::unique_ptr<TksMemoryStream>> fieldValues_;
  uint64_t decoded_ = 0;  // bytes decoded since the load began
  std::unique_ptr<TksPDFInfo> Info_;
  std::unique_ptr<TksEMailInfo> emailInfo_ = std::make_unique<TksEMailInfo>();
  TksPageEditState pageEdit_;
  friend class TksPageEditor;  // keeps pageEdit_
  std::unique_ptr<TksPDFEncryptionSettings> Encryption_;
  // The settings as the source's password left them; none when the source is not open.
  std::unique_ptr<TksPDFEncryptionSettings> openedEncryption_;
  // What exists only while the source file is read: the reader and its bookkeeping.
  struct TksLoadState {
    std::unique_ptr<TksPDFStreamReader> Reader;
    // Hands the reader's string and stream data to Decryptor.
    std::unique_ptr<TksPDFDecryptor> ReaderDecryptor;
    // The first /ID met while the sections are read; settled into the trailer at the end.
    TksPDFObjectPtr PendingID;
    int LengthReads = 0;              // nested reads of indirect /Length objects
    int ObjectsSincePageRelease = 0;  // see MappedFile::ReleasePages
    // The cross-reference data are rebuilt by scanning instead of read from the file.
    bool Rebuild = false;
    // A /Prev loop or an unusable /Prev cut the chain of sections: an object without an
    // entry may be one of the lost sections', which calls for the rebuild.
    bool SectionsLost = false;
    // Object streams the scan found (number, position), whose contents get their entries
    // once they can be decoded: at once, or after the password of an encrypted file.
    std::vector<std::pair<int32_t, uint64_t>> ScannedObjectStreams;
    // Where the objects of the cross-reference data begin, in order, once those data are
    // read: stream data whose length would run over one of them end at their own
    // "endstream" instead.
    std::vector<uint64_t> ObjectStarts;
    // A rebuilt encrypted file without an /ID: a key made from the identifier cannot be
    // made, and a password that fails says so.
    bool FileIDLost = false;
  };
  std::unique_ptr<TksLoadState> load_;

  // ---- reading the file structure ----
  friend class TksXRefReader;
  friend class TksXRefRebuilder;
  // Values of one trailer dictionary (or cross-reference stream dictionary) that are
  // still unset: newer ones are taken first.
  void TakeTrailerValues(const TksPDFDictObject& trailer);
  // One attempt at reading the file: header, cross-reference data (read, or rebuilt),
  // password, structure. opened is the password that opened it, kept for a retry;
  // xrefAtFault tells whether a failure may be the cross-reference data's.
  void ReadWholeFile(bool rebuild, std::optional<std::u16string>& opened, bool& xrefAtFault);
  // The password and the structure walk, after the cross-reference data.
  void ReadRest(std::optional<std::u16string>& opened);
  // Whether a load failing with e is worth repeating over rebuilt cross-reference data.
  bool RepairMayHelp(const Exception& e) const;
  std::unique_ptr<TksPDFIndirectObject> ReadObjectAtExpecting(int32_t expectedNumber);
  void ReadStreamDataFor(TksPDFIndirectObject& object, TksPDFStreamObject& stream);
  // Fills TksLoadState::ObjectStarts from the entries.
  void NoteObjectStarts();
  std::optional<int64_t> ResolveStreamLength(TksPDFObject* value);
  void ReadSectionChain(int64_t offset, bool isStream);
  // Whether the entries place object number now in object stream streamNumber.
  bool InObjectStream(int32_t number, int64_t streamNumber) const;
  uint32_t xrefSections_ = 0;  // sections applied so far; stamps each entry
  // (number << 32 | generation) of objects a newer section freed or gave another generation:
  // references to them lead nowhere.
  std::unordered_set<uint64_t> replacedGenerations_;
  std::array<int32_t, rfCount> repeatedFindings_{};
  // The entry in force for a number: of the two lists, the one its later section gave.
  void EntryInForce(int32_t number, const TksXRefItem*& table, const TksXRefStmItem*& stream) const;
  void ApplyNeedAppearances(uint8_t mode);
  // ESaveError when the file the document was read from is no longer what was read.
  void CheckSourceUnchanged() const;
  // EReadError when the source changed (or was cut short) while it was being read: what
  // was read may mix two versions of the file, or zeros where its end was.
  void CheckSourceReadWhole() const;
  // Drops what a failed load was reading with.
  void EndFailedLoad();
  // The writer of a save reads the document's state and reports through its events.
  friend class TksDocumentWriter;
};
