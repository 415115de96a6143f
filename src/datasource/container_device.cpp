#include "datasource/container_device.h"

#include <limits>
#include <optional>
#include <string_view>
#include <vector>

#include "common/mutex.h"
#include "datasource/container_library.h"
#include "datasource/file_device.h"

namespace ravelin {
namespace {

class ContainerDevice final : public Device {
 public:
  ContainerDevice(std::unique_ptr<LibraryHandle> handle, ContainerInfo info)
      : handle_(std::move(handle)), info_(std::move(info)) {}

  bool ReadAt(std::uint64_t byteOffset, MutableBytes out) override {
    // A read past the guest's end fails as one past a raw image's end does, whatever the
    // library would make of it.
    if (byteOffset > info_.guestBytes || out.size() > info_.guestBytes - byteOffset) {
      return false;
    }
    MutexLock lock(mutex_);
    return handle_->Read(byteOffset, out);
  }
  std::uint64_t SizeBytes() const override { return info_.guestBytes; }
  // Containers hold 512-byte-sector disks as far as reads go, like any image file.
  std::uint32_t LogicalSectorSize() const override { return kSectorSize; }
  std::optional<ContainerInfo> Container() const override { return info_; }

 private:
  Mutex mutex_;
  std::unique_ptr<LibraryHandle> handle_ GUARDED_BY(mutex_);
  const ContainerInfo info_;
};

OpenedContainer OpenWithLibrary(const std::string& path, ContainerKind kind) {
  switch (kind) {
    case ContainerKind::kE01:
      return OpenEwfContainer(path);
    case ContainerKind::kVhd:
    case ContainerKind::kVhdx:
      return OpenVhdiContainer(path);
    case ContainerKind::kVmdk:
      return OpenVmdkContainer(path);
    case ContainerKind::kQcow:
    case ContainerKind::kQcow2:
      return OpenQcowContainer(path);
    case ContainerKind::kEx01:
      // libewf as Debian 12 ships it (20140813) knows only version 1 segment files.
      return {nullptr,
              0,
              {},
              "Ex01 (EWF version 2) images cannot be read by this build's libewf, which reads "
              "E01 only; convert it to E01 or raw first (e.g. with ewfexport of a newer "
              "libewf)"};
    case ContainerKind::kRaw:
      break;
  }
  return {nullptr, 0, {}, "not a container"};
}

}  // namespace

std::string TakeErrorText(const LibraryCalls& calls, LibraryObject*& error) {
  if (error == nullptr) return "unknown error";
  std::vector<char> text(4096, '\0');
  const int n = calls.sprint(error, text.data(), text.size());
  calls.freeError(&error);
  error = nullptr;
  if (n <= 0) return "unknown error";
  std::string message(text.data());
  // One line: the libraries put each message of the chain on its own line.
  for (char& c : message) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  while (!message.empty() && message.back() == ' ') message.pop_back();
  return message;
}

LibraryHandle::~LibraryHandle() {
  LibraryObject* error = nullptr;
  if (opened_ && calls_.close(handle_, &error) != 0 && error != nullptr) calls_.freeError(&error);
  error = nullptr;
  if (calls_.free(&handle_, &error) != 1 && error != nullptr) calls_.freeError(&error);
}

bool LibraryHandle::Read(std::uint64_t offset, MutableBytes out) {
  constexpr auto kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off64_t>::max());
  std::size_t done = 0;
  while (done < out.size()) {
    if (offset + done > kMaxOffset) return false;
    LibraryObject* error = nullptr;
    const ssize_t got = calls_.read(handle_, out.data() + done, out.size() - done,
                                    static_cast<off64_t>(offset + done), &error);
    if (error != nullptr) calls_.freeError(&error);
    // 0 is the end of the guest: the request runs past it.
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  // Bytes that fail their own checksum are not the disk's: the read fails, and the reader
  // above finds the damaged sectors as it does those of a failing disk.
  return !calls_.damaged || !calls_.damaged(handle_, offset, out.size());
}

std::unique_ptr<LibraryHandle> OpenLibraryFile(const LibraryCalls& calls, InitializeCall initialize,
                                               OpenCall open, int accessFlags,
                                               const std::string& path, std::string& failure) {
  LibraryObject* error = nullptr;
  LibraryObject* raw = nullptr;
  if (initialize(&raw, &error) != 1) {
    failure = TakeErrorText(calls, error);
    return nullptr;
  }
  auto handle = std::make_unique<LibraryHandle>(calls, raw, false);
  if (open(raw, path.c_str(), accessFlags, &error) != 1) {
    failure = TakeErrorText(calls, error);
    return nullptr;
  }
  handle->MarkOpened();
  return handle;
}

ContainerKind SniffContainer(Device& device) {
  const std::uint64_t size = device.SizeBytes();
  std::vector<std::uint8_t> head(
      static_cast<std::size_t>(std::min<std::uint64_t>(size, kSectorSize)));
  if (!device.ReadAt(0, head)) return ContainerKind::kRaw;
  std::vector<std::uint8_t> tail;
  if (size >= 2 * kSectorSize) {
    tail.resize(kSectorSize);
    if (!device.ReadAt(size - kSectorSize, tail)) tail.clear();
  }
  return IdentifyContainer(head, tail);
}

OpenResult OpenContainer(const std::string& path, ContainerKind kind) {
  OpenedContainer opened = OpenWithLibrary(path, kind);
  if (!opened.handle) {
    return {nullptr, kContainerOpenError,
            std::string(ContainerKindName(kind)) + ": " + opened.failure};
  }
  ContainerInfo info{kind, std::move(opened.detail), opened.guestBytes};
  return {std::make_unique<ContainerDevice>(std::move(opened.handle), std::move(info)), 0};
}

std::optional<ContainerInfo> ContainerOf(const std::string& path, const DeviceOpener& opener) {
  const OpenResult opened = opener(path);
  if (!opened.device) return std::nullopt;
  return opened.device->Container();
}

OpenResult OpenSystemDevice(const std::string& path) {
  OpenResult opened = FileDevice::Open(path);
  if (!opened.device || opened.device->Block()) return opened;
  // A disk is read as it is; only an image file can be a container.
  const ContainerKind kind = SniffContainer(*opened.device);
  if (kind == ContainerKind::kRaw) return opened;
  opened.device.reset();
  return OpenContainer(path, kind);
}

}  // namespace ravelin
