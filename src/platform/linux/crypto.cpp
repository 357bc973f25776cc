// SHA-256 from OpenSSL's libcrypto, through its EVP interface.
#include "platform/identity.h"

#include <openssl/evp.h>

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
};

} // namespace

std::unique_ptr<Crypto> CreateNativeCrypto() {
    return std::make_unique<LinuxCrypto>();
}

} // namespace platform
