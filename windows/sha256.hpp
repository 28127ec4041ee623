#pragma once

// SHA-256 through Windows' own cryptography (CNG), for checksums of what setup writes.

#include <windows.h>
#include <bcrypt.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sha256_detail {
struct AlgorithmCloser {
    void operator()(void* algorithm) const noexcept {
        ::BCryptCloseAlgorithmProvider(static_cast<BCRYPT_ALG_HANDLE>(algorithm), 0);
    }
};
struct HashDestroyer {
    void operator()(void* hash) const noexcept {
        ::BCryptDestroyHash(static_cast<BCRYPT_HASH_HANDLE>(hash));
    }
};
} // namespace sha256_detail

// The SHA-256 of the bytes, in lower-case hexadecimal; nothing when CNG cannot give it.
inline std::optional<std::string> Sha256(std::string_view bytes) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            ::BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return std::nullopt;
    }
    const std::unique_ptr<void, sha256_detail::AlgorithmCloser> ownedAlgorithm(algorithm);
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        return std::nullopt;
    }
    const std::unique_ptr<void, sha256_detail::HashDestroyer> ownedHash(hash);
    UCHAR digest[32];
    // CNG takes a buffer it may write to.
    std::vector<UCHAR> data(bytes.begin(), bytes.end());
    if (!BCRYPT_SUCCESS(::BCryptHashData(hash, data.data(), static_cast<ULONG>(data.size()), 0)) ||
        !BCRYPT_SUCCESS(::BCryptFinishHash(hash, digest, sizeof digest, 0))) {
        return std::nullopt;
    }
    std::string text;
    for (const UCHAR unit : digest) {
        text += "0123456789abcdef"[unit >> 4];
        text += "0123456789abcdef"[unit & 0xF];
    }
    return text;
}
