// The scan checkpoint: a small text file kept beside a long scan's outputs so that a scan cut
// short (Ctrl-C, a power cut, a disk that stops answering) goes on where it was instead of
// starting again from its first sector. It holds what the scan is (the source's identity and
// the settings that change what it finds), where it stands (the next candidate position,
// the end of the last run, the fragment numbers handed out) and the rows recorded so far.
// The format is described in docs/scan_info_format.md.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/fragment_table.h"

namespace ravelin {

// Named values, in order: "source-sectors" → "2097152". Names hold no space or line break.
using CheckpointFields = std::vector<std::pair<std::string, std::string>>;

struct ScanCheckpoint {
  // What the scan is: a checkpoint goes on only a scan whose fields are all the same.
  CheckpointFields identity;
  std::int64_t position = 0;
  std::int64_t lastRunEnd = 0;
  std::int32_t fragmentCount = 0;
  // The key the content file is scrambled with, drawn when the scan first started.
  std::uint32_t contentKey = 0;
  // What the run that wrote the checkpoint left behind (the outputs it saved when stopped),
  // so that the scan that goes on knows those files for its own.
  CheckpointFields saved;
  std::vector<FragmentRow> rows;
};

// The file's text; ends with a line holding a hash of everything before it.
std::string CheckpointText(const ScanCheckpoint& checkpoint);
// The same text with `rows` for checkpoint.rows, handed to `write` a piece at a time (a
// scan of a large disk has a row or more for every few pages, and its text need not be held
// whole). The bytes written; nothing once `write` returns false.
std::optional<std::uint64_t> WriteCheckpointText(
    const ScanCheckpoint& checkpoint, const std::vector<FragmentRow>& rows,
    const std::function<bool(std::string_view)>& write);
// Parses a checkpoint file. Nothing, with the reason in *error, when it is not one, is cut
// short, or its hash does not match.
std::optional<ScanCheckpoint> ParseCheckpoint(std::string_view text, std::string* error);

// The first field in which `now` differs from `saved` (one missing on either side counts), as
// "NAME: VALUE-SAVED (now VALUE-NOW)"; nothing when they are the same.
std::optional<std::string> IdentityDifference(const CheckpointFields& saved,
                                              const CheckpointFields& now);

// The value of `name` in `fields`, or nothing.
std::optional<std::string> FieldValue(const CheckpointFields& fields, std::string_view name);

// A 64-bit FNV-1a hash as 16 lower-case hex digits (the source's first sectors, the file).
std::string HashText(std::string_view bytes);

}  // namespace ravelin
