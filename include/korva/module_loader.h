#ifndef KORVA_MODULE_LOADER_H_
#define KORVA_MODULE_LOADER_H_

#include <memory>
#include <stdexcept>
#include <string>

#include "korva/classifier_base.h"
#include "korva/export.h"
#include "korva/module_entry_points.h"
#include "korva/subset_training.h"

namespace Korva {

// Why a module could not be used; what() names the file and the reason.
class KORVA_HOST_API ModuleError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class Module;

// The entry points of a module's shared trainings (korva/subset_training.h).
struct SubsetTrainingEntryPoints {
  OpenRowSetFn open = nullptr;
  TrainRowSubsetFn train = nullptr;
  CloseRowSetFn close = nullptr;
  OpenRowBlocksFn openBlocks = nullptr;  // optional: null where missing
};

// Gives an object back to the module that made it; keeps the module loaded
// until then.
struct KORVA_HOST_API ClassifierReleaser {
  std::shared_ptr<const Module> module;
  void operator()(ClassifierBase* object) const;
};
using ClassifierHandle = std::unique_ptr<ClassifierBase, ClassifierReleaser>;

// A loaded classifier module. It stays loaded while this object or any
// classifier it created is alive.
class KORVA_HOST_API Module : public std::enable_shared_from_this<Module> {
 public:
  // Loads the module at `path` with every symbol bound now. Throws ModuleError
  // when the file is missing, is not a loadable library, or lacks an entry
  // point of korva/module_entry_points.h; the optional ones of
  // korva/subset_training.h are looked up too.
  static std::shared_ptr<Module> Open(const std::string& path);
  ~Module();
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  // A new classifier object; throws ModuleError when the module returns none.
  ClassifierHandle CreateClassifier() const;
  // Calls the module's ReleaseInstance on `object` and returns its status.
  int Release(ClassifierBase** object) const;
  const std::string& Path() const { return path_; }
  // The shared trainings' entry points; null unless the module exports all
  // three (an older module, or another classifier's, trains subset by
  // subset through Train2).
  const SubsetTrainingEntryPoints* SubsetTraining() const {
    return subsets_.open ? &subsets_ : nullptr;
  }

 private:
  Module(std::string path,
         void* handle,
         CreateInstanceFn create,
         ReleaseInstanceFn release);

  std::string path_;
  void* handle_;
  CreateInstanceFn create_;
  ReleaseInstanceFn release_;
  SubsetTrainingEntryPoints subsets_;
};

}  // namespace Korva

#endif  // KORVA_MODULE_LOADER_H_
