#include "report_render.h"

#include <QFile>
#include <QFileDialog>
#include <QFontMetricsF>
#include <QHash>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QToolBar>

#include <map>
#include <optional>

#include "acerto/platform/errors.h"
#include "texts.h"

namespace acerto::gui {

namespace report = host::report;

namespace {

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

void setup_page(QPagedPaintDevice& device, const report::Document& doc) {
    device.setPageLayout(QPageLayout(QPageSize(QSizeF(doc.width, doc.height), QPageSize::Millimeter),
                                     QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter));
}

}  // namespace

namespace {

// Draws pages one after the other with what they share kept between them: the font of each kind
// of text and the width of each text already measured. A long report repeats the same few texts
// (units, codes, values), and measuring a text costs as much as drawing it.
class PagePainter {
  public:
    PagePainter(QPainter& painter, double dpi) : painter_(painter), k_(dpi / 25.4) {}

    void paint(const report::Page& page) {
        painter_.save();
        painter_.setPen(Qt::black);
        for (const auto& item : page.items) {
            if (item.kind == report::Item::Rule)
                rule(item);
            else if (!item.text.empty())
                text(item);
        }
        painter_.restore();
        current_ = nullptr;
    }

  private:
    struct Kind {
        QFont font;
        std::optional<QFontMetricsF> metrics;
        QHash<QString, qreal> widths;
    };

    void rule(const report::Item& item) {
        painter_.setPen(QPen(Qt::black, std::max(1.0, 0.2 * k_)));
        painter_.drawLine(QPointF(item.x * k_, item.y * k_), QPointF((item.x + item.w) * k_, item.y * k_));
        painter_.setPen(Qt::black);
    }

    // The font of a kind of text, set on the painter only when the kind changes.
    Kind& kind_of(const report::Item& item) {
        const auto key = std::make_pair(item.size, item.bold);
        auto it = kinds_.find(key);
        if (it == kinds_.end()) {
            Kind kind;
            kind.font = QFont("DejaVu Sans");
            kind.font.setPointSizeF(item.size);
            kind.font.setBold(item.bold);
            // No shaping: "fi" stays two letters, so a PDF reader finds the words as written.
            kind.font.setStyleStrategy(QFont::PreferNoShaping);
            it = kinds_.emplace(key, std::move(kind)).first;
        }
        Kind& kind = it->second;
        if (current_ != &kind) {
            painter_.setFont(kind.font);
            // Measured as the device lays the text out (its resolution), once per kind and device.
            if (!kind.metrics) kind.metrics.emplace(painter_.font(), painter_.device());
            current_ = &kind;
        }
        return kind;
    }

    void text(const report::Item& item) {
        Kind& kind = kind_of(item);
        const QFontMetricsF& metrics = *kind.metrics;
        const QRectF box(item.x * k_, item.y * k_, item.w * k_, item.h * k_);
        QString text = QString::fromStdString(item.text);
        auto known = kind.widths.constFind(text);
        qreal width =
            known != kind.widths.cend() ? *known : kind.widths.insert(text, metrics.horizontalAdvance(text)).value();
        // A text wider than its column is cut at the column, never drawn over the next one.
        if (width > box.width()) {
            text = metrics.elidedText(text, Qt::ElideRight, box.width());
            width = metrics.horizontalAdvance(text);
        }
        const qreal x = item.align == report::Align::Right    ? box.right() - width
                        : item.align == report::Align::Center ? box.left() + (box.width() - width) / 2
                                                              : box.left();
        // Centred on the line's height, as a one-line text in its box.
        const qreal baseline = box.top() + (box.height() - metrics.height()) / 2 + metrics.ascent();
        painter_.drawText(QPointF(x, baseline), text);
    }

    QPainter& painter_;
    const double k_;  // dots per millimetre
    std::map<std::pair<double, bool>, Kind> kinds_;
    Kind* current_ = nullptr;
};

}  // namespace

void paint_page(QPainter& painter, const report::Page& page, double dpi) {
    PagePainter(painter, dpi).paint(page);
}

void paint_document(QPagedPaintDevice& device, const report::Document& doc) {
    QPainter painter(&device);
    // A printer or file that would not start draws nothing: said, never taken as printed.
    if (!painter.isActive()) throw platform::Error(texts::ImpressaoNaoIniciada);
    PagePainter pages(painter, device.logicalDpiX());
    for (std::size_t i = 0; i < doc.pages.size(); ++i) {
        if (i) device.newPage();
        pages.paint(doc.pages[i]);
    }
}

void write_pdf(const report::Document& doc, const QString& path) {
    {
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly))
            throw platform::Error(QString(texts::ArquivoNaoGravado).arg(path).toStdString());
    }
    QPdfWriter pdf(path);
    pdf.setTitle(qs(doc.title));
    pdf.setCreator("acerto");
    pdf.setResolution(300);
    setup_page(pdf, doc);
    paint_document(pdf, doc);
}

QImage page_image(const report::Document& doc, int page, double dpi) {
    const double k = dpi / 25.4;
    QImage img(static_cast<int>(doc.width * k), static_cast<int>(doc.height * k), QImage::Format_RGB32);
    img.fill(Qt::white);
    img.setDotsPerMeterX(static_cast<int>(dpi / 0.0254));
    img.setDotsPerMeterY(static_cast<int>(dpi / 0.0254));
    QPainter painter(&img);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    paint_page(painter, doc.pages.at(static_cast<std::size_t>(page)), dpi);
    return img;
}

void write_text_file(const std::string& text, const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
        throw platform::Error(QString(texts::ArquivoNaoGravado).arg(path).toStdString());
}

void preview_report(QWidget* parent, const report::Produced& r) {
    QPrinter printer(QPrinter::HighResolution);
    setup_page(printer, r.document);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle(QString(texts::VisualizarImpressao).arg(qs(r.definition.title)));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, [&](QPrinter* p) {
        try {
            paint_document(*p, r.document);
        } catch (const std::exception& e) {
            QMessageBox::critical(&dialog, texts::Erro, qs(e.what()));
        }
    });
    // Beside the preview's own zoom, page and print actions: save as PDF and export as CSV.
    if (auto* bar = dialog.findChild<QToolBar*>()) {
        bar->addSeparator();
        bar->addAction(texts::SalvarPdf, &dialog, [&] {
            QString path = QFileDialog::getSaveFileName(&dialog, texts::SalvarComoPdf, qs(r.definition.code) + ".pdf",
                                                        "PDF (*.pdf)");
            if (path.isEmpty()) return;
            try {
                write_pdf(r.document, path);
            } catch (const std::exception& e) {
                QMessageBox::critical(&dialog, texts::Erro, qs(e.what()));
            }
        });
        bar->addAction(texts::ExportarCsv, &dialog, [&] {
            QString path = QFileDialog::getSaveFileName(&dialog, texts::ExportarLinhasCsv,
                                                        qs(r.definition.code) + ".csv", "CSV (*.csv)");
            if (path.isEmpty()) return;
            try {
                write_text_file(report::csv_of(r.definition, r.data, r.masks), path);
            } catch (const std::exception& e) {
                QMessageBox::critical(&dialog, texts::Erro, qs(e.what()));
            }
        });
    }
    dialog.resize(900, 700);
    dialog.exec();
}

}  // namespace acerto::gui
