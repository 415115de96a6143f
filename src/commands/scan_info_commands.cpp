#include "commands/scan_info_commands.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "catalogue/content_file.h"
#include "catalogue/page_facts.h"
#include "catalogue/scan_text.h"
#include "commands/command_guards.h"
#include "commands/workspace_fragments.h"
#include "common/messages.h"
#include "common/text.h"
#include "output/output_guard.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

constexpr std::int16_t kDefaultSectorsPerCluster = 8;

// Bytes the content file of the current rows takes; rows too large for any file ask for
// more than any disk has, so the space check refuses them.
std::uint64_t ContentBytes(const Workspace& ws) {
  return StoredContent::ExpectedSize(ws.fragments()).value_or(UINT64_MAX);
}

}  // namespace

namespace {

bool FillRowFile(Workspace& ws, OutputFile& file) {
  const std::optional<std::string> text = RowFileText(ws.fragments().Rows());
  if (!text) {
    ws.ui().ShowMessage(kNoGbkMessage, kPromptCaption, MessageIcon::kError);
    return false;
  }
  if (!file.Append(ByteView(reinterpret_cast<const std::uint8_t*>(text->data()), text->size())) ||
      !file.Commit()) {
    ShowWriteFailed(ws, file);
    return false;
  }
  return true;
}

bool FillContentFile(Workspace& ws, OutputFile& file, std::optional<std::uint32_t> key) {
  Ui& ui = ws.ui();
  // The window handles messages between fragments; take the rows now so that nothing done
  // meanwhile changes what this save walks.
  const std::vector<FragmentRow> rows = ws.fragments().Rows();
  UiReporter reporter(ui, Memo::kMemo1);
  switch (WriteContent(rows, ws.Fragments(), key ? *key : DrawContentKey(),
                       ws.source().SectorsPerCluster, file, reporter)) {
    case ExtractStatus::kReadFailed:
      ui.ShowMessage(kReadDiskError);
      // What was written stays, without trailer.
      if (!file.Commit()) ShowWriteFailed(ws, file);
      return false;
    case ExtractStatus::kWriteFailed:
      ShowWriteFailed(ws, file);
      return false;
    case ExtractStatus::kDone:
      break;
  }
  if (!file.Commit()) {
    ShowWriteFailed(ws, file);
    return false;
  }
  ui.ShowMessage(Text(TextId::kSaveSucceeded));
  return true;
}

std::optional<std::string> FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return std::nullopt;
  return bytes;
}

ByteView View(const std::string& bytes) {
  return ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// The first and last kStampSampleBytes of `file` hashed, and its size.
bool StampContent(Device& file, SavedScanStamp& stamp) {
  stamp.contentBytes = file.SizeBytes();
  std::vector<std::uint8_t> sample(
      static_cast<std::size_t>(std::min(kStampSampleBytes, stamp.contentBytes)));
  if (!file.ReadAt(0, sample)) return false;
  stamp.contentHash = StampHash(sample);
  if (!file.ReadAt(stamp.contentBytes - sample.size(), sample)) return false;
  stamp.contentHash = StampHash(sample, stamp.contentHash);
  return true;
}

// The row file whole, the content file by its size and its first and last 64 KiB. A content
// file being opened is read through the Workspace's opener, like every read of the pages'
// origin; one just saved is an output, read back as a plain file.
std::optional<SavedScanStamp> StampOf(Workspace& ws, const std::string& rowsPath,
                                      const std::string& contentPath, bool contentIsInput) {
  const std::optional<std::string> rows = FileBytes(rowsPath);
  if (!rows) return std::nullopt;
  OpenResult opened = contentIsInput ? ws.opener()(contentPath) : OpenSystemDevice(contentPath);
  if (!opened.device) return std::nullopt;
  SavedScanStamp stamp;
  stamp.rowsBytes = rows->size();
  stamp.rowsHash = StampHash(View(*rows));
  if (!StampContent(*opened.device, stamp)) return std::nullopt;
  return stamp;
}

// Whether `path` is a side file this program wrote (the only kind it replaces).
bool IsFactsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char magic[8] = {};
  return in.read(magic, sizeof magic) && std::string_view(magic, sizeof magic) == "RVSIDE01";
}

}  // namespace

std::string FactsFilePath(const std::string& contentPath) { return contentPath + ".facts"; }

