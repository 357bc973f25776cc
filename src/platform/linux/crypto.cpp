// SHA-256 and AES-256 in counter mode from OpenSSL's libcrypto, through its EVP interface
// (which takes the processor's AES instructions where there are any).
#include "platform/identity.h"

#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace platform {

namespace {

class LinuxCrypto : public Crypto {
public:
    Sha256Digest Sha256(std::string_view bytes) override {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                        &EVP_MD_CTX_free);
        Sha256Digest digest{};
        unsigned int length = 0;
        if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1 ||
            EVP_DigestUpdate(context.get(), bytes.data(), bytes.size()) != 1 ||
            EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 ||
            length != digest.size())
            throw std::runtime_error("libcrypto could not compute a SHA-256 digest");
        return digest;
    }

    bool HasAes() override { return true; }

    void AesCtrStream(const AesKey& key, std::uint64_t block, std::uint8_t* out,
                      std::size_t bytes) override {
        // One context per thread, keyed afresh at every call: a key schedule is a few dozen
        // nanoseconds against the hundreds of kilobytes a call enciphers.
        thread_local std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(
            EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
        std::uint8_t counter[16] = {};
        for (int i = 0; i < 8; ++i)
            counter[15 - i] = static_cast<std::uint8_t>(block >> (8 * i));
        if (!context ||
            EVP_EncryptInit_ex(context.get(), EVP_aes_256_ctr(), nullptr, key.data(), counter) != 1)
            throw std::runtime_error("libcrypto could not start AES-256 in counter mode");
        // The key stream is the encipherment of zeros.
        std::memset(out, 0, bytes);
        std::size_t done = 0;
        while (done < bytes) {
            const int chunk = static_cast<int>(std::min<std::size_t>(bytes - done, INT_MAX / 2));
            int length = 0;
            if (EVP_EncryptUpdate(context.get(), out + done, &length, out + done, chunk) != 1 ||
                length != chunk)
                throw std::runtime_error("libcrypto could not encipher with AES-256");
            done += static_cast<std::size_t>(chunk);
        }
    }
};

} // namespace

std::unique_ptr<Crypto> CreateNativeCrypto() {
    return std::make_unique<LinuxCrypto>();
}

} // namespace platform
