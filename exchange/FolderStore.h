// A vdir as a card store: a folder of vCards, one ".vcf" file per card, that
// vdirsyncer keeps in step with a CardDAV server. An item's name is its file
// name, its version a hash of its bytes.
//
// Only regular files are read: a FIFO, a device, a link or a folder named
// "*.vcf" is skipped and named in the listing, never opened for reading in a
// way that could block. Dot-files are not items (vdirsyncer ignores them too).
// Every file is written atomically: a temporary ".contavio-tmp-XXXXXX" in the
// folder, fsync, rename; temporaries of a killed run are removed by the next
// listing.
#pragma once

#include <string>

#include "exchange/CardStore.h"

namespace contavio {

class FolderStore : public CardStore {
  public:
    // readOnly: the listing leaves the temporaries of a killed run (a dry
    // run changes nothing).
    explicit FolderStore(std::string folder, bool readOnly = false);

    StoreListing list() override;
    std::string read(const std::string& name) override;
    std::string write(const std::string& name, std::string_view bytes,
                      const std::optional<std::string>& ifVersion) override;
    void remove(const std::string& name, const std::string& ifVersion) override;
    void flush() override;
    const char* sideName() const override { return "en la carpeta"; }

    const std::string& folder() const { return folder_; }

  private:
    // The bytes of a regular file, or none when there is no such file (or it
    // is no regular file). Throws std::runtime_error on a failure to read.
    std::optional<std::string> readRegular(const std::string& name) const;

    std::string folder_;
    bool readOnly_;
    std::map<std::string, std::string> versions_;  // the items' versions as last listed or written
};

// The version tag of a card's bytes.
std::string bytesVersion(std::string_view bytes);

// Writes a file atomically in `folder` (temporary, fsync, rename). Throws
// std::runtime_error naming the file and the system's reason.
void writeFileIn(const std::string& folder, const std::string& name, std::string_view bytes);

// The bytes of the open descriptor fd (the file `path`) to its end, then
// closes it; expected: a size to make room for. Throws as failOn.
std::string readToEnd(int fd, const std::string& path, size_t expected = 0);

// fsync of a folder, so that renames and deletes in it last.
void syncFolder(const std::string& folder);

// "No se pudo <what> «path»: <reason of errno>", thrown.
[[noreturn]] void failOn(const std::string& what, const std::string& path);

}  // namespace contavio
