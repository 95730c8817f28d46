// The desktop's print preview of the settlement report, offscreen, over a real server's rows:
// every page reaches the preview, its pages and zoom move, and its print, save-as-PDF and CSV
// actions write the report. Every dialog the preview opens is answered by what the test queued
// for it, or closed with the test failed: no test waits for a click that never comes.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QTimer>
#include <QToolBar>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "acerto/host/net_connection.h"
#include "acerto/host/report.h"
#include "modal_responder.h"
#include "report_fixture.h"
#include "report_render.h"
#include "server_process.h"

using namespace acerto;

namespace {

// How much of an image is drawn on (neither white nor the preview's grey background).
int dark_pixels(const QImage& img) {
    int dark = 0;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2) dark += qGray(img.pixel(x, y)) < 100;
    return dark;
}

class ReportPreview : public ::testing::Test {
  protected:
    // The report is produced once, in the first test: a failure there fails the tests (in the
    // suite's own setup it would only have skipped them).
    void SetUp() override {
        static bool tried = false;
        if (!tried) {
            tried = true;
            produce();
        }
        ASSERT_NE(report_, nullptr) << "the report could not be produced";
    }
    static void produce() {
        server_ = new test::ServerProcess(test::fresh_database(),
                                          test::long_settlement_fixture("preview120", 120, "Item ", 2));
        auto def = host::report::Definition::load(ACERTO_REPORT_DIR "/QLM012.json");
        host::TNetConnection net;
        net.ServerName = def.server;
        net.Port = server_->port();
        net.Token = server_->token();
        platform::Params params;
        params.add("P_CDFILIAL").set_as_string("0001");
        params.add("P_NRORCAEVENTO").set_as_string("0000000500");
        params.add("P_NRSEQORCAEVE").set_as_string("00");
        auto produced = std::make_unique<host::report::Produced>();
        produced->definition = def;
        produced->data = host::report::fetch(net, def, params);
        produced->masks = {{"product", "9.99.999;0;_"}};
        produced->document = host::report::layout(
            def, produced->data, {platform::DateTime::parse_iso("2026-12-07 12:00:00"), "ROBO", produced->masks});
        report_ = produced.release();
    }
    static void TearDownTestSuite() {
        delete report_;
        delete server_;
    }
    void TearDown() override {
        EXPECT_EQ(test::ModalResponder::instance().take_unused(), 0u) << "a queued answer was never used";
    }

    static const host::report::Produced& report() { return *report_; }
    static int pages() { return static_cast<int>(report_->document.pages.size()); }
    static test::ModalResponder& dialogs() { return test::ModalResponder::instance(); }

    // An action of the preview's tool bar by its text.
    static QAction* action(QDialog& preview, const QStringList& texts) {
        for (auto* bar : preview.findChildren<QToolBar*>())
            for (QAction* a : bar->actions())
                if (texts.contains(a->text())) return a;
        ADD_FAILURE() << "no action " << texts.join("/").toStdString();
        return nullptr;
    }
    // The file dialog that follows is answered with `path`, or cancelled when it is empty.
    static void answer_file(const std::string& path) {
        dialogs().handle_next([path](QDialog& d) {
            auto* files = qobject_cast<QFileDialog*>(&d);
            ASSERT_NE(files, nullptr) << d.windowTitle().toStdString();
            if (path.empty()) return d.reject();
            files->selectFile(QString::fromStdString(path));
            // Taken as typed: the file dialog's own checks are Qt's, not the preview's.
            files->QDialog::accept();
        });
    }
    // A path no one can write, root included: its folder is a file.
    static std::string unwritable(const std::string& name) {
        const std::string file = test::temp_dir() + "/not-a-folder";
        std::ofstream(file) << "x";
        return file + "/" + name;
    }
    static std::string pdf_text(const std::string& path) {
        return test::run_command(std::string(ACERTO_PDFTOTEXT) + " -layout " + path + " -");
    }

    static test::ServerProcess* server_;
    static host::report::Produced* report_;
};

test::ServerProcess* ReportPreview::server_ = nullptr;
host::report::Produced* ReportPreview::report_ = nullptr;

}  // namespace

