#include "form_view.h"

#include <QActionGroup>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include "acerto/platform/text.h"
#include "look.h"
#include "table_model.h"
#include "texts.h"

namespace acerto::gui {

using platform::Control;
using platform::Property;

namespace {
const QColor kRequired(0xFF, 0xFF, 0xE1);  // the suite's colour for required boxes

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

// A menu caption with its accelerator letter: the first letter no sibling took yet.
QString with_mnemonic(const std::string& text, QString& taken) {
    QString t = qs(text);
    t.replace("&", "&&");
    for (int i = 0; i < t.size(); ++i) {
        QChar ch = t[i].toLower();
        if (!t[i].isLetter() || taken.contains(ch)) continue;
        taken += ch;
        return t.left(i) + "&" + t.mid(i);
    }
    return t;
}

bool read_only_box(const Control* c) {
    auto* e = dynamic_cast<const platform::Edit*>(c);
    return e && e->read_only;
}

// The ellipsis of a grid's product column: a button drawn in the current cell; a click on it
// (or Ctrl+Enter, Alt+Down) opens the product pick.
class EllipsisDelegate : public QStyledItemDelegate {
  public:
    EllipsisDelegate(platform::DBGrid& grid, GridModel& model, QTableView& view, std::function<void()> pick)
        : QStyledItemDelegate(&view), grid_(grid), model_(model), view_(view), pick_(std::move(pick)) {}

    static QRect button_rect(const QRect& cell) {
        int side = std::min(cell.height() - 2, 18);
        return QRect(cell.right() - side, cell.top() + (cell.height() - side) / 2, side, side);
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!has_button(index)) return;
        QStyleOptionButton button;
        button.rect = button_rect(option.rect);
        button.text = QString("…");
        button.state = QStyle::State_Enabled | QStyle::State_Raised;
        view_.style()->drawControl(QStyle::CE_PushButton, &button, painter, &view_);
    }

    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override {
        if (event->type() == QEvent::MouseButtonRelease && has_button(index) &&
            button_rect(option.rect).contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
            pick_();
            return true;
        }
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }

  private:
    bool has_button(const QModelIndex& index) const {
        int col = model_.grid_column(index.column());
        return col >= 0 && grid_.columns[static_cast<std::size_t>(col)].ellipsis && index == view_.currentIndex() &&
               !grid_.read_only && grid_.enabled();
    }
    platform::DBGrid& grid_;
    GridModel& model_;
    QTableView& view_;
    std::function<void()> pick_;
};

// A toolbar button's caption: short enough for the toolbar; the hint tells the rest.
QString caption_of(const platform::Control& c) {
    static const std::map<std::string, const char*> shorter = {{"sbtAtuaFina", "Atual. Fin."},
                                                               {"sbtCanAcerto", "Canc. Fin."},
                                                               {"sbtRetProdExt", "Retirar"},
                                                               {"sbtCancRetProdExt", "Canc. Ret."}};
    auto it = shorter.find(c.name());
    if (it != shorter.end()) return it->second;
    return qs(c.hint.empty() ? c.name() : c.hint);
}
}  // namespace

FormView::FormView(platform::Form& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(qs(form.name()));
    setWindowTitle(qs(form.caption));
    resize(form.width() > 0 ? form.width() : 740, form.height() > 0 ? form.height() : 568);
    build_children(form, this);
    apply_all();
    observer_ = form.add_form_observer([this](Control& c, Property p) { apply(c, p); });
    // The screen closing itself (Fechar, its menu, Ctrl+F4) takes its menus and window along.
    self_observer_ = form.add_observer([this](Control&, Property p) {
        if (p != Property::Visible || form_.shown()) return;
        for (QMenu* m : menus_) m->menuAction()->setVisible(false);
        if (on_form_closed) on_form_closed();
    });
    arrange_all();
    QTimer::singleShot(0, this, [this] { sync_focus(); });
}

FormView::~FormView() {
    form_.remove_form_observer(observer_);
    form_.remove_observer(self_observer_);
    // The menus hold actions bound to this view's controls: they go with it.
    for (QMenu* m : menus_) delete m;
}

