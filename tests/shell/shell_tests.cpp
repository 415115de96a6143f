// The window's tests, run on Qt's offscreen platform.
#include "shell_tests.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int failed = 0;
  failed += ravelin::shell::test::RunUiAdapterTests(argc, argv);
  failed += ravelin::shell::test::RunListModelTests(argc, argv);
  failed += ravelin::shell::test::RunWindowTests(argc, argv);
  failed += ravelin::shell::test::RunRecoveryTests(argc, argv);
  return failed == 0 ? 0 : 1;
}
