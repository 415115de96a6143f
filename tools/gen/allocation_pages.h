// The pages SQL Server keeps about the file itself: the file header (page 0), the boot page
// (9), the sysfiles page (32), PFS, GAM, SGAM, DCM and BCM pages, and IAM pages. Each
// renderer writes header and rows; the caller applies the page protection afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "gen/page_model.h"

namespace ravelin::gen {

struct FileNames {
  std::u16string logical;      // logical file name, also the database name
  std::u16string physical;     // path of the data file
  std::u16string logLogical;   // "<logical>_log"
  std::u16string logPhysical;  // path of the log file
};

// Row 0 of page 0 holds the size in pages immediately followed by FF FF FF FF (the maximum
// size, unlimited); no four FF bytes come before it in the row.
void RenderFileHeader(const PageModel& model, const FileNames& names, MutablePage page);
void RenderBootPage(const PageModel& model, const FileNames& names, MutablePage page);
// Row 0: the data file's logical name padded with spaces to 128 characters, then its path
// padded to 260 (UTF-16LE); row 1: the same for the log file.
void RenderSysfilesPage(const PageModel& model, const FileNames& names, MutablePage page);
// One byte per page for the 8088 pages from `n` on (from 0 for page 1).
void RenderPfsPage(const PageModel& model, std::int64_t n, MutablePage page);
// GAM, SGAM, DCM or BCM: one bit per extent of the GAM interval holding `n`.
void RenderBitmapPage(const PageModel& model, std::int64_t n, Role role, MutablePage page);
void RenderIamPage(const PageModel& model, std::int64_t n, int unit, int interval,
                   MutablePage page);

}  // namespace ravelin::gen
