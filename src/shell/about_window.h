// The about window: small, on top of the others, one new instance per click of "关于(ABOUT)"
// or "业务联系专业恢复(ABOUT)", shown without blocking the main window.
#pragma once

class QWidget;

namespace ravelin::shell {

// A new about window owned by `parent`; it deletes itself when closed.
QWidget* MakeAboutWindow(QWidget* parent);

}  // namespace ravelin::shell
