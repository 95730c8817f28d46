#include "form_view.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include "acerto/platform/text.h"
#include "table_model.h"

namespace acerto::gui {

using platform::Control;
using platform::Property;

namespace {
const QColor kRequired(0xFF, 0xFF, 0xE1);  // the suite's colour for required boxes

QString qs(const std::string& s) {
    return QString::fromStdString(s);
}

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
    arrange_all();
    QTimer::singleShot(0, this, [this] { sync_focus(); });
}

FormView::~FormView() {
    form_.remove_form_observer(observer_);
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
        QObject::connect(view, &QTableView::doubleClicked, this, [this, grid](const QModelIndex&) {
            if (grid->columns[static_cast<std::size_t>(grid->selected_index())].ellipsis)
                guard([grid] { grid->edit_button_click(); });
        });
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
        b->setFocusPolicy(static_cast<platform::Button&>(c).focusable() ? Qt::StrongFocus : Qt::NoFocus);
        QObject::connect(b, &QToolButton::clicked, this, [this, &c] { guard([&c] { c.click(); }); });
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
        add("|◀", "Primeiro", [](platform::DataSet& d) { d.first(); });
        add("◀", "Anterior", [](platform::DataSet& d) { d.prior(); });
        add("▶", "Próximo", [](platform::DataSet& d) { d.next(); });
        add("▶|", "Último", [](platform::DataSet& d) { d.last(); });
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
            for (Control* child : c.children()) {
                QWidget* b = build(*child, f);
                QFont small = b->font();
                small.setPointSizeF(small.pointSizeF() * 0.85);
                b->setFont(small);
                row->addWidget(b);
            }
            row->addStretch();
            f->setFrameShape(QFrame::StyledPanel);
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
    if (c.focusable() &&
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
        it->second->setEnabled(m.enabled());
        it->second->setVisible(m.visible());
        it->second->setChecked(m.checked());
        it->second->setText(qs(m.text()));
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
                    if (Control* next = form_.next_focusable(&c, !back)) form_.focus(next);
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
            if (k->modifiers() & Qt::ControlModifier && k->key() != Qt::Key_Tab) return false;  // shortcuts
            if (dynamic_cast<QLineEdit*>(watched) || dynamic_cast<QTableView*>(watched) ||
                (dynamic_cast<QRadioButton*>(watched) && (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab))) {
                forward_key(c, k);
                return true;
            }
            return false;
        }
        case QEvent::FocusIn:
            if (!syncing_ && form_.focused() != &c && c.focusable()) guard([&] { form_.focus(&c); });
            return false;
        case QEvent::Resize:
            if (!c.children().empty()) arrange(c);
            return false;
        case QEvent::MouseButtonDblClick:
            if (auto* e = dynamic_cast<platform::DBEdit*>(&c); e && e->read_only) return true;
            return false;
        default:
            return false;
    }
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

void FormView::fill_menu_bar(QMenuBar& bar) {
    std::function<void(QMenu*, platform::MenuItem&)> add = [&](QMenu* menu, platform::MenuItem& item) {
        if (item.separator) {
            menu->addSeparator();
            return;
        }
        bool has_children = false;
        for (Control* child : item.children()) has_children = has_children || dynamic_cast<platform::MenuItem*>(child);
        if (has_children) {
            QMenu* sub = menu->addMenu(qs(item.text()));
            for (Control* child : item.children())
                if (auto* m = dynamic_cast<platform::MenuItem*>(child)) add(sub, *m);
            return;
        }
        QAction* a = menu->addAction(qs(item.text()));
        a->setCheckable(true);
        if (!item.shortcut.empty()) a->setShortcut(QKeySequence(qs(item.shortcut)));
        a->setShortcutContext(Qt::ApplicationShortcut);
        actions_[&item] = a;
        QObject::connect(a, &QAction::triggered, this, [this, &item](bool) {
            actions_[&item]->setChecked(item.checked());
            if (item.enabled()) guard([&item] { item.click(); });
        });
        apply(item, Property::Enabled);
    };
    for (Control* c : form_.children())
        if (auto* m = dynamic_cast<platform::MenuItem*>(c)) {
            QMenu* menu = bar.addMenu(qs(m->text()));
            for (Control* child : m->children())
                if (auto* sub = dynamic_cast<platform::MenuItem*>(child)) add(menu, *sub);
        }
}

}  // namespace acerto::gui
