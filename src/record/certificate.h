// The certificate of erasure: the record drawn as a PDF for paper and signatures. A summary
// page for the computer and the run with a table of every drive, then a page per drive with
// its details and errors, signature lines for the operator and a witness, and the record's
// SHA-256 so the paper can be matched to the file.
#pragma once

#include "record/record.h"

#include <string>

namespace purgelet::record {

enum class TPaper { A4, Letter };

// Whether path is a picture the certificate can show at the top of its pages (a PNG file);
// false and why when not.
bool LogoReadable(const std::string& path, std::string& why);

// Writes the certificate of record to path, in one step. A file already at path is replaced
// only with replace (a run's certificate never replaces one: it takes a free name). False,
// and why, when it cannot be written (no drawing library in this build, a folder that
// cannot be written, a file in the way). logo, when given, is a PNG file shown at the top of
// every page.
bool WriteCertificate(const TRecord& record, const std::string& path, TPaper paper,
                      std::string& why, bool replace = true, const std::string& logo = "");

} // namespace purgelet::record
