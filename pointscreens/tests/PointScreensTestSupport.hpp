#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "points/QuovaMapPoint.hpp"
#include "testsupport/ui/ScreenshotSupport.hpp"
#include "testsupport/ui/TestApplication.hpp"

namespace pointscreens_test {

// Gives each test a QApplication (fonts, widgets, the PDF view), created when
// none exists and destroyed after the test.
class ApplicationTest : public ::testing::Test {
  protected:
    void SetUp() override { app_.emplace("tervolo_pointscreens_tests"); }
    void TearDown() override { app_.reset(); }

  private:
    std::optional<tervolo::testsupport::ScopedTestApplication> app_;
};

// A point with no identifier of its own, made only to be listed or printed.
inline std::shared_ptr<tervolo::points::QuovaMapPoint> titledPoint(
    std::optional<std::string> title, std::optional<std::string> subtitle = std::nullopt) {
    auto point = tervolo::points::QuovaMapPoint::make("");
    point->setTitle(std::move(title));
    point->setSubtitle(std::move(subtitle));
    return point;
}

// Saves `image` as <build>/screenshots/pointscreens/<name>.png for a person to look at.
inline void saveScreenshot(const QImage& image, const QString& name) {
    tervolo::testsupport::saveScreenshot(image, QStringLiteral(TERVOLO_SCREENSHOT_DIR), name);
}

inline void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The standard output of a poppler tool (pdfinfo, pdftotext, pdffonts) run on `file`.
inline std::string runTool(const QString& program, QStringList arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000)) return {};
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": "
                                     << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput().toStdString();
}

// pdfinfo's "Key:   value" lines.
inline std::map<std::string, std::string> pdfinfo(const std::string& file) {
    std::map<std::string, std::string> fields;
    const std::string output = runTool("pdfinfo", {"-enc", "UTF-8", QString::fromStdString(file)});
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string line = output.substr(start, end - start);
        start = end + 1;
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        size_t value = line.find_first_not_of(' ', colon + 1);
        fields[line.substr(0, colon)] = value == std::string::npos ? "" : line.substr(value);
    }
    return fields;
}

}  // namespace pointscreens_test
