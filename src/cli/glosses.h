// Short English glosses for the core's Chinese messages, which the window shows as they are
// and the command line follows with a gloss in brackets, so a user who reads no Chinese
// knows what happened.
#pragma once

#include <string>
#include <string_view>

namespace ravelin::cli {

// `text` followed by " (gloss)" when it starts with a Chinese message that has one and
// carries no English of its own (no "(" right after the message); `text` unchanged
// otherwise.
std::string WithGloss(std::string_view text);

// A list's column caption with its English meaning after it ("开始页面号(first page)"); the
// caption unchanged when it has none.
std::string GlossedCaption(std::string_view caption);

}  // namespace ravelin::cli
