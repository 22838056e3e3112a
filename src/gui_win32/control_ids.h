#pragma once
// The window's controls by their child-window identifiers, named as TMain names them.
// The toolbar buttons' identifiers are also their commands (WM_COMMAND). All lie above
// IDOK and IDCANCEL, which the dialog keys send.

namespace quillon::control_ids {

inline constexpr int kRzToolbar1 = 1001;
inline constexpr int kRecBtn = 1002;
inline constexpr int kSaveBtn = 1003;
inline constexpr int kButton2 = 1004;  // start the scan
inline constexpr int kButton1 = 1005;  // stop the scan
inline constexpr int kRecoverBtn = 1006;  // recover data
inline constexpr int kRzPanel1 = 1010;
inline constexpr int kLabel1 = 1011;
inline constexpr int kRzURLLabel1 = 1012;
inline constexpr int kRzURLLabel2 = 1013;
inline constexpr int kRzURLLabel3 = 1014;
inline constexpr int kMemo2 = 1015;
inline constexpr int kRzStatusBar1 = 1020;
inline constexpr int kGg = 1021;

// SegLabel is the first part of the status bar, not a window of its own.
inline constexpr int kSegLabelPart = 0;

}  // namespace quillon::control_ids
