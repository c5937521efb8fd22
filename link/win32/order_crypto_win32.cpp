#include "link/win32/order_crypto_win32.h"

#include <bcrypt.h>
#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

namespace vorlek {

struct Cng::Calls {
    decltype(&BCryptOpenAlgorithmProvider) open;
    decltype(&BCryptCloseAlgorithmProvider) close;
    decltype(&BCryptCreateHash) createHash;
    decltype(&BCryptHashData) hashData;
    decltype(&BCryptFinishHash) finishHash;
    decltype(&BCryptDestroyHash) destroyHash;
    decltype(&BCryptGenRandom) random;
    decltype(&BCryptGenerateKeyPair) generateKeyPair;
    decltype(&BCryptFinalizeKeyPair) finalizeKeyPair;
    decltype(&BCryptExportKey) exportKey;
    decltype(&BCryptImportKeyPair) importKeyPair;
    decltype(&BCryptDestroyKey) destroyKey;
    decltype(&BCryptSignHash) signHash;
    decltype(&BCryptVerifySignature) verifySignature;
};

namespace {

constexpr ULONG kCoordinateSize = 32;
constexpr std::size_t kPublicBlobSize = sizeof(BCRYPT_ECCKEY_BLOB) + 2 * kCoordinateSize;

template <typename Call>
bool Resolve(HMODULE module, const char* name, Call& call) {
    call = reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return call != nullptr;
}

// An algorithm provider and the objects made with it, closed in reverse order.
class Provider {
public:
    Provider(const Cng::Calls& calls, const wchar_t* algorithm) : calls_(calls) {
        if (calls_.open(&handle_, algorithm, nullptr, 0) != 0) {
            handle_ = nullptr;
        }
    }
    ~Provider() {
        if (handle_ != nullptr) {
            calls_.close(handle_, 0);
        }
    }
    Provider(const Provider&) = delete;
    Provider& operator=(const Provider&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    const Cng::Calls& calls_;
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class Key {
public:
    explicit Key(const Cng::Calls& calls) : calls_(calls) {}
    ~Key() {
        if (handle != nullptr) {
            calls_.destroyKey(handle);
        }
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    BCRYPT_KEY_HANDLE handle = nullptr;

private:
    const Cng::Calls& calls_;
};

std::vector<std::uint8_t> PublicBlobOf(const PublicKey& key) {
    std::vector<std::uint8_t> blob(kPublicBlobSize);
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, kCoordinateSize};
    std::memcpy(blob.data(), &header, sizeof header);
    std::copy(key.begin() + 1, key.end(), blob.begin() + sizeof header);
    return blob;
}

bool ImportKey(const Cng::Calls& calls, BCRYPT_ALG_HANDLE algorithm, const wchar_t* type,
               std::span<const std::uint8_t> blob, Key& key) {
    return calls.importKeyPair(algorithm, nullptr, type, &key.handle,
                               const_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()),
                               0) == 0;
}

std::optional<PublicKey> ExportPublic(const Cng::Calls& calls, const Key& key) {
    std::array<std::uint8_t, kPublicBlobSize> blob{};
    ULONG written = 0;
    if (calls.exportKey(key.handle, nullptr, BCRYPT_ECCPUBLIC_BLOB, blob.data(),
                        static_cast<ULONG>(blob.size()), &written, 0) != 0 ||
        written != blob.size()) {
        return std::nullopt;
    }
    PublicKey publicKey{0x04};
    std::copy(blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB), blob.end(), publicKey.begin() + 1);
    return publicKey;
}

}  // namespace

std::unique_ptr<Cng> Cng::Load() {
    // By its full path, so that no folder a user can write to is searched.
    wchar_t path[MAX_PATH];
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    const std::wstring_view name = L"\\bcrypt.dll";
    if (length == 0 || length + name.size() >= MAX_PATH) {
        return nullptr;
    }
    std::copy(name.begin(), name.end(), path + length);
    path[length + name.size()] = L'\0';
    const HMODULE module = LoadLibraryW(path);
    if (module == nullptr) {
        return nullptr;
    }
    auto calls = std::make_unique<Calls>();
    const bool complete = Resolve(module, "BCryptOpenAlgorithmProvider", calls->open) &&
                          Resolve(module, "BCryptCloseAlgorithmProvider", calls->close) &&
                          Resolve(module, "BCryptCreateHash", calls->createHash) &&
                          Resolve(module, "BCryptHashData", calls->hashData) &&
                          Resolve(module, "BCryptFinishHash", calls->finishHash) &&
                          Resolve(module, "BCryptDestroyHash", calls->destroyHash) &&
                          Resolve(module, "BCryptGenRandom", calls->random) &&
                          Resolve(module, "BCryptGenerateKeyPair", calls->generateKeyPair) &&
                          Resolve(module, "BCryptFinalizeKeyPair", calls->finalizeKeyPair) &&
                          Resolve(module, "BCryptExportKey", calls->exportKey) &&
                          Resolve(module, "BCryptImportKeyPair", calls->importKeyPair) &&
                          Resolve(module, "BCryptDestroyKey", calls->destroyKey) &&
                          Resolve(module, "BCryptSignHash", calls->signHash) &&
                          Resolve(module, "BCryptVerifySignature", calls->verifySignature);
    if (!complete) {
        FreeLibrary(module);
        return nullptr;
    }
    return std::unique_ptr<Cng>(new Cng(module, std::move(calls)));
}

Cng::Cng(HMODULE module, std::unique_ptr<Calls> calls)
    : module_(module), calls_(std::move(calls)) {}

Cng::~Cng() {
    FreeLibrary(module_);
}

bool Cng::Random(std::span<std::uint8_t> bytes) const {
    return calls_->random(nullptr, bytes.data(), static_cast<ULONG>(bytes.size()),
                          BCRYPT_USE_SYSTEM_PREFERRED_RNG) == 0;
}

std::optional<std::array<std::uint8_t, 32>> Cng::Sha256(std::span<const std::uint8_t> data) const {
    const Provider provider(*calls_, BCRYPT_SHA256_ALGORITHM);
    if (provider.get() == nullptr) {
        return std::nullopt;
    }
    // A hash object that CNG allocates itself (no buffer of ours), as Windows Vista allows.
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (calls_->createHash(provider.get(), &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 32> digest{};
    const bool hashed =
        calls_->hashData(hash, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(data.size()),
                         0) == 0 &&
        calls_->finishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) == 0;
    calls_->destroyHash(hash);
    if (!hashed) {
        return std::nullopt;
    }
    return digest;
}

std::optional<Cng::KeyPair> Cng::NewKeyPair() const {
    const Provider provider(*calls_, BCRYPT_ECDSA_P256_ALGORITHM);
    Key key(*calls_);
    if (provider.get() == nullptr ||
        calls_->generateKeyPair(provider.get(), &key.handle, 256, 0) != 0 ||
        calls_->finalizeKeyPair(key.handle, 0) != 0) {
        return std::nullopt;
    }
    KeyPair pair;
    pair.privateBlob.resize(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinateSize);
    ULONG written = 0;
    if (calls_->exportKey(key.handle, nullptr, BCRYPT_ECCPRIVATE_BLOB, pair.privateBlob.data(),
                          static_cast<ULONG>(pair.privateBlob.size()), &written, 0) != 0 ||
        written != pair.privateBlob.size()) {
        return std::nullopt;
    }
    const auto publicKey = ExportPublic(*calls_, key);
    if (!publicKey) {
        return std::nullopt;
    }
    pair.publicKey = *publicKey;
    return pair;
}

std::optional<PublicKey> Cng::PublicKeyOf(std::span<const std::uint8_t> privateBlob) const {
    const Provider provider(*calls_, BCRYPT_ECDSA_P256_ALGORITHM);
    Key key(*calls_);
    if (provider.get() == nullptr ||
        !ImportKey(*calls_, provider.get(), BCRYPT_ECCPRIVATE_BLOB, privateBlob, key)) {
        return std::nullopt;
    }
    return ExportPublic(*calls_, key);
}

std::optional<Signature> Cng::Sign(std::span<const std::uint8_t> privateBlob,
                                   std::span<const std::uint8_t> message) const {
    auto digest = Sha256(message);
    const Provider provider(*calls_, BCRYPT_ECDSA_P256_ALGORITHM);
    Key key(*calls_);
    if (!digest || provider.get() == nullptr ||
        !ImportKey(*calls_, provider.get(), BCRYPT_ECCPRIVATE_BLOB, privateBlob, key)) {
        return std::nullopt;
    }
    Signature signature{};
    ULONG written = 0;
    if (calls_->signHash(key.handle, nullptr, digest->data(), static_cast<ULONG>(digest->size()),
                         signature.data(), static_cast<ULONG>(signature.size()), &written,
                         0) != 0 ||
        written != signature.size()) {
        return std::nullopt;
    }
    return signature;
}

bool Cng::Verify(const PublicKey& key, std::span<const std::uint8_t> message,
                 const Signature& signature) const {
    auto digest = Sha256(message);
    const Provider provider(*calls_, BCRYPT_ECDSA_P256_ALGORITHM);
    Key imported(*calls_);
    if (!digest || provider.get() == nullptr ||
        !ImportKey(*calls_, provider.get(), BCRYPT_ECCPUBLIC_BLOB, PublicBlobOf(key), imported)) {
        return false;
    }
    return calls_->verifySignature(
               imported.handle, nullptr, digest->data(), static_cast<ULONG>(digest->size()),
               const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0) == 0;
}

namespace {

// "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;<this account>)": no inherited entries.
std::optional<std::wstring> KeyFileAcl() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> user(256);
    DWORD size = 0;
    const bool read = GetTokenInformation(token, TokenUser, user.data(),
                                          static_cast<DWORD>(user.size()), &size) != 0;
    CloseHandle(token);
    wchar_t* sid = nullptr;
    if (!read ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
        return std::nullopt;
    }
    std::wstring acl = L"D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;";
    acl.append(sid).append(L")");
    LocalFree(sid);
    return acl;
}

std::string LastErrorReason(const char* what) {
    return std::string(what) + " (error " + std::to_string(GetLastError()) + ").";
}

}  // namespace

bool WritePrivateKeyFile(const std::wstring& path, std::span<const std::uint8_t> privateBlob,
                         std::string& reason) {
    DATA_BLOB plain{static_cast<DWORD>(privateBlob.size()), const_cast<BYTE*>(privateBlob.data())};
    DATA_BLOB protectedBlob{};
    if (!CryptProtectData(&plain, L"Vorlek room key", nullptr, nullptr, nullptr,
                          CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN, &protectedBlob)) {
        reason = LastErrorReason("The key could not be protected");
        return false;
    }
    const auto acl = KeyFileAcl();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!acl || !ConvertStringSecurityDescriptorToSecurityDescriptorW(acl->c_str(), SDDL_REVISION_1,
                                                                      &descriptor, nullptr)) {
        LocalFree(protectedBlob.pbData);
        reason = LastErrorReason("The key file's permissions could not be made");
        return false;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    LocalFree(descriptor);
    if (file == INVALID_HANDLE_VALUE) {
        LocalFree(protectedBlob.pbData);
        reason = GetLastError() == ERROR_FILE_EXISTS
                     ? std::string("The file exists already: a key is never overwritten.")
                     : LastErrorReason("The file could not be made");
        return false;
    }
    DWORD written = 0;
    const bool whole =
        WriteFile(file, protectedBlob.pbData, protectedBlob.cbData, &written, nullptr) &&
        written == protectedBlob.cbData;
    LocalFree(protectedBlob.pbData);
    CloseHandle(file);
    if (!whole) {
        DeleteFileW(path.c_str());
        reason = LastErrorReason("The file could not be written");
    }
    return whole;
}

std::optional<std::vector<std::uint8_t>> ReadPrivateKeyFile(const std::wstring& path,
                                                            std::string& reason) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = LastErrorReason("The key file could not be opened");
        return std::nullopt;
    }
    // A protected P-256 key takes a few hundred bytes; a larger file is no key of ours.
    std::vector<std::uint8_t> bytes(4096);
    DWORD read = 0;
    const bool ok =
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) != 0;
    CloseHandle(file);
    if (!ok || read == 0 || read == bytes.size()) {
        reason = "The key file is empty, too long or unreadable.";
        return std::nullopt;
    }
    DATA_BLOB protectedBlob{read, bytes.data()};
    DATA_BLOB plain{};
    if (!CryptUnprotectData(&protectedBlob, nullptr, nullptr, nullptr, nullptr,
                            CRYPTPROTECT_UI_FORBIDDEN, &plain)) {
        reason = LastErrorReason("The key file could not be unprotected on this machine");
        return std::nullopt;
    }
    std::vector<std::uint8_t> blob(plain.pbData, plain.pbData + plain.cbData);
    SecureZeroMemory(plain.pbData, plain.cbData);
    LocalFree(plain.pbData);
    return blob;
}

}  // namespace vorlek
