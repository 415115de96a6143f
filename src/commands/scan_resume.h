// A scan that survives an interruption: checkpoints of the running "scan" job written beside
// its outputs, and the scan's state rebuilt from one so that the job goes on where it was.
// Resuming gives the rows a scan that was never interrupted gives.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "catalogue/scan_checkpoint.h"
#include "scan/scan_engine.h"

namespace ravelin {

class Workspace;

// What a scan of the chosen source with `settings` is: the source's path, device, size in
// sectors and a hash of its sectors 0 to 63, the partition and file system chosen, and every
// setting that changes what the scan finds (range, step, free space only, file id, page
// limit). Read-ahead, which changes nothing found, is not part of it.
CheckpointFields ScanIdentity(Workspace& ws, const ScanSettings& settings);

// Why `checkpoint` cannot go on as the scan `settings` describe (ending at `end`, the end it
// really uses), or nothing: its position lies outside the range or off the grid of candidate
// positions, or its rows are numbered beyond its count.
std::optional<std::string> CheckpointUnfit(const ScanCheckpoint& checkpoint,
                                           const ScanSettings& settings, std::int64_t end);

// Puts the checkpoint's rows into the fragment table and list II (replacing what they held)
// and returns the point the scan goes on from.
ScanPoint RestoreScan(Workspace& ws, const ScanCheckpoint& checkpoint);

// The checkpoint file at `path`; nothing, with the reason in *error, when there is none or it
// cannot be read or parsed.
std::optional<ScanCheckpoint> ReadCheckpoint(const std::string& path, std::string* error);

// "SIZE MTIME-NS INODE" of the file at `path`, or nothing when there is none: lets a resumed
// scan recognise the outputs the interrupted run saved.
std::optional<std::string> FileStamp(const std::string& path);

// Writes checkpoints of a running scan through the output road (never onto the source or an
// input; temporary name, synced, renamed), each replacing the last. The scan job tells it of
// resumable points; it writes when `every` has passed or `everySectors` have been scanned
// since the last one, whichever comes first, but never in the first `quiet` seconds of the
// scan nor sooner than 200 times the last write took, so that checkpoints cost at most half
// a percent of the scan.
class CheckpointWriter final : public ScanCheckpoints {
 public:
  CheckpointWriter(Workspace& ws, std::string path, CheckpointFields identity,
                   std::uint32_t contentKey, std::vector<std::string> inputs);

  void Reached(const ScanPoint& point) override;
  // Writes the checkpoint of `point` now, with `saved` (the stamps of outputs written). False
  // when it could not be written (the message said why).
  bool Write(const ScanPoint& point, const CheckpointFields& saved = {});

  const std::string& Path() const { return path_; }
  std::uint32_t ContentKey() const { return contentKey_; }
  int Written() const { return written_; }
  // The time spent writing checkpoints so far (the cost --stats reports).
  std::chrono::steady_clock::duration Cost() const { return cost_; }
  // The point of the last checkpoint written, if any.
  const std::optional<ScanPoint>& LastWritten() const { return lastWritten_; }

  // Written into every checkpoint's saved fields, before those Write is given: what the
  // command running the scan needs to know to go on (which part of a disk, files done).
  CheckpointFields state;

  // Whether the job writes a checkpoint where the scan completes although it wrote none
  // while it ran: `recover`, whose analysis after the scan may be interrupted, wants one; a
  // short `scan` is cheaper without (its outputs are saved at once).
  bool atCompletion = false;

  std::chrono::steady_clock::duration every = std::chrono::seconds(30);
  std::int64_t everySectors = std::int64_t{256} * 1024 * 1024 / 512;
  // No checkpoint this soon after the scan starts: a scan shorter than this costs nothing.
  std::chrono::steady_clock::duration quiet = std::chrono::seconds(5);

 private:
  Workspace& ws_;
  const std::string path_;
  const CheckpointFields identity_;
  const std::uint32_t contentKey_;
  const std::vector<std::string> inputs_;
  const std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_ = started_;
  // What the last write cost; the next waits 200 times as long, so that checkpoints take at
  // most half a percent of the scan.
  std::chrono::steady_clock::duration lastCost_{};
  std::chrono::steady_clock::duration cost_{};
  std::optional<std::int64_t> lastPosition_;
  std::optional<ScanPoint> lastWritten_;
  bool failed_ = false;  // periodic checkpoints stop after a failure: the scan goes on
  int written_ = 0;
};

}  // namespace ravelin
