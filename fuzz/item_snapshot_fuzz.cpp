// The item store's file. Whatever the bytes, decoding gives a snapshot or
// nothing and never throws; a snapshot it gives encodes into a file that
// reads back as the same snapshot (the store rewrites what it read).

#include "fileprovider/item_snapshot.hpp"
#include "fuzz/fuzz_input.hpp"

using namespace cadrio;
using fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<ItemSnapshot> snapshot = decodeSnapshot(fuzz::text(data, size));
    if (!snapshot) return 0;
    const std::optional<ItemSnapshot> again = decodeSnapshot(encodeSnapshot(*snapshot));
    require(again && *again == *snapshot);
    return 0;
}
