#include "common/dynlib.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <utility>

#include "common/paths.h"

namespace hx {

DynamicLibrary::~DynamicLibrary() { Close(); }

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

bool DynamicLibrary::Open(const std::string& name, std::string& error) {
  Close();
  std::string firstError;
  if (name.find('/') == std::string::npos) {
    // The installation's private library folder, or the program's own
    // folder in a build tree.
    const std::filesystem::path local = Layout().libraries / name;
    if (std::filesystem::exists(local)) {
      handle_ = dlopen(local.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (handle_) return true;
      const char* e = dlerror();
      firstError = e ? e : "unknown error";
    }
  }
  handle_ = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_) return true;
  const char* e = dlerror();
  error = !firstError.empty() ? firstError : (e ? e : "cannot load " + name);
  return false;
}

void* DynamicLibrary::Symbol(const std::string& name, std::string& error) const {
  if (!handle_) {
    error = "library not loaded";
    return nullptr;
  }
  dlerror();
  void* sym = dlsym(handle_, name.c_str());
  if (!sym) {
    const char* e = dlerror();
    error = e ? e : "missing entry point " + name;
  }
  return sym;
}

void DynamicLibrary::Close() {
  if (handle_) {
    dlclose(handle_);
    handle_ = nullptr;
  }
}

std::string DynamicLibrary::Path() const {
  link_map* map = nullptr;
  if (!handle_ || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

}  // namespace hx
