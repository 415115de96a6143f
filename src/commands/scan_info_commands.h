// SAVE SCAN INFO and OPEN SCAN INFO of tab II: the scan-info row file (the Fragment table's
// rows) and the fragment content file (the bytes of every fragment), so the later steps can
// run without the data source. Formats: docs/scan_info_format.md.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace ravelin {

class Workspace;
class OutputFile;

// Writes the row file at `path`. Messages through the Ui; false when nothing was written.
bool WriteRowFile(Workspace& ws, const std::string& path);

// Writes the content file at `path` with `key` (drawn at random when not given), reading
// every fragment where its pages come from now: the source, or an open content file. On a
// failed read shows "read disk error", keeps what was written (without trailer) under
// `path`, and returns false.
bool WriteContentFile(Workspace& ws, const std::string& path,
                      std::optional<std::uint32_t> key = std::nullopt);

// The two outputs of a save, created (checked and opened under temporary names) before the
// long work that fills them, so that an unusable path is reported at once. Null content
// when none was asked for.
struct ScanInfoOutputs {
  std::unique_ptr<OutputFile> rows;
  std::unique_ptr<OutputFile> content;
  ScanInfoOutputs();
  ScanInfoOutputs(ScanInfoOutputs&&) noexcept;
  ScanInfoOutputs& operator=(ScanInfoOutputs&&) noexcept;
  ~ScanInfoOutputs();
};
// Creates both; nothing (after the message) when either cannot be created. The content
// file may not be the row file.
std::optional<ScanInfoOutputs> CreateScanInfoOutputs(Workspace& ws, const std::string& rowsPath,
                                                     const std::optional<std::string>& contentPath);
// Fills and commits outputs made by CreateScanInfoOutputs with the rows as they are now.
bool SaveScanInfo(Workspace& ws, ScanInfoOutputs& outputs,
                  std::optional<std::uint32_t> contentKey = std::nullopt);

// The command line's save: the row file, then the content file when a path is given.
// Non-interactive; messages through the Ui. True when every file asked for was written.
bool SaveScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath,
                  std::optional<std::uint32_t> contentKey = std::nullopt);

// Loads a row file: CurrentFileId from Edit2, every line parsed before anything changes,
// then the rows replace the Fragment table, list II is rebuilt and SectorsPerCluster taken
// from edtsecs (8 when it is not a number). A file that cannot be read or holds a bad line
// shows a message and leaves the table as it was. With `onSource` (no content file will
// serve the pages) a row lying past the end of a chosen live source is refused likewise.
bool OpenRowFile(Workspace& ws, const std::string& path, bool onSource = false);
// The same without the controls: CurrentFileId stays, and SectorsPerCluster becomes
// `sectorsPerCluster` (8 when none).
bool LoadRowFile(Workspace& ws, const std::string& path, bool onSource,
                 std::optional<std::int64_t> sectorsPerCluster);

// Opens a content file (through the Workspace's opener) and switches every fragment read to
// it (LiveSource false). The key and, while edtsecs is blank, SectorsPerCluster come from
// its trailer.
bool OpenContentFile(Workspace& ws, const std::string& path);
struct ContentOpened {
  bool opened = false;
  bool clusterFromTrailer = false;  // SectorsPerCluster was taken from the trailer
};
// The same without the controls: SectorsPerCluster comes from the trailer when
// `clusterFromTrailer` (and the file has one).
ContentOpened LoadContentFile(Workspace& ws, const std::string& path, bool clusterFromTrailer);

// True when the open content file has the size the rows call for (or none is open): a file
// saved with other rows hands out the wrong bytes for every fragment.
bool ContentMatchesRows(const Workspace& ws);

// The side file of a saved scan, beside its content file: what the scan kept of the pages
// (catalogue/page_facts.h), stamped with the row and content files it belongs to.
std::string FactsFilePath(const std::string& contentPath);
// Writes it for the rows and content just saved, when the Workspace holds facts of the pages
// saved; a file at its place that is not one is left alone. True when written.
bool SaveFactsFile(Workspace& ws, const std::string& rowsPath, const std::string& contentPath);
// Takes the facts from the side file of `contentPath` when it belongs to these rows and this
// content (the content file opened already); else the store is left empty and the steps that
// decide read the pages.
bool LoadFactsFile(Workspace& ws, const std::string& rowsPath, const std::string& contentPath);

// The command line's open: the row file, the page-order index, then the content file when
// a path is given. Non-interactive.
bool OpenScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath);
// The same with the cluster size given instead of read from edtsecs: none takes the content
// file's trailer's (8 without one). The command line's road.
bool LoadScanInfo(Workspace& ws, const std::string& rowsPath,
                  const std::optional<std::string>& contentPath,
                  std::optional<std::int64_t> sectorsPerCluster);

// SAVE SCAN INFO: row file, question, content file.
void btnsaveClick(Workspace& ws);
// OPEN SCAN INFO: row file, page-order index, question, content file.
void Button3Click(Workspace& ws);

}  // namespace ravelin
