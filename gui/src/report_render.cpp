#include "report_render.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QToolBar>

#include "acerto/platform/errors.h"

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

void paint_page(QPainter& painter, const report::Page& page, double dpi) {
    const double k = dpi / 25.4;  // dots per millimetre
    painter.save();
    painter.setPen(Qt::black);
    double size = -1;
    bool bold = false;
    QFontMetrics metrics = painter.fontMetrics();
    for (const auto& item : page.items) {
        if (item.kind == report::Item::Rule) {
            painter.setPen(QPen(Qt::black, std::max(1.0, 0.2 * k)));
            painter.drawLine(QPointF(item.x * k, item.y * k), QPointF((item.x + item.w) * k, item.y * k));
            painter.setPen(Qt::black);
            continue;
        }
        // The font changes only between kinds of text (a page has a handful of them).
        if (item.size != size || item.bold != bold) {
            size = item.size;
            bold = item.bold;
            QFont font("DejaVu Sans");
            font.setPointSizeF(item.size);
            font.setBold(item.bold);
            // No shaping: "fi" stays two letters, so a PDF reader finds the words as written.
            font.setStyleStrategy(QFont::PreferNoShaping);
            painter.setFont(font);
            metrics = painter.fontMetrics();
        }
        int flags = Qt::AlignVCenter | Qt::TextSingleLine;
        flags |= item.align == report::Align::Right    ? Qt::AlignRight
                 : item.align == report::Align::Center ? Qt::AlignHCenter
                                                       : Qt::AlignLeft;
        QRectF box(item.x * k, item.y * k, item.w * k, item.h * k);
        // A text wider than its column is cut at the column, never drawn over the next one.
        QString text = metrics.elidedText(qs(item.text), Qt::ElideRight, static_cast<int>(box.width()));
        painter.drawText(box, flags, text);
    }
    painter.restore();
}

void paint_document(QPagedPaintDevice& device, const report::Document& doc) {
    QPainter painter(&device);
    const double dpi = device.logicalDpiX();
    for (std::size_t i = 0; i < doc.pages.size(); ++i) {
        if (i) device.newPage();
        paint_page(painter, doc.pages[i], dpi);
    }
}

void write_pdf(const report::Document& doc, const QString& path) {
    {
        QFile probe(path);
        if (!probe.open(QIODevice::WriteOnly))
            throw platform::Error("Não foi possível gravar o arquivo " + path.toStdString() + ".");
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
        throw platform::Error("Não foi possível gravar o arquivo " + path.toStdString() + ".");
}

void preview_report(QWidget* parent, const report::Produced& r) {
    QPrinter printer(QPrinter::HighResolution);
    setup_page(printer, r.document);
    QPrintPreviewDialog dialog(&printer, parent);
    dialog.setWindowTitle("Visualizar impressão - " + qs(r.definition.title));
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested,
                     [&](QPrinter* p) { paint_document(*p, r.document); });
    // Beside the preview's own zoom, page and print actions: save as PDF and export as CSV.
    if (auto* bar = dialog.findChild<QToolBar*>()) {
        bar->addSeparator();
        bar->addAction("Salvar PDF", &dialog, [&] {
            QString path =
                QFileDialog::getSaveFileName(&dialog, "Salvar como PDF", qs(r.definition.code) + ".pdf", "PDF (*.pdf)");
            if (path.isEmpty()) return;
            try {
                write_pdf(r.document, path);
            } catch (const std::exception& e) {
                QMessageBox::critical(&dialog, "Erro", qs(e.what()));
            }
        });
        bar->addAction("Exportar CSV", &dialog, [&] {
            QString path = QFileDialog::getSaveFileName(&dialog, "Exportar linhas (CSV)",
                                                        qs(r.definition.code) + ".csv", "CSV (*.csv)");
            if (path.isEmpty()) return;
            try {
                write_text_file(report::csv_of(r.definition, r.data), path);
            } catch (const std::exception& e) {
                QMessageBox::critical(&dialog, "Erro", qs(e.what()));
            }
        });
    }
    dialog.resize(900, 700);
    dialog.exec();
}

}  // namespace acerto::gui
