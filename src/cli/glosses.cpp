#include "cli/glosses.h"

#include <utility>

#include "common/messages.h"

namespace ravelin::cli {

std::optional<std::string> GlossOf(std::string_view text) {
  for (const FixedText& g : FixedTexts()) {
    if (g.text.empty() || text.substr(0, g.text.size()) != g.text) continue;
    const std::string_view rest = text.substr(g.text.size());
    if (rest.find('(') != std::string_view::npos) break;  // already explained
    return std::string(g.gloss);
  }
  return std::nullopt;
}

nlohmann::json MessageJson(std::string_view text) {
  const std::optional<std::string> gloss = GlossOf(text);
  return gloss ? nlohmann::json(*gloss) : nlohmann::json(nullptr);
}

nlohmann::json LogMessagesJson(const std::vector<std::string>& lines) {
  nlohmann::json messages = nlohmann::json::array();
  for (const std::string& line : lines) messages.push_back(MessageJson(line));
  return messages;
}

std::string WithGloss(std::string_view text) {
  const std::optional<std::string> gloss = GlossOf(text);
  return gloss ? std::string(text) + " (" + *gloss + ")" : std::string(text);
}

std::string GlossedCaption(std::string_view caption) {
  static constexpr std::pair<std::string_view, std::string_view> kColumns[] = {
      {"序号", "number"},         {"碎片大小(KB)", "size"}, {"开始页面号", "first page"},
      {"结束页面号", "end page"}, {"备注", "remark"},       {"开始扇区", "start sector"},
      {"结束扇区", "end sector"}, {"文件名", "file name"},  {"提示", "note"},
  };
  for (const auto& [text, gloss] : kColumns) {
    if (caption == text) return std::string(caption) + "(" + std::string(gloss) + ")";
  }
  for (const FixedText& g : FixedTexts()) {
    if (caption == g.text) return std::string(caption) + "(" + std::string(g.gloss) + ")";
  }
  return std::string(caption);
}

}  // namespace ravelin::cli
