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

}  // namespace quillon::texts
