// The core speaks UTF-8; Qt speaks QString.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace ravelin::shell {

inline QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string U(const QString& text) { return text.toStdString(); }

}  // namespace ravelin::shell
