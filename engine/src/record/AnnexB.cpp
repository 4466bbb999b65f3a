#include "AnnexB.h"

namespace lagwell {

std::vector<AnnexBNal> splitAnnexB(const uint8_t* bytes, size_t size)
{
    std::vector<AnnexBNal> nals;
    if (!bytes || size < 3)
        return nals;

    size_t i = 0;
    while (size - i >= 3) {
        if (size - i >= 4) {
            if (bytes[i] != 0 || bytes[i + 1] != 0) {
                ++i;
            } else if (bytes[i + 2] == 0 && bytes[i + 3] == 1) {
                nals.push_back({i, size, 0, 4});
                i += 4;
            } else if (bytes[i + 2] == 1) {
                nals.push_back({i, size, 0, 3});
                i += 3;
            } else {
                ++i;
            }
        } else {
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1)
                nals.push_back({i, size, 0, 3});
            break;
        }
    }

    for (size_t k = 0; k < nals.size(); ++k) {
        AnnexBNal& nal = nals[k];
        if (k + 1 < nals.size())
            nal.end = nals[k + 1].start;
        const size_t header = nal.start + nal.startCodeBytes;
        nal.type = header < size ? static_cast<uint8_t>(bytes[header] & 0x1F) : 0;
    }
    return nals;
}

std::vector<AnnexBNal> splitAnnexB(const std::vector<uint8_t>& bytes)
{
    return splitAnnexB(bytes.data(), bytes.size());
}

}  // namespace lagwell
