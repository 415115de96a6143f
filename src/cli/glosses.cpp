#include "cli/glosses.h"

#include "common/messages.h"

namespace ravelin::cli {

std::string WithGloss(std::string_view text) {
  for (const FixedText& g : FixedTexts()) {
    if (text.substr(0, g.text.size()) != g.text) continue;
    const std::string_view rest = text.substr(g.text.size());
    if (rest.find('(') != std::string_view::npos) break;  // already explained
    return std::string(text) + " (" + std::string(g.gloss) + ")";
  }
  return std::string(text);
}

}  // namespace ravelin::cli
