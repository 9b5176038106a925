// libFuzzer target: fuzzSRecordReader of fuzz_entries.h.

#include "fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return quillner::fuzzing::runInput(quillner::fuzzing::fuzzSRecordReader, data, size);
}
