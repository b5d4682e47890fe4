// Every user-visible text of the engine, looked up by identifier where it is used:
// one block per unit. In each block the fixed texts come first: callers and users
// match them word for word, so they stay exactly as they are, misspellings
// ("Illeagal") and stray capitals included, and stay even where nothing raises them
// yet. The project's own texts follow; they say what happened and what was done.
// ksFormat checks each text against its arguments when the program is compiled.
#pragma once

namespace ksres {
// Values, lists and byte streams (objects/, base/, compat/)
// - fixed texts
inline constexpr const char* SInvalidID = "Invalid unique ID (%d)";
inline constexpr const char* SListIndexError = "List index out of bounds (%d)";
inline constexpr const char* SIndexOutOfBounds = "Index Out Of Bounds!";
inline constexpr const char* SInvalidStream = "Invalid Stream! Cannot create with null stream";
inline constexpr const char* SWriteOnlyRead = "A write-only filter cannot read";
// - our own texts
inline constexpr const char* SReadOnlyWrite = "A read-only filter cannot write";
inline constexpr const char* SStreamReadShort = "Stream read error";
inline constexpr const char* SStreamWriteShort = "Stream write error";
inline constexpr const char* SStreamSizeFixed = "Stream size cannot be changed";
inline constexpr const char* SCannotOpenFile = "Cannot open file \"%s\". %s";
inline constexpr const char* SCannotResizeFile = "Cannot resize file \"%s\". %s";
}  // namespace ksres

namespace ksres {
// Tokenizer and object parser (parse/)
// - fixed texts
inline constexpr const char* SStringReadError = "Error reading PDF string (%s)";
inline constexpr const char* SArrayReadError = "Error reading PDF array (%s)";
inline constexpr const char* SNameReadError = "Error reading PDF name string (%s)";
inline constexpr const char* SDictionaryReadError = "Error reading PDF dictionary (%s)";
inline constexpr const char* SBooleanError = "Expected boolean (%s) object";
inline constexpr const char* SNullObjectError = "Expected PDF null object";
inline constexpr const char* SStreamReadError = "Error reading PDF stream";
inline constexpr const char* SEndStreamError = "Expected PDF endstream";
inline constexpr const char* SInvalidObjectNo = "Invalid object number";
inline constexpr const char* STrailerError = "Error reading PDF trailer";
inline constexpr const char* SOffsetError = "Error reading document. Unable to read offset";
inline constexpr const char* SInvalidHeader = "Invalid PDF Header (%s)";
inline constexpr const char* SUnsupportedVersion = "Unsupported PDF Version (%s)";
inline constexpr const char* SInvalidPDFFile = "Invalid PDF File";
inline constexpr const char* SInvalidInteger = "'%s' is not a valid integer value";
inline constexpr const char* SUnexpectedStreamType = "Unexpected Stream Type";
inline constexpr const char* SEndOfData = "end of data";
// - our own texts
inline constexpr const char* SNestingTooDeep = "PDF objects nested deeper than %d levels";
inline constexpr const char* SInvalidGeneration = "Invalid generation number (%s)";
}  // namespace ksres

namespace ksres {
// Filters and codecs (codec/)
// - fixed texts
inline constexpr const char* SUnsupportedFilterName = "Unsupported filter (%s)";
inline constexpr const char* SUnsupportedFilter = "Unsupported filter";
inline constexpr const char* SUnexpectedFilterObject = "Unexpected filter object, found (%s)";
inline constexpr const char* SEndOfDataMarkerWrong = "EndOfData marker is wrong";
inline constexpr const char* SIllegalCharacter = "Illeagal character within stream";  // misspelt on purpose: callers match it
inline constexpr const char* SZInappropriate = "\"z\" found at inappropriate position";
inline constexpr const char* SSingleFinalCharacter = "Single Final Character";
inline constexpr const char* SRLEEndMarkerWrong = "EndOfData Marker is wrong";  // capital M on purpose
inline constexpr const char* SRLEPrematureEnd = "Premature EndOfData Marker found";
inline constexpr const char* SRLEUnexpectedEOF = "Unexpected EndOfFile found";
inline constexpr const char* SImproperPNG = "Improper PNG algorithm tag in stream";
// - our own texts
inline constexpr const char* SDecodedTooLarge = "Decoded data exceed the limit of %s bytes";
inline constexpr const char* SDecodeBudgetSpent =
    "Decoded stream data of this file exceed %s bytes in all, the most a file of %s bytes may decode to";
inline constexpr const char* SLZWInvalidFirstCode = "Invalid LZW code (%d) at the start of the data";
inline constexpr const char* SPredictorColumns = "Invalid /Columns (%d) for a PNG predictor";
inline constexpr const char* SPredictorUnsupported = "Unsupported predictor (%d) in cross-reference stream";
}  // namespace ksres