QWidget* FormView::widget_for(const Control* c) const {
    auto it = widgets_.find(c);
    return it == widgets_.end() ? nullptr : it->second;
}

GridModel* FormView::model_for(const platform::DBGrid* g) const {
    auto it = models_.find(g);
    return it == models_.end() ? nullptr : it->second;
}

void FormView::guard(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        QApplication::restoreOverrideCursor();
        QMessageBox::critical(this, qs(form_.caption), qs(e.what()));
    }
    sync_focus();
}

void FormView::build_children(Control& c, QWidget* parent) {
    for (Control* child : c.children())
        if (!dynamic_cast<platform::MenuItem*>(child)) build(*child, parent);
}

QWidget* FormView::build(Control& c, QWidget* parent) {
    QWidget* w = nullptr;
    const std::string kind = c.kind();
    if (auto* page_control = dynamic_cast<platform::PageControl*>(&c)) {
        auto* tabs = new QTabWidget(parent);
        for (platform::TabSheet* page : page_control->pages()) {
            auto* pw = new QWidget();
            pw->setObjectName(qs(page->name()));
            tabs->addTab(pw, qs(page->text()));
            widgets_[page] = pw;
            controls_[pw] = page;
            pw->installEventFilter(this);
            build_children(*page, pw);
        }
        // A tab clicked with the mouse hides the page holding Qt's focus, and Qt moves the focus on
        // by itself (to the filter's first box): that move is not the operator's, so the model is
        // not told; once the page has changed, Qt's focus follows the model again.
        QObject::connect(tabs->tabBar(), &QTabBar::tabBarClicked, this, [this](int) {
            tab_clicked_ = true;
            QTimer::singleShot(0, this, [this] {
                tab_clicked_ = false;
                sync_focus();
            });
        });
        QObject::connect(tabs, &QTabWidget::currentChanged, this, [this, page_control](int i) {
            if (syncing_) return;
            auto pages = page_control->pages();
            if (i < 0 || i >= static_cast<int>(pages.size())) return;
            platform::TabSheet* page = pages[static_cast<std::size_t>(i)];
            if (page_control->active_page() != page) guard([page] { page->click(); });
            apply(*page_control, Property::Data);
        });
        w = tabs;
    } else if (auto* grid = dynamic_cast<platform::DBGrid*>(&c)) {
        auto* view = new QTableView(parent);
        auto* model = new GridModel(*grid, view);
        view->setModel(model);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectItems);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->setDefaultSectionSize(20);
        view->verticalHeader()->setFixedWidth(18);
        for (int v = 0; v < model->columnCount(); ++v)
            view->setColumnWidth(v, std::max(30, grid->columns[static_cast<std::size_t>(model->grid_column(v))].width));
        models_[grid] = model;
        QObject::connect(view, &QTableView::pressed, this, [this, grid, model](const QModelIndex& index) {
            guard([&] {
                if (!grid->focused()) grid->form().focus(grid);
                if (index.row() != grid->current_row() && index.row() < grid->row_count()) grid->set_row(index.row());
                int col = model->grid_column(index.column());
                if (col >= 0 && col != grid->selected_index()) grid->select_column(col);
            });
            sync_grid(*grid);
        });
        auto pick = [this, grid] {
            if (grid->columns[static_cast<std::size_t>(grid->selected_index())].ellipsis)
                guard([grid] { grid->edit_button_click(); });
        };
        view->setItemDelegate(new EllipsisDelegate(*grid, *model, *view, pick));
        view->setToolTip(texts::EscolherProduto);
        QObject::connect(view, &QTableView::doubleClicked, this, [pick](const QModelIndex&) { pick(); });
        w = view;
    } else if (kind == "label" || kind == "dbtext") {
        auto* l = new QLabel(parent);
        w = l;
    } else if (kind == "edit" || kind == "maskedit" || kind == "dbedit" || kind == "numberedit") {
        auto* e = new QLineEdit(parent);
        if (kind == "numberedit") e->setAlignment(Qt::AlignRight);
        if (c.required_colour) {
            QPalette p = e->palette();
            p.setColor(QPalette::Base, kRequired);
            e->setPalette(p);
        }
        w = e;
    } else if (kind == "radiobutton") {
        auto* r = new QRadioButton(parent);
        r->setAutoExclusive(false);
        QObject::connect(r, &QRadioButton::clicked, this, [this, &c, r] {
            r->setChecked(static_cast<platform::RadioButton&>(c).checked());  // the model decides
            guard([&c] { c.click(); });
        });
        w = r;
    } else if (kind == "button" || kind == "searchbutton") {
        auto* b = new QToolButton(parent);
        b->setAutoRaise(static_cast<platform::Button&>(c).flat);
        b->setToolTip(qs(c.hint));
        b->setText(kind == "searchbutton" ? QString("…") : caption_of(c));
        QIcon icon = icon_for(kind == "searchbutton" ? QString("search") : qs(c.name()));
        if (!icon.isNull()) {
            b->setIcon(icon);
            b->setIconSize(QSize(16, 16));
            b->setToolButtonStyle(Qt::ToolButtonIconOnly);
        }
        b->setFocusPolicy(static_cast<platform::Button&>(c).focusable() ? Qt::StrongFocus : Qt::NoFocus);
        // Commands the host framework answers itself where the screen binds nothing.
        static const std::map<std::string, void (*)(FormView&)> host_commands = {{"sbtAjuda", [](FormView& v) {
                                                                                      if (v.on_help) v.on_help();
                                                                                  }}};
        auto host_command = host_commands.find(c.name());
        if (host_command != host_commands.end()) b->setToolTip(qs(c.hint) + " (F1)");
        QObject::connect(b, &QToolButton::clicked, this, [this, &c, host_command] {
            if (!c.on_click && host_command != host_commands.end())
                host_command->second(*this);
            else
                guard([&c] { c.click(); });
        });
        w = b;
    } else if (kind == "navigator") {
        auto* nav = new QWidget(parent);
        auto* row = new QHBoxLayout(nav);
        row->setContentsMargins(2, 2, 2, 2);
        auto* navigator = static_cast<platform::Navigator*>(&c);
        auto add = [&](const char* text, const char* tip, std::function<void(platform::DataSet&)> move) {
            auto* b = new QToolButton(nav);
            b->setText(text);
            b->setToolTip(tip);
            static const std::map<std::string, const char*> icon_names = {{texts::Primeiro, "first"},
                                                                          {texts::Anterior, "prior"},
                                                                          {texts::Proximo, "next"},
                                                                          {texts::Ultimo, "last"}};
            if (QIcon icon = icon_for(icon_names.at(tip)); !icon.isNull()) b->setIcon(icon);
            b->setFocusPolicy(Qt::NoFocus);
            row->addWidget(b);
            QObject::connect(b, &QToolButton::clicked, this, [this, navigator, move] {
                guard([&] {
                    if (navigator->data_source && navigator->data_source->dataset() &&
                        navigator->data_source->dataset()->active())
                        move(*navigator->data_source->dataset());
                });
            });
        };
        add("|◀", texts::Primeiro, [](platform::DataSet& d) { d.first(); });
        add("◀", texts::Anterior, [](platform::DataSet& d) { d.prior(); });
        add("▶", texts::Proximo, [](platform::DataSet& d) { d.next(); });
        add("▶|", texts::Ultimo, [](platform::DataSet& d) { d.last(); });
        row->addStretch();
        w = nav;
    } else {
        auto* f = new QFrame(parent);
        if (c.name() == "panMenu") {
            auto* row = new QHBoxLayout(f);
            row->setContentsMargins(2, 2, 2, 2);
            row->setSpacing(1);
            widgets_[&c] = f;
            controls_[f] = &c;
            for (Control* child : c.children()) row->addWidget(build(*child, f));
            row->addStretch();
            f->setFrameShape(QFrame::StyledPanel);
            f->setObjectName(qs(c.name()));
            f->installEventFilter(this);
            return f;
        }
        if (kind == "panel") f->setFrameShape(QFrame::StyledPanel);
        build_children(c, f);
        w = f;
    }
    w->setObjectName(qs(c.name()));
    widgets_[&c] = w;
    controls_[w] = &c;
    w->installEventFilter(this);
    if (c.focusable() && read_only_box(&c))
        w->setFocusPolicy(Qt::ClickFocus);  // a value to read or copy, not a Tab stop
    else if (c.focusable() &&
             (dynamic_cast<QLineEdit*>(w) || dynamic_cast<QTableView*>(w) || dynamic_cast<QRadioButton*>(w)))
        w->setFocusPolicy(Qt::StrongFocus);
    else if (!dynamic_cast<QToolButton*>(w) && !dynamic_cast<QTabWidget*>(w))
        w->setFocusPolicy(Qt::NoFocus);
    return w;
}

