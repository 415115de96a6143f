// The command line of ravelin-mkimage, as a function so tests can run it in-process.
// Exit codes: 0 done, 1 a tool or the disk failed, 2 bad input, 3 a needed tool is missing.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ravelin::gen {

inline constexpr int kExitFailed = 1;
inline constexpr int kExitBadInput = 2;
inline constexpr int kExitMissingTool = 3;

// `args` without the program name.
int RunMkimage(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ravelin::gen
