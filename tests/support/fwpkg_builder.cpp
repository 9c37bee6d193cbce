#include "support/fwpkg_builder.h"

#include <algorithm>

namespace TestSupport {

size_t FieldAt(bool newLayout, size_t entry, uint32_t field)
{
    return newLayout ? NEW_HEADER + NEW_ENTRY * entry + NEW_NAME + field
                     : NORMAL_HEADER + NORMAL_ENTRY * entry + NORMAL_NAME + field;
}

void SealPackage(Bytes& package)
{
    const size_t count = package[6] | (package[7] << 8);
    const size_t end = std::min(package.size(), NORMAL_HEADER + size_t{NORMAL_ENTRY} * count);
    PutLe(package, 4, Crc16(package.data() + 6, end - 6), 2);
}

Bytes BuildPackage(const std::vector<PackageImage>& images)
{
    const size_t tableEnd = NORMAL_HEADER + size_t{NORMAL_ENTRY} * images.size();
    Bytes bytes(tableEnd, 0);
    PutLe(bytes, 0, NORMAL_FLAG, 4);
    PutLe(bytes, 6, static_cast<uint32_t>(images.size()), 2);
    PutLe(bytes, 8, 0x5A5A1234u, 4);  // not interpreted, but covered by the CRC
    for (size_t i = 0; i < images.size(); ++i) {
        const PackageImage& image = images[i];
        std::copy_n(image.name.begin(), std::min<size_t>(image.name.size(), NORMAL_NAME),
                    bytes.begin() + static_cast<std::ptrdiff_t>(NORMAL_HEADER + NORMAL_ENTRY * i));
        PutLe(bytes, FieldAt(false, i, FIELD_OFFSET), static_cast<uint32_t>(bytes.size()), 4);
        PutLe(bytes, FieldAt(false, i, FIELD_LENGTH), static_cast<uint32_t>(image.data.size()), 4);
        PutLe(bytes, FieldAt(false, i, FIELD_ADDRESS), image.burnAddress, 4);
        PutLe(bytes, FieldAt(false, i, FIELD_SIZE), image.burnSize, 4);
        PutLe(bytes, FieldAt(false, i, FIELD_TYPE), image.type, 4);
        bytes.insert(bytes.end(), image.data.begin(), image.data.end());
    }
    SealPackage(bytes);
    return bytes;
}

}  // namespace TestSupport
