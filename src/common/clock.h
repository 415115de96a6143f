// The stamp of log lines.
#pragma once

#include <string>

namespace ravelin {

// "YYYY-MM-DD HH:MM:SS", local time.
std::string NowText();

}  // namespace ravelin
