// The state of the window's controls that behaviour depends on. The core reads and writes
// these exactly where the window's handlers read and write their controls; the Qt window
// binds its widgets to them, the command line sets them from its options.
#pragma once

#include <atomic>
#include <string>

namespace ravelin {

struct Tab1Controls {
  std::string edtDataStr = "......右键设置数据源(RIGHT CLICK TO CHOOSE DS )......";
  std::string edtbegin;      // first sector to scan
  std::string edtend;        // end sector of the scan
  std::string edtsecs;       // sectors per cluster
  std::string Edit2 = "1";   // file id of the pages to accept
  std::string edtmaxpageid;  // page-number limit, used while CheckBox1 is ticked
  bool chkfreespace = true;  // "只扫描空闲簇(FREE SPACE ONLY)"
  bool chkfreespaceEnabled = false;
  bool CheckBox1 = false;  // "开始页面号小于"
  std::string label5;      // file-system name of the chosen partition
  bool btnscanEnabled = true;
  bool optionsEnabled = true;        // the scan option controls, disabled while a scan runs
  bool edtmaxpageidEnabled = false;  // follows CheckBox1 (CheckBox1Click)
};

// Filter of list II: radio buttons and their edits.
struct Tab2Controls {
  bool rb1 = false;  // "开始页面号范围"
  bool rb2 = false;  // "含如ID的碎片"
  bool rb3 = false;  // "全部显示"
  std::string Edit1 = "edtbeginid";
  std::string edtendid = "edtendid";
  std::string edtpgid = "edtpgid";
  std::string edtlen = "5";        // "往下范围": rows to look ahead
  std::string edtpagelen = "128";  // "页码范围": page window
};

struct Tab3Controls {
  bool chkauto = true;  // "自动模式"
  // Disabled while an analysis runs; the "anlys" job enables them again from its thread.
  std::atomic<bool> Button1Enabled{true};  // "分析该碎片(FILTER)"
  std::atomic<bool> chkautoEnabled{true};
};

struct Tab4Controls {
  bool Button2Enabled = false;  // "组合MDF(CREATE MDF)"
  bool Button5Enabled = false;  // "检查遗漏页(CHECK)"
  bool Button6Enabled = true;   // "查找遗漏碎片(SEARCH MORE)"
};

// The tab pages of PageControl1.
inline constexpr int kTabDataSource = 0;  // I
inline constexpr int kTabFragments = 1;   // II
inline constexpr int kTabAnalysis = 2;    // III
inline constexpr int kTabAssembly = 3;    // IV

struct Controls {
  int PageControl1 = kTabDataSource;  // the active tab page
  Tab1Controls tab1;
  Tab2Controls tab2;
  Tab3Controls tab3;
  Tab4Controls tab4;
};

}  // namespace ravelin
