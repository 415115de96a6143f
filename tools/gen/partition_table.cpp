#include "gen/partition_table.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "gen/fs_tools.h"
#include "gen/random.h"

namespace ravelin::gen {
namespace {

std::string Guid(Random& random) {
  const std::uint64_t a = random.Next();
  const std::uint64_t b = random.Next();
  char text[40];
  std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", static_cast<unsigned>(a >> 32),
                static_cast<unsigned>((a >> 16) & 0xFFFF),
                // Version 4, variant 1: what a random GUID says of itself.
                static_cast<unsigned>(0x4000 | (a & 0x0FFF)),
                static_cast<unsigned>(0x8000 | ((b >> 48) & 0x3FFF)),
                static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace

std::string TypeText(PartitionTableKind kind, const TableEntry& entry) {
  if (kind == PartitionTableKind::kGpt) return entry.gptType;
  char text[8];
  std::snprintf(text, sizeof text, "%x", entry.mbrType);
  return text;
}

Status WritePartitionTable(const std::string& path, PartitionTableKind kind,
                           const std::vector<TableEntry>& entries, std::uint64_t seed) {
  if (Status s = RequireTools({"sfdisk"}); !s.ok()) return s;
  Random random(seed ^ 0xD15Cull);
  std::string script;
  char line[256];
  if (kind == PartitionTableKind::kMbr) {
    std::snprintf(line, sizeof line, "label: dos\nlabel-id: 0x%08x\nunit: sectors\n\n",
                  static_cast<unsigned>(random.Next()));
    script = line;
  } else {
    script = "label: gpt\nlabel-id: " + Guid(random) + "\nunit: sectors\nfirst-lba: 34\n\n";
  }
  for (const TableEntry& e : entries) {
    std::snprintf(line, sizeof line, "start=%llu, size=%llu, type=%s",
                  static_cast<unsigned long long>(e.start), static_cast<unsigned long long>(e.size),
                  TypeText(kind, e).c_str());
    script += line;
    if (kind == PartitionTableKind::kGpt) script += ", uuid=" + Guid(random);
    script += "\n";
  }
  return RunToolChecked({"sfdisk", "--no-reread", "--no-tell-kernel", "-q", "--wipe", "never",
                         "--wipe-partitions", "never", path},
                        nullptr, script);
}

Status ReadPartitionTable(const std::string& imagePath, std::vector<TablePartition>& partitions,
                          std::string* label) {
  partitions.clear();
  ToolResult r;
  if (Status s = RunToolChecked({"sfdisk", "-J", imagePath}, &r); !s.ok()) return s;
  try {
    const auto table = nlohmann::json::parse(r.out).at("partitiontable");
    const std::string kind = table.at("label").get<std::string>();
    if (label != nullptr) *label = kind;
    const std::string device = table.at("device").get<std::string>();
    for (const auto& p : table.at("partitions")) {
      TablePartition part;
      // The node is the device's name and the number, with a "p" between when the name
      // ends in a digit.
      std::string node = p.at("node").get<std::string>();
      node = node.compare(0, device.size(), device) == 0 ? node.substr(device.size()) : node;
      if (!node.empty() && node[0] == 'p') node.erase(0, 1);
      part.number = std::stoi(node);
      part.start = p.at("start").get<std::uint64_t>();
      part.size = p.at("size").get<std::uint64_t>();
      const std::string type = p.at("type").get<std::string>();
      if (kind == "gpt") {
        part.typeGuid = type;
      } else {
        part.type = static_cast<std::uint32_t>(std::stoul(type, nullptr, 16));
      }
      partitions.push_back(part);
    }
  } catch (const std::exception& e) {
    return Status::ToolFailed(std::string("unexpected sfdisk -J output: ") + e.what());
  }
  return Status::Ok();
}

}  // namespace ravelin::gen