QString FormView::shown_text(Control& c) const {
    if (auto* n = dynamic_cast<platform::NumberEdit*>(&c)) return qs(n->display_text());
    if (auto* m = dynamic_cast<platform::MaskEdit*>(&c)) return qs(m->edit_text());
    return qs(c.text());
}

void FormView::apply(Control& c, Property p) {
    if (&c == &form_) {
        setWindowTitle(qs(form_.caption));
        return;
    }
    if (auto it = actions_.find(&c); it != actions_.end()) {
        auto& m = static_cast<platform::MenuItem&>(c);
        QAction* a = it->second;
        a->setEnabled(m.enabled());
        a->setVisible(m.visible());
        // Only entries that are ever checked show a mark.
        a->setCheckable(m.radio_item || m.checked());
        a->setChecked(m.checked());
        QString shown = a->text();
        shown.remove(QRegularExpression("&(?!&)"));
        shown.replace("&&", "&");
        if (shown != qs(m.text())) a->setText(qs(m.text()).replace("&", "&&"));
        return;
    }
    QWidget* w = widget_for(&c);
    if (!w) return;
    switch (p) {
        case Property::Enabled:
            w->setEnabled(c.enabled());
            break;
        case Property::Visible:
            if (!dynamic_cast<platform::TabSheet*>(&c)) w->setVisible(c.visible());
            if (c.parent()) arrange(*c.parent());
            break;
        case Property::Layout:
            if (c.parent()) arrange(*c.parent());
            break;
        case Property::Focus:
            if (c.focused() && !sync_pending_) {
                sync_pending_ = true;
                QTimer::singleShot(0, this, [this] { sync_focus(); });
            }
            if (auto* g = dynamic_cast<platform::DBGrid*>(&c)) sync_grid(*g);
            break;
        default:
            break;
    }
    if (auto* e = dynamic_cast<QLineEdit*>(w)) {
        QString t = shown_text(c);
        if (e->text() != t) e->setText(t);
        auto* edit = dynamic_cast<platform::Edit*>(&c);
        e->setReadOnly(edit && edit->read_only);
    } else if (auto* l = dynamic_cast<QLabel*>(w)) {
        l->setText(shown_text(c));
        if (c.name() == "lblCodTela") l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        QFont f = l->font();
        f.setBold(c.bold);
        l->setFont(f);
        if (c.width() == 0) l->adjustSize();
    } else if (auto* r = dynamic_cast<QRadioButton*>(w)) {
        r->setChecked(static_cast<platform::RadioButton&>(c).checked());
    } else if (auto* tabs = dynamic_cast<QTabWidget*>(w)) {
        auto* pc = static_cast<platform::PageControl*>(&c);
        auto pages = pc->pages();
        syncing_ = true;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            tabs->setTabEnabled(static_cast<int>(i), pages[i]->enabled());
            tabs->setTabText(static_cast<int>(i), qs(pages[i]->text()));
            if (pages[i] == pc->active_page()) tabs->setCurrentIndex(static_cast<int>(i));
        }
        syncing_ = false;
    } else if (auto* g = dynamic_cast<platform::DBGrid*>(&c); g && p != Property::Focus) {
        sync_grid(*g);
    }
    if (auto* page = dynamic_cast<platform::TabSheet*>(&c)) apply(page->page_control(), Property::Data);
}

