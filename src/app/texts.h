#pragma once
// The texts the window and quillon-cli scan show, each in both languages: the Chinese ones
// exactly as the users know them, the English ones for every other system. docs/texts.md
// lists them all, and a test holds that list and this table together. "{NAME}" marks a part
// the program fills in (Fill in app/language.h).

#include "app/language.h"

namespace quillon::texts {

inline constexpr TText kRuleLine{"======================================================",
                                 "======================================================"};
inline constexpr TText kScanStarted{"开始扫描!", "Scan started!"};
inline constexpr TText kScanClosing{
    "扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况",
    "Scan finished. Please contact customer service and send them the encrypted scan file, "
    "so that they can see how much of the data can be recovered."};
inline constexpr TText kMissingInput{"请填写数据源以及保存路径信息！",
                                     "Please choose the data source and the save file first!"};
inline constexpr TText kDone{"完成！", "Done!"};
inline constexpr TText kFragments{"碎片：{N}", "Fragments: {N}"};
inline constexpr TText kInitialStatus{"文件数量：", "Files:"};
inline constexpr TText kSourceChosen{"扫描存储介质: {PATH}", "Source to scan: {PATH}"};
inline constexpr TText kDestinationChosen{"数据库碎片保存路径为: {PATH}",
                                          "The database fragments are saved to: {PATH}"};

// After a scan that met unreadable places; the second after one that did not reach the
// end of the source (stopped, or the source was lost).
inline constexpr TText kUnreadable{
    "无法读取 {N} 字节（共 {M} 处），已按零处理；其余数据均已扫描。",
    "{N} bytes could not be read (unreadable places: {M}) and were scanned as zeros; all other "
    "data was scanned."};
inline constexpr TText kUnreadableBeforeEnd{
    "无法读取 {N} 字节（共 {M} 处），已按零处理。",
    "{N} bytes could not be read (unreadable places: {M}) and were scanned as zeros."};

// After a stop: where, of how much, and that what follows was not scanned.
inline constexpr TText kStopped{
    "扫描已停止于第 {X} 字节（共 {Y} 字节，{Z}%）；之后的数据没有扫描。",
    "The scan stopped at byte {X} of {Y} ({Z}%); the data after it was not scanned."};

// After a failed scan: where the unfinished file stays; a file that was at the output path
// before is unchanged.
inline constexpr TText kPartialKept{"未完成的扫描文件保留为: {PATH}",
                                    "The unfinished scan file is kept as: {PATH}"};

// Shown by Windows beside the program when the system is shut down during a scan.
inline constexpr TText kShutdownBlockReason{
    "正在扫描，请先停止扫描再关机，以免碎片文件不完整！",
    "Scanning: please stop the scan before shutting down, or the fragment file stays "
    "incomplete!"};

// The source menu.
inline constexpr TText kOpenImageCaption{"打开磁盘镜像", "Open disk image"};

// The toolbar. The English captions are short: each button keeps the width of its
// Chinese caption.
inline constexpr TText kRecBtnCaption{"选择磁盘", "Disk"};
inline constexpr TText kSaveBtnCaption{"保存文件", "Save"};
inline constexpr TText kStartCaption{"开始扫描", "Start"};
inline constexpr TText kStopCaption{"停止扫描", "Stop"};
inline constexpr TText kRecoverCaption{"恢复数据", "Recover"};

// The recover command's log lines.
inline constexpr TText kRecoveryStarted{"开始恢复数据!", "Recovery started!"};
inline constexpr TText kRecoveryMissingSource{
    "请先选择要恢复的磁盘或镜像文件！", "Please choose the disk or image file to recover first!"};
inline constexpr TText kRecoveryReading{"读取存储介质: {SOURCE}，恢复数据保存到: {OUTDIR}",
                                        "Reading {SOURCE}; the recovered data goes to: {OUTDIR}"};
inline constexpr TText kRecoveryRead{
    "已读取 {N} 字节，找到 {M} 个碎片，正在解析数据库...",
    "Read {N} bytes, fragments found: {M}; decoding the databases..."};
// After a stop while the source was read: what was read is decoded.
inline constexpr TText kRecoveryReadStopped{"读取已停止，只解析已读取的部分。",
                                            "Reading stopped; only what was read is decoded."};
inline constexpr TText kRecoveryDone{
    "恢复完成：{D} 个数据库，{T} 张表，{R} 行数据，保存在: {PATH}",
    "Recovery finished (databases: {D}, tables: {T}, rows: {R}), saved in: {PATH}"};
inline constexpr TText kRecoveryStopped{
    "恢复已停止，目前找到的数据：{D} 个数据库，{T} 张表，{R} 行数据，保存在: {PATH}",
    "Recovery stopped; found so far (databases: {D}, tables: {T}, rows: {R}), saved in: {PATH}"};
inline constexpr TText kRecoveryReport{"恢复报告: {PATH}", "Recovery report: {PATH}"};
// After the done line, when the catalog lists tables of which no page was found.
inline constexpr TText kRecoveryLostTables{
    "未找到的表（目录中有，但没有找到它的任何页）: {TABLES}",
    "Tables not found (the catalog lists them, but none of their pages was found): {TABLES}"};
// A table the output refused (the others are written), with the cause.
inline constexpr TText kRecoveryTableNotWritten{
    "未能完整写出的表 (table not written whole): {TABLE}: {CAUSE}",
    "Table not written whole: {TABLE}: {CAUSE}"};
inline constexpr TText kRecoveryReportNotOpened{
    "无法自动打开恢复报告，请用浏览器打开上面的文件。",
    "The recovery report could not be opened; please open the file above in a browser."};

// Label1, the instructions, one text a line; the window puts an empty line before each.
// The fifth step is the toolbar's fifth button, which turns a scan's result into tables on
// this computer.
inline constexpr TText kInstructionLines[] = {
    {"第一步:选择磁盘,选择需要扫描的分区或镜像文件.",
     "Step 1: Disk: choose a partition or image file."},
    {"第二步:保存文件,选择一个存放扫描结果的位置,输入文件名之后保存.",
     "Step 2: Save: choose where the scan's result goes, type a file name and save."},
    {"第三步:开始扫描,等待扫描进度结束.", "Step 3: Start, and wait until the scan ends."},
    {"第四步:扫描后的文件是加密状态需要将文件发送我们进行解析恢复您所需要的数据.",
     "Step 4: The scanned file is encrypted: send it to us to "
     "recover the data you need."},
    {"第五步:恢复数据,选择保存位置,打开恢复报告.",
     "Step 5: Recover to a folder, open the report."},
    {"请以管理员权限运行此程序.", "Please run this program as administrator."},
};

// Precedes the vendor's technical-support telephone number in its link.
inline constexpr TText kSupportTelephonePrefix{"技术支持电话:", "Support telephone:"};

// The question before a scan whose output would lie on the device it scans.
inline constexpr TText kOutputOnSourceDevice{
    "保存文件 \"{PATH}\" 位于要扫描的磁盘 {DISK} 上。写入它会覆盖这个磁盘的空闲空间，"
    "而要恢复的数据可能就在那里。请把文件保存到另一个磁盘。\n\n仍要继续扫描吗？",
    "The save file \"{PATH}\" lies on {DISK}, the disk to be scanned. Writing it overwrites "
    "this disk's free space, where the data to be recovered may be. Please save the file on "
    "another disk.\n\nScan anyway?"};

// A scan or a recovery refused because another run, still running, writes the same file
// or folder: the lock file it holds is named too.
inline constexpr TText kOutputInUse{
    "\"{PATH}\" 正被另一个扫描或恢复使用（它持有锁 \"{LOCK}\"）。请等它结束后再试。",
    "\"{PATH}\" is in use by another scan or recover that is running now (it holds the lock "
    "\"{LOCK}\"). Wait for it to end, then try again."};

// Every text above, for the check that docs/texts.md lists them all as they are.
inline constexpr const TText* kAllTexts[] = {
    &kRuleLine, &kScanStarted, &kScanClosing, &kMissingInput, &kDone, &kFragments,
    &kInitialStatus, &kSourceChosen, &kDestinationChosen, &kUnreadable, &kUnreadableBeforeEnd,
    &kStopped, &kPartialKept, &kShutdownBlockReason, &kOpenImageCaption, &kRecBtnCaption,
    &kSaveBtnCaption, &kStartCaption, &kStopCaption, &kRecoverCaption, &kRecoveryStarted,
    &kRecoveryMissingSource, &kRecoveryReading, &kRecoveryRead, &kRecoveryReadStopped,
    &kRecoveryDone, &kRecoveryStopped, &kRecoveryReport, &kRecoveryLostTables,
    &kRecoveryTableNotWritten, &kRecoveryReportNotOpened, &kInstructionLines[0],
    &kInstructionLines[1], &kInstructionLines[2], &kInstructionLines[3], &kInstructionLines[4],
    &kInstructionLines[5], &kSupportTelephonePrefix, &kOutputOnSourceDevice, &kOutputInUse,
};

}  // namespace quillon::texts
