// Small helpers that make a widget with its component name and caption, so the pages read
// as the list of controls they are. The window's pages place them with layouts, so that they
// fit from 800×600 up and grow with the window; a fixed dialog gives each its place.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRect>

#include "shell/qstring_utf8.h"

namespace ravelin::shell {

template <typename W>
W* Place(W* widget, const char* name, QRect geometry = {}) {
  if (name != nullptr) widget->setObjectName(QString::fromLatin1(name));
  if (!geometry.isNull()) widget->setGeometry(geometry);
  return widget;
}

inline QPushButton* MakeButton(QWidget* parent, const char* name, std::string_view caption,
                               QRect geometry = {}) {
  return Place(new QPushButton(Q(caption), parent), name, geometry);
}

inline QLineEdit* MakeEdit(QWidget* parent, const char* name, std::string_view text,
                           QRect geometry = {}) {
  return Place(new QLineEdit(Q(text), parent), name, geometry);
}

inline QLabel* MakeLabel(QWidget* parent, const char* name, std::string_view caption,
                         QRect geometry = {}) {
  return Place(new QLabel(Q(caption), parent), name, geometry);
}

inline QCheckBox* MakeCheck(QWidget* parent, const char* name, std::string_view caption,
                            QRect geometry = {}) {
  return Place(new QCheckBox(Q(caption), parent), name, geometry);
}

inline QRadioButton* MakeRadio(QWidget* parent, const char* name, std::string_view caption,
                               QRect geometry = {}) {
  return Place(new QRadioButton(Q(caption), parent), name, geometry);
}

// A memo: plain lines, no wrapping of long sector lists, a bounded number of lines.
QPlainTextEdit* MakeMemo(QWidget* parent, const char* name, bool readOnly, QRect geometry = {});

// A heading panel (pnl1, pnl2): raised, its caption on a tinted ground.
QLabel* MakePanel(QWidget* parent, const char* name, std::string_view caption, QRect geometry = {});

}  // namespace ravelin::shell
