// Short English glosses for the core's Chinese messages, which the window shows as they are
// and the command line follows with a gloss in brackets, so a user who reads no Chinese
// knows what happened.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ravelin::cli {

// `text` followed by " (gloss)" when it starts with a Chinese message that has one and
// carries no English of its own (no "(" right after the message); `text` unchanged
// otherwise.
std::string WithGloss(std::string_view text);

// The English gloss of the message `text` begins with, when it has one and carries no English
// of its own: what the JSON documents give as a system text's "message".
std::optional<std::string> GlossOf(std::string_view text);
// GlossOf as a JSON value: the gloss, or null.
nlohmann::json MessageJson(std::string_view text);
// MessageJson of each line of a log, in its order.
nlohmann::json LogMessagesJson(const std::vector<std::string>& lines);

// A list's column caption or a message's caption with its English meaning after it
// ("开始页面号(first page)", "提示(note)"); the caption unchanged when it has none.
std::string GlossedCaption(std::string_view caption);

}  // namespace ravelin::cli
