// Motorola S-record text of any content, read as such: see ImageReaderCheck.h for what must hold.
#include "ImageReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    zq::fuzz::checkImageReader(data, size, zq::ops::ImageFormat::SRecord);
    return 0;
}
