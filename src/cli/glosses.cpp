#include "cli/glosses.h"

#include <algorithm>
#include <array>

namespace ravelin::cli {
namespace {

struct Gloss {
  std::string_view message;
  std::string_view english;
};

// Longer messages first where one begins another ("取分区信息失败2" before "取分区信息失败").
constexpr std::array<Gloss, 22> kGlosses{{
    {"取分区信息失败2", "the partition image's boot sector could not be read"},
    {"取分区信息失败", "the partition's boot sector could not be read"},
    {"分区无效！", "the partition is invalid or empty"},
    {"保存完毕", "saved"},
    {"处理完毕", "done"},
    {"组合完毕", "the MDF file is written"},
    {"检测完毕", "the check is done"},
    {"完成", "finished"},
    {"开始扫描", "scan started"},
    {"用户终止", "stopped by the user"},
    {"正在取分区存储位图", "reading the partition's allocation bitmap"},
    {"生成存储位图失败", "the free-space map could not be built"},
    {"取$bitmap文件失败", "the NTFS $Bitmap file could not be read"},
    {"读bitmap错误", "reading the allocation bitmap failed at"},
    {"请选择数据源！", "choose a data source first"},
    {"尚未扫描结束", "the scan has not finished"},
    {"统计结果:", "totals of the ticked fragments"},
    {"本次处理到index", "this pass stopped at index"},
    {"缺少重要的PFS页面", "a PFS page is missing"},
    {"缺少页面", "missing page"},
    {"找到碎片号", "found fragment"},
    {"分析已正常结束,请组合前进行二次查找",
     "the analysis is done; search for missing fragments before writing the MDF"},
}};

}  // namespace

std::string WithGloss(std::string_view text) {
  for (const Gloss& g : kGlosses) {
    if (text.substr(0, g.message.size()) != g.message) continue;
    const std::string_view rest = text.substr(g.message.size());
    if (rest.find('(') != std::string_view::npos) break;  // already explained
    return std::string(text) + " (" + std::string(g.english) + ")";
  }
  return std::string(text);
}

}  // namespace ravelin::cli