bool SaveFactsFile(Workspace& ws, const std::string& rowsPath, const std::string& contentPath) {
  // Facts of another origin are not those of the pages just saved.
  if (ws.Facts().Pages() == 0 || ws.Facts().Origin() != ws.FactsOrigin()) return false;
  const std::string path = FactsFilePath(contentPath);
  std::error_code error;
  if (std::filesystem::exists(path, error) && !IsFactsFile(path)) {
    ws.ui().AppendMemo(Memo::kMemo1, "not written: " + path +
                                         " exists and is no side file of a saved scan (the "
                                         "recovery from this scan reads its pages instead)");
    return false;
  }
  const std::optional<SavedScanStamp> stamp = StampOf(ws, rowsPath, contentPath, false);
  if (!stamp) return false;
  const std::string bytes = FactsFileBytes(*stamp, ws.Facts());
  auto file = CreateOutput(ws, path, bytes.size(), {rowsPath, contentPath});
  if (!file) return false;
  if (!file->Append(View(bytes)) || !file->Commit()) {
    ShowWriteFailed(ws, *file);
    return false;
  }
  return true;
}

bool LoadFactsFile(Workspace& ws, const std::string& rowsPath, const std::string& contentPath) {
  const std::optional<std::string> bytes = FileBytes(FactsFilePath(contentPath));
  if (!bytes) return false;  // none: the steps that decide read the pages
  const std::optional<SavedScanStamp> stamp = StampOf(ws, rowsPath, contentPath, true);
  // One of other rows or another content file is not used: the pages are read instead.
  return stamp && ReadFactsFile(View(*bytes), *stamp, ws.Facts(), ws.FactsOrigin());
}

ScanInfoOutputs::ScanInfoOutputs() = default;
ScanInfoOutputs::ScanInfoOutputs(ScanInfoOutputs&&) noexcept = default;
ScanInfoOutputs& ScanInfoOutputs::operator=(ScanInfoOutputs&&) noexcept = default;
ScanInfoOutputs::~ScanInfoOutputs() = default;

bool WriteRowFile(Workspace& ws, const std::string& path) {
  auto file = CreateOutput(ws, path, RowFileText(ws.fragments().Rows()).value_or("").size());
  return file && FillRowFile(ws, *file);
}

bool WriteContentFile(Workspace& ws, const std::string& path, std::optional<std::uint32_t> key) {
  auto file = CreateOutput(ws, path, ContentBytes(ws));
  return file && FillContentFile(ws, *file, key);
}

std::optional<ScanInfoOutputs> CreateScanInfoOutputs(
    Workspace& ws, const std::string& rowsPath, const std::optional<std::string>& contentPath) {
  ScanInfoOutputs outputs;
  outputs.rows = CreateOutput(ws, rowsPath);
  if (!outputs.rows) return std::nullopt;
  if (contentPath) {
    outputs.content = CreateOutput(ws, *contentPath, 0, {rowsPath});
    if (!outputs.content) return std::nullopt;
  }
  return outputs;
}

bool SaveScanInfo(Workspace& ws, ScanInfoOutputs& outputs,
                  std::optional<std::uint32_t> contentKey) {
  if (!outputs.rows || !FillRowFile(ws, *outputs.rows)) return false;
  if (!outputs.content) return true;
  // The size is known only now that the scan is over.
  if (const auto why = CheckOutputSpace(outputs.content->Path(), ContentBytes(ws))) {
    ws.ui().ShowMessage(CannotCreateText(outputs.content->Path(), *why), kPromptCaption,
                        MessageIcon::kError);
    return false;
  }
  if (!FillContentFile(ws, *outputs.content, contentKey)) return false;
  SaveFactsFile(ws, outputs.rows->Path(), outputs.content->Path());
  return true;
}

bool SaveScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath,
                  std::optional<std::uint32_t> contentKey) {
  auto outputs = CreateScanInfoOutputs(ws, rowsPath, contentPath);
  return outputs && SaveScanInfo(ws, *outputs, contentKey);
}

bool OpenRowFile(Workspace& ws, const std::string& path, bool onSource) {
  if (!ws.ReadCurrentFileId()) {
    ws.ui().ShowMessage(NotAnIntegerMessage(ws.controls().tab1.Edit2), kPromptCaption,
                        MessageIcon::kError);
    return false;
  }
  return LoadRowFile(ws, path, onSource, ParseInteger(ws.controls().tab1.edtsecs));
}

bool LoadRowFile(Workspace& ws, const std::string& path, bool onSource,
                 std::optional<std::int64_t> sectorsPerCluster) {
  Ui& ui = ws.ui();
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ui.ShowMessage(Text(TextId::kCannotOpen), kPromptCaption, MessageIcon::kError);
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    ui.ShowMessage(Text(TextId::kCannotOpen), kPromptCaption, MessageIcon::kError);
    return false;
  }
  // Every line is parsed before the table changes: a damaged file loses nothing.
  std::string error;
  auto rows = ParseRowFile(bytes.str(), &error);
  if (!rows) {
    ui.ShowMessage(error, kPromptCaption, MessageIcon::kError);
    return false;
  }
  // Rows whose pages will be read from the chosen source must lie on it.
  if (onSource && ws.source().SourceChosen && ws.source().LiveSource) {
    if (const auto beyond = RowBeyondSource(*rows, ws.reader().ReadableEnd())) {
      ui.ShowMessage(*beyond, kPromptCaption, MessageIcon::kError);
      return false;
    }
  }
  {
    MutexLock lock(ws.tableLock);
    ws.LockedFragments().Replace(std::move(*rows));
  }
  ws.rowFilePath() = path;
  if (ws.storedContent().IsOpen()) ws.storedContent().Index(ws.fragments());
  FillFragmentList(ws);
  ws.source().SectorsPerCluster =
      sectorsPerCluster ? static_cast<std::int16_t>(*sectorsPerCluster) : kDefaultSectorsPerCluster;
  ui.Changed(Change::kDataSource);
  return true;
}

