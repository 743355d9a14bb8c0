// Small archives whose literal reading costs time far out of proportion to
// their size: the driver's tests pin how they end, and fuzzing keeps them
// as seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pack/archive_writer.h"

namespace qvtest {

// One packed entry that carries the solid flag with no entry before it:
// there are no code tables to go on with. UnpSize near 2^31; 60 bytes.
inline std::vector<uint8_t> SolidEntryFirst() {
    qvpack::ArchiveWriter w;
    w.Signature();
    w.MainHeader();
    qvpack::FileEntry e;
    e.HeadFlags = 0x8050;
    e.Method = 0x33;
    e.UnpSize = 0x7FFFFFF0u;
    e.Name = "s";
    w.File(e, std::vector<uint8_t>(7, 0));
    return w.Bytes;
}

// Packed entries whose headers lack the data flag while PackSize equals the
// header's own position: read literally, each one decodes the whole archive
// before it again. About `bytes` long.
inline std::vector<uint8_t> OverlappingHeaders(size_t bytes) {
    qvpack::ArchiveWriter w;
    w.Signature();
    w.MainHeader();
    qvpack::FileEntry e;
    e.HeadFlags = 0x0040;
    e.Method = 0x33;
    e.UnpSize = 1 << 20;
    e.Name = "o";
    while (w.Bytes.size() < bytes) {
        e.PackSize = static_cast<uint32_t>(w.Bytes.size());
        w.File(e, {});
    }
    return w.Bytes;
}

}  // namespace qvtest
