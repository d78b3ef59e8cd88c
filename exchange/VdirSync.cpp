#include "exchange/VdirSync.h"

namespace contavio {

namespace {

SyncOptions withPlaces(const std::string& folder, const std::string& bookFolder,
                       SyncOptions options) {
    const SyncPlaces places = syncPlaces(bookFolder, folder, options.bookName);
    options.statePath = places.state;
    options.otherStates = statesBeside(bookFolder, ".contavio-sync-", places.state);
    options.legacyStatePath = places.oldState;
    options.keptRoot = places.kept;
    options.place = places.place;
    return options;
}

}  // namespace

VdirSync::VdirSync(const std::string& folder, const std::string& bookFolder, SyncOptions options)
    : store_(folder, options.dryRun),
      engine_(store_, withPlaces(folder, bookFolder, std::move(options))) {}

}  // namespace contavio
