#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PointScreensTestSupport.hpp"
#include "pointscreens/PDFDocumentInfo.hpp"
#include "testsupport/TemporaryFolder.hpp"

using tervolo::pointscreens::PDFDocumentInfo;

namespace {

std::vector<uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// A one-page PDF written by hand, with an Info dictionary of its own whose
// strings hold the characters that end or escape a PDF string.
std::string handMadePDF() {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    const auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] >>");
    object(
        "<< /Title (Old) /Producer (Maker \\) x >> (y)) /CreationDate (D:20240102030405Z) /Nested << /A [1 "
        "2] >> >>");
    const size_t xref = pdf.size();
    pdf += "xref\n0 5\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[32];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size 5 /Root 1 0 R /Info 4 0 R /ID [<0123ABCD> <0123ABCD>] >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

}  // namespace

TEST(PDFDocumentInfo, StringsAreEscapedOrHex) {
    struct Case {
        std::string text, token;
    } cases[] = {
        {"", "()"},
        {"Tervolo for Mac", "(Tervolo for Mac)"},
        {"a(b)\\c", "(a\\(b\\)\\\\c)"},
        {"https://example.org/", "(https://example.org/)"},
        {"b\xC3\xBC", "<FEFF006200FC>"},
        {"\xF0\x9F\x98\x80", "<FEFFD83DDE00>"},                             // a surrogate pair
        {"line\nbreak", "<FEFF006C0069006E0065000A0062007200650061006B>"},  // no raw control bytes
        {"\xFF", "<FEFFFFFD>"},                                             // ill-formed UTF-8
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(PDFDocumentInfo::pdfString(c.text), c.token);
    }
}

TEST(PDFDocumentInfo, UnreadableFilesComeBackUnchanged) {
    const PDFDocumentInfo info{"T", "C", "A"};
    const std::string pdf = handMadePDF();
    const std::string cases[] = {
        "", "not a pdf",
        "%PDF-1.4\ntrailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n999999\n%%EOF\n",  // offset
                                                                                     // past the
                                                                                     // end
        "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \nstartxref\n9\n%%EOF\n",           // no trailer
        "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< /Root 1 0 R "
        ">>\nstartxref\n9\n%%EOF\n",  // no /Size
        "%PDF-1.4\nxref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 /Root (1 0 "
        "R\nstartxref\n9\n%%EOF\n",
        pdf.substr(0, pdf.size() - 20),  // cut inside the trailer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c);
        EXPECT_EQ(info.appendedTo(bytes(c)), bytes(c));
    }
}

TEST(PDFDocumentInfo, UpdateReplacesTheInfoAndKeepsTheRest) {
    const std::string original = handMadePDF();
    const PDFDocumentInfo info{"Locations from Tervolo", "Tervolo for Mac", "https://example.org/a(b)/"};
    const auto updated = info.appendedTo(bytes(original));
    ASSERT_GT(updated.size(), original.size());
    // The original bytes stay as they were; the update only follows them.
    EXPECT_EQ(std::string(updated.begin(), updated.begin() + static_cast<long>(original.size())), original);
    const std::string update(updated.begin() + static_cast<long>(original.size()), updated.end());
    const size_t oldXref = original.find("xref\n0 5");
    EXPECT_NE(update.find("/Prev " + std::to_string(oldXref) + "\n"), std::string::npos) << update;
    EXPECT_NE(update.find("/Size 6\n"), std::string::npos);
    EXPECT_NE(update.find("/Info 5 0 R\n"), std::string::npos);
    EXPECT_NE(update.find("/Root 1 0 R\n"), std::string::npos);
    EXPECT_NE(update.find("/ID [<0123ABCD> <0123ABCD>]"), std::string::npos);
    EXPECT_EQ(update.find("(Old)"), std::string::npos);
    // The new startxref points at the new xref section.
    const size_t startxref = update.rfind("startxref\n");
    const size_t xref = std::stoul(update.substr(startxref + 10));
    EXPECT_EQ(
        std::string(updated.begin() + static_cast<long>(xref), updated.begin() + static_cast<long>(xref) + 4),
        "xref");

    tervolo::testsupport::TemporaryFolder folder;
    const std::string file = folder.file("updated.pdf");
    pointscreens_test::writeFile(file, updated);
    auto fields = pointscreens_test::pdfinfo(file);
    EXPECT_EQ(fields["Title"], "Locations from Tervolo");
    EXPECT_EQ(fields["Creator"], "Tervolo for Mac");
    EXPECT_EQ(fields["Author"], "https://example.org/a(b)/");
    EXPECT_EQ(fields["Producer"], "Maker ) x >> (y)");
    EXPECT_NE(fields["CreationDate"], "");
    EXPECT_EQ(fields["Pages"], "1");
}