void FormView::apply_all() {
    for (const auto& [c, w] : widgets_) {
        w->setEnabled(c->enabled());
        // A tab's page is shown by its tab widget, never by itself.
        if (!dynamic_cast<const platform::TabSheet*>(c)) w->setVisible(c->visible());
        apply(*const_cast<Control*>(c), Property::Text);
    }
}

void FormView::sync_grid(platform::DBGrid& g) {
    auto* view = dynamic_cast<QTableView*>(widget_for(&g));
    GridModel* model = model_for(&g);
    if (!view || !model) return;
    model->refresh();
    int row = g.current_row(), col = model->view_column(g.selected_index());
    if (row >= 0 && col >= 0 && row < model->rowCount()) {
        QModelIndex idx = model->index(row, col);
        if (view->currentIndex() != idx) {
            view->selectionModel()->setCurrentIndex(idx, QItemSelectionModel::ClearAndSelect);
            view->scrollTo(idx);
        }
    }
    view->verticalHeader()->viewport()->update();
}

// The model's focus, shown: Qt's focus follows the model, never the other way round.
void FormView::sync_focus() {
    sync_pending_ = false;
    Control* f = form_.focused();
    QWidget* w = widget_for(f);
    if (!w || QApplication::focusWidget() == w) return;
    syncing_ = true;
    w->setFocus(Qt::OtherFocusReason);
    syncing_ = false;
}

