// The module list of the whole system, in start-up order. The order
// matters: the first registration of a name wins, and shutdown runs in
// reverse order. A new module adds its descriptor here, after the modules
// it builds on; nothing else outside its own folder changes.
#include "core/collector.hpp"
#include "core/eval.hpp"
#include "core/module.hpp"
#include "core/predicates.hpp"
#include "core/runtime.hpp"
#include "data/charsets.hpp"
#include "data/format.hpp"
#include "data/handles.hpp"
#include "data/hashtables.hpp"
#include "data/lists.hpp"
#include "data/loader.hpp"
#include "data/numbers.hpp"
#include "data/printer.hpp"
#include "data/reader.hpp"
#include "data/state.hpp"
#include "data/streams.hpp"
#include "data/strings.hpp"
#include "data/vectors.hpp"
#include "logic/logic.hpp"
#include "logic/search_module.hpp"
#include "media/frame.hpp"
#include "media/geometry.hpp"
#include "media/sound.hpp"
#include "objects/configs.hpp"
#include "objects/objects.hpp"
#include "process/processes.hpp"
#include "shell/controls.hpp"
#include "shell/effect_methods.hpp"
#include "shell/start.hpp"
#include "shell/menus.hpp"
#include "shell/windows.hpp"
#include "storage/clipboard.hpp"
#include "storage/databases.hpp"
#include "storage/dates.hpp"
#include "storage/load.hpp"
#include "storage/files.hpp"
#include "storage/resources.hpp"

namespace core {

std::span<const Module* const> default_modules() {
  static const Module* const list[] = {
      // core
      &kPredicatesModule, &kZonesModule, &kCollectorModule, &kSymbolsModule, &kErrorsModule, &kEvalModule,
      // data
      &data::kDataModule, &data::kListsModule, &data::kNumbersModule, &data::kHandlesModule,
      &data::kStreamsModule, &data::kReaderModule, &data::kLoaderModule, &data::kPrinterModule, &data::kStringsModule,
      &data::kCharsetsModule, &data::kVectorsModule, &data::kHashTablesModule, &data::kSetsModule,
      &data::kFormatModule,
      // storage
      &storage::kDatesModule, &storage::kFilesModule, &storage::kResourcesModule, &storage::kLoadModule,
      &storage::kDatabasesModule, &storage::kClipboardModule,
      // objects
      &objects::kObjectsModule, &objects::kConfigsModule,
      // logic
      &logic::kLogicModule, &logic::kSearchModule,
      // media
      &media::kGeometryModule, &media::kFrameModule, &media::kSoundModule,
      // processes
      &process::kProcessModule,
      // shell
      &shell::kShellModule, &shell::kWindowsModule, &shell::kControlsModule, &shell::kMenusModule, &shell::kEffectsModule,
  };
  return list;
}

std::unique_ptr<Runtime> make_runtime(const MemoryPrefs& prefs, uint32_t preferred) {
  return make_runtime(prefs, preferred, default_modules());
}

}  // namespace core
