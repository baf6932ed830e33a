// SPDX-License-Identifier: GPL-3.0-or-later
// Every text the window shows, in one table. Both windows draw these and no
// other user-visible strings; the drive facts and counts are built from them
// in drive_facts.h.
#pragma once

#include <string>
#include <string_view>

namespace form::texts {

// Captions.
inline constexpr std::u16string_view kWindowCaption = u"Osmik Data Lumbra V1.0";
// The title of every plain message box.
inline constexpr std::u16string_view kApplicationTitle = u"Lumbra";
inline constexpr std::u16string_view kScanIdle = u"Disk Scan";       // btnScan as the window opens
inline constexpr std::u16string_view kScanStop = u"Stop Scan";       // btnScan during a record walk
inline constexpr std::u16string_view kScanAgain = u"Scan Disk";      // btnScan after a run
inline constexpr std::u16string_view kRecoverIdle = u"Lumbra File";  // btnRecover as the window opens
inline constexpr std::u16string_view kRecoverStop = u"停止恢复";     // btnRecover during a recovery
inline constexpr std::u16string_view kRecoverAgain = u"恢复文件";    // btnRecover after a recovery
inline constexpr std::u16string_view kSelectAll = u"Select All";
inline constexpr std::u16string_view kOldName = u"Old FileName Save";
inline constexpr std::u16string_view kAutoName = u"Auto FileName";
inline constexpr std::u16string_view kSeek = u"Seek";
inline constexpr std::u16string_view kDriveTitle = u"Drive Information";
// The drive list's right-click menu: its one item.
inline constexpr std::u16string_view kDeepScanItem = u"Deep Scan";

// Initial label texts.
inline constexpr std::u16string_view kDriveNameUnknown = u"DriveName: unknown";
inline constexpr std::u16string_view kSerialUnknown = u"SN:   Unknown";
inline constexpr std::u16string_view kSizeUnknown = u"Size:  Unknown";
inline constexpr std::u16string_view kRecordCountNone = u"File QTY:   0";
inline constexpr std::u16string_view kMftSizeUnknown = u"MFT大小: 未知";
inline constexpr std::u16string_view kMftLocationUnknown = u"MFT位置: 未知";
inline constexpr std::u16string_view kSaveFolderTitle = u"文件保存路径:";
inline constexpr std::u16string_view kDriveListTitle = u"NTFS格式磁盘列表:";
inline constexpr std::u16string_view kDeletedCountInitial = u" Deleted QTY:   0";
inline constexpr std::u16string_view kDeletedCountStart = u"Deleted QTY: 0";  // when a scan starts

// Drive facts and counts: the prefix, then the value (drive_facts.h).
inline constexpr std::u16string_view kDriveNamePrefix = u"Driver Name: ";
inline constexpr std::u16string_view kSerialPrefix = u"SN";
// What the drive list's probe shows of the drive it probed.
inline constexpr std::u16string_view kProbeNamePrefix = u"Name: ";
inline constexpr std::u16string_view kProbeSerialPrefix = u"SN: ";
inline constexpr std::u16string_view kSizePrefix = u"Size : ";
inline constexpr std::u16string_view kSizeSuffix = u" MB";
inline constexpr std::u16string_view kMftLocationPrefix = u"MFT位置 : 0x";
inline constexpr std::u16string_view kMftSizePrefix = u"MFT大小 : ";
inline constexpr std::u16string_view kMftSizeSuffix = u" Byte";
// After the MFT size when damaged first records were read from the $MFTMirr.
inline constexpr std::u16string_view kMftFromMirrorSuffix = u" (MFTMirr)";
inline constexpr std::u16string_view kRecordCountPrefix = u"File QTY : ";
inline constexpr std::u16string_view kDeletedCountPrefix = u"Deleted QTY：";

// Results list column headers.
inline constexpr std::u16string_view kColumnHeaders[6] = {u"N",    u"FileName",    u"Type",
                                                          u"Size", u"Create Date", u"Update Date"};

// Messages.
inline constexpr std::u16string_view kSelectDrive = u" Please select a disk drive in the upper left corner！";
inline constexpr std::u16string_view kScanDone =
    u"When the scan is complete, check the file and click Lumbra file!";
inline constexpr std::u16string_view kScanEmpty =
    u"Scan completed, no deleted file records found, please select another drive to try scanning！";
inline constexpr std::u16string_view kCheckFile = u"Please check the file you want to recover!";
inline constexpr std::u16string_view kRecoverDone = u"文件数据恢复完成！";
// Second line of the closing message when files were not written:
// "N of M files could not be written."
inline constexpr std::u16string_view kNotWrittenOf = u" of ";
inline constexpr std::u16string_view kNotWrittenTail = u" files could not be written.";
// The recovery's volume did not open at all.
inline constexpr std::u16string_view kSourceDidNotOpen = u"The scanned volume could not be opened: ";
inline constexpr std::u16string_view kOutputOnSource =
    u"The output folder is on the drive being recovered. Writing there can overwrite the deleted files. "
    u"Continue?";
// A scan that could not read the drive's MFT offers the deep scan; ends
// with a full-width question mark (U+FF1F), as the update's question does.
inline constexpr std::u16string_view kDeepScanQuestion =
    u"The MFT of this disk cannot be read. Deep Scan reads the whole disk for deleted file records and can "
    u"take a long time. Whether to deep scan the whole disk？";
inline constexpr std::u16string_view kFolderCannotOpen = u"The folder %1 cannot be opened.";
inline constexpr std::u16string_view kDriveCannotOpen = u"The drive %1 cannot be opened.";

// The update check.
inline constexpr std::u16string_view kUpdateTitle = u"Information";
inline constexpr std::u16string_view kUpdateQuestion =
    u"New version, update version does not affect the software license,can be assured to upgrade."
    u"Whether to update to the latest version？";
inline constexpr std::u16string_view kWaitCaption = u"Now Wait...";
inline constexpr std::u16string_view kWaitMessage = u"Updating version，Please wait a moment...";

// The two buttons of every question (form/question.h).
inline constexpr std::u16string_view kYesButton = u"&Yes";
inline constexpr std::u16string_view kCancelButton = u"Cancel";

// "%1" in a template replaced by value.
std::u16string Fill(std::u16string_view pattern, std::u16string_view value);

}  // namespace form::texts
