// `ravelin verify FILE [--json]`: the page-by-page account of any data file, rebuilt or not:
// pages verified by their checksum or torn bits or by their structure, pages that carry the
// wrong page id or fail their protection, allocated pages that are all zero, and free pages
// that hold something other than a page. Exit 0 when the file is complete (every page in use
// verifies), 1 when it is incomplete or doubtful, 2 when it cannot be read or is not a data
// file at all: a size that is not a whole, non-zero number of pages, no file header page at
// page 0, or no PFS page at page 1.
#include <CLI/CLI.hpp>
#include <array>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "assembly/page_account.h"
#include "cli/account_json.h"
#include "cli/commands.h"
#include "page/allocation_page.h"
#include "page/page_format.h"

namespace ravelin::cli {
namespace {

constexpr std::size_t kProblemPagesListed = 50;  // problem pages named in the text output

// Why the file is not a SQL Server data file; nothing when it may be one. Page 0 must be a
// file header page that gives the size, page 1 a PFS page of the same file id; a page that
// merely fails its protection is the account's business, not a reason to refuse the file.
std::optional<std::string> NotADataFile(Device& file) {
  const std::uint64_t size = file.SizeBytes();
  if (size == 0 || size % kPageSize != 0) {
    return "the size, " + std::to_string(size) + " bytes, is not a whole number of 8192-byte pages";
  }
  std::array<std::uint8_t, kPageSize> page0{}, page1{};
  if (!file.ReadAt(0, page0)) return "page 0 cannot be read";
  RestoreTornBits(page0);
  const std::uint16_t fileId = Load16(page0, page_header::kFileId);
  std::int32_t headerSize = 0;
  if (!IsFileHeaderPage(HeaderView(page0.data(), kPageHeaderSize), fileId) ||
      GetFileSizeFromHeader(page0, headerSize) != 0 || headerSize <= 0)
    return "page 0 is not a file header page";
  if (size < 2 * kPageSize || !file.ReadAt(kPageSize, page1)) return "there is no page 1";
  RestoreTornBits(page1);
  if (!IsPfsPageHeader(HeaderView(page1.data(), kPageHeaderSize), fileId) || !ReadPfsBytes(page1))
    return "page 1 is not a PFS page";
  return std::nullopt;
}

std::string VerdictLine(const FileAssessment& a) {
  switch (a.status) {
    case FileStatus::kComplete:
      return "OK: complete, every allocated page verifies";
    case FileStatus::kIncomplete:
      if (a.missing == 0)
        return "NOT OK: incomplete, the file is " + std::to_string(a.pagesShort) + " pages short";
      return "NOT OK: incomplete, " + std::to_string(a.missing) + " allocated pages missing" +
             (a.pagesShort > 0 ? " and the file is " + std::to_string(a.pagesShort) + " pages short"
                               : "");
    case FileStatus::kDoubtful:
      return "NOT OK: doubtful, " + std::to_string(a.doubtful) +
             " allocated pages damaged, uncertain or unverifiable";
  }
  return {};
}

}  // namespace

int RunVerify(const VerifyOptions& options, const CliEnv& env, std::ostream& out,
              std::ostream& err) {
  OpenResult opened = env.opener(options.file);
  if (!opened.device) {
    err << "无法打开文件(cannot open) " << options.file << ": "
        << (opened.error == ENOTBLK ? "not a regular file or a block device"
                                    : std::strerror(opened.error))
        << '\n';
    return kExitBadSource;
  }
  Device& file = *opened.device;
  if (const auto why = NotADataFile(file)) {
    err << options.file << ": 不是数据文件(not a data file: " << *why << ")\n";
    return kExitBadSource;
  }
  const auto pageCount = static_cast<std::int64_t>(file.SizeBytes() / kPageSize);
  const PageAccount account = AccountPages(pageCount, [&file](std::int64_t n, MutablePage page) {
    return file.ReadAt(static_cast<std::uint64_t>(n) * kPageSize, page);
  });
  const FileAssessment assessment = account.Assess();

  if (options.json) {
    nlohmann::json doc = {{"file", options.file},
                          {"page_count", pageCount},
                          {"file_id", account.fileId},
                          {"header_page_count", account.headerPageCount}};
    doc.update(AccountJson(account));
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    out << options.file << ": " << pageCount << " pages, file id " << account.fileId << '\n';
    for (const std::string& line : account.SummaryLines()) out << "  " << line << '\n';
    std::size_t listed = 0;
    for (std::int64_t n = 0; n < pageCount && listed < kProblemPagesListed; ++n) {
      const PageVerdict v = account.verdicts[static_cast<std::size_t>(n)];
      if (!IsProblemVerdict(v) && v != PageVerdict::kAllocatedZero) continue;
      out << "  page " << n << ": " << VerdictName(v) << '\n';
      ++listed;
    }
    out << VerdictLine(assessment) << '\n';
  }
  return assessment.status == FileStatus::kComplete ? kExitOk : kExitFailed;
}

void AddVerifyCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* cmd = app.add_subcommand(
      "verify", "Check every page of a data file (.mdf), rebuilt or not, and account for it");
  cmd->add_option("FILE", options->file, "The data file")->required();
  cmd->add_flag("--json", options->json, "Write the account as JSON (fields: docs/cli.md)");
  cmd->callback([&run, options] { run.exitCode = RunVerify(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
