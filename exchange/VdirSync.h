// The sync of a book with a vdir: a folder of vCards, one ".vcf" file per
// contact, that vdirsyncer keeps in step with a CardDAV server. The sync
// engine (SyncEngine) over the folder as its card store (FolderStore), with
// the state and the kept copies beside the book (syncPlaces); a state that
// the first version kept inside the folder is read once and moved.
#pragma once

#include <string>

#include "exchange/FolderStore.h"
#include "exchange/SyncEngine.h"
#include "exchange/SyncState.h"

namespace contavio {

class VdirSync {
  public:
    // folder: the vdir, which must exist; bookFolder: the folder of the
    // book's file. options: their places are filled in here.
    VdirSync(const std::string& folder, const std::string& bookFolder, SyncOptions options = {});

    // As SyncEngine::run and commit.
    BookChanges run(const BookContacts& book, SyncReport& report) {
        return engine_.run(book, report);
    }
    void commit() { engine_.commit(); }

  private:
    FolderStore store_;
    SyncEngine engine_;
};

}  // namespace contavio
