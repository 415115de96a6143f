// `ravelin verify FILE [--json]`: the page-by-page account of any data file, rebuilt or not:
// pages verified by their checksum or torn bits or by their structure, pages that carry the
// wrong page id or fail their protection, and zero pages where the file's own PFS pages say
// a page is allocated. Exit 0 when every allocated page verifies, 1 otherwise, 2 when the
// file cannot be read as a data file.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>

#include "assembly/page_account.h"
#include "cli/commands.h"

namespace ravelin::cli {
namespace {

constexpr std::size_t kProblemPagesListed = 50;  // problem pages named in the text output

bool IsProblem(PageVerdict v) {
  return v == PageVerdict::kDamaged || v == PageVerdict::kMissingAllocated ||
         v == PageVerdict::kUnverifiable || v == PageVerdict::kUncertain;
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
  const std::uint64_t size = file.SizeBytes();
  if (size < kPageSize) {
    err << options.file << ": 不是数据文件(not a data file: " << size
        << " bytes, less than one 8192-byte page)\n";
    return kExitBadSource;
  }
  if (size % kPageSize != 0) {
    err << options.file << ": 文件大小不是整页(the size, " << size
        << " bytes, is not a whole number of 8192-byte pages; the last " << size % kPageSize
        << " bytes are not looked at)\n";
  }
  const auto pageCount = static_cast<std::int64_t>(size / kPageSize);
  const PageAccount account = AccountPages(pageCount, [&file](std::int64_t n, MutablePage page) {
    return file.ReadAt(static_cast<std::uint64_t>(n) * kPageSize, page);
  });
  const bool verified = account.AllAllocatedVerified();

  if (options.json) {
    nlohmann::json counts = nlohmann::json::object();
    for (std::size_t v = 0; v < kPageVerdictCount; ++v)
      counts[VerdictName(static_cast<PageVerdict>(v))] = account.counts[v];
    nlohmann::json pages = nlohmann::json::array();
    for (std::int64_t n = 0; n < pageCount; ++n) {
      const PageVerdict v = account.verdicts[static_cast<std::size_t>(n)];
      if (IsProblem(v)) pages.push_back({{"page", n}, {"verdict", VerdictName(v)}});
    }
    const nlohmann::json doc = {{"file", options.file},
                                {"page_count", pageCount},
                                {"file_id", account.fileId},
                                {"header_page_count", account.headerPageCount},
                                {"all_allocated_pages_verified", verified},
                                {"counts", std::move(counts)},
                                {"problem_pages", std::move(pages)}};
    out << doc.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
  } else {
    out << options.file << ": " << pageCount << " pages, file id " << account.fileId << '\n';
    for (const std::string& line : account.SummaryLines()) out << "  " << line << '\n';
    std::size_t listed = 0;
    for (std::int64_t n = 0; n < pageCount && listed < kProblemPagesListed; ++n) {
      const PageVerdict v = account.verdicts[static_cast<std::size_t>(n)];
      if (!IsProblem(v)) continue;
      out << "  page " << n << ": " << VerdictName(v) << '\n';
      ++listed;
    }
    out << (verified ? "OK: every allocated page verifies\n"
                     : "NOT OK: some allocated pages do not verify\n");
  }
  return verified ? kExitOk : kExitFailed;
}

void AddVerifyCommand(CLI::App& app, CliRun& run) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* cmd = app.add_subcommand(
      "verify", "Check every page of a data file (.mdf), rebuilt or not, and account for it");
  cmd->add_option("FILE", options->file, "The data file")->required();
  cmd->add_flag("--json", options->json, "Write the account as JSON");
  cmd->callback([&run, options] { run.exitCode = RunVerify(*options, run.env, run.out, run.err); });
}

}  // namespace ravelin::cli
