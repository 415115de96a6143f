#include "common/messages.h"

#include <array>
#include <atomic>
#include <string>

namespace ravelin {
namespace {

constexpr std::size_t kTextCount = static_cast<std::size_t>(TextId::kCount);

constexpr std::array<FixedText, kTextCount> kTexts{{
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
    {"无效文件头,size:", "the header fragment ends before page 32, where the name is"},
    {"开始扇区必须是整数", "the first sector must be an integer"},
    {"结束扇区必须是整数", "the end sector must be an integer"},
    {"每簇扇区数必须是整数", "sectors per cluster must be an integer"},
    {"每簇扇区数必须大于0", "sectors per cluster must be above 0"},
    {"开始扇区不能小于0", "the first sector may not be negative"},
    {"开始页面号小于: 必须是整数", "the page-number limit must be an integer"},
    {"任务异常结束", "the job failed"},
    {"无法打开镜像文件", "cannot open the image file"},
    {"碎片内容文件与扫描信息不符", "the content file does not match the rows"},
    {"任务正在运行，请稍候(a job is running)", "a job is running; wait for it to end"},
    {"此镜像文件是逻辑分区镜像请选是，是整个磁盘镜像请选否",
     "yes: the image holds one partition; no: it holds a whole disk"},
    {"数据文件类型选择", "the kind of image"},
    {"打开镜像文件", "open an image file: give its path as the source"},
    {"error,无法创建文件", "the file cannot be created"},
    {"error,无法打开文件", "the file cannot be opened"},
    {"本地磁盘 ", "local disk"},
    {"可移动存储 ", "removable disk"},
    {"逻辑分区 ", "partition"},
    {"success", "saved"},
    {"get page info error,碎片号", "the pages of this fragment could not all be read"},
    {"找到未确定碎片号", "found the fragment that fits where several might"},
    {"本次找到碎片数量", "fragments this sweep found; the sweep is done"},
    {"512error 读取sec0", "sector 0 of the partition could not be read"},
    {"error,写bitmap内容失败", "the allocation bitmap could not be kept"},
    {"已停止扫描", "the scan was stopped"},
    {"保存扫描信息,请注意别保存到原数据所在盘，防止覆盖",
     "save the scan information (not onto the disk being recovered)"},
    {"保存所有碎片的内容,请注意别保存到原数据所在盘，防止覆盖",
     "save the content of every fragment (not onto the disk being recovered)"},
    {"已经保存了扫描信息。是否需要保存所有碎片的内容",
     "the scan information is saved; save the content of every fragment too?"},
    {"已经打开了扫描信息。是否需要打开所有碎片的内容文件",
     "the scan information is open; open the fragment content file too?"},
    {"打开扫描信息文件(OPEN)", "open a scan information file"},
    {"打开碎片内容文件", "open a fragment content file"},
    {"保存碎片内容", "save the fragment content"},
    {"打开碎片内容", "open the fragment content"},
    {"保存MDF文件,请注意别保存到原数据所在盘，防止覆盖",
     "save the MDF file (not onto the disk being recovered)"},
    {"组合保存成一个文件选是，保存为多个文件选否",
     "Yes: save as one combined file; No: one file per fragment"},
    {"判断页号重复选是，不判断则选否", "Yes: check for repeated page numbers; No: do not check"},
    {"数据文件类型选择", "kind of data file"},
    {"保存目录", "folder to save into"},
    {"指定接续碎片", "choose the next fragment"},
    {"符合超过1个,请选择后续碎片", "more than one fragment fits; choose the one that follows"},
    {"把勾选的碎片保存为文件", "save the ticked fragments as files"},
    {"确定", "OK"},
    {"取消", "cancel"},
}};

struct Placeholders {
  std::array<std::string, kTextCount> words;
  std::array<FixedText, kTextCount> table;
  Placeholders() {
    for (std::size_t i = 0; i < kTextCount; ++i) {
      words[i] = "<text " + std::to_string(i) + ">";
      table[i] = {words[i], kTexts[i].gloss};
    }
  }
};

std::atomic<const FixedText*> current{kTexts.data()};

}  // namespace

std::string_view Text(TextId id) { return current.load()[static_cast<std::size_t>(id)].text; }

std::string_view Gloss(TextId id) { return kTexts[static_cast<std::size_t>(id)].gloss; }

std::span<const FixedText> FixedTexts() { return {current.load(), kTextCount}; }

PlaceholderTexts::PlaceholderTexts() {
  static const Placeholders placeholders;
  current.store(placeholders.table.data());
}

PlaceholderTexts::~PlaceholderTexts() { current.store(kTexts.data()); }

}  // namespace ravelin
