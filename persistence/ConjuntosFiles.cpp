// The set collection's loads and saves: TConjuntos (engine/Conjuntos.h)
// declares them with the rest of the collection, and they are defined here,
// beside the files they read and write, so that the store below knows
// nothing of files and this layer links only downwards.
#include "engine/Conjuntos.h"
#include "persistence/DataFiles.h"

namespace contavio {

void TConjuntos::loadText(const std::string& fileName, int32_t slot) {
    if (!validSlot(slot) || !isEmpty(slot)) return;
    loadTextHashE(fileName, sets[static_cast<size_t>(slot)]);
}

void TConjuntos::saveCrypt(const std::string& fileName, int32_t slot, int32_t key) {
    hashElemR* set = setAt(slot);
    if (set != nullptr && set->proto != nullptr) saveCryptHashE(fileName, set, key);
}

void TConjuntos::loadCrypt(const std::string& fileName, int32_t slot, int32_t key) {
    if (!validSlot(slot) || !isEmpty(slot)) return;
    loadCryptHashE(fileName, sets[static_cast<size_t>(slot)], key);
}

}  // namespace contavio