void FormView::forward_key(Control& c, QKeyEvent* e) {
    int vk = 0;
    char32_t ch = 0;
    platform::ShiftState shift{(e->modifiers() & Qt::ShiftModifier) != 0, (e->modifiers() & Qt::ControlModifier) != 0,
                               (e->modifiers() & Qt::AltModifier) != 0};
    switch (e->key()) {
        case Qt::Key_Tab:
        case Qt::Key_Backtab: {
            bool back = e->key() == Qt::Key_Backtab || shift.shift;
            if (auto* g = dynamic_cast<platform::DBGrid*>(&c)) {
                shift.shift = back;
                guard([&] { g->key_down(platform::vk::Tab, shift); });
            } else {
                guard([&] {
                    // Read-only boxes are passed over: nothing to type there.
                    Control* next = form_.next_focusable(&c, !back);
                    for (int guard_steps = 0; next && next != &c && read_only_box(next) && guard_steps < 200;
                         ++guard_steps)
                        next = form_.next_focusable(next, !back);
                    if (next) form_.focus(next);
                });
            }
            return;
        }
        case Qt::Key_Return:
        case Qt::Key_Enter:
            vk = platform::vk::Return;
            ch = platform::ch::Return;
            break;
        case Qt::Key_Backspace:
            vk = platform::vk::Back;
            ch = platform::ch::Back;
            break;
        case Qt::Key_Delete:
            vk = platform::vk::Delete;
            break;
        case Qt::Key_Escape:
            vk = platform::vk::Escape;
            ch = platform::ch::Escape;
            break;
        case Qt::Key_Up:
            vk = platform::vk::Up;
            break;
        case Qt::Key_Down:
            vk = platform::vk::Down;
            break;
        case Qt::Key_Insert:
            vk = platform::vk::Insert;
            break;
        case Qt::Key_Left:
        case Qt::Key_Right:
            if (auto* g = dynamic_cast<platform::DBGrid*>(&c)) {
                shift.shift = e->key() == Qt::Key_Left;
                guard([&] { g->key_down(platform::vk::Tab, shift); });
            }
            return;
        default:
            break;
    }
    // Typing over a selected text replaces it: the selection is erased first, as the operator
    // would with Backspace (the box keeps its text at the end, where the model types).
    auto* line = dynamic_cast<QLineEdit*>(widget_for(&c));
    const bool typing = (ch && ch != platform::ch::Escape && ch != platform::ch::Return) ||
                        vk == platform::vk::Delete || (!vk && !shift.ctrl && !shift.alt && !e->text().isEmpty());
    if (line && typing && line->hasSelectedText() && !read_only_box(&c)) {
        const QString shown = line->text();
        const int from = line->selectionStart(), to = from + line->selectedText().size();
        const QString tail = shown.mid(to);
        guard([&] {
            if (from == 0 && to >= shown.size()) {
                c.clear_text();
            } else {
                for (int i = from; i < shown.size(); ++i) c.keystroke(platform::vk::Back, platform::ch::Back);
            }
        });
        line->deselect();
        if (vk == platform::vk::Delete || ch == platform::ch::Back) {
            guard([&] {
                for (char32_t k : platform::utf8_decode(tail.toStdString())) c.press_key(k);
            });
            return;
        }
        // The typed key, then what followed the selection.
        guard([&] {
            for (char32_t k : platform::utf8_decode(e->text().toStdString()))
                if (k >= 32) c.press_key(k);
            for (char32_t k : platform::utf8_decode(tail.toStdString())) c.press_key(k);
        });
        return;
    }
    guard([&] {
        if (vk) c.key_down(vk, shift);
        if (ch) {
            c.press_key(ch);
        } else if (!vk && !shift.ctrl && !shift.alt) {
            for (char32_t k : platform::utf8_decode(e->text().toStdString()))
                if (k >= 32) c.press_key(k);
        }
    });
}