TEST_F(ReportPreview, EveryPageReachesThePreviewWhichMovesThroughThemAndZooms) {
    ASSERT_GT(pages(), 5);
    bool shown = false;
    dialogs().handle_next([&](QDialog& d) {
        shown = true;
        auto* preview = d.findChild<QPrintPreviewWidget*>();
        ASSERT_NE(preview, nullptr);
        EXPECT_EQ(d.windowTitle(), "Visualizar impressão - Acerto Final");
        EXPECT_TRUE(d.isModal());
        EXPECT_EQ(preview->pageCount(), pages());
        // The paper is the page model's: A4 with no margins of its own (the model holds them).
        auto* printer = qobject_cast<QPrintPreviewDialog*>(&d)->printer();
        const QPageLayout paper = printer->pageLayout();
        EXPECT_NEAR(paper.fullRect(QPageLayout::Millimeter).width(), 210, 0.5);
        EXPECT_NEAR(paper.fullRect(QPageLayout::Millimeter).height(), 297, 0.5);
        EXPECT_EQ(paper.margins(QPageLayout::Millimeter), QMarginsF(0, 0, 0, 0));

        // Pages: the last one, then back to the first.
        preview->resize(800, 1000);
        preview->setViewMode(QPrintPreviewWidget::SinglePageView);
        preview->setZoomMode(QPrintPreviewWidget::FitInView);
        preview->setCurrentPage(pages());
        EXPECT_EQ(preview->currentPage(), pages());
        EXPECT_GT(dark_pixels(preview->grab().toImage()), 200);
        preview->setCurrentPage(1);
        EXPECT_EQ(preview->currentPage(), 1);
        const QImage fitted = preview->grab().toImage();
        EXPECT_GT(dark_pixels(fitted), 200);

        // Zoom: closer shows fewer of the page's texts at once, yet the page is drawn.
        const qreal before = preview->zoomFactor();
        preview->zoomIn(2.0);
        EXPECT_NEAR(preview->zoomFactor(), before * 2, 1e-6);
        EXPECT_EQ(preview->zoomMode(), QPrintPreviewWidget::CustomZoom);
        const QImage closer = preview->grab().toImage();
        EXPECT_GT(dark_pixels(closer), 200);
        EXPECT_NE(closer, fitted);
        preview->zoomOut(2.0);
        EXPECT_NEAR(preview->zoomFactor(), before, 1e-6);
        d.reject();
    });
    gui::preview_report(nullptr, report());
    EXPECT_TRUE(shown);
}

TEST_F(ReportPreview, SaveAsPdfAndExportCsvWriteTheReportFromThePreview) {
    const std::string pdf = test::temp_dir() + "/preview.pdf", csv = test::temp_dir() + "/preview.csv";
    std::filesystem::remove(pdf);
    std::filesystem::remove(csv);
    std::string error_text;
    dialogs().handle_next([&](QDialog& d) {
        QAction* save = action(d, {"Salvar PDF"});
        QAction* export_csv = action(d, {"Exportar CSV"});
        ASSERT_TRUE(save && export_csv);
        // 1. Saved as PDF: the same pages, codes through the mask, totals.
        answer_file(pdf);
        save->trigger();
        const std::string text = pdf_text(pdf);
        const std::string last = std::to_string(pages());
        EXPECT_NE(text.find("Página " + last + " de " + last), std::string::npos) << text.substr(0, 2000);
        EXPECT_NE(text.find("1.01.001"), std::string::npos);
        EXPECT_NE(text.find("Subtotal de quebras: 240,00"), std::string::npos);
        EXPECT_NE(text.find("Valor devido pelo cliente: 960,00"), std::string::npos);
        // 2. The lines as CSV, exactly as the engine exports them.
        answer_file(csv);
        export_csv->trigger();
        EXPECT_EQ(test::slurp(csv), host::report::csv_of(report().definition, report().data, report().masks));
        // 3. Cancelled: nothing written, nothing said.
        const auto written = std::filesystem::last_write_time(csv);
        answer_file("");
        export_csv->trigger();
        EXPECT_EQ(std::filesystem::last_write_time(csv), written);
        // 4. A file that cannot be written: the operator is told, the preview stays open.
        answer_file(unwritable("acerto-preview.pdf"));
        dialogs().handle_next([&](QDialog& box) {
            auto* m = qobject_cast<QMessageBox*>(&box);
            ASSERT_NE(m, nullptr);
            error_text = m->text().toStdString();
            box.reject();
        });
        save->trigger();
        EXPECT_TRUE(d.isVisible());
        d.reject();
    });
    gui::preview_report(nullptr, report());
    EXPECT_NE(error_text.find("Não foi possível gravar o arquivo " + unwritable("acerto-preview.pdf")),
              std::string::npos)
        << error_text;
}

