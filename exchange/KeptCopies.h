// Copies of what a sync deletes or replaces, kept where the user can get
// them back: one dated folder per run under the root,
//   <root>/AAAAMMDD-HHMMSS/tarjetas/<name>   each card as it was, a hard link
//                                            to <root>/.contenido/<its hash>,
//                                            one file per content
// ("-2", "-3"... after the time for a second run in the same second)
//   <root>/AAAAMMDD-HHMMSS/agenda.vcf        the book's contacts as they were
// A card comes back by copying it into the synced folder; the contacts by
// importing agenda.vcf. Folders older than kKeptDays are removed by the next
// run that keeps something. Nothing is created until the first copy.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "exchange/ContactData.h"

namespace contavio {

inline constexpr int kKeptDays = 30;

class KeptCopies {
  public:
    // now: the run's time, which names its folder.
    KeptCopies(std::string root, std::time_t now);

    // Keeps a card's bytes (on disk after flush). Throws std::runtime_error
    // naming the file and the reason.
    void keepCard(const std::string& name, const std::string& bytes);
    void flush() const;
    // Keeps the contacts (as they are in the book) in agenda.vcf.
    void keepContacts(const std::vector<ContactData>& contacts);

    // The run's folder, or "" when nothing was kept.
    std::string folder() const { return used_ ? folder_ : std::string(); }

  private:
    void open();
    void removeOld() const;

    std::string root_;
    std::string folder_;
    std::time_t now_;
    bool used_ = false;
};

}  // namespace contavio