namespace ksres {
// zlib (codec/)
// - fixed texts
inline constexpr const char* SInvalidZStreamOp = "Invalid ZStream operation!";
inline constexpr const char* SZNeedDictionary = "need dictionary";
inline constexpr const char* SZStreamEnd = "stream end";
inline constexpr const char* SZFileError = "file error";
inline constexpr const char* SZStreamError = "stream error";
inline constexpr const char* SZDataError = "data error";
inline constexpr const char* SZMemError = "insufficient memory";
inline constexpr const char* SZBufError = "buffer error";
// - our own texts
inline constexpr const char* SZVersionError = "incompatible version";
}  // namespace ksres

namespace ksres {
// Security handler (crypt/)
// - fixed texts
inline constexpr const char* SInvalidPermission = "Invalid permission in encryption dictionary";
inline constexpr const char* SInvalidFileId = "Invalid FileId.";
inline constexpr const char* SInvalidOwnerKey = "Invalid Owner Key.";
inline constexpr const char* SInvalidUserKey = "Invalid User Key.";
inline constexpr const char* SRC4InvalidKeyLength = "RC4: Invalid key length";
inline constexpr const char* SCannotChangeEncryption = "User cannot change encryption settings";
// - our own texts
inline constexpr const char* SUnsupportedRevision = "Unsupported revision of the security handler (/R %d)";
inline constexpr const char* SAESPaddingWrong =
    "Object %d: its AES-encrypted data end in a wrong padding; they are kept as decrypted";
inline constexpr const char* SAESPaddingWrongMore = "%d more objects had AES-encrypted data with a wrong padding";
inline constexpr const char* SPermsMismatch =
    "The encryption dictionary's /Perms does not match its /P; the permissions are taken from /P";
inline constexpr const char* SUserPasswordUnknown =
    "The user password of this file is not known (the owner password opened it): give the user password to change "
    "its encryption";
inline constexpr const char* SUnsupportedSecurityHandler = "Unsupported security handler (%s)";
inline constexpr const char* SUnsupportedCryptMethod = "Unsupported encryption method (%s)";
inline constexpr const char* SUnsupportedEncryptionVersion = "Unsupported encryption version (/V %d)";
inline constexpr const char* SInvalidKeyLength = "Invalid encryption key length (%d bits)";
inline constexpr const char* SMetadataEncryptedAt40Bits =
    "The source leaves its XMP metadata unencrypted, which 40-bit encryption cannot do: they are encrypted";
}  // namespace ksres

