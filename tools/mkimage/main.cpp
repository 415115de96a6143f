// ravelin-mkimage: see `ravelin-mkimage --help`. The command line lives in the generator
// library (gen/image_cli.h) so the tests run it in-process.
#include <iostream>
#include <string>
#include <vector>

#include "gen/image_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return ravelin::gen::RunMkimage(args, std::cout, std::cerr);
}
