#include "link/signed_order.h"

#include <algorithm>
#include <cstring>

#include "link/scan.h"

namespace vorlek {

namespace {

constexpr std::string_view kBase64 =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Exactly the padded standard encoding of a PublicKey: 88 characters, the last one '='.
std::optional<PublicKey> DecodeKey(std::string_view text) {
    constexpr std::size_t kEncodedSize = (sizeof(PublicKey) + 2) / 3 * 4;
    if (text.size() != kEncodedSize || text.back() != '=') {
        return std::nullopt;
    }
    PublicKey key{};
    std::size_t out = 0;
    std::uint32_t bits = 0;
    int count = 0;
    for (const char c : text.substr(0, kEncodedSize - 1)) {
        const std::size_t value = kBase64.find(c);
        if (value == std::string_view::npos) {
            return std::nullopt;
        }
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            if (out < key.size()) {
                key[out] = static_cast<std::uint8_t>(bits >> count);
            }
            ++out;
        }
    }
    // 65 bytes leave 2 bits over in the last character, which the encoding sets to zero; an
    // uncompressed point starts with 0x04.
    if (out != key.size() || (bits & 0x3) != 0 || key[0] != 0x04) {
        return std::nullopt;
    }
    return key;
}

std::string EncodeKey(const PublicKey& key) {
    std::string text;
    for (std::size_t i = 0; i < key.size(); i += 3) {
        const std::size_t taken = std::min<std::size_t>(3, key.size() - i);
        std::uint32_t group = static_cast<std::uint32_t>(key[i]) << 16;
        if (taken > 1) {
            group |= static_cast<std::uint32_t>(key[i + 1]) << 8;
        }
        if (taken > 2) {
            group |= key[i + 2];
        }
        for (std::size_t j = 0; j < 4; ++j) {
            text += j <= taken ? kBase64[group >> (18 - 6 * j) & 0x3F] : '=';
        }
    }
    return text;
}

}  // namespace

OrderMessage OrderMessageOf(Ipv4 destination, const Nonce& nonce, const SignedHead& head) {
    OrderMessage message{};
    auto out = std::copy(kOrderDomain.begin(), kOrderDomain.end(), message.begin());
    // Ipv4 holds the address in network order, first octet in the lowest-addressed byte.
    std::memcpy(&*out, &destination, sizeof destination);
    out += sizeof destination;
    out = std::copy(nonce.begin(), nonce.end(), out);
    std::copy(head.begin(), head.end(), out);
    return message;
}

std::optional<SignedCommand> BuildSignedCommand(StatusWord word, std::uint64_t sequence,
                                                Ipv4 destination, const Nonce& nonce,
                                                OrderSigner& signer) {
    SignedHead head{};
    const WordDatagram command = BuildCommand(word);
    std::copy(command.begin(), command.end(), head.begin());
    head[5] = kOrderForm;
    for (std::size_t i = 0; i < 8; ++i) {
        head[6 + i] = static_cast<std::uint8_t>(sequence >> (8 * i));
    }
    const auto signature = signer.Sign(OrderMessageOf(destination, nonce, head));
    if (!signature) {
        return std::nullopt;
    }
    SignedCommand signedCommand{};
    std::copy(head.begin(), head.end(), signedCommand.begin());
    std::copy(signature->begin(), signature->end(), signedCommand.begin() + kSignedHeadSize);
    return signedCommand;
}

std::optional<SignedOrder> ReadSignedOrder(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kSignedCommandSize ||
        bytes[0] != static_cast<std::uint8_t>(DatagramType::Command) || bytes[5] != kOrderForm) {
        return std::nullopt;
    }
    SignedOrder order;
    order.word = *ReadDatagram(bytes)->word;
    for (std::size_t i = 0; i < 8; ++i) {
        order.sequence |= static_cast<std::uint64_t>(bytes[6 + i]) << (8 * i);
    }
    std::copy_n(bytes.begin(), kSignedHeadSize, order.head.begin());
    std::copy_n(bytes.begin() + kSignedHeadSize, order.signature.size(), order.signature.begin());
    return order;
}

NoncedHello BuildHello(const Nonce& nonce) {
    NoncedHello hello{static_cast<std::uint8_t>(DatagramType::Hello)};
    std::copy(nonce.begin(), nonce.end(), hello.begin() + 1);
    return hello;
}

NoncedReport BuildStatusReport(StatusWord word, const Nonce& nonce) {
    NoncedReport report{};
    const WordDatagram plain = BuildStatusReport(word);
    std::copy(plain.begin(), plain.end(), report.begin());
    std::copy(nonce.begin(), nonce.end(), report.begin() + plain.size());
    return report;
}

std::optional<Nonce> NonceOf(std::span<const std::uint8_t> datagram) {
    std::size_t size = 0;
    if (!datagram.empty() && datagram[0] == static_cast<std::uint8_t>(DatagramType::Hello)) {
        size = std::tuple_size_v<NoncedHello>;
    } else if (datagram.size() >= 5 &&
               datagram[0] == static_cast<std::uint8_t>(DatagramType::Status)) {
        size = std::tuple_size_v<NoncedReport>;
    } else {
        return std::nullopt;
    }
    if (datagram.size() != size) {
        return kNoNonce;
    }
    Nonce nonce{};
    std::copy(datagram.end() - nonce.size(), datagram.end(), nonce.begin());
    return nonce;
}

std::optional<PublicKey> ReadPublicKeyLine(std::string_view line) {
    const std::string_view word = FirstWord(line);
    if (word != kPublicKeyWord) {
        return std::nullopt;
    }
    const std::string_view rest = line.substr(word.data() + word.size() - line.data());
    return DecodeKey(FirstWord(rest));
}

std::string FormatPublicKeyLine(const PublicKey& key, std::string_view comment) {
    std::string line(kPublicKeyWord);
    line.append(" ").append(EncodeKey(key));
    if (!comment.empty()) {
        line.append(" ").append(comment);
    }
    return line;
}

std::optional<std::vector<PublicKey>> ReadRoomKeys(std::FILE* file) {
    std::vector<PublicKey> keys;
    char line[kRoomKeysLineLimit + 1];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        const std::string_view text(line, std::strlen(line));
        // A line longer than the limit would be read as two: the file is refused instead.
        if (text.size() == kRoomKeysLineLimit && text.back() != '\n') {
            return std::nullopt;
        }
        const std::string_view word = FirstWord(text);
        if (word.empty() || word.front() == '#') {
            continue;
        }
        const auto key = ReadPublicKeyLine(text);
        if (!key) {
            return std::nullopt;
        }
        keys.push_back(*key);
    }
    if (keys.empty()) {
        return std::nullopt;
    }
    return keys;
}

}  // namespace vorlek