namespace ksres {
// Opening a file and reading its cross-reference data and objects (document/)
// - fixed texts
inline constexpr const char* SFileNotFound = "%s File Not Found";
inline constexpr const char* SReadingXRefTable = "Reading Cross-Reference Table";
inline constexpr const char* SReadingXRefStream = "Reading Cross-Reference Stream Table";
inline constexpr const char* SUnexpectedObject = "Unexpected PDF object encountered";
inline constexpr const char* SFileCorrupted = "File is corrupted";
inline constexpr const char* SUnexpectedError = "Unexpected Error";
inline constexpr const char* SInvalidObjectNumberInPDF = "Invalid Object number in PDF (%d)";
// - our own texts
inline constexpr const char* SIsDirectory = "%s is a directory";
inline constexpr const char* SNotRegularFile = "%s is not a regular file";
inline constexpr const char* SNoEndstream = "Stream data of object %d have no endstream";
inline constexpr const char* SStreamDataUnreadable = "Stream data of object %d could not be read; the stream is kept empty";
inline constexpr const char* SLengthRepaired =
    "Stream data of object %d do not end where its /Length %lld says; the %llu bytes up to endstream were taken";
inline constexpr const char* SLengthMissing =
    "Stream data of object %d have no usable /Length; the %llu bytes up to endstream were taken";
inline constexpr const char* SLengthRepairedMore =
    "%d more streams had a wrong or missing /Length; their data were taken up to endstream";
inline constexpr const char* SXRefLoop =
    "Cross-reference sections loop back to offset %lld; the chain of older sections ends there";
inline constexpr const char* SXRefPrevIgnored =
    "/Prev offset %lld points at neither a cross-reference table nor a stream; it is ignored";
inline constexpr const char* SOtherGeneration =
    "Reference %d %d R names object %d by another generation (%d); it is taken to mean that object";
inline constexpr const char* SOtherGenerationMore =
    "%d more references name an object by another generation; each is taken to mean that object";
inline constexpr const char* SXRefSubsection = "Invalid cross-reference subsection header (%s)";
inline constexpr const char* SXRefEntry = "Invalid cross-reference entry for object %lld";
inline constexpr const char* SXRefObjectNumber = "Object number %lld in the cross-reference data is beyond what the file can hold";
inline constexpr const char* SXRefWidths = "Invalid /W field widths in cross-reference stream";
inline constexpr const char* SXRefIndex = "Invalid /Index in cross-reference stream";
inline constexpr const char* SXRefSize = "Invalid /Size in cross-reference stream";
inline constexpr const char* SXRefShort = "Cross-reference stream data hold %lld entries where %lld are announced";
inline constexpr const char* SXRefNotStream = "Object at offset %lld is not a cross-reference stream";
inline constexpr const char* SXRefPrev = "Invalid /Prev or /XRefStm offset (%s)";
inline constexpr const char* SObjStmUnreadable = "Object stream %d could not be read; the objects it holds are missing";
inline constexpr const char* SObjStmInvalid = "Invalid object stream %d (%s)";
inline constexpr const char* SObjStmTooLarge =
    "Object stream %d decodes to more than %s bytes, more than an object stream may hold";
inline constexpr const char* SXRefStreamTooLarge =
    "Cross-reference stream at offset %lld decodes to more than %s bytes, more than a cross-reference stream may hold";
inline constexpr const char* SObjectNotAtOffset =
    "Object %d is not at offset %lld where the cross-reference data place it; the file is damaged";
inline constexpr const char* SObjectLeftOut =
    "Object %d is not where the cross-reference data place it; it is left out";
inline constexpr const char* SXRefNoEntry =
    "Object %d has no entry in the cross-reference data, whose chain of sections is broken";
inline constexpr const char* SRepaired = "The file was damaged and has been repaired";
inline constexpr const char* SRepairCause = "Its cross-reference data could not be used: %s";
inline constexpr const char* SRepairHeaderShift = "%lld bytes before the header were skipped";
inline constexpr const char* SRepairRebuilt =
    "The cross-reference data were rebuilt by scanning the file: %d objects found, %d of them object streams";
inline constexpr const char* SRepairRootFromCatalog =
    "No trailer names the document catalog; object %d, found by its /Type, was taken";
inline constexpr const char* SRepairSkippedObjects = "%d objects found by the scan could not be read and were left out";
inline constexpr const char* SRepairFreed =
    "%d objects found by the scan are marked free by a later cross-reference table and were left out";
inline constexpr const char* SRepairNoCatalog = "No document catalog was found while the file was scanned for objects";
inline constexpr const char* SRepairEncryptFound =
    "No trailer names the encryption dictionary; object %d, found by its /Filter /Standard, was taken";
inline constexpr const char* SRepairNoFileID =
    "The file is encrypted, but its identifier (/ID), from which its key is made, was lost with its trailer: it cannot be decrypted";
inline constexpr const char* SRepairNoPages =
    "No page was found while the file was scanned for objects: the damaged file holds no document to convert";
inline constexpr const char* SNotEncryptionDictionary = "The /Encrypt entry is not an encryption dictionary";
inline constexpr const char* SPasswordNeeded =
    "The document is encrypted and was not opened: a valid password is needed";
inline constexpr const char* SSourceChangedWhileRead = "The file \"%s\" was changed while it was read";
}  // namespace ksres

