// The four container libraries (libewf, libvhdi, libvmdk, libqcow) come from one author and
// share one shape: an opaque handle made by *_initialize, opened read-only, read with a
// positioned read that may return fewer bytes than asked, closed and freed; a failed call
// hands back an error object that prints itself and must be freed. `LibraryCalls` names one
// library's functions of that shape, so the reading, closing and error texts are written
// once; each library's opening, which is where they differ, is in its own file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "common/bytes.h"

namespace ravelin {

// The libraries' handles and errors are all `intptr_t` behind their typedefs.
using LibraryObject = std::intptr_t;

struct LibraryCalls {
  ssize_t (*read)(LibraryObject* handle, void* buffer, std::size_t size, off64_t offset,
                  LibraryObject** error);
  int (*close)(LibraryObject* handle, LibraryObject** error);
  int (*free)(LibraryObject** handle, LibraryObject** error);
  int (*sprint)(LibraryObject* error, char* text, std::size_t size);
  void (*freeError)(LibraryObject** error);
  // Whether the library has found any of the guest's bytes [offset, offset + length)
  // damaged (a chunk whose checksum fails), on this read or an earlier one: it keeps the
  // chunk it read, and hands the cached bytes out again without a word. Optional:
  // libraries without checksums give none.
  bool (*damaged)(LibraryObject* handle, std::uint64_t offset, std::uint64_t length) = nullptr;
};

// The error's text (its messages, one per line, the first call's last), and frees it.
std::string TakeErrorText(const LibraryCalls& calls, LibraryObject*& error);

// An open handle: closed and freed with it.
class LibraryHandle {
 public:
  LibraryHandle(const LibraryCalls& calls, LibraryObject* handle, bool opened)
      : calls_(calls), handle_(handle), opened_(opened) {}
  ~LibraryHandle();
  LibraryHandle(const LibraryHandle&) = delete;
  LibraryHandle& operator=(const LibraryHandle&) = delete;

  LibraryObject* get() const { return handle_; }
  void MarkOpened() { opened_ = true; }

  // Exactly out.size() bytes at `offset`, or false; false too when the library says the
  // bytes it handed back are damaged. Not thread-safe.
  bool Read(std::uint64_t offset, MutableBytes out);

 private:
  const LibraryCalls& calls_;
  LibraryObject* handle_;
  bool opened_;
};

using InitializeCall = int (*)(LibraryObject** handle, LibraryObject** error);
using OpenCall = int (*)(LibraryObject* handle, const char* path, int accessFlags,
                         LibraryObject** error);

// A handle made with `initialize` and opened on `path` with `open` and the library's
// read-only `accessFlags`; null, with the library's reason in `failure`, when either fails.
std::unique_ptr<LibraryHandle> OpenLibraryFile(const LibraryCalls& calls, InitializeCall initialize,
                                               OpenCall open, int accessFlags,
                                               const std::string& path, std::string& failure);

// What a library made of a container: the open handle and what it tells of the guest, or
// why it could not.
struct OpenedContainer {
  std::unique_ptr<LibraryHandle> handle;  // null when the container was refused
  std::uint64_t guestBytes = 0;
  std::string detail;
  std::string failure;
};

OpenedContainer OpenEwfContainer(const std::string& path);
OpenedContainer OpenVhdiContainer(const std::string& path);
OpenedContainer OpenVmdkContainer(const std::string& path);
OpenedContainer OpenQcowContainer(const std::string& path);

}  // namespace ravelin
