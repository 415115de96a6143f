#include "catalogue/scan_info.h"

#include <array>
#include <bit>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <vector>

#include "catalogue/command_guards.h"
#include "catalogue/fragment_reader.h"
#include "catalogue/scan_text.h"
#include "common/text.h"
#include "scan/page_format.h"
#include "workspace/workspace.h"

namespace ravelin {
namespace {

constexpr char kReadDiskError[] = "read disk error";
constexpr char kCannotOpenMessage[] = "error,无法打开文件";
constexpr std::int16_t kDefaultSectorsPerCluster = 8;

// numerator / denominator to the nearest integer, an exact half to the even neighbour.
std::int64_t RoundHalfEven(std::int64_t numerator, std::int64_t denominator) {
  std::int64_t q = numerator / denominator;
  const std::int64_t twiceR = 2 * (numerator % denominator);
  if (twiceR > denominator || (twiceR == denominator && (q & 1))) ++q;
  return q;
}

std::string Trim(const std::string& s) {
  std::size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return s.substr(b, e - b);
}

// The 15 sectors before `startSector` into `leadIn`. Sectors before sector 0 do not exist;
// they are stored as zeros so that a fragment near the start of the source keeps the same
// layout as every other.
bool ReadLeadIn(Workspace& ws, std::uint64_t startSector,
                std::array<std::uint8_t, kLeadInBytes>& leadIn) {
  leadIn.fill(0);
  const std::uint64_t missing = startSector < kLeadInSectors ? kLeadInSectors - startSector : 0;
  const auto count = static_cast<std::int32_t>(kLeadInSectors - missing);
  if (count == 0) return true;
  return ReadFragmentSectors(ws, startSector, -static_cast<std::int64_t>(count), count,
                             MutableBytes(leadIn).subspan(missing * kSectorSize));
}

}  // namespace

std::uint32_t DrawContentKey() {
  std::random_device random;
  std::uniform_int_distribution<std::uint32_t> draw(0, 2147483646u);
  return draw(random);
}

bool WriteRowFile(Workspace& ws, const std::string& path) {
  auto file = CreateOutput(ws, path);
  if (!file) return false;
  const std::string text = RowFileText(ws.fragments.Rows());
  if (!file->Append(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) ||
      !file->Commit()) {
    ShowWriteFailed(ws, path);
    return false;
  }
  return true;
}

bool WriteContentFile(Workspace& ws, const std::string& path, std::optional<std::uint32_t> key) {
  Ui& ui = ws.ui();
  auto file = CreateOutput(ws, path);
  if (!file) return false;
  const std::uint32_t contentKey = key ? *key : DrawContentKey();

  // The window handles messages between fragments; take the rows now so that nothing done
  // meanwhile changes what this save walks.
  struct Item {
    std::uint64_t startSector;
    std::int64_t pages;
  };
  std::vector<Item> items;
  items.reserve(ws.fragments.Count());
  for (const FragmentRow& row : ws.fragments.Rows())
    items.push_back({row.StartSector, row.Pages()});

  std::array<std::uint8_t, kLeadInBytes> leadIn;
  std::array<std::uint8_t, kPageSize> page;
  const std::int64_t n = static_cast<std::int64_t>(items.size());
  auto stopOnReadError = [&] {
    ui.ShowMessage(kReadDiskError);
    // What was written stays, without trailer.
    if (!file->Commit()) ShowWriteFailed(ws, path);
    return false;
  };
  for (std::int64_t i = 0; i < n; ++i) {
    ui.ProcessMessages();
    if (n > 1) ui.SetProgress(static_cast<int>(RoundHalfEven(100 * i, n - 1)));
    const Item& item = items[static_cast<std::size_t>(i)];
    if (!ReadLeadIn(ws, item.startSector, leadIn)) return stopOnReadError();
    if (!file->Append(leadIn)) break;
    for (std::int64_t k = 0; k < item.pages; ++k) {
      page.fill(0);
      if (!ReadFragmentPage(ws, item.startSector, k, page)) return stopOnReadError();
      ScramblePage(page, contentKey);
      if (!file->Append(page)) break;
    }
  }
  std::array<std::uint8_t, kTrailerBytes> trailer{};
  EncodeFixed32(trailer.data(), std::rotr(contentKey, 3));
  EncodeFixed16(trailer.data() + 4, static_cast<std::uint16_t>(ws.source.SectorsPerCluster));
  if (!file->Append(trailer) || !file->Commit()) {
    ShowWriteFailed(ws, path);
    return false;
  }
  ui.ShowMessage("success");
  return true;
}

bool SaveScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath,
                  std::optional<std::uint32_t> contentKey) {
  if (!WriteRowFile(ws, rowsPath)) return false;
  return !contentPath || WriteContentFile(ws, *contentPath, contentKey);
}