namespace ksres {
// Structure walk: pages, destinations, outlines, forms (document/)
// - fixed texts
inline constexpr const char* STraversingPages = "Traversing Pages...";
inline constexpr const char* SProcessingDests = "Processing Destinations";
inline constexpr const char* SProcessingAnnots = "Processing Annotations...";
inline constexpr const char* SAcroFormsProcessed = "AcroForms Processed";
inline constexpr const char* SDocumentReadComplete = "Document read complete. Pages read = %d";
inline constexpr const char* SProcessingNameTree = "Processing Name Tree...";
inline constexpr const char* SReadingOutlines = "Reading Outlines...";
inline constexpr const char* SExpectedPageRefInOutline =
    "Expected Page Indirect Reference in Outline Destination!";
inline constexpr const char* SStreamInsideArray = "Stream Object found inside Array!";
inline constexpr const char* SInvalidPage = "Invalid page number (%d)";
// - our own texts
inline constexpr const char* SCatalogNotFound = "Document catalog (object %d) not found";
inline constexpr const char* SCatalogNotDictionary = "Document catalog (object %d) is not a dictionary";
inline constexpr const char* SExpectedReference = "Expected an indirect reference in %s";
inline constexpr const char* SPageTreeLoop = "Page tree refers back to object %d";
inline constexpr const char* SPageTreeTooDeep = "Page tree nested deeper than %d levels";
inline constexpr const char* SPageTreeRootMissing =
    "Page tree root (object %d) is missing or is neither a page nor a page tree node";
inline constexpr const char* SPageTreeKidMissing =
    "Page tree entry (object %d) is missing or not a dictionary; it is skipped";
inline constexpr const char* SPageTreeKidUnknown =
    "Page tree entry (object %d) is neither a page nor a page tree node; it is skipped";
inline constexpr const char* SPageTreeKidUntyped = "Page tree entry (object %d) has no /Type; it is read as a %s";
inline constexpr const char* SPageTreeKidUntypedMore =
    "%d more page tree entries have no /Type; each is read as what its entries show";
inline constexpr const char* SNameTreeLoop = "Name tree refers back to object %d";
inline constexpr const char* SNameTreeTooDeep = "Name tree nested deeper than %d levels";
inline constexpr const char* SNamedDestinationUnusable =
    "Named destination \"%s\" is not a destination; links to it keep the name";
inline constexpr const char* SFieldTreeLoop = "Form field tree refers back to object %d";
inline constexpr const char* SFieldTreeTooDeep = "Form fields nested deeper than %d levels";
inline constexpr const char* SFieldListedTwice = "Form field (object %d) is listed more than once; it is read once";
inline constexpr const char* SInfoNotDictionary = "Document information (object %d) is not a dictionary; it is left out";
inline constexpr const char* SOutlineLoop = "Outline item (object %d) occurs twice; the outline is cut there";
inline constexpr const char* SOutlineTooDeep = "Outline nested deeper than %d levels; the deeper items are left out";
inline constexpr const char* SOutlineNotDictionary = "Outline item (object %d) is not a dictionary; the outline is cut there";
inline constexpr const char* SFieldValueNotDecoded = "Value of form field %s not decoded: %s";
inline constexpr const char* SFieldValueTooLarge = "Value of form field %s decodes to more than %s bytes";
inline constexpr const char* SVersionLacksFeature = "PDF %s does not support %s (PDF %s)";
inline constexpr const char* SVersionLacksFeatureOnPages = "PDF %s does not support %s (PDF %s), used on %s %s";
}  // namespace ksres

namespace ksres {
// Saving (write/)
// - fixed texts
inline constexpr const char* SSavingFile = "Saving File %s";
inline constexpr const char* SSaveComplete = "Save Complete";
inline constexpr const char* SBuildingOutlines = "Building Outlines...";
inline constexpr const char* SBuildingObjects = "Building Objects...";
inline constexpr const char* SWritingPages = "Writing Pages";
inline constexpr const char* SWritingXRefTable = "Writing Cross-Reference Table";
// - our own texts
inline constexpr const char* SOutlineDestsMissing =
    "Bookmarks kept without their destination, which names no page of the document: %d";
inline constexpr const char* SCannotCreateFile = "Cannot create file \"%s\". %s";
inline constexpr const char* SCannotWriteFile = "Cannot write to file \"%s\". %s";
inline constexpr const char* SDocumentIncomplete =
    "The document was not read completely and cannot be saved";
inline constexpr const char* SSourceChanged =
    "The file \"%s\" was changed after it was read; open it again before saving";
inline constexpr const char* SOutputNameEmpty = "The output file name is empty";
inline constexpr const char* SOutputReadOnly = "%s is read-only; it was not replaced";
inline constexpr const char* SXmpUnparsed =
    "The XMP metadata could not be read as XML; its pdf:PDFVersion was left as it was";
inline constexpr const char* SXmpFiltered =
    "The XMP metadata is stored with filters a save does not redo; its pdf:PDFVersion was left as it was";
inline constexpr const char* SReadBackFailed = "The written file did not read back correctly: %s";
inline constexpr const char* SReadBackNoObject = "object %d is not at offset %s";
inline constexpr const char* SReadBackBadObject = "object %d: %s";
inline constexpr const char* SReadBackBadEntry = "cross-reference entry %d is malformed";
inline constexpr const char* SReadBackEntryOffset = "cross-reference entry %d gives offset %s, the object was written at %s";
inline constexpr const char* SReadBackCount = "%s: %s read back, %s expected";
inline constexpr const char* SStrictVersionRefused =
    "Not converted: PDF %s does not support what the document holds";
inline constexpr const char* SOffsetTooLarge =
    "The output is too large: offset %s does not fit the ten digits of a cross-reference table";
}  // namespace ksres

