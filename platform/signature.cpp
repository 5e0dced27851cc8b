#include "platform/signature.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <memory>

namespace qvr {

namespace {

struct KeyFree {
    void operator()(EVP_PKEY* key) const noexcept { EVP_PKEY_free(key); }
};
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};

const unsigned char* bytes(std::string_view text)
{
    return reinterpret_cast<const unsigned char*>(text.data());
}

bool verify(const Ed25519PublicKey& key, std::string_view message, std::string_view signature)
{
    const std::unique_ptr<EVP_PKEY, KeyFree> publicKey(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()));
    const std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!publicKey || !context)
        return false;
    // Ed25519 hashes the message itself, in one pass over all of it: no digest is
    // named, and there is no update step.
    if (EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, publicKey.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(), bytes(signature), signature.size(), bytes(message), message.size()) == 1;
}

} // namespace

bool verifyEd25519(const Ed25519PublicKey& key, std::string_view message, std::string_view signature)
{
    if (signature.size() != kEd25519SignatureSize)
        return false;
    const bool valid = verify(key, message, signature);
    // A refusal queues errors on this thread, where libcurl's TLS code would find
    // them and take them for its own.
    ERR_clear_error();
    return valid;
}

} // namespace qvr