bool OpenRowFile(Workspace& ws, const std::string& path) {
  Ui& ui = ws.ui();
  if (!ws.ReadCurrentFileId()) {
    ui.ShowMessage(NotAnIntegerMessage(ws.controls.tab1.Edit2), kPromptCaption,
                   MessageIcon::kError);
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ui.ShowMessage(kCannotOpenMessage, kPromptCaption, MessageIcon::kError);
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    ui.ShowMessage(kCannotOpenMessage, kPromptCaption, MessageIcon::kError);
    return false;
  }
  // Every line is parsed before the table changes: a damaged file loses nothing.
  std::string error;
  auto rows = ParseRowFile(bytes.str(), &error);
  if (!rows) {
    ui.ShowMessage(error, kPromptCaption, MessageIcon::kError);
    return false;
  }
  ws.fragments.Replace(std::move(*rows));
  if (ws.storedContent.IsOpen()) ws.storedContent.Index(ws.fragments);
  FillFragmentList(ws);
  const auto spc = ParseInteger(ws.controls.tab1.edtsecs);
  ws.source.SectorsPerCluster = spc ? static_cast<std::int16_t>(*spc) : kDefaultSectorsPerCluster;
  ui.Changed(Change::kDataSource);
  return true;
}

bool OpenContentFile(Workspace& ws, const std::string& path) {
  Ui& ui = ws.ui();
  OpenResult opened = OpenSystemDevice(path);
  if (!opened.device) {
    ui.ShowMessage(kCannotOpenMessage, kPromptCaption, MessageIcon::kError);
    return false;
  }
  const std::uint64_t size = opened.device->SizeBytes();
  std::array<std::uint8_t, kTrailerBytes> trailer{};
  // A file shorter than its trailer keeps the previous key and SectorsPerCluster.
  if (size >= kTrailerBytes && opened.device->ReadAt(size - kTrailerBytes, trailer)) {
    ws.storedContent.key = std::rotl(DecodeFixed32(trailer.data()), 3);
    Tab1Controls& tab1 = ws.controls.tab1;
    if (Trim(tab1.edtsecs).empty()) {
      ws.source.SectorsPerCluster = static_cast<std::int16_t>(DecodeFixed16(trailer.data() + 4));
      tab1.edtsecs = std::to_string(ws.source.SectorsPerCluster);
    }
  }
  ws.storedContent.Open(std::move(opened.device), path, ws.fragments);
  ws.source.LiveSource = false;
  ui.Changed(Change::kDataSource);

  // Positions in the file follow only from the rows: a file saved with other rows would hand
  // out the wrong bytes. Say so now rather than at the first odd page.
  const std::uint64_t expected = StoredContent::ExpectedSize(ws.fragments);
  if (size != expected) {
    ui.ShowMessage("碎片内容文件与扫描信息不符(the content file does not match the rows): " +
                       std::to_string(size) + " bytes, expected " + std::to_string(expected),
                   kPromptCaption, MessageIcon::kWarning);
  }
  return true;
}

bool OpenScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath) {
  if (!OpenRowFile(ws, rowsPath)) return false;
  ws.fragments.BuildFragmentIndex();
  return !contentPath || OpenContentFile(ws, *contentPath);
}

void btnsaveClick(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  Ui& ui = ws.ui();
  if (const auto rowsPath = ui.SaveFileDialog(kSaveRowsTitle, "")) WriteRowFile(ws, *rowsPath);
  if (!ui.AskYesNo(kSaveContentQuestion, "保存碎片内容")) return;
  const auto contentPath = ui.SaveFileDialog(kSaveContentTitle, "spcontent");
  if (!contentPath) return;
  WriteContentFile(ws, *contentPath);
}

void Button3Click(Workspace& ws) {
  if (RefuseWhileJobRuns(ws)) return;
  Ui& ui = ws.ui();
  if (const auto rowsPath = ui.OpenFileDialog("打开扫描信息文件(OPEN)", "")) {
    if (!OpenRowFile(ws, *rowsPath)) return;
  }
  ws.fragments.BuildFragmentIndex();
  if (!ui.AskYesNo(kOpenContentQuestion, "打开碎片内容")) return;
  const auto contentPath = ui.OpenFileDialog("打开碎片内容文件", "");
  if (!contentPath) return;
  OpenContentFile(ws, *contentPath);
}

}  // namespace ravelin
