#include "runtime/entry.h"

#include <string>
#include <utility>

namespace Vexa {
namespace {

// An AppModule as the seam's callbacks see it.
class HostedAppModule final : public HostedModule {
 public:
  HostedAppModule(std::unique_ptr<AppModule> module, std::string_view shortName,
                  std::string_view type)
      : module_(std::move(module)), shortName_(shortName), type_(type) {}

  Registration Register(uint32_t coreMajor, uint32_t coreMinor, uint32_t corePatch) override {
    module_->Register(PluginApiVersion{coreMajor, coreMinor, corePatch, {}, {}}, shortName_, type_);
    return Registration{kPluginApiVersion.major, kPluginApiVersion.minor, kPluginApiVersion.patch,
                        module_->FullName().c_str(), &module_->ApiTable()};
  }
  bool Start(const HostLink& host) override { return module_->Start(host); }
  void BeginStop() override { module_->BeginStop(); }
  [[nodiscard]] bool IsWaiting() const override { return module_->IsWaiting(); }
  [[nodiscard]] const char* FullName() const override { return module_->FullName().c_str(); }
  [[nodiscard]] SequenceChecker& Sequence() override { return module_->Dispatcher().Sequence(); }

 private:
  std::unique_ptr<AppModule> module_;
  std::string shortName_;
  std::string type_;
};

}  // namespace

std::unique_ptr<HostedModule> HostModule(std::unique_ptr<AppModule> module,
                                         std::string_view shortName,
                                         std::string_view type) noexcept {
  if (module == nullptr) {
    return nullptr;
  }
  try {
    return std::make_unique<HostedAppModule>(std::move(module), shortName, type);
  } catch (...) {
    return nullptr;
  }
}

}  // namespace Vexa
