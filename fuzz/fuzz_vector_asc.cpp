// libFuzzer target: fuzzVectorAsc of fuzz_entries.h.

#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return quillner::fuzzing::runInput(quillner::fuzzing::fuzzVectorAsc, data, size);
}
