// A saved timer scan (CSV) as the window reads it back for the Lattice.
#include "fuzz_common.h"
#include "gui/lattice_model.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LatticeData lattice;
    LatticeFromScanText(AsText(data, size), lattice);
    return 0;
}
