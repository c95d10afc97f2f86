#include "korva/module_loader.h"

#include <dlfcn.h>
#include <elf.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <utility>

namespace Korva {
namespace {

// Under AddressSanitizer a module stays mapped after dlclose, so that the leak
// check at exit can still read the module's (and its libraries') memory and
// name their frames; otherwise globals of an unloaded library look leaked.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE;
#else
constexpr int kOpenFlags = RTLD_NOW | RTLD_LOCAL;
#endif

// Why an ELF file cannot hold what its program headers promise: every
// loadable segment and the section headers must lie inside the file, else
// the dynamic loader faults (SIGBUS) on the missing pages. "" for a file
// that is whole, or that is no 64-bit ELF file (dlopen then says why).
std::string TruncatedElf(const std::string& path, off_t size) {
  std::ifstream file(path, std::ios::binary);
  Elf64_Ehdr header{};
  if (!file.read(reinterpret_cast<char*>(&header), sizeof(header)) ||
      std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64)
    return "";
  std::uint64_t needed =
      header.e_shoff + std::uint64_t{header.e_shnum} * header.e_shentsize;
  for (std::uint64_t i = 0; i < header.e_phnum; ++i) {
    Elf64_Phdr segment{};
    file.seekg(header.e_phoff + i * header.e_phentsize);
    if (!file.read(reinterpret_cast<char*>(&segment), sizeof(segment)))
      return "its program headers are cut off";
    if (segment.p_type == PT_LOAD)
      needed =
          std::max<std::uint64_t>(needed, segment.p_offset + segment.p_filesz);
  }
  if (needed <= static_cast<std::uint64_t>(size)) return "";
  return "the file is truncated (" + std::to_string(size) + " bytes of " +
         std::to_string(needed) + ")";
}

std::string LastDlError() {
  const char* text = dlerror();
  return text ? text : "unknown reason";
}

}  // namespace

void ClassifierReleaser::operator()(ClassifierBase* object) const {
  if (object != nullptr && module) module->Release(&object);
}

std::shared_ptr<Module> Module::Open(const std::string& path) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0)
    throw ModuleError("module file not found: " + path);
  if (const std::string why = TruncatedElf(path, info.st_size); !why.empty())
    throw ModuleError("cannot load module " + path + ": " + why);
  // dlopen looks a name without a slash up on the library search path; the
  // file found above, relative to the current folder, is the one to load.
  const std::string file =
      path.find('/') == std::string::npos ? "./" + path : path;
  dlerror();
  void* handle = dlopen(file.c_str(), kOpenFlags);
  if (handle == nullptr)
    throw ModuleError("cannot load module " + path + ": " + LastDlError());
  auto symbol = [&](const char* name) {
    dlerror();
    void* address = dlsym(handle, name);
    if (address == nullptr) {
      std::string reason = LastDlError();
      dlclose(handle);
      throw ModuleError("module " + path + " has no entry point " + name +
                        ": " + reason);
    }
    return address;
  };
  auto create =
      reinterpret_cast<CreateInstanceFn>(symbol(kCreateInstanceSymbol));
  auto release =
      reinterpret_cast<ReleaseInstanceFn>(symbol(kReleaseInstanceSymbol));
  std::shared_ptr<Module> module(new Module(path, handle, create, release));
  SubsetTrainingEntryPoints subsets{
      reinterpret_cast<OpenRowSetFn>(dlsym(handle, kOpenRowSetSymbol)),
      reinterpret_cast<TrainRowSubsetFn>(dlsym(handle, kTrainRowSubsetSymbol)),
      reinterpret_cast<CloseRowSetFn>(dlsym(handle, kCloseRowSetSymbol)),
      reinterpret_cast<OpenRowBlocksFn>(dlsym(handle, kOpenRowBlocksSymbol))};
  dlerror();
  if (subsets.open && subsets.train && subsets.close) module->subsets_ = subsets;
  return module;
}

Module::Module(std::string path,
               void* handle,
               CreateInstanceFn create,
               ReleaseInstanceFn release)
    : path_(std::move(path)),
      handle_(handle),
      create_(create),
      release_(release) {}

Module::~Module() { dlclose(handle_); }

ClassifierHandle Module::CreateClassifier() const {
  ClassifierBase* object = create_();
  if (object == nullptr)
    throw ModuleError("module " + path_ + " created no classifier object");
  return ClassifierHandle(object, ClassifierReleaser{shared_from_this()});
}

int Module::Release(ClassifierBase** object) const { return release_(object); }

}  // namespace Korva
