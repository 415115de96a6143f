#include "support/container_images.h"

#include "gen/fs_tools.h"

namespace ravelin::test {
namespace {

struct Recipe {
  const char* label;
  const char* file;
  ContainerKind kind;
  bool sparse;
  std::vector<std::string> options;  // qemu-img's -O and -o, or ewfacquire's own
};

}  // namespace

bool MakeContainerImages(const std::string& raw, const std::string& dir,
                         std::vector<ContainerImage>& images, std::string& why) {
  const gen::Status tools = gen::RequireTools({"qemu-img", "ewfacquire"});
  if (!tools.ok()) {
    why = tools.message();
    return false;
  }
  const std::vector<Recipe> qemu = {
      {"vhd-fixed",
       "fixed.vhd",
       ContainerKind::kVhd,
       false,
       {"-O", "vpc", "-o", "subformat=fixed,force_size=on"}},
      // Without force_size, qemu rounds the disk up to whole cylinders: a guest a little
      // larger than the raw image, whose extra sectors read as zeros.
      {"vhd-dynamic", "dynamic.vhd", ContainerKind::kVhd, true, {"-O", "vpc"}},
      {"vhdx-dynamic", "dynamic.vhdx", ContainerKind::kVhdx, true, {"-O", "vhdx"}},
      {"vhdx-fixed",
       "fixed.vhdx",
       ContainerKind::kVhdx,
       false,
       {"-O", "vhdx", "-o", "subformat=fixed"}},
      {"vmdk-sparse", "sparse.vmdk", ContainerKind::kVmdk, true, {"-O", "vmdk"}},
      {"vmdk-flat",
       "flat.vmdk",
       ContainerKind::kVmdk,
       false,
       {"-O", "vmdk", "-o", "subformat=monolithicFlat"}},
      {"qcow2-v2", "v2.qcow2", ContainerKind::kQcow2, true, {"-O", "qcow2", "-o", "compat=0.10"}},
      {"qcow2-v3", "v3.qcow2", ContainerKind::kQcow2, true, {"-O", "qcow2", "-o", "compat=1.1"}},
  };
  for (const Recipe& r : qemu) {
    std::vector<std::string> argv = {"qemu-img", "convert", "-f", "raw"};
    argv.insert(argv.end(), r.options.begin(), r.options.end());
    argv.push_back(raw);
    argv.push_back(dir + "/" + r.file);
    const gen::Status made = gen::RunToolChecked(argv);
    if (!made.ok()) {
      why = made.message();
      return false;
    }
    images.push_back({r.label, dir + "/" + r.file, r.kind, r.sparse});
  }
  // -u: unattended; -t: the segment files' name without .E01; -c: deflate, so the chunks
  // are stored compressed; -S: the segment size (1 MiB is the least ewfacquire takes).
  const std::vector<Recipe> ewf = {
      {"e01", "single", ContainerKind::kE01, true, {"-c", "deflate:fast"}},
      {"e01-split", "split", ContainerKind::kE01, true, {"-c", "deflate:fast", "-S", "1048576"}},
  };
  for (const Recipe& r : ewf) {
    std::vector<std::string> argv = {"ewfacquire", "-u", "-q", "-t", dir + "/" + r.file};
    argv.insert(argv.end(), r.options.begin(), r.options.end());
    argv.push_back(raw);
    const gen::Status made = gen::RunToolChecked(argv);
    if (!made.ok()) {
      why = made.message();
      return false;
    }
    images.push_back({r.label, dir + "/" + r.file + ".E01", r.kind, r.sparse});
  }
  return true;
}

}  // namespace ravelin::test
