// Checks shared by the commands of tab II: no output lands on the data source, and a write
// that fails part-way is reported. (Refusing while a job runs is the Workspace's
// RefuseWhileJobRuns.)
#pragma once

#include <memory>
#include <string>

#include "datasource/output_guard.h"
#include "workspace/workspace.h"

namespace ravelin {

class Workspace;

inline constexpr char kCannotCreateMessage[] = "error,无法创建文件";

// Creates `path` for writing through a temporary name, unless it lies on the data source.
// Shows the refusal, or `createFailed` when the file cannot be created, and returns null.
std::unique_ptr<OutputFile> CreateOutput(Workspace& ws, const std::string& path,
                                         const std::string& createFailed = kCannotCreateMessage);

// Shows the message for a write that failed part-way (disk full, I/O error).
void ShowWriteFailed(Workspace& ws, const std::string& path);

}  // namespace ravelin
