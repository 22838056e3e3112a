#pragma once
// The texts the window shows, exactly as the users know them.

namespace quillon::texts {

inline constexpr const char* kRuleLine =
    "======================================================";
inline constexpr const char* kScanStarted = "开始扫描!";
inline constexpr const char* kScanClosing =
    "扫描结束,请联系软件客服将扫描加密文件发送过去进行分析数据恢复情况";
inline constexpr const char* kMissingInput = "请填写数据源以及保存路径信息！";
inline constexpr const char* kDone = "完成！";
inline constexpr const char* kFragmentsPrefix = "碎片：";
inline constexpr const char* kInitialStatus = "文件数量：";
inline constexpr const char* kSourceChosenPrefix = "扫描存储介质: ";
inline constexpr const char* kDestinationChosenPrefix = "数据库碎片保存路径为: ";

// The log line after a scan that met unreadable places: "无法读取 N 字节（共 M 处），
// 已按零处理；其余数据均已扫描。"
inline constexpr const char* kUnreadablePrefix = "无法读取 ";
inline constexpr const char* kUnreadableBytes = " 字节（共 ";
inline constexpr const char* kUnreadableRanges = " 处），已按零处理；其余数据均已扫描。";
// The same after a scan that did not reach the end of the source (stopped, or the source
// was lost): "无法读取 N 字节（共 M 处），已按零处理。"
inline constexpr const char* kUnreadableRangesBeforeEnd = " 处），已按零处理。";

// The log line after a stop: "扫描已停止于第 X 字节（共 Y 字节，Z%）；之后的数据没有扫描。"
// (stopped at byte X of Y, Z%; what follows was not scanned).
inline constexpr const char* kStoppedPrefix = "扫描已停止于第 ";
inline constexpr const char* kStoppedOf = " 字节（共 ";
inline constexpr const char* kStoppedBytes = " 字节，";
inline constexpr const char* kStoppedEnd = "%）；之后的数据没有扫描。";

// The log line after a failed scan: where the unfinished file stays; a file that was at
// the output path before is unchanged. "未完成的扫描文件保留为: PATH"
inline constexpr const char* kPartialKeptPrefix = "未完成的扫描文件保留为: ";

// Shown by Windows beside the program when the system is shut down during a scan.
inline constexpr const char* kShutdownBlockReason = "正在扫描，请先停止扫描再关机，以免碎片文件不完整！";

// The source menu.
inline constexpr const char* kOpenImageCaption = "打开磁盘镜像";

// The toolbar.
inline constexpr const char* kRecBtnCaption = "选择磁盘";
inline constexpr const char* kSaveBtnCaption = "保存文件";
inline constexpr const char* kStartCaption = "开始扫描";
inline constexpr const char* kStopCaption = "停止扫描";
inline constexpr const char* kRecoverCaption = "恢复数据";

// The recover command's log lines.
inline constexpr const char* kRecoveryStarted = "开始恢复数据!";
inline constexpr const char* kRecoveryMissingSource = "请先选择要恢复的磁盘或镜像文件！";
// "读取存储介质: SRC，恢复数据保存到: OUTDIR"
inline constexpr const char* kRecoveryReadingPrefix = "读取存储介质: ";
inline constexpr const char* kRecoveryReadingInto = "，恢复数据保存到: ";
// "已读取 N 字节，找到 M 个碎片，正在解析数据库..."
inline constexpr const char* kRecoveryReadPrefix = "已读取 ";
inline constexpr const char* kRecoveryReadBytes = " 字节，找到 ";
inline constexpr const char* kRecoveryReadFragments = " 个碎片，正在解析数据库...";
// After a stop while the source was read: what was read is decoded.
inline constexpr const char* kRecoveryReadStopped = "读取已停止，只解析已读取的部分。";
// "恢复完成：N 个数据库，M 张表，R 行数据，保存在: OUTDIR"
inline constexpr const char* kRecoveryDonePrefix = "恢复完成：";
inline constexpr const char* kRecoveryStoppedPrefix = "恢复已停止，目前找到的数据：";
inline constexpr const char* kRecoveryDatabases = " 个数据库，";
inline constexpr const char* kRecoveryTables = " 张表，";
inline constexpr const char* kRecoveryRows = " 行数据，保存在: ";
inline constexpr const char* kRecoveryReportPrefix = "恢复报告: ";
// After the done line, when the catalog lists tables of which no page was found:
// "未找到的表（目录中有，但没有找到它的任何页）: A, B"
inline constexpr const char* kRecoveryLostTablesPrefix =
    "未找到的表（目录中有，但没有找到它的任何页）: ";
// A table the output refused (the others are written); its name and the cause follow.
inline constexpr const char* kRecoveryTableNotWritten = "未能完整写出的表 (table not written whole): ";
inline constexpr const char* kRecoveryReportNotOpened = "无法自动打开恢复报告，请用浏览器打开上面的文件。";

// Label1, the instructions: twelve lines, the odd ones empty. The fifth step is the
// toolbar's fifth button, which turns a scan's result into tables on this computer.
inline constexpr const char* kInstructionLines[] = {
    "",
    "第一步:选择磁盘,选择需要扫描的分区或镜像文件.",
    "",
    "第二步:保存文件,选择一个存放扫描结果的位置,输入文件名之后保存.",
    "",
    "第三步:开始扫描,等待扫描进度结束.",
    "",
    "第四步:扫描后的文件是加密状态需要将文件发送我们进行解析恢复您所需要的数据.",
    "",
    "第五步:恢复数据,选择保存位置,打开恢复报告.",
    "",
    "请以管理员权限运行此程序.",
};

// Precedes the vendor's technical-support telephone number in its link.
inline constexpr const char* kSupportTelephonePrefix = "技术支持电话:";

// The question before a scan whose output would lie on the device it scans.
inline constexpr const char* kOutputOnSourceDevicePrefix = "保存文件 \"";
inline constexpr const char* kOutputOnSourceDeviceMiddle = "\" 位于要扫描的磁盘 ";
inline constexpr const char* kOutputOnSourceDeviceEnd =
    " 上。写入它会覆盖这个磁盘的空闲空间，而要恢复的数据可能就在那里。"
    "请把文件保存到另一个磁盘。\n\n仍要继续扫描吗？";

}  // namespace quillon::texts