bool FormView::eventFilter(QObject* watched, QEvent* event) {
    auto it = controls_.find(watched);
    if (it == controls_.end()) return QWidget::eventFilter(watched, event);
    Control& c = *it->second;
    switch (event->type()) {
        case QEvent::KeyPress: {
            auto* k = static_cast<QKeyEvent*>(event);
            if (host_key(c, k)) return true;
            if (k->modifiers() & Qt::ControlModifier && k->key() != Qt::Key_Tab) return false;  // shortcuts
            if (dynamic_cast<QLineEdit*>(watched) || dynamic_cast<QTableView*>(watched) ||
                (dynamic_cast<QRadioButton*>(watched) && (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab))) {
                forward_key(c, k);
                return true;
            }
            return false;
        }
        case QEvent::FocusIn:
            if (!syncing_ && !tab_clicked_ && form_.focused() != &c && c.focusable()) guard([&] { form_.focus(&c); });
            return false;
        case QEvent::Resize:
            if (c.name() == "panMenu")
                arrange_toolbar();
            else if (auto* g = dynamic_cast<platform::DBGrid*>(&c))
                fit_columns(*g);
            else if (!c.children().empty())
                arrange(c);
            return false;
        case QEvent::MouseButtonDblClick:
            if (auto* e = dynamic_cast<platform::DBEdit*>(&c); e && e->read_only) return true;
            return false;
        default:
            return false;
    }
}

void FormView::showEvent(QShowEvent* e) {
    // Ctrl+Tab is taken as the application receives it, or the document area would take it to
    // switch windows. Installed last, so it is asked first.
    if (!ctrl_tab_) {
        ctrl_tab_ = new EventHook(this, [this](QObject* watched, QEvent* event) {
            if (event->type() != QEvent::KeyPress) return false;
            auto* k = static_cast<QKeyEvent*>(event);
            auto* target = qobject_cast<QWidget*>(watched);
            if ((k->key() != Qt::Key_Tab && k->key() != Qt::Key_Backtab) || !(k->modifiers() & Qt::ControlModifier) ||
                !target || !isAncestorOf(target))
                return false;
            switch_tab(k->key() == Qt::Key_Tab && !(k->modifiers() & Qt::ShiftModifier));
            return true;
        });
    }
    qApp->removeEventFilter(ctrl_tab_);
    qApp->installEventFilter(ctrl_tab_);
    QWidget::showEvent(e);
}

void FormView::resizeEvent(QResizeEvent*) {
    arrange_all();
}

void FormView::arrange_all() {
    arrange(form_);
    for (const auto& [c, w] : widgets_)
        if (!c->children().empty()) arrange(*const_cast<Control*>(c));
}

