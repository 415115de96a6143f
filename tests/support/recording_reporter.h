// A Reporter for engine tests: records every log line, message, progress value and status.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "common/reporter.h"

namespace ravelin::test {

class RecordingReporter final : public Reporter {
 public:
  struct Shown {
    std::string text;
    std::string caption;
    Severity severity;
  };

  void Log(std::string_view line) override {
    std::lock_guard lock(mutex_);
    lines.emplace_back(line);
  }
  void Message(std::string_view text, std::string_view caption, Severity severity) override {
    std::lock_guard lock(mutex_);
    messages.push_back({std::string(text), std::string(caption), severity});
  }
  void Progress(int percent) override {
    std::lock_guard lock(mutex_);
    progress.push_back(percent);
  }
  void Status(std::string_view text) override {
    std::lock_guard lock(mutex_);
    statuses.emplace_back(text);
  }
  void Yield() override { ++yields; }

  std::vector<std::string> MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& m : messages) texts.push_back(m.text);
    return texts;
  }

  // Read them only while no job is running.
  std::vector<std::string> lines;
  std::vector<Shown> messages;
  std::vector<int> progress;
  std::vector<std::string> statuses;
  int yields = 0;

 private:
  std::mutex mutex_;
};

}  // namespace ravelin::test
