#include "pointscreens/PDFCreator.hpp"

#include <QBuffer>
#include <QByteArray>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include "backend/BackendHosts.hpp"
#include "platform/foundation/Bundle.hpp"
#include "platform/foundation/PlatformName.hpp"
#include "pointscreens/PDFTextEngine.hpp"

namespace tervolo::pointscreens {

PDFDocumentInfo PDFCreator::documentInfo() {
    const auto& bundle = platform::Bundle::main();
    return {bundle.localizedString("Locations from Tervolo"), platform::productNameForPlatform("Tervolo"),
            backend::BackendHosts::productWebBaseURL() + "/"};
}

void PDFCreator::configureWriter(QPdfWriter& writer, const PDFDocumentInfo& info) {
    writer.setResolution(72);
    writer.setPageLayout(QPageLayout(QPageSize(QSizeF(PDFLayout::kPageWidth, PDFLayout::kPageHeight),
                                               QPageSize::Point, QString(), QPageSize::ExactMatch),
                                     QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
    writer.setTitle(QString::fromStdString(info.title));
    writer.setCreator(QString::fromStdString(info.creator));
}

std::vector<PDFLayout::Item> PDFCreator::items() const {
    return PDFLayout::items(pointsDict_, titleLine_, subtitleLine_,
                            platform::Bundle::main().localizedString("(unknown)"));
}

std::vector<PDFLayout::Page> PDFCreator::layoutPages() const {
    QBuffer sink;
    sink.open(QIODevice::WriteOnly);
    QPdfWriter writer(&sink);
    configureWriter(writer, {});
    PDFTextEngine engine(&writer);
    return PDFLayout::layout(items(), engine);
}

std::vector<uint8_t> PDFCreator::createPDF() const {
    const PDFDocumentInfo info = documentInfo();
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        configureWriter(writer, info);
        PDFTextEngine engine(&writer);
        const std::vector<PDFLayout::Page> pages = PDFLayout::layout(items(), engine);
        QPainter painter(&writer);
        for (size_t i = 0; i < pages.size(); ++i) {
            if (i > 0) writer.newPage();
            for (const auto& placed : pages[i].texts) engine.draw(painter, placed);
        }
        painter.end();
    }
    return info.appendedTo(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

}  // namespace tervolo::pointscreens