// The aligned controls of a container take their room in order (top, bottom, left, right), the
// one aligned to the client area the rest; the others keep their own bounds.
void FormView::arrange(Control& container) {
    QWidget* cw = &container == &form_ ? this : widget_for(&container);
    if (!cw || dynamic_cast<QTabWidget*>(cw) || container.name() == "panMenu") return;
    QRect r = cw->contentsRect();
    if (auto* tabs = dynamic_cast<QTabWidget*>(cw)) r = tabs->currentWidget() ? tabs->currentWidget()->rect() : r;
    using platform::Align;
    auto place = [&](Align which) {
        for (Control* child : container.children()) {
            QWidget* w = widget_for(child);
            if (!w || child->align() != which || !child->visible()) continue;
            int h = child->height() > 0 ? child->height() : w->sizeHint().height();
            int wd = child->width() > 0 ? child->width() : w->sizeHint().width();
            switch (which) {
                case Align::Top:
                    w->setGeometry(r.left(), r.top(), r.width(), h);
                    r.setTop(r.top() + h);
                    break;
                case Align::Bottom:
                    w->setGeometry(r.left(), r.bottom() - h + 1, r.width(), h);
                    r.setBottom(r.bottom() - h);
                    break;
                case Align::Left:
                    w->setGeometry(r.left(), r.top(), wd, r.height());
                    r.setLeft(r.left() + wd);
                    break;
                case Align::Right:
                    w->setGeometry(r.right() - wd + 1, r.top(), wd, r.height());
                    r.setRight(r.right() - wd);
                    break;
                case Align::Client:
                    w->setGeometry(r);
                    break;
                default:
                    break;
            }
        }
    };
    place(Align::Top);
    place(Align::Bottom);
    place(Align::Left);
    place(Align::Right);
    place(Align::Client);
    for (Control* child : container.children()) {
        QWidget* w = widget_for(child);
        if (!w || child->align() != Align::None || dynamic_cast<platform::TabSheet*>(child)) continue;
        int wd = child->width() > 0 ? child->width() : w->sizeHint().width();
        int h = child->height() > 0 ? child->height() : w->sizeHint().height();
        w->setGeometry(child->left(), child->top(), wd, h);
    }
}

// The form's menus, owned by this view (they go when it goes), each with its accelerator letter.
void FormView::fill_menu_bar(QMenuBar& bar) {
    std::function<void(QMenu*, platform::MenuItem&, QString&)> add = [&](QMenu* menu, platform::MenuItem& item,
                                                                         QString& taken) {
        if (item.separator) {
            menu->addSeparator();
            return;
        }
        bool has_children = false;
        for (Control* child : item.children()) has_children = has_children || dynamic_cast<platform::MenuItem*>(child);
        if (has_children) {
            QMenu* sub = menu->addMenu(with_mnemonic(item.text(), taken));
            QString sub_taken;
            for (Control* child : item.children())
                if (auto* m = dynamic_cast<platform::MenuItem*>(child)) add(sub, *m, sub_taken);
            return;
        }
        QAction* a = menu->addAction(with_mnemonic(item.text(), taken));
        if (item.radio_item) {  // drawn as a choice among its siblings
            auto* group = menu->findChild<QActionGroup*>(QString(), Qt::FindDirectChildrenOnly);
            if (!group) group = new QActionGroup(menu);
            group->addAction(a);
        }
        if (!item.shortcut.empty()) a->setShortcut(QKeySequence(qs(item.shortcut)));
        a->setShortcutContext(Qt::ApplicationShortcut);
        actions_[&item] = a;
        QObject::connect(a, &QAction::triggered, this, [this, &item](bool) {
            actions_[&item]->setChecked(item.checked());  // the model decides
            if (item.enabled()) guard([&item] { item.click(); });
        });
        apply(item, Property::Enabled);
    };
    // The letters the window's own menus already use.
    QString taken;
    for (QAction* a : bar.actions()) {
        int at = a->text().indexOf('&');
        if (at >= 0 && at + 1 < a->text().size()) taken += a->text()[at + 1].toLower();
    }
    for (Control* c : form_.children())
        if (auto* m = dynamic_cast<platform::MenuItem*>(c)) {
            auto* menu = new QMenu(with_mnemonic(m->text(), taken), this);
            menus_.push_back(menu);
            bar.addMenu(menu);
            QString item_taken;
            for (Control* child : m->children())
                if (auto* sub = dynamic_cast<platform::MenuItem*>(child)) add(menu, *sub, item_taken);
        }
}