namespace ksres {
// Page operations, fonts and drawn content (content/)
// - fixed texts
inline constexpr const char* SInvalidPageRange = "Invalid page range (%s)";
inline constexpr const char* SInsertingPageResource = "Error inserting page resource";
inline constexpr const char* SUnexpectedContentObject = "Unexpected content object for page %d";
inline constexpr const char* SUnsupportedFont = "Unsupported Font (%s)";
inline constexpr const char* SUnsupportedImage = "Unsupported image format (%s)";
inline constexpr const char* SInvalidSizeValue = "'%s' is not a valid integer value";
// - our own texts
inline constexpr const char* SPageWithoutMediaBox = "Page %d has no /MediaBox; it is taken as 612 x 792 points";
inline constexpr const char* SPageResourcesReplaced =
    "The /Resources of page %d are not a dictionary; a new dictionary takes their place";
inline constexpr const char* SResourceCategoryReplaced =
    "The %s entry of a page's resources is not a dictionary; a new dictionary takes its place";
inline constexpr const char* SPageContentsMissing =
    "The /Contents of page %d name no object; the new content takes their place";
inline constexpr const char* SChangesNotPermitted =
    "The document does not permit changes without its owner's password; its pages were changed all the same "
    "(readers that respect its permissions may refuse them; the owner's password lifts the restriction)";
inline constexpr const char* SContentOperatorsBroken =
    "The content operators do not parse at line %lld, column %lld: %s; no page was changed";
inline constexpr const char* SPageContentTooLarge =
    "A content stream of page %d decodes to more than %s bytes";
inline constexpr const char* SPageContentNotCounted =
    "The content of page %d cannot be read to pair its q and Q (%s); it is closed off as it stands";
inline constexpr const char* SInvalidTransitionDuration =
    "Invalid transition duration (%s): it must be a finite number of seconds, 0 or more";
inline constexpr const char* SNumberNotFinite = "A number that is not finite (%s) cannot be written into a PDF";
inline constexpr const char* SInvalidFloat = "'%s' is not a valid floating point value";
inline constexpr const char* SFontProgramDamaged = "The font program is damaged: %s";
inline constexpr const char* SFontSubstituted = "The font \"%s\" is not installed; \"%s\" is used in its place";
inline constexpr const char* SFontNotEmbeddable =
    "The font program of \"%s\" cannot be read (%s); the font is not embedded";
inline constexpr const char* SCompositeEmbedded =
    "Text beyond the Western character set is drawn with the glyph numbers of \"%s\", so its font program is embedded";
inline constexpr const char* SInvalidEmbedMode = "Invalid font embedding mode (%d): 0 none, 1 whole, 2 subset";
inline constexpr const char* SInvalidFontEncoding = "Invalid font encoding (%d): it must be 0-4";
inline constexpr const char* SMacExpertRefused =
    "The MacExpert encoding holds small capitals and fractions only; it cannot show ordinary text";
inline constexpr const char* SPDFDocRefused =
    "PDFDocEncoding is no font encoding; use WinAnsi, MacRoman or Standard";
inline constexpr const char* SStampFieldOutOfRange = "The template's %s is %d; it must be 0-%d";
inline constexpr const char* SFontSizeOutOfRange =
    "Invalid font size (%s): a size is a whole number of points, at least 1 and at most 10000";
inline constexpr const char* SStampFontSize = "Invalid font size (%s): it must be above 0 and at most 10000 points";
inline constexpr const char* SStampWithoutFont = "The stamp has no font to draw with";
inline constexpr const char* SStampKindUnknown = "Only text and picture templates can be applied";
inline constexpr const char* SStampWithoutPicture = "The picture stamp has no picture";
inline constexpr const char* SStampImageSize = "The picture stamp's width and height must be finite and 0 or more";
inline constexpr const char* SPictureUnreadable = "The picture \"%s\" cannot be used: %s";
inline constexpr const char* SPictureDamaged = "The picture \"%s\" is damaged; it was drawn as far as it could be read: %s";
inline constexpr const char* SStampCharactersDropped =
    "The font \"%s\" cannot show %d character(s) of the stamp; they were left out";
}  // namespace ksres
