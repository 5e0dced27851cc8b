#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace qvr {

// Ed25519 as libcrypto does it: a public key of 32 raw bytes, detached signatures of
// 64 raw bytes over the whole message (no digest of the caller's own).
constexpr std::size_t kEd25519KeySize = 32;
constexpr std::size_t kEd25519SignatureSize = 64;
using Ed25519PublicKey = std::array<unsigned char, kEd25519KeySize>;

// True only when `signature` is the Ed25519 signature of exactly `message` made with
// the private half of `key`. Every other case is false: a signature of another size,
// another key's signature, a message changed by one bit, a key libcrypto refuses, or
// no memory. Safe on any thread; leaves nothing in libcrypto's error queue.
[[nodiscard]] bool verifyEd25519(const Ed25519PublicKey& key, std::string_view message, std::string_view signature);

} // namespace qvr
