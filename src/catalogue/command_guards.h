// Checks shared by the commands of tab II: no command that reads sectors or changes the
// lists runs while a job does, and no output lands on the data source.
#pragma once

#include <memory>
#include <string>

#include "datasource/output_guard.h"

namespace ravelin {

class Workspace;

inline constexpr char kJobRunningMessage[] = "任务正在运行，请稍候(a job is running)";
inline constexpr char kCannotCreateMessage[] = "error,无法创建文件";

// Shows kJobRunningMessage and returns true while a scan or analysis job runs.
bool RefuseWhileJobRuns(Workspace& ws);

// Creates `path` for writing through a temporary name, unless it lies on the data source.
// Shows the refusal, or `createFailed` when the file cannot be created, and returns null.
std::unique_ptr<OutputFile> CreateOutput(Workspace& ws, const std::string& path,
                                         const std::string& createFailed = kCannotCreateMessage);

// Shows the message for a write that failed part-way (disk full, I/O error).
void ShowWriteFailed(Workspace& ws, const std::string& path);

// The runtime's message for an edit whose text is not a decimal integer.
std::string NotAnIntegerMessage(const std::string& text);

}  // namespace ravelin
