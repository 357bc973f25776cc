// The Windows build draws no certificate: its record is the proof.
#include "record/certificate.h"

namespace purgelet::record {

bool CertificatesAvailable() {
    return false;
}

bool LogoReadable(const std::string&, std::string& why) {
    why = "this build cannot draw certificates";
    return false;
}

bool WriteCertificate(const TRecord&, const std::string&, TPaper, std::string& why, bool,
                      const std::string&) {
    why = "this build cannot draw certificates";
    return false;
}

} // namespace purgelet::record
