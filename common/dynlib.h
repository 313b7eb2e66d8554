// Loading a shared library by name at run time, as the programs load the
// closed USB and boot-loader libraries.
#pragma once

#include <string>

namespace hx {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

  // Loads `name` (a file name such as "libhxusbif.so", or a path). A bare
  // file name is looked for first next to the running program, then where
  // the system looks for shared libraries. Returns false and fills `error`
  // with a one-line reason when it cannot be loaded.
  bool Open(const std::string& name, std::string& error);
  bool IsOpen() const { return handle_ != nullptr; }
  // The address of an exported symbol, or nullptr with `error` filled.
  void* Symbol(const std::string& name, std::string& error) const;
  // The file the loaded library came from, or empty.
  std::string Path() const;
  void Close();

 private:
  void* handle_ = nullptr;
};

}  // namespace hx
