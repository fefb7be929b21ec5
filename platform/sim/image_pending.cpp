// Placeholders for image sections whose components are not built yet; the
// components' own definitions replace these.
#include "platform/sim/image.h"

namespace sim::image {

__attribute__((weak)) void LoadToken(Machine&, const Section& section, bool) {
  Refuse(section.number, "token sections are not supported yet");
}
__attribute__((weak)) void StoreTokens(const Machine&, std::string&) {}
__attribute__((weak)) void LoadRegistry(Machine&, const Section& section) {
  Refuse(section.number, "registry sections are not supported yet");
}
__attribute__((weak)) void StoreRegistry(const Machine&, std::string&) {}
__attribute__((weak)) void LoadRegistryEvents(Machine&, const Section& section) {
  Refuse(section.number, "event sections are not supported yet");
}
__attribute__((weak)) void StoreRegistryEvents(const Machine&, std::string&) {}

}  // namespace sim::image
