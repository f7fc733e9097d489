// Any bytes as an embedded colour profile: its description, and its conversion to sRGB
// made (for a colour or a grey picture) and run over a row of every grey level.
#include "image/color/SrgbConversion.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> profile(data, data + size);
    IccProfileDescription(profile);
    // A grey picture or a colour one, by the size's last bit.
    const SrgbConversion conversion(profile, size % 2 == 1);
    if (conversion.Converts()) {
        std::vector<uint8_t> row(3 * 256);
        for (size_t i = 0; i < row.size(); i++)
            row[i] = uint8_t(i / 3);
        conversion.ConvertRow(row.data(), 256);
    }
    return 0;
}
