#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tervolo::pointscreens {

// The document information of a PDF file (its Info dictionary), written as an
// incremental update appended to a finished file: a new Info object, a
// cross-reference section for it and a trailer pointing back (/Prev) at the
// file's own. Qt's PDF writer sets a title and a creator but no author; this
// is how the author gets in without rewriting the file.
//
// The new dictionary holds the title, creator and author given here and every
// other entry of the file's old Info dictionary (producer, creation date)
// unchanged. Strings are written escaped: printable ASCII as a literal string
// with "(", ")" and "\" escaped, anything else as a UTF-16BE hex string, so no
// text can end a string or inject PDF syntax. Any thread.
struct PDFDocumentInfo {
    std::string title;    // UTF-8
    std::string creator;  // UTF-8
    std::string author;   // UTF-8

    // `pdf` with the update appended. A file whose last trailer cannot be
    // read (no "startxref", no /Size or /Root) comes back unchanged.
    std::vector<uint8_t> appendedTo(std::vector<uint8_t> pdf) const;

    // The PDF string token for a UTF-8 text (see above).
    static std::string pdfString(std::string_view utf8);
};

}  // namespace tervolo::pointscreens
