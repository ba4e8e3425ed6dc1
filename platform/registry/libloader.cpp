#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel.h"
#include "platform/libloaderapi.h"
#include "platform/resource_section.h"
#include "platform/widestring.h"
#include "platform/winerror.h"

struct HRSRC__ {
  std::vector<char> data;
};

namespace {

// Reads the ".kwz_rsrc" section of an ELF file; empty when there is none. Every offset and
// size comes from the file, so each is checked against the file's size before use.
std::vector<char> ReadResourceSection(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  const std::uint64_t fileSize = static_cast<std::uint64_t>(in.tellg());
  auto readAt = [&](std::uint64_t offset, void* out, std::uint64_t size) {
    if (offset > fileSize || size > fileSize - offset) return false;
    in.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(in.read(static_cast<char*>(out), static_cast<std::streamsize>(size)));
  };
  Elf64_Ehdr header;
  if (!readAt(0, &header, sizeof header) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) ||
      header.e_shstrndx >= header.e_shnum) {
    return {};
  }
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (!readAt(header.e_shoff, sections.data(),
              static_cast<std::uint64_t>(header.e_shnum) * sizeof(Elf64_Shdr))) {
    return {};
  }
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  if (names.sh_size > (1u << 20)) return {};
  std::vector<char> nameTable(names.sh_size + 1, '\0');
  if (!readAt(names.sh_offset, nameTable.data(), names.sh_size)) return {};
  for (const Elf64_Shdr& section : sections) {
    if (section.sh_name >= names.sh_size) continue;
    if (std::strcmp(&nameTable[section.sh_name], ".kwz_rsrc") != 0) continue;
    if (section.sh_type == SHT_NOBITS || section.sh_size > (64u << 20)) return {};
    std::vector<char> bytes(section.sh_size);
    if (!readAt(section.sh_offset, bytes.data(), section.sh_size)) return {};
    return bytes;
  }
  return {};
}

std::string TypeText(LPCWSTR type) {
  if (IS_INTRESOURCE(type)) return "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type));
  return Narrow(type);
}

bool FindEntry(const std::vector<char>& section, LPCWSTR name, LPCWSTR type,
               std::vector<char>* data) {
  if (!IS_INTRESOURCE(name)) return false;  // every resource of ours is numbered
  const auto id = static_cast<std::uint32_t>(reinterpret_cast<ULONG_PTR>(name));
  const std::string wanted = TypeText(type);
  using kwz_platform::kResourceHeader;
  std::size_t at = 0;
  while (at + kResourceHeader <= section.size()) {
    if (std::memcmp(&section[at], kwz_platform::kResourceMagic, 8) != 0) {
      at += 8;  // linker padding between entries
      continue;
    }
    char entryType[25] = {};
    std::memcpy(entryType, &section[at + 8], 24);
    std::uint32_t entryId;
    std::uint32_t size;
    std::memcpy(&entryId, &section[at + 32], 4);
    std::memcpy(&size, &section[at + 36], 4);
    if (size > section.size() - at - kResourceHeader) return false;  // a cut entry ends the walk
    if (entryId == id && wanted == entryType) {
      data->assign(section.begin() + static_cast<std::ptrdiff_t>(at + kResourceHeader),
                   section.begin() + static_cast<std::ptrdiff_t>(at + kResourceHeader + size));
      return true;
    }
    at += kResourceHeader + (static_cast<std::size_t>(size) + 7) / 8 * 8;
  }
  return false;
}

std::string ModulePath(HMODULE module) {
  if (module == nullptr) {
    char path[4096];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string();
  }
  link_map* map = nullptr;
  if (::dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
    return {};
  }
  // The loader keeps the name it was given, which may be relative to a former folder.
  char* full = ::realpath(map->l_name, nullptr);
  if (full == nullptr) return map->l_name;
  std::string path(full);
  std::free(full);
  return path;
}

std::string CurrentFolder() {
  char folder[4096];
  return ::getcwd(folder, sizeof folder) != nullptr ? std::string(folder) : std::string();
}

