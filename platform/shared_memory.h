// Named shared memory: the stand-in for named file mappings. A Windows
// section name with its "Global\" or "Local\" namespace prefix maps to one
// POSIX shared-memory object for the whole machine ("Global\X" -> "/X").
// Objects are created with owner and group access only (0660).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <sys/stat.h>

#include "platform/win_types.h"

// The POSIX shared-memory name for a Windows section name.
std::string ShmNameFromWindowsName(const char* windowsName);
// Where an administrator finds that object in the file system.
std::string ShmPathFromWindowsName(const char* windowsName);

// Why an existing object of that name would be refused by CreateOrOpen, in
// words ("it is open to every user"); empty when there is none or it is fine.
std::string WhyNamedSectionIsRefused(const char* windowsName);

// Whether CreateOrOpen would take an object of this owner and mode: ours,
// root's or our group's, and not open to every user.
bool IsTrustedSectionObject(const struct stat& st);

class CSharedMemory {
 public:
  CSharedMemory() = default;
  CSharedMemory(const CSharedMemory&) = delete;
  CSharedMemory& operator=(const CSharedMemory&) = delete;
  ~CSharedMemory();

  // Opens the named object for reading and writing, or creates it with
  // `size` bytes (zero-filled) when none exists; `created` tells which. An
  // existing object of another user outside this process's group (or root),
  // or one open to every user that is not ours to close, is refused with
  // ERROR_ACCESS_DENIED. On failure the thread's last error holds the reason.
  bool CreateOrOpen(const char* windowsName, uint64_t size, bool& created);

  // The object's current size in bytes (0 when it cannot be read); with
  // `allocated`, also the bytes it holds memory for, from the same look.
  uint64_t Size(uint64_t* allocated = nullptr) const;
  // Grows the object to `size` bytes; never shrinks it.
  bool Grow(uint64_t size);

  // Backs the byte range with memory now, so that touching it cannot fault
  // later when the machine's shared memory runs out. False when it cannot.
  bool Commit(uint64_t offset, uint64_t length);
  // The bytes the object holds memory for (a sparse object holds less than
  // its size).
  uint64_t AllocatedBytes() const;
  // The size of the file system that holds the object (/dev/shm) and the
  // bytes still free there; false when it cannot be read.
  bool SpaceOfFileSystem(uint64_t& total, uint64_t& available) const;

  // Gives the range's memory back; it reads as zeros afterwards.
  bool Discard(uint64_t offset, uint64_t length);

  // Reads or writes bytes through the object's descriptor, never through a
  // mapping: another program may cut the object short at any moment (a
  // shell's "> /dev/shm/<name>"), and a mapped page past its new end kills
  // whoever touches it, where these only read less or grow it again.
  // ReadAt gives the bytes read (0 past the end); WriteAt whether all were
  // written.
  size_t ReadAt(uint64_t offset, void* data, size_t length) const;
  bool WriteAt(uint64_t offset, const void* data, size_t length);

  // Maps the first `length` bytes for reading and writing; null on failure.
  // `length` must not exceed Size(): touching pages past the object's end
  // faults.
  void* MapView(size_t length);
  static void UnmapView(void* view, size_t length);

  void Close();
  bool IsOpen() const { return m_fd >= 0; }
  int Descriptor() const { return m_fd; }

  // The object's device and inode (false when they cannot be read).
  bool Identity(uint64_t& device, uint64_t& inode) const;

  // Whether the name still refers to this object (not removed, not made anew).
  bool IsNamed(const char* windowsName) const;

  // Removes the name; mappings already made stay valid.
  static bool Remove(const char* windowsName);

 private:
  int m_fd = -1;
};
