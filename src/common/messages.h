// The system's fixed texts in one table: what the window shows in its message boxes, memos
// and status bar, each with the English gloss the command line prints after it. The handlers
// and engines show them; nothing decides anything by comparing them, so a text can change
// without changing what any face reports.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace ravelin {

enum class TextId : std::size_t {
  // Longer texts before those they begin with ("取分区信息失败2" before "取分区信息失败"): the
  // command line glosses a message by the first text it begins with.
  kPartitionInfoFailed2,
  kPartitionInfoFailed,
  kPartitionInvalid,
  kSaved,
  kProcessed,
  kMdfWritten,
  kCheckDone,
  kFinished,
  kScanStarted,
  kUserStopped,
  kReadingBitmap,
  kFreeSpaceMapFailed,
  kNtfsBitmapFailed,
  kBitmapReadError,
  kChooseSource,
  kScanNotFinished,
  kTickedTotals,
  kAutoTickReached,
  kMissingPfsPage,
  kMissingPage,
  kFoundFragment,
  kAnalysisFinished,
  kInvalidHeader,
  kStartNotInteger,
  kEndNotInteger,
  kStepNotInteger,
  kStepNotPositive,
  kStartNegative,
  kPageLimitNotInteger,
  kJobFailed,
  kCannotOpenImage,
  kContentMismatch,
  kJobRunning,
  kImageKindQuestion,
  kImageKindCaption,
  kOpenImageTitle,
  kCannotCreate,
  kCannotOpen,
  kLocalDisk,
  kRemovableStorage,
  kLogicalPartition,
  kSaveSucceeded,
  kFragmentUnreadable,
  kFoundUndecidedFragment,
  kSweepDone,
  kSectorZeroUnreadable,
  kBitmapWriteFailed,
  kScanStopped,
  // The handlers' dialogs: titles, questions and the successor dialog's captions.
  kSaveRowsTitle,
  kSaveContentTitle,
  kSaveContentQuestion,
  kOpenContentQuestion,
  kOpenRowsTitle,
  kOpenContentTitle,
  kSaveContentCaption,
  kOpenContentCaption,
  kSaveMdfTitle,
  kFileTypeQuestion,
  kOrderCheckQuestion,
  kExtractCaption,
  kChooseFolderTitle,
  kSuccessorDialogCaption,
  kSuccessorGroupCaption,
  kSaveCandidatesCaption,
  kSuccessorOkCaption,
  kSuccessorCancelCaption,
  kCount
};

struct FixedText {
  std::string_view text;   // as the window shows it
  std::string_view gloss;  // in English, for the command line
};

// The text of `id` (some are followed by a number or a time where they are shown).
std::string_view Text(TextId id);
// Its English gloss.
std::string_view Gloss(TextId id);
// The whole table, in TextId order.
std::span<const FixedText> FixedTexts();

// While one lives, every text of the table reads as a placeholder ("<text N>"): tests run the
// program so to show that no result depends on the wording. Not for use while another
// thread shows texts.
class PlaceholderTexts {
 public:
  PlaceholderTexts();
  ~PlaceholderTexts();
  PlaceholderTexts(const PlaceholderTexts&) = delete;
  PlaceholderTexts& operator=(const PlaceholderTexts&) = delete;
};

}  // namespace ravelin
