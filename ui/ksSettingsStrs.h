// The settings dialog's texts: captions, list items and messages.
#pragma once

namespace ksuistr {

inline constexpr const char* SSettingsCaption = "Document Settings and Preferences";
inline constexpr const char* SOK = "OK";
inline constexpr const char* SCancel = "Cancel";

// Tabs.
inline constexpr const char* SGeneral = "General";
inline constexpr const char* SSecurity = "Security";
inline constexpr const char* SView = "View";
inline constexpr const char* SEmail = "Email";
inline constexpr const char* SCompress = "Compress";

// General.
inline constexpr const char* SDocumentInformation = "Document Information";
inline constexpr const char* STitle = "Title:";
inline constexpr const char* SSubject = "Subject:";
inline constexpr const char* SAuthor = "Author:";
inline constexpr const char* SKeywords = "Keywords:";
inline constexpr const char* SCreator = "Creator:";
inline constexpr const char* SProducer = "Producer: ";
inline constexpr const char* SPDFVersion = "PDF Version:";
inline constexpr const char* SNoOfPages = "No. of Pages:";
inline constexpr const char* SOpenAfterSave = "Open After Save";

// Security.
inline constexpr const char* SEncryptDocument = "Encrypt Document ";
inline constexpr const char* SOwnerPassword = "Owner Password:";
inline constexpr const char* SConfirmOwnerPassword = "Confirm Owner Password:";
inline constexpr const char* SUserPassword = "User Password:";
inline constexpr const char* SConfirmUserPassword = "Confirm User Password:";
inline constexpr const char* SEncryptionLevel = " Encryption Level ";
inline constexpr const char* SUserPermissions = "User Permissions";
// In the order of the levels: RC4 at 40 and 128 bits, then AES.
inline constexpr const char* SEncryptionLevels[] = {"40 Bit", "128 Bit", "AES 128 Bit", "AES 256 Bit"};
inline constexpr const char* SPermissionItems[] = {"Print",     "Modify",        "Copy",
                                                   "Annotation", "Form Fill",     "Accessebility",
                                                   "Document Assembly", "High Resolution Printing"};

// View.
inline constexpr const char* SPageLayout = "Page Layout";
inline constexpr const char* SPageMode = "Page Mode";
inline constexpr const char* SPresentationMode = "Presentation Mode";
inline constexpr const char* SPageTransitionEffect = "Page Transition Effect:";
inline constexpr const char* SPageTransitionDuration = "Page Transition Duration:";
inline constexpr const char* SSecs = "Secs";
inline constexpr const char* SPresentationPageRange = "Presentation Page range";
inline constexpr const char* SAllPages = "All Pages";
inline constexpr const char* SPages = "Pages:";
inline constexpr const char* SPageRangeHint =
    "Enter page numbers and/or page ranges separated by commas. For example, 1,3,5-12";
inline constexpr const char* SViewerPreferences = "Viewer Preferences";
inline constexpr const char* SPageLayoutItems[] = {"None", "Single Page", "One Column", "Two Column Left",
                                                   "Two Column Right"};
inline constexpr const char* SPageModeItems[] = {"None", "Use Outlines", "Use Thumbs", "Full Screen",
                                                 "Use Attachments"};
inline constexpr const char* STransitionItems[] = {
    "None",          "Split Horizontal Inward", "Split Horizontal Outward", "Split Vertical Inward",
    "Split Vertical Outward", "Blinds Horizontal", "Blinds Vertical",       "Box Inward",
    "Box Outward",   "Wipe Left To Right",      "Wipe Bottom To Top",       "Wipe Right To Left",
    "Wipe Top To Bottom", "Dissolve",           "Glitter Left To Right",    "Glitter Top To Bottom",
    "Glitter Top-Left To Bottom-Right"};
inline constexpr const char* SViewerPreferenceItems[] = {"Hide Toolbars", "Hide Menu Bar",  "Hide Window UI",
                                                         "Fit Window",    "Center Window", "Display Document Title"};

// Email.
inline constexpr const char* SEmailAfterSave = "Email After Save";
inline constexpr const char* SHost = "Host:";
inline constexpr const char* SUserID = "UserID:";
inline constexpr const char* SPassword = "Password:";
inline constexpr const char* SFrom = "From:";
inline constexpr const char* STo = "To:";
inline constexpr const char* SCC = "CC:";
inline constexpr const char* SBCC = "BCC:";
inline constexpr const char* SMessage = "Message:";

// Compress.
inline constexpr const char* SCompressDocument = "Compress Document";
inline constexpr const char* SCompressionType = "Compression Type";
inline constexpr const char* SCompressionLevel = "Compression Level";
inline constexpr const char* SCompressionTypeItems[] = {"Flate", "Runlength"};
inline constexpr const char* SCompressionLevelItems[] = {"None", "Fastest", "Normal", "Maximum"};

// The read-only version text, by version.
inline constexpr const char* SVersionTexts[] = {"1.0 (Acrobat 1.x)", "1.1 (Acrobat 2.x)", "1.2 (Acrobat 3.x)",
                                                "1.3 (Acrobat 4.x)", "1.4 (Acrobat 5.x)", "1.5 (Acrobat 6.x)",
                                                "1.6 (Acrobat 7.x)", "1.7 (Acrobat 8++)", "2.0 (ISO 32000-2)"};

// Messages.
inline constexpr const char* SPasswordsDoNotMatch = "The %s Passwords do not match.\r\nPlease re-enter.";
inline constexpr const char* SOwnerOnly = "Only the owner can change the encryption settings";
inline constexpr const char* SOwner = "Owner";
inline constexpr const char* SUser = "User";
inline constexpr const char* SPasswordNotAnsi =
    "The %s Password holds characters that %s encryption cannot take: use only the characters of Windows-1252, "
    "or AES 256 Bit, which takes any.";
inline constexpr const char* SInvalidDuration = "The page transition duration is not a number of seconds: %s";

}  // namespace ksuistr