bool IsFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// What to hand dlopen for a module name. Programs written for Windows name their modules bare
// and expect them to be found beside the program or in the current folder, where dlopen alone
// does not look; so those two folders come first, then dlopen's own search. Relative paths are
// made absolute now, so the module's path stays right when the current folder changes later.
std::string FileToLoad(const std::string& name) {
  if (name.front() == '/') return name;
  if (name.find('/') != std::string::npos) return CurrentFolder() + "/" + name;
  const std::string program = ModulePath(nullptr);
  const std::string programFolder = program.substr(0, program.rfind('/'));
  for (const std::string& folder : {programFolder, CurrentFolder()}) {
    if (!folder.empty() && IsFile(folder + "/" + name)) return folder + "/" + name;
  }
  return name;
}

// Handles found stay valid while their module is loaded; they are kept per module and path.
std::mutex g_resourceLock;
std::map<std::pair<std::string, std::string>, std::unique_ptr<HRSRC__>> g_resources;

}  // namespace

HMODULE LoadLibraryW(LPCWSTR path) {
  if (path == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const std::string name = Narrow(path);
  // dlopen takes an empty name for the program itself, which is no module to load.
  void* handle = name.empty() ? nullptr : ::dlopen(FileToLoad(name).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return static_cast<HMODULE>(handle);
}

BOOL FreeLibrary(HMODULE module) {
  return module != nullptr && ::dlclose(module) == 0 ? TRUE : FALSE;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  void* symbol = module != nullptr && name != nullptr ? ::dlsym(module, name) : nullptr;
  if (symbol == nullptr) SetLastError(ERROR_PROC_NOT_FOUND);
  return reinterpret_cast<FARPROC>(symbol);
}

BOOL GetModuleHandleExW(DWORD flags, LPCWSTR name, HMODULE* module) {
  if (module == nullptr || (flags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *module = nullptr;
  Dl_info info;
  if (::dladdr(reinterpret_cast<const void*>(name), &info) == 0 || info.dli_fname == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  void* handle = ::dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  // The module is loaded (the address is in it), so the handle outlives this count.
  if ((flags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0) ::dlclose(handle);
  *module = static_cast<HMODULE>(handle);
  return TRUE;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR path, DWORD size) {
  if (path == nullptr || size == 0) return 0;
  const std::u16string wide = Widen(ModulePath(module).c_str());
  if (wide.empty()) {
    path[0] = u'\0';
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  if (wide.size() >= size) {
    std::memcpy(path, wide.data(), (size - 1) * sizeof(WCHAR));
    path[size - 1] = u'\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(path, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(wide.size());
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  const std::string path = ModulePath(module);
  std::vector<char> data;
  if (path.empty() || !FindEntry(ReadResourceSection(path), name, type, &data)) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const std::string key = TypeText(type) + "/" + std::to_string(reinterpret_cast<ULONG_PTR>(name));
  std::lock_guard<std::mutex> lock(g_resourceLock);
  auto& slot = g_resources[{path, key}];
  if (!slot) slot = std::make_unique<HRSRC__>(HRSRC__{std::move(data)});
  return slot.get();
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  return resource != nullptr ? static_cast<HGLOBAL>(resource->data.data()) : nullptr;
}

LPVOID LockResource(HGLOBAL data) {
  return data;
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  return resource != nullptr ? static_cast<DWORD>(resource->data.size()) : 0;
}

int LoadStringW(HINSTANCE module, UINT id, LPWSTR buffer, int bufferMax) {
  if (buffer == nullptr || bufferMax <= 0) return 0;
  buffer[0] = u'\0';
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), RT_STRING);
  if (found == nullptr) return 0;
  const std::string text(found->data.begin(), found->data.end());
  const std::u16string wide = Widen(text.c_str());
  const std::size_t n = wide.size() < static_cast<std::size_t>(bufferMax - 1)
                            ? wide.size()
                            : static_cast<std::size_t>(bufferMax - 1);
  std::memcpy(buffer, wide.data(), n * sizeof(WCHAR));
  buffer[n] = u'\0';
  return static_cast<int>(n);
}

namespace kwz_platform {

bool ReadFileResource(const char* path, LPCWSTR name, LPCWSTR type, void* data, DWORD* size) {
  std::vector<char> bytes;
  if (path == nullptr || size == nullptr ||
      !FindEntry(ReadResourceSection(path), name, type, &bytes)) {
    return false;
  }
  if (data != nullptr) {
    if (*size < bytes.size()) return false;
    std::memcpy(data, bytes.data(), bytes.size());
  }
  *size = static_cast<DWORD>(bytes.size());
  return true;
}

}  // namespace kwz_platform
