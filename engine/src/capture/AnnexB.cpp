#include "AnnexB.h"

namespace lagwell {
namespace {

constexpr size_t kNotFound = static_cast<size_t>(-1);

// Position of the first 00 00 01 at or after `from`.
size_t findStartCode(const uint8_t* data, size_t size, size_t from)
{
    for (size_t i = from; i + 2 < size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // none of the next two positions can start a code
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1)
            return i;
    }
    return kNotFound;
}

}  // namespace

AnnexBScan scanAnnexB(const uint8_t* data, size_t size)
{
    AnnexBScan scan;
    if (!data)
        return scan;
    size_t startCode = findStartCode(data, size, 0);
    while (startCode != kNotFound) {
        const size_t header = startCode + 3;
        if (header >= size)
            break;
        const size_t begin = (startCode > 0 && data[startCode - 1] == 0) ? startCode - 1 : startCode;
        const size_t next = findStartCode(data, size, header);
        size_t end = size;
        if (next != kNotFound)
            end = data[next - 1] == 0 ? next - 1 : next;
        const int type = data[header] & 0x1F;
        if (type == 5)
            scan.hasIdrSlice = true;
        else if (type == 7 || type == 8)
            scan.parameterSets.insert(scan.parameterSets.end(), data + begin, data + end);
        startCode = next;
    }
    return scan;
}

}  // namespace lagwell