TEST_F(ReportPreview, PrintingFromThePreviewPrintsEveryPage) {
    const std::string out = test::temp_dir() + "/printed.pdf";
    std::filesystem::remove(out);
    dialogs().handle_next([&](QDialog& d) {
        QAction* print = action(d, {"Print", "Imprimir"});
        ASSERT_NE(print, nullptr);
        auto* printer = qobject_cast<QPrintPreviewDialog*>(&d)->printer();
        // Where this machine has no printer, the printer writes a file: the preview asks where
        // (a file dialog), else the print dialog asks; either way the pages go to `out`.
        dialogs().handle_next([&, printer](QDialog& asked) {
            if (auto* files = qobject_cast<QFileDialog*>(&asked)) {
                files->selectFile(QString::fromStdString(out));
                files->QDialog::accept();
            } else {
                ASSERT_NE(qobject_cast<QPrintDialog*>(&asked), nullptr) << asked.windowTitle().toStdString();
                // The printer chosen as a file; the dialog's own choices are Qt's to apply.
                printer->setOutputFormat(QPrinter::PdfFormat);
                printer->setOutputFileName(QString::fromStdString(out));
                asked.QDialog::accept();
            }
        });
        print->trigger();
        // Printing closes the preview, as Qt's preview does.
        EXPECT_FALSE(d.isVisible());
        if (d.isVisible()) d.reject();
    });
    gui::preview_report(nullptr, report());
    const std::string text = pdf_text(out);
    const std::string last = std::to_string(pages());
    EXPECT_NE(text.find("Página " + last + " de " + last), std::string::npos) << text.substr(0, 500);
    int feeds = 0;
    for (char c : text) feeds += c == '\f';
    EXPECT_EQ(feeds, pages());
}

TEST_F(ReportPreview, APrinterThatDoesNotStartIsSaidNotTakenAsPrinted) {
    std::string error_text;
    dialogs().handle_next([&](QDialog& d) {
        QAction* print = action(d, {"Print", "Imprimir"});
        ASSERT_NE(print, nullptr);
        auto* printer = qobject_cast<QPrintPreviewDialog*>(&d)->printer();
        const std::string out = unwritable("acerto-printed.pdf");
        dialogs().handle_next([&, printer, out](QDialog& asked) {
            if (auto* files = qobject_cast<QFileDialog*>(&asked)) {
                files->selectFile(QString::fromStdString(out));
                files->QDialog::accept();
            } else {
                printer->setOutputFormat(QPrinter::PdfFormat);
                printer->setOutputFileName(QString::fromStdString(out));
                asked.QDialog::accept();
            }
        });
        dialogs().handle_next([&](QDialog& box) {
            auto* m = qobject_cast<QMessageBox*>(&box);
            ASSERT_NE(m, nullptr) << box.windowTitle().toStdString();
            error_text = m->text().toStdString();
            box.reject();
        });
        print->trigger();
        if (d.isVisible()) d.reject();
    });
    gui::preview_report(nullptr, report());
    EXPECT_EQ(error_text, "Não foi possível imprimir o relatório.");
}

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The file dialog keeps the folder last visited in the user's settings: a run of its own,
    // so no earlier run decides where the dialogs open, and the user's settings stay untouched.
    setenv("XDG_CONFIG_HOME", (test::temp_dir() + "/config").c_str(), 1);
    std::filesystem::current_path(test::temp_dir());
    QApplication app(argc, argv);
    test::ModalResponder responder(app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
