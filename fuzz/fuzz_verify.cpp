// `ravelin verify` on a file of any bytes, in both output forms.
#include <sstream>

#include "cli/commands.h"
#include "datasource/memory_device.h"
#include "fuzz_support.h"

using namespace ravelin;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > (1u << 21)) return 0;
  fuzz::MemoryImage file({data, data + size});
  cli::CliEnv env;
  env.opener = file.Opener();
  for (const bool json : {false, true}) {
    cli::VerifyOptions options;
    options.file = fuzz::kImagePath;
    options.json = json;
    std::ostringstream out;
    std::ostringstream err;
    const int code = cli::RunVerify(options, env, out, err);
    if (code != cli::kExitOk && code != cli::kExitFailed && code != cli::kExitBadSource)
      __builtin_trap();
  }
  return 0;
}
