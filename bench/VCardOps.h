// The window's vCard export and import driven on a set, each timed around
// what the person who clicked waits for. Qt stays in VCardOps.cpp.
#pragma once

#include <string>

#include "StoreOps.h"

namespace contavio::bench {

// "Exportar vCard...": exportBook of every contact of slot 0 as 4.0 cards,
// then the atomic write of the file.
struct VCardExportRun {
    double seconds = 0.0;
    int count = 0;     // cards written
    std::string text;  // the file's bytes
};
VCardExportRun exportToFile(TConjuntos& store, const std::string& path);

// "Importar vCard...": the file read and its cards parsed (readVCardFiles),
// then each merged into slot 0 (importCards, keeping the stored values).
struct VCardImportRun {
    double seconds = 0.0;
    int added = 0;
    int merged = 0;
    int unchanged = 0;
};
VCardImportRun importFromFile(TConjuntos& store, const std::string& path);

}  // namespace contavio::bench
