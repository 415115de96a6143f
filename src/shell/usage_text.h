// The usage text `lbl1` that `Label7` shows in place of the picture: the four steps.
#pragma once

namespace ravelin::shell {

inline constexpr char kUsageText[] =
    "恢复步骤\n"
    "1. 在数据源框上点右键，选择要扫描的磁盘、逻辑分区或镜像文件，\n"
    "   按需要设置扫描选项，然后点\"开始扫描(SCAN)\"。\n"
    "2. 碎片列表：查看扫描到的碎片。扫描结果可以保存(SAVE)，\n"
    "   以后再打开(OPEN)继续，不必重新扫描。\n"
    "3. 分析碎片：选择要恢复的数据库文件，点\"分析该碎片(FILTER)\"，\n"
    "   分析结束后转到组合页面。\n"
    "4. 组合MDF：反复点\"查找遗漏碎片(SEARCH MORE)\"，直到找到的碎片数\n"
    "   为0，再点\"组合MDF(CREATE MDF)\"保存文件。\n"
    "注意：请勿把任何文件保存到正在恢复的磁盘上。";

}  // namespace ravelin::shell