bool OpenContentFile(Workspace& ws, const std::string& path) {
  Tab1Controls& tab1 = ws.controls().tab1;
  const ContentOpened opened = LoadContentFile(ws, path, Trim(tab1.edtsecs).empty());
  if (opened.clusterFromTrailer) tab1.edtsecs = std::to_string(ws.source().SectorsPerCluster);
  return opened.opened;
}

ContentOpened LoadContentFile(Workspace& ws, const std::string& path, bool clusterFromTrailer) {
  Ui& ui = ws.ui();
  ContentOpened result;
  OpenResult opened = ws.opener()(path);
  if (!opened.device) {
    ui.ShowMessage(Text(TextId::kCannotOpen), kPromptCaption, MessageIcon::kError);
    return result;
  }
  const std::uint64_t size = opened.device->SizeBytes();
  // A file shorter than its trailer keeps the previous key and SectorsPerCluster.
  if (const auto trailer = ReadContentTrailer(*opened.device)) {
    ws.storedContent().key = trailer->key;
    if (clusterFromTrailer) {
      ws.source().SectorsPerCluster = trailer->sectorsPerCluster;
      result.clusterFromTrailer = true;
    }
  }
  ws.storedContent().Open(std::move(opened.device), path, ws.fragments());
  ws.source().LiveSource = false;
  ui.Changed(Change::kDataSource);

  // Positions in the file follow only from the rows: a file saved with other rows would hand
  // out the wrong bytes. Say so now rather than at the first odd page.
  const std::optional<std::uint64_t> expected = StoredContent::ExpectedSize(ws.fragments());
  if (size != expected) {
    ui.ShowMessage(std::string(Text(TextId::kContentMismatch)) +
                       "(the content file does not match the rows): " + std::to_string(size) +
                       " bytes, expected " +
                       (expected ? std::to_string(*expected) : "more than 2^64"),
                   kPromptCaption, MessageIcon::kWarning);
  }
  // What the scan kept of the pages, saved beside the content file with these rows.
  if (!ws.rowFilePath().empty()) LoadFactsFile(ws, ws.rowFilePath(), path);
  result.opened = true;
  return result;
}

bool ContentMatchesRows(const Workspace& ws) {
  return !ws.storedContent().IsOpen() ||
         ws.storedContent().FileSize() == StoredContent::ExpectedSize(ws.fragments());
}

bool OpenScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath) {
  if (!OpenRowFile(ws, rowsPath, !contentPath)) return false;
  BuildFragmentIndex(ws);
  return !contentPath || OpenContentFile(ws, *contentPath);
}

bool LoadScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath,
                  std::optional<std::int64_t> sectorsPerCluster) {
  if (!LoadRowFile(ws, rowsPath, !contentPath, sectorsPerCluster)) return false;
  BuildFragmentIndex(ws);
  return !contentPath || LoadContentFile(ws, *contentPath, !sectorsPerCluster).opened;
}

void btnsaveClick(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  Ui& ui = ws.ui();
  const auto rowsPath = ui.SaveFileDialog(Text(TextId::kSaveRowsTitle), "");
  const bool rowsWritten = rowsPath && WriteRowFile(ws, *rowsPath);
  if (!ui.AskYesNo(Text(TextId::kSaveContentQuestion), Text(TextId::kSaveContentCaption))) return;
  const auto contentPath = ui.SaveFileDialog(Text(TextId::kSaveContentTitle), "spcontent");
  if (!contentPath) return;
  if (WriteContentFile(ws, *contentPath) && rowsWritten) SaveFactsFile(ws, *rowsPath, *contentPath);
}

void Button3Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  Ui& ui = ws.ui();
  if (const auto rowsPath = ui.OpenFileDialog(Text(TextId::kOpenRowsTitle), "")) {
    if (!OpenRowFile(ws, *rowsPath)) return;
  }
  BuildFragmentIndex(ws);
  if (!ui.AskYesNo(Text(TextId::kOpenContentQuestion), Text(TextId::kOpenContentCaption))) return;
  const auto contentPath = ui.OpenFileDialog(Text(TextId::kOpenContentTitle), "");
  if (!contentPath) return;
  OpenContentFile(ws, *contentPath);
}

}  // namespace ravelin
