#pragma once
// The report engine's page model drawn with Qt: onto any paint device (a preview page, the
// printer, a PDF), to a PDF file, to an image; and the desktop's print preview.
#include <QImage>
#include <QString>

#include "acerto/host/report.h"

class QPainter;
class QPagedPaintDevice;
class QWidget;

namespace acerto::gui {

// Draws one page, the painter's device being `dpi` dots per inch (millimetres converted).
void paint_page(QPainter& painter, const host::report::Page& page, double dpi);
// Draws every page on a paged device (printer, PDF writer), a new page between them; throws
// platform::Error when the device does not start.
void paint_document(QPagedPaintDevice& device, const host::report::Document& doc);
// Writes the document as a PDF file; throws platform::Error when the file cannot be written.
void write_pdf(const host::report::Document& doc, const QString& path);
// One page (from 0) as an image at `dpi`, on white.
QImage page_image(const host::report::Document& doc, int page, double dpi);
// Writes the CSV text to a file; throws platform::Error when it cannot.
void write_text_file(const std::string& text, const QString& path);

// The desktop's print preview: zoom and pages, print, save as PDF, export the lines as CSV.
void preview_report(QWidget* parent, const host::report::Produced& report);

}  // namespace acerto::gui
