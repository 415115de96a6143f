#include "ports/successor_choice.h"

namespace ravelin {
namespace {

std::vector<ColumnKind> Kinds() {
  return {ColumnKind::kNumber, ColumnKind::kNumber, ColumnKind::kNumber,
          ColumnKind::kNumber, ColumnKind::kSector, ColumnKind::kSector};
}

}  // namespace

SuccessorChoice::SuccessorChoice()
    : ListView1(
          {"上一有效碎片", "碎片大小(KB)", "开始页面号", "结束页面号", "开始扇区", "结束扇区"},
          Kinds()),
      ListView2({"序号", "碎片大小(KB)", "开始页面号", "结束页面号", "开始扇区", "结束扇区"},
                Kinds()) {}

}  // namespace ravelin
