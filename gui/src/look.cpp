#include "look.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QPalette>
#include <QStandardPaths>
#include <QStyleFactory>
#include <QTranslator>
#include <map>

namespace acerto::gui {

bool install_portuguese(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
    auto* qt = new QTranslator(&app);
    if (!qt->load(QLocale(QLocale::Portuguese, QLocale::Brazil), "qtbase", "_",
                  QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qt;
        return false;
    }
    app.installTranslator(qt);
    return true;
}

void apply_look(QApplication& app) {
    app.setStyle(QStyleFactory::create("Fusion"));
    // The layout's captions and boxes are sized for an 11-pixel sans serif of Arial's metrics;
    // a wider font cuts them. Liberation Sans has those metrics; the others are near enough.
    QFont font;
    font.setFamilies({"Liberation Sans", "Arimo", "Nimbus Sans", "DejaVu Sans Condensed", "DejaVu Sans"});
    font.setPixelSize(11);
    font.setStyleHint(QFont::SansSerif);
    app.setFont(font);
    QPalette p = app.palette();
    // Values shown in disabled boxes are still read: dark text, not the washed-out grey.
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x30, 0x30, 0x30));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x70, 0x70, 0x70));
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(0xEE, 0xEE, 0xEE));
    // The grid's selected cell stays visible when the grid has not the focus, in a colour that
    // is not the focus's.
    p.setColor(QPalette::Inactive, QPalette::Highlight, QColor(0xC8, 0xD4, 0xE4));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, QColor(0x10, 0x10, 0x10));
    app.setPalette(p);
    // The focus: a thick border in a colour nothing else uses.
    app.setStyleSheet(
        "QLineEdit:focus { border: 2px solid #E07000; border-radius: 2px; padding: 0px; }"
        "QTableView:focus { border: 2px solid #E07000; }"
        "QRadioButton:focus { border: 2px solid #E07000; }"
        "QToolButton:focus { border: 2px solid #E07000; border-radius: 2px; }");
    // Some platforms (the offscreen one) look for themes nowhere but in the resources.
    QStringList paths = QIcon::themeSearchPaths();
    for (const QString& dir : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation))
        if (!paths.contains(dir + "/icons")) paths << dir + "/icons";
    QIcon::setThemeSearchPaths(paths);
    QIcon::setFallbackThemeName("Adwaita");
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");
    app.setWindowIcon(QIcon::fromTheme("accessories-calculator"));
}

QIcon icon_for(const QString& control_name) {
    // One icon per command, from the freely licensed Adwaita theme.
    static const std::map<QString, const char*> icons = {
        {"sbtIncluir", "list-add"},
        {"sbtAlterar", "document-properties"},
        {"sbtExcluir", "edit-delete"},
        {"sbtProcurar", "edit-find"},
        {"sbtVerificar", "tools-check-spelling"},
        {"sbtConfirmar", "document-save"},
        {"sbtCancelar", "edit-undo"},
        {"sbtImprimir", "document-print"},
        {"sbtAjuda", "help-browser"},
        {"sbtFechar", "window-close"},
        {"sbtAtuaFina", "accessories-calculator"},
        {"sbtCanAcerto", "document-revert"},
        {"sbtRetProdExt", "go-next"},
        {"sbtCancRetProdExt", "go-previous"},
        {"search", "system-search"},
        {"first", "go-first"},
        {"prior", "go-previous"},
        {"next", "go-next"},
        {"last", "go-last"},
    };
    auto it = icons.find(control_name);
    return it == icons.end() ? QIcon() : QIcon::fromTheme(it->second);
}

}  // namespace acerto::gui
