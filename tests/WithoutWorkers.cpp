// Linked into every unit test. With CONTAVIO_TEST_WITHOUT_WORKERS set, no
// second thread can be started, as on a system out of threads: the suites
// registered a second time under that name check that loading, saving and
// searching give the same results on the caller's thread alone.
#include <cstdlib>

#include "engine/Worker.h"

namespace {

const bool kWorkersSwitchedOff = [] {
    const bool off = std::getenv("CONTAVIO_TEST_WITHOUT_WORKERS") != nullptr;
    if (off) contavio::setWorkersAllowed(false);
    return off;
}();

}  // namespace
