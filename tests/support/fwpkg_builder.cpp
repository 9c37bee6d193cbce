#include "support/fwpkg_builder.h"

#include <algorithm>

namespace TestSupport {

static uint32_t HeaderSize(bool newLayout) { return newLayout ? NEW_HEADER : NORMAL_HEADER; }
static uint32_t EntrySize(bool newLayout) { return newLayout ? NEW_ENTRY : NORMAL_ENTRY; }
static uint32_t NameSize(bool newLayout) { return newLayout ? NEW_NAME : NORMAL_NAME; }

size_t FieldAt(bool newLayout, size_t entry, uint32_t field)
{
    return HeaderSize(newLayout) + EntrySize(newLayout) * entry + NameSize(newLayout) + field;
}

void SealPackage(Bytes& package, bool newLayout)
{
    const size_t count = package[6] | (package[7] << 8);
    const size_t end = std::min(package.size(), HeaderSize(newLayout) + size_t{EntrySize(newLayout)} * count);
    PutLe(package, 4, Crc16(package.data() + 6, end - 6), 2);
}

Bytes BuildPackage(const std::vector<PackageImage>& images, PackageOptions options)
{
    const bool fresh = options.newLayout;
    const uint32_t flag = options.flag != 0 ? options.flag : (fresh ? NEW_FLAG : NORMAL_FLAG);
    const size_t tableEnd = HeaderSize(fresh) + size_t{EntrySize(fresh)} * images.size();
    Bytes bytes(tableEnd, 0);
    PutLe(bytes, 0, flag, 4);
    PutLe(bytes, 6, static_cast<uint32_t>(images.size()), 2);
    PutLe(bytes, 8, 0x5A5A1234u, 4);  // not interpreted, but covered by the CRC
    for (size_t i = 0; i < images.size(); ++i) {
        const PackageImage& image = images[i];
        const size_t entry = HeaderSize(fresh) + EntrySize(fresh) * i;
        std::copy_n(image.name.begin(), std::min<size_t>(image.name.size(), NameSize(fresh)),
                    bytes.begin() + static_cast<std::ptrdiff_t>(entry));
        PutLe(bytes, FieldAt(fresh, i, FIELD_OFFSET), static_cast<uint32_t>(bytes.size()), 4);
        PutLe(bytes, FieldAt(fresh, i, FIELD_LENGTH), static_cast<uint32_t>(image.data.size()), 4);
        PutLe(bytes, FieldAt(fresh, i, FIELD_ADDRESS), image.burnAddress, 4);
        PutLe(bytes, FieldAt(fresh, i, FIELD_SIZE), image.burnSize, 4);
        PutLe(bytes, FieldAt(fresh, i, FIELD_TYPE), image.type, 4);
        bytes.insert(bytes.end(), image.data.begin(), image.data.end());
    }
    SealPackage(bytes, fresh);
    return bytes;
}

}  // namespace TestSupport
