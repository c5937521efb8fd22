// Any bytes as a datagram read as a signed order and as a "roomkeys" file. A signed order is
// read only from exactly 78 bytes and gives back the bytes it was read from; every key read is
// an uncompressed point whose line reads back to the same key.
#include <algorithm>

#include "fuzz/check.h"
#include "fuzz/memory_file.h"
#include "link/signed_order.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace vorlek;
    const std::span<const std::uint8_t> bytes(data, size);

    if (const auto order = ReadSignedOrder(bytes)) {
        FUZZ_CHECK(size == kSignedCommandSize && data[0] == 0x03 && data[5] == kOrderForm);
        FUZZ_CHECK(std::equal(order->head.begin(), order->head.end(), data));
        FUZZ_CHECK(std::equal(order->signature.begin(), order->signature.end(), data + 14));
        FUZZ_CHECK(ReadDatagram(bytes)->word == order->word);
    }
    if (const auto nonce = NonceOf(bytes); nonce && *nonce != kNoNonce) {
        FUZZ_CHECK(size == 9 || size == 13);
        FUZZ_CHECK(std::equal(nonce->begin(), nonce->end(), data + size - 8));
    }

    const fuzz::MemoryFile file(bytes);
    if (const auto keys = ReadRoomKeys(file.get())) {
        FUZZ_CHECK(!keys->empty());
        // Each key takes a line of more than 99 characters.
        FUZZ_CHECK(keys->size() <= size / 99);
        for (const PublicKey& key : *keys) {
            FUZZ_CHECK(key[0] == 0x04);
            FUZZ_CHECK(ReadPublicKeyLine(FormatPublicKeyLine(key, "# again")) == key);
        }
    }
    return 0;
}