bool FormView::host_key(Control& c, QKeyEvent* e) {
    const auto mods = e->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int key = e->key();
    if (key == Qt::Key_F1 && mods == Qt::NoModifier) {
        if (on_help) on_help();
        return true;
    }
    // The product pick from the keyboard: Ctrl+Enter, or Alt+Down as in a combo box.
    if (auto* g = dynamic_cast<platform::DBGrid*>(&c)) {
        const bool ctrl_enter = (key == Qt::Key_Return || key == Qt::Key_Enter) && mods == Qt::ControlModifier;
        const bool alt_down = key == Qt::Key_Down && mods == Qt::AltModifier;
        if (ctrl_enter || alt_down) {
            int col = g->selected_index();
            if (col >= 0 && col < static_cast<int>(g->columns.size()) &&
                g->columns[static_cast<std::size_t>(col)].ellipsis)
                guard([g] { g->edit_button_click(); });
            return true;
        }
    }
    return false;
}

void FormView::switch_tab(bool forward) {
    for (Control* c : form_.children()) {
        auto* pc = dynamic_cast<platform::PageControl*>(c);
        if (!pc || !pc->usable()) continue;
        auto pages = pc->pages();
        auto it = std::find(pages.begin(), pages.end(), pc->active_page());
        if (it == pages.end() || pages.size() < 2) return;
        std::size_t i = static_cast<std::size_t>(it - pages.begin());
        for (std::size_t step = 1; step < pages.size(); ++step) {
            std::size_t k = forward ? (i + step) % pages.size() : (i + pages.size() - step) % pages.size();
            if (pages[k]->enabled() && pages[k]->visible()) {
                guard([&] { pages[k]->click(); });
                apply(*pc, Property::Data);
                return;
            }
        }
        return;
    }
}

// The toolbar shows its captions beside the icons where the row has room, icons alone otherwise.
void FormView::arrange_toolbar() {
    auto* bar = widget_for(form_.find("panMenu"));
    if (!bar) return;
    auto buttons = bar->findChildren<QToolButton*>(QString(), Qt::FindDirectChildrenOnly);
    int beside = 8;
    for (QToolButton* b : buttons) {
        if (b->icon().isNull() || b->isHidden()) continue;
        beside += b->fontMetrics().horizontalAdvance(b->text()) + 16 + 16;
    }
    const Qt::ToolButtonStyle style = beside <= bar->width() ? Qt::ToolButtonTextBesideIcon : Qt::ToolButtonIconOnly;
    for (QToolButton* b : buttons)
        if (!b->icon().isNull()) b->setToolButtonStyle(style);
}

// Each column at least as wide as its title; spare room shared in proportion to the layout's widths.
void FormView::fit_columns(platform::DBGrid& g) {
    auto* view = dynamic_cast<QTableView*>(widget_for(&g));
    GridModel* model = model_for(&g);
    if (!view || !model) return;
    const QFontMetrics fm(view->horizontalHeader()->font());
    std::vector<int> widths;
    int total = 0;
    for (int v = 0; v < model->columnCount(); ++v) {
        const auto gc = static_cast<std::size_t>(model->grid_column(v));
        int w =
            std::max({30, g.columns[gc].width, fm.horizontalAdvance(qs(g.column_title(model->grid_column(v)))) + 14});
        widths.push_back(w);
        total += w;
    }
    // The viewport follows the view only after this resize is handled: measured from the view.
    int room = view->contentsRect().width() - view->verticalHeader()->width();
    if (view->verticalScrollBar()->isVisible()) room -= view->verticalScrollBar()->width();
    // Short of room, the widest column (the product's name) gives it up, down to a readable width,
    // so that the amounts at the right stay in sight.
    if (total > room && !widths.empty()) {
        auto widest = std::max_element(widths.begin(), widths.end());
        const int give = std::min(total - room, *widest - 120);
        if (give > 0) {
            *widest -= give;
            total -= give;
        }
    }
    for (int v = 0; v < model->columnCount(); ++v) {
        int w = widths[static_cast<std::size_t>(v)];
        if (room > total && total > 0) w = w * room / total;
        view->setColumnWidth(v, w);
    }
}

}  // namespace acerto::gui
