#include "app/frmmain.h"

#include "app/export_dialog.h"
#include "app/message_box.h"
#include "app/open_url.h"
#include "app/report_rows.h"
#include "app/watchlist_window.h"
#include "controls/artwork.h"
#include "controls/ole_color.h"
#include "controls/property_bag.h"
#include "lookup/app_path.h"
#include "lookup/lookup_log.h"
#include "protocol/paths.h"
#include "search/row_format.h"
#include "search/user_service.h"
#include "ui_frmmain.h"

#include <QClipboard>
#include <QDebug>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidgetItem>

using namespace yuming;

namespace {

constexpr QStringView kTitle = u"岚桥域名过期查询 v";
constexpr QStringView kVersion = u"1.0";
constexpr QStringView kHomePageCaption = u"官方网站：";

constexpr std::uint32_t kPanelBackColor = OleColor::Rgb(241, 242, 244);
constexpr std::uint32_t kPanelLineColor = OleColor::Rgb(212, 213, 217);

struct Column {
    QStringView header;
    double share; // of the list's width
};
constexpr std::array<Column, 4> kColumns{{
    {u"域名", 0.35},
    {u"长度", 0.15},
    {u"后缀", 0.15},
    {u"删除时间", 0.25},
}};

// The list's rows are as tall as its one-pixel-wide row picture: 16 pixels.
class RowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {QStyledItemDelegate::sizeHint(option, index).width(), 16};
    }
};

// A report list's header goes on past its last column as one empty section, rather than showing
// the panel behind it.
class ReportHeader : public QHeaderView {
public:
    explicit ReportHeader(const QHeaderView& like, QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
        setSectionsMovable(like.sectionsMovable());
        setSectionsClickable(like.sectionsClickable());
        setHighlightSections(like.highlightSections());
        setStretchLastSection(like.stretchLastSection());
        setDefaultAlignment(like.defaultAlignment());
    }

protected:
    void paintEvent(QPaintEvent* event) override {
        QHeaderView::paintEvent(event);
        const int end = length() - offset();
        if (end >= viewport()->width()) return;
        QPainter painter(viewport());
        QStyleOptionHeader option;
        initStyleOption(&option);
        option.rect = QRect(end, 0, viewport()->width() - end, viewport()->height());
        option.section = count();
        option.position = QStyleOptionHeader::End;
        style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, this);
    }
};

// The form is drawn in 宋体 9 pt; on Linux the Song face of AR PL UMing has the same metrics
// (12-pixel Chinese, 6-pixel Latin characters at 96 dpi).
void installSongFont() {
    static const bool installed = [] {
        QFont::insertSubstitutions(QStringLiteral("宋体"),
                                   {QStringLiteral("SimSun"), QStringLiteral("AR PL UMing CN"),
                                    QStringLiteral("AR PL SungtiL GB"), QStringLiteral("Noto Serif CJK SC")});
        return true;
    }();
    Q_UNUSED(installed);
}

// The form's 12-pixel Song text is drawn as the face's own one-pixel strokes, in the exact colour
// each label asks for: antialiased, the thin strokes come out pale and blurred.
QFont crisp(QFont font) {
    // Bold is the regular face thickened: without antialiasing the dense characters fill in
    // solid, while its two-pixel strokes reach the full colour anyway.
    if (font.bold()) return font;
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::NoAntialias));
    font.setHintingPreference(QFont::PreferFullHinting);
    return font;
}

QString logPathOf(const AppSettings& settings) {
    return settings.logPath.isEmpty() ? lookupLogPath(GetAppPath()) : settings.logPath;
}

} // namespace

Frmmain::Frmmain(const AppSettings& settings, QWidget* parent)
    : QWidget(parent), ui(std::make_unique<Ui::Frmmain>()), m_settings(settings),
      m_search(m_link, settings.service), m_lookup(m_link, settings.service, logPathOf(settings)) {
    installSongFont();
    InitControlResources();
    ui->setupUi(this);
    m_label17Place = ui->Label17->geometry();
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    m_commands = {ui->Command1, ui->Command2, ui->Command3, ui->Command4, ui->Command5, ui->Command6};
    Option1 = {ui->Option1_0, ui->Option1_1, ui->Option1_2, ui->Option1_3};
    Option2 = {ui->Option2_0, ui->Option2_1, ui->Option2_2};
    Option3 = {ui->Option3_0, ui->Option3_1, ui->Option3_2, ui->Option3_3, ui->Option3_4};
    Check1 = {ui->Check1_0, ui->Check1_1, ui->Check1_2};
    restoreStoredControls();
    useCrispText();
    useArtwork();
    showHomePage();
    ui->ListView1->setItemDelegate(new RowHeightDelegate(ui->ListView1));
    new ReportRowFill(ui->ListView1);
    wireList();
    wireResultPane();
    // Below the panel's edge, out of sight: no key should land on it.
    ui->Combo1->setFocusPolicy(Qt::NoFocus);
    wire();
    Form_Load();
}

Frmmain::~Frmmain() = default;

QString Frmmain::title() {
    return kTitle.toString() + kVersion.toString();
}

void Frmmain::showCentred() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void Frmmain::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_shown) return;
    m_shown = true;
    // Queued, so it is reported once the frame has been flushed to the screen.
    QTimer::singleShot(0, this, &Frmmain::shown);
}

void Frmmain::Form_Load() {
    setWindowTitle(title());
    m_homePageUrl = m_settings.homePage;
    if (m_settings.banner) ui->Web->setSilent(true);
    const bool webFollows = m_settings.webFollowsService && m_settings.service.userService;
    if (m_settings.banner && !webFollows) ui->Web->Navigate(m_settings.webHost + paths::kBanner.toString());
    startUserService();
    for (Box* box : {ui->Box1, ui->Box2, ui->Box3}) {
        box->setBackColorValue(kPanelBackColor);
        box->setLineColorValue(kPanelLineColor);
    }
    QTreeWidget* list = ui->ListView1;
    list->setHeader(new ReportHeader(*list->header(), list));
    for (int i = 0; i < int(kColumns.size()); ++i) {
        list->setColumnCount(i + 1);
        list->headerItem()->setText(i, kColumns[i].header.toString());
        list->setColumnWidth(i, qRound(list->width() * kColumns[i].share));
    }
}

void Frmmain::useCrispText() {
    // Set on every control: those with a font of their own (the bold headlines) do not take the
    // form's, and nor do those with a style sheet of their own (the coloured labels).
    setFont(crisp(font()));
    for (QWidget* child : findChildren<QWidget*>())
        child->setFont(crisp(child->font()));
}

void Frmmain::wireList() {
    QTreeWidget* list = ui->ListView1;
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->installEventFilter(this);
    connect(list, &QTreeWidget::customContextMenuRequested, this, &Frmmain::showListMenu);
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        ui->ListView1->setCurrentItem(item);
        lookUpSelectedRow();
    });
}

bool Frmmain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->ListView1 && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy)) {
            copySelectedRows(false);
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && ui->ListView1->currentItem()) {
            lookUpSelectedRow();
            return true;
        }
    }
    if (watched == ui->Text6 && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && canGoBackToList()) {
        goBackToList();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void Frmmain::showListMenu(const QPoint& at) {
    QTreeWidget* list = ui->ListView1;
    const bool selected = !list->selectedItems().isEmpty();
    const bool searched = m_search.state().searched();
    const bool idle = !m_link.inFlight() && !m_export;
    QMenu menu(this);
    QAction* lookUp = menu.addAction(QStringLiteral("查询此域名"));
    lookUp->setEnabled(selected && idle);
    QAction* copyNames = menu.addAction(QStringLiteral("复制域名"));
    copyNames->setShortcut(QKeySequence::Copy);
    copyNames->setEnabled(selected);
    QAction* copyRows = menu.addAction(QStringLiteral("复制整行"));
    copyRows->setEnabled(selected);
    menu.addSeparator();
    QAction* thisPage = menu.addAction(QStringLiteral("导出本页…"));
    thisPage->setEnabled(list->topLevelItemCount() > 0);
    QAction* allPages = menu.addAction(QStringLiteral("导出全部页…"));
    allPages->setEnabled(searched && idle);
    menu.addSeparator();
    QAction* watch = menu.addAction(QStringLiteral("加入关注"));
    watch->setEnabled(selected);
    QAction* watchlist = menu.addAction(QStringLiteral("关注列表…"));
    QAction* chosen = menu.exec(list->viewport()->mapToGlobal(at));
    if (chosen == lookUp) {
        lookUpSelectedRow();
    } else if (chosen == copyNames || chosen == copyRows) {
        copySelectedRows(chosen == copyRows);
    } else if (chosen == thisPage || chosen == allPages) {
        askExportFile(chosen == allPages ? ExportScope::AllPages : ExportScope::ShownPage);
    } else if (chosen == watch) {
        watchSelectedRows();
    } else if (chosen == watchlist) {
        showWatchlist();
    }
}

void Frmmain::wireResultPane() {
    QPlainTextEdit* pane = ui->Text6;
    pane->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(pane, &QPlainTextEdit::customContextMenuRequested, this, &Frmmain::showResultMenu);
    pane->installEventFilter(this);
}

void Frmmain::showResultMenu(const QPoint& at) {
    QPlainTextEdit* pane = ui->Text6;
    const std::unique_ptr<QMenu> menu(pane->createStandardContextMenu());
    QAction* back = new QAction(QStringLiteral("返回查询结果"), menu.get());
    back->setEnabled(canGoBackToList());
    const QList<QAction*> editing = menu->actions();
    QAction* watch = new QAction(QStringLiteral("加入关注"), menu.get());
    watch->setEnabled(!m_lookedUp.isEmpty());
    menu->insertAction(editing.value(0), back);
    menu->insertAction(editing.value(0), watch);
    menu->insertSeparator(editing.value(0));
    QAction* chosen = menu->exec(pane->viewport()->mapToGlobal(at));
    if (chosen == back) goBackToList();
    if (chosen == watch) watchLookedUpName();
}

WatchlistWindow* Frmmain::showWatchlist() {
    if (!m_watchlist) {
        // A service given by address is asked with the token in YUMING_TOKEN, as yuming-cli does.
        m_watchlist = new WatchlistWindow(m_settings.service, qgetenv("YUMING_TOKEN"), this);
        m_watchlist->setObjectName(QStringLiteral("Watchlist"));
    } else if (m_watchlist->isHidden()) {
        m_watchlist->refresh(); // closed since it last asked
    }
    m_watchlist->show();
    m_watchlist->raise();
    m_watchlist->activateWindow();
    return m_watchlist;
}

void Frmmain::watchLookedUpName() {
    if (m_lookedUp.isEmpty()) return;
    showWatchlist()->addNames({m_lookedUp});
}

namespace {

ResultRow rowOf(const QTreeWidgetItem* item) {
    return ResultRow(item->text(0), item->text(1), item->text(2), item->text(3));
}

// The selected rows in the list's order, whatever order they were selected in.
QList<QTreeWidgetItem*> selectedInOrder(QTreeWidget* list) {
    QList<QTreeWidgetItem*> rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        if (list->topLevelItem(i)->isSelected()) rows.append(list->topLevelItem(i));
    return rows;
}

} // namespace

void Frmmain::watchSelectedRows() {
    QStringList names;
    for (const QTreeWidgetItem* item : selectedInOrder(ui->ListView1))
        names.append(item->text(0));
    if (names.isEmpty()) return;
    showWatchlist()->addNames(names);
}

void Frmmain::lookUpSelectedRow() {
    QTreeWidgetItem* item = ui->ListView1->currentItem();
    if (!item || m_export) return;
    // The row's domain goes into the lookup box and the lookup runs as its button runs it.
    ui->Text4->setText(item->text(0));
    Command2_Click();
}

bool Frmmain::canGoBackToList() const {
    return m_keptList.canGoBack() && !m_link.inFlight() && !m_export;
}

void Frmmain::goBackToList() {
    if (!canGoBackToList()) return;
    const std::optional<ListSnapshot> list = m_keptList.takeBack();
    m_search.restoreState(list->paging);
    showSearchPanel();
    showList(*list);
}

ListSnapshot Frmmain::shownList() const {
    const QTreeWidget* view = ui->ListView1;
    ListSnapshot list;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        list.rows.append(rowOf(view->topLevelItem(i)));
        if (view->topLevelItem(i)->isSelected()) list.selected.append(i);
    }
    list.current = view->indexOfTopLevelItem(view->currentItem());
    list.scrolledDown = view->verticalScrollBar()->value();
    list.scrolledRight = view->horizontalScrollBar()->value();
    list.status = ui->Label16->text();
    list.pageCaption = ui->Label17->text();
    list.paging = m_search.state();
    return list;
}

void Frmmain::showList(const ListSnapshot& list) {
    QTreeWidget* view = ui->ListView1;
    view->clear();
    addRows(list.rows);
    setStatus(list.status);
    setPageLabel(list.pageCaption);
    if (QTreeWidgetItem* current = view->topLevelItem(list.current))
        view->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    for (int row : list.selected)
        if (QTreeWidgetItem* item = view->topLevelItem(row)) item->setSelected(true);
    // The scroll bars take their ranges from the rows laid out, which the view would do later.
    view->doItemsLayout();
    view->verticalScrollBar()->setValue(list.scrolledDown);
    view->horizontalScrollBar()->setValue(list.scrolledRight);
    view->setFocus(Qt::OtherFocusReason);
}

void Frmmain::copySelectedRows(bool wholeRows) {
    QStringList lines;
    for (const QTreeWidgetItem* item : selectedInOrder(ui->ListView1)) {
        QStringList values{item->text(0)};
        if (wholeRows) values << item->text(1) << item->text(2) << item->text(3);
        lines << values.join(u'\t');
    }
    if (!lines.isEmpty()) QGuiApplication::clipboard()->setText(lines.join(u'\n') + u'\n');
}

namespace {

QString writeFailedText(const QString& reason, const QString& path) {
    return QStringLiteral("无法写入文件（%1）：\n%2").arg(reason, path);
}

} // namespace

void Frmmain::askExportFile(ExportScope scope) {
    auto* dialog = new ExportDialog(this, ExportDialog::startFolder(lastExportFolder(m_settings)));
    dialog->setObjectName(QStringLiteral("ExportDialog"));
    connect(dialog, &QDialog::finished, dialog, &QObject::deleteLater);
    // Queued, so that the export and what it says come after the dialog has closed.
    connect(
        dialog, &QFileDialog::fileSelected, this,
        [this, scope](const QString& path) {
            if (scope == ExportScope::AllPages)
                exportAllPages(path);
            else
                exportShownPage(path);
        },
        Qt::QueuedConnection);
    dialog->open();
}

bool Frmmain::exportShownPage(const QString& path) {
    QList<ResultRow> rows;
    for (int i = 0; i < ui->ListView1->topLevelItemCount(); ++i)
        rows.append(rowOf(ui->ListView1->topLevelItem(i)));
    const QByteArray bytes =
        row_format::head(row_format::Format::Csv) + row_format::rows(row_format::Format::Csv, rows);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        MessageBox::warning(this, kRefusalTitle.toString(), writeFailedText(file.errorString(), path));
        return false;
    }
    rememberExportFolder(m_settings, QFileInfo(path).absolutePath());
    MessageBox::information(this, kRefusalTitle.toString(),
                            QStringLiteral("已导出本页 %1 行：\n%2").arg(rows.size()).arg(path));
    return true;
}

void Frmmain::exportAllPages(const QString& path, int pauseMs) {
    if (m_export || m_link.inFlight()) return;
    m_export = new PageExport(m_link, m_settings.service, m_search.state(), path, pauseMs, this);
    auto* dialog = new QProgressDialog(this);
    dialog->setObjectName(QStringLiteral("ExportProgress"));
    dialog->setWindowTitle(QStringLiteral("导出全部页"));
    dialog->setCancelButtonText(QStringLiteral("取消"));
    dialog->setRange(0, int(qMin<qint64>(m_export->pageCount(), INT_MAX)));
    dialog->setLabelText(QStringLiteral("第 0 / %1 页").arg(m_export->pageCount()));
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    connect(dialog, &QProgressDialog::canceled, m_export, &PageExport::cancel);
    connect(m_export, &PageExport::progress, dialog, [dialog](qint64 done, qint64 pages, qint64 rows) {
        dialog->setValue(int(qMin<qint64>(done, INT_MAX)));
        dialog->setLabelText(QStringLiteral("第 %1 / %2 页，已导出 %3 行").arg(done).arg(pages).arg(rows));
    });
    connect(m_export, &PageExport::finished, this, [this, dialog, path](const PageExport::End& end) {
        dialog->deleteLater();
        m_export->deleteLater();
        m_export = nullptr;
        lockButtons(false);
        using Kind = PageExport::End::Kind;
        QString text;
        switch (end.kind) {
        case Kind::Complete:
            text = QStringLiteral("已导出全部 %1 页，共 %2 行：\n%3")
                       .arg(end.pagesWritten)
                       .arg(end.rowsWritten)
                       .arg(path);
            break;
        case Kind::Cancelled:
            text = QStringLiteral("导出已取消，停在第 %1 页。文件只含前 %2 页（共 %3 行）：\n%4")
                       .arg(end.stoppedAtPage)
                       .arg(end.pagesWritten)
                       .arg(end.rowsWritten)
                       .arg(path);
            break;
        case Kind::PageFailed:
        case Kind::Busy:
            text = QStringLiteral("第 %1 页获取出错，导出停止。文件只含前 %2 页（共 %3 行）：\n%4")
                       .arg(end.stoppedAtPage)
                       .arg(end.pagesWritten)
                       .arg(end.rowsWritten)
                       .arg(path);
            break;
        case Kind::WriteFailed:
            text = writeFailedText(end.reason, path);
            break;
        }
        if (!end.reason.isEmpty()) qWarning().noquote() << "yuming: export:" << end.reason;
        // The next export starts where this one put its file, also a stopped one's.
        if (end.kind != Kind::WriteFailed) rememberExportFolder(m_settings, QFileInfo(path).absolutePath());
        if (end.kind == Kind::Complete || end.kind == Kind::Cancelled)
            MessageBox::information(this, kRefusalTitle.toString(), text);
        else
            MessageBox::warning(this, kRefusalTitle.toString(), text);
    });
    lockButtons(true);
    m_export->start();
}

void Frmmain::restoreStoredControls() {
    const auto restore = [](auto* control) {
        QString error;
        const auto bag = StoredProperties(control->objectName(), &error);
        if (!bag || !control->ReadProperties(*bag, &error))
            qWarning("%s: stored properties unusable: %s", qPrintable(control->objectName()),
                     qPrintable(error));
    };
    for (Command* command : m_commands)
        restore(command);
    for (Box* box : {ui->Box1, ui->Box2, ui->Box3})
        restore(box);
}

void Frmmain::useArtwork() {
    const QPixmap narrow(QString::fromLatin1(Artwork::TitleNarrow));
    const QPixmap wide(QString::fromLatin1(Artwork::TitleWide));
    ui->Picture2->setPixmap(narrow);
    ui->Picture6->setPixmap(narrow);
    ui->Picture7->setPixmap(wide);
    ui->Picture8->setPixmap(wide);
    ui->Label23->setCursor(Artwork::HandCursor());
    setWindowIcon(Artwork::ProgramIcon());
}

void Frmmain::showHomePage() {
    ui->Label23->setText(kHomePageCaption.toString() + m_settings.homePage);
    ui->Label21->setText(m_settings.homePage);
    ui->Label22->setText(m_settings.homePage);
    // Labels fit their text, keeping their left and top edges; the note keeps its fixed box.
    for (QLabel* label : findChildren<QLabel*>()) {
        if (label != ui->Label19 && label->pixmap().isNull()) label->adjustSize();
    }
}

void Frmmain::wire() {
    connect(ui->Command1, &Command::Click, this, &Frmmain::Command1_Click);
    connect(ui->Command2, &Command::Click, this, &Frmmain::Command2_Click);
    connect(ui->Command3, &Command::Click, this, &Frmmain::Command3_Click);
    connect(ui->Command4, &Command::Click, this, &Frmmain::Command4_Click);
    connect(ui->Command5, &Command::Click, this, &Frmmain::Command5_Click);
    connect(ui->Command6, &Command::Click, this, &Frmmain::Command6_Click);
    // Enter runs the command and still reaches the box: returnPressed comes from the box's own
    // key handling.
    connect(ui->Text1, &QLineEdit::returnPressed, this, &Frmmain::Command1_Click);
    connect(ui->Text4, &QLineEdit::returnPressed, this, &Frmmain::Command2_Click);
    connect(ui->Text5, &QLineEdit::returnPressed, this, &Frmmain::Command5_Click);
    connect(ui->Label23, &LinkLabel::Click, this, &Frmmain::Label23_Click);
    connect(ui->Web, &Banner::loadFinished, this, &Frmmain::bannerLoaded);
    // The window shows only its own texts; why a request failed goes to the terminal, if any.
    connect(&m_link, &ServiceLink::ended, this, [](const Outcome& outcome) {
        if (!outcome.reason.isEmpty()) qWarning().noquote() << "yuming:" << outcome.reason;
    });

    connect(&m_search, &SearchCommands::showSearchPanel, this, &Frmmain::showSearchPanel);
    connect(&m_search, &SearchCommands::showSearchPanel, this, [this] { m_keptList.searchStarted(); });
    connect(&m_search, &SearchCommands::buttonsLocked, this, &Frmmain::lockButtons);
    connect(&m_search, &SearchCommands::statusChanged, this, &Frmmain::setStatus);
    connect(&m_search, &SearchCommands::pageLabelChanged, this, &Frmmain::setPageLabel);
    connect(&m_search, &SearchCommands::rowsCleared, ui->ListView1, &QTreeWidget::clear);
    connect(&m_search, &SearchCommands::rowsAdded, this, &Frmmain::addRows);

    connect(&m_lookup, &LookupCommand::showLookupPanel, this, &Frmmain::showLookupPanel);
    connect(&m_lookup, &LookupCommand::buttonsLocked, this, &Frmmain::lockButtons);
    connect(&m_lookup, &LookupCommand::statusChanged, this, &Frmmain::setStatus);
    connect(&m_lookup, &LookupCommand::resultTextChanged, this, &Frmmain::setResultText);
    connect(&m_lookup, &LookupCommand::resultTextChanged, this,
            [this] { m_lookedUp = m_lookingUp.trimmed(); });
    connect(&m_lookup, &LookupCommand::rowsCleared, ui->ListView1, &QTreeWidget::clear);
}

void Frmmain::Command1_Click() {
    // Enter in a box reaches here while an export holds the buttons locked.
    if (m_export) return;
    answer(m_search.newSearch(searchFilters()));
}

void Frmmain::Command2_Click() {
    if (m_export) return;
    // The name the request carries, for 加入关注 on its result: the box as it reads at connect.
    m_lookingUp = ui->Text4->text();
    answer(m_lookup.lookup(ui->Text4->text(), [this] { return m_lookingUp = ui->Text4->text(); }));
}

void Frmmain::Command3_Click() {
    answer(m_search.previousPage(searchFilters()));
}

void Frmmain::Command4_Click() {
    answer(m_search.nextPage(searchFilters()));
}

void Frmmain::Command5_Click() {
    if (m_export) return;
    answer(m_search.jumpToPage(searchFilters(), ui->Text5->text()));
}

void Frmmain::Command6_Click() {
    answer(m_search.presetSearch());
}

void Frmmain::Label23_Click() {
    OpenUrl(this, m_homePageUrl);
}

// Started before the first request needs it: a first start seeds the service's database, and
// the window goes on meanwhile. A search made before it listens waits for it in the link.
void Frmmain::startUserService() {
    if (!m_settings.service.userService) return;
    yuming::UserService& service = m_link.userService();
    if (m_settings.webFollowsService) {
        connect(&service, &yuming::UserService::ready, this, [this](const yuming::ServiceAddress& address) {
            const QString home = address.origin() + u'/';
            if (home == m_homePageUrl) return;
            m_homePageUrl = home;
            if (m_settings.banner) ui->Web->Navigate(address.authority() + paths::kBanner.toString());
        });
    }
    service.ensure();
}

namespace {

// The checked button's place in its group; the window always has one checked.
template <size_t N> int checkedIndex(const std::array<QRadioButton*, N>& group) {
    for (size_t i = 0; i < N; ++i)
        if (group[i]->isChecked()) return int(i);
    return 0;
}

// Each group's values in the order of its buttons.
constexpr std::array kPositions{KeyPosition::Anywhere, KeyPosition::Starts, KeyPosition::Ends,
                                KeyPosition::StartsOrEnds};
constexpr std::array kKinds{CharKind::Any, CharKind::Letters, CharKind::Digits};
constexpr std::array kSorts{SortKey::DeletionTime, SortKey::Alphabetical, SortKey::Suffix, SortKey::Length,
                            SortKey::DeletionDateThenLength};
constexpr std::array<Suffix, 3> kSuffixBoxes{Com, Net, Org};

} // namespace

SearchQuery Frmmain::searchFilters() const {
    static_assert(std::tuple_size_v<decltype(Option1)> == kPositions.size() &&
                  std::tuple_size_v<decltype(Option2)> == kKinds.size() &&
                  std::tuple_size_v<decltype(Option3)> == kSorts.size() &&
                  std::tuple_size_v<decltype(Check1)> == kSuffixBoxes.size());
    SearchQuery query;
    query.keyword = ui->Text1->text();
    query.position = kPositions[checkedIndex(Option1)];
    query.minLength = ui->Text2->text();
    query.maxLength = ui->Text3->text();
    query.kind = kKinds[checkedIndex(Option2)];
    query.sort = kSorts[checkedIndex(Option3)];
    query.suffixes = 0;
    for (size_t i = 0; i < Check1.size(); ++i)
        if (Check1[i]->isChecked()) query.suffixes |= kSuffixBoxes[i];
    return query;
}

void Frmmain::answer(const CommandResult& result) {
    if (result.kind == CommandResult::Kind::Refused)
        MessageBox::information(this, kRefusalTitle.toString(), result.message);
}

void Frmmain::lockButtons(bool locked) {
    // The form's own focus widget: the window need not be the active one while a request runs.
    QWidget* focus = focusWidget();
    if (locked) {
        m_focusBeforeLock = focus;
        // A disabled button would hand the focus on to the next control in the tab chain, where
        // the next Enter would run another command. The form holds it until the buttons are back.
        if (std::find(m_commands.begin(), m_commands.end(), focus) != m_commands.end())
            setFocus(Qt::OtherFocusReason);
    }
    for (Command* command : m_commands)
        command->setEnabled(!locked);
    if (!locked && m_focusBeforeLock && (focus == this || focus == m_focusBeforeLock))
        m_focusBeforeLock->setFocus(Qt::OtherFocusReason);
}

void Frmmain::showSearchPanel() {
    ui->Box3->setVisible(false);
    ui->Box2->setVisible(true);
}

void Frmmain::showLookupPanel() {
    // The lookup empties the list it replaces; what it showed is kept for the way back.
    if (!ui->Box2->isHidden()) m_keptList.lookupReplaces(shownList());
    ui->Box3->setVisible(true);
    ui->Box2->setVisible(false);
}

void Frmmain::setStatus(const QString& text) {
    ui->Label16->setText(text);
    ui->Label16->adjustSize();
}

void Frmmain::setPageLabel(const QString& text) {
    // A page count too long for the label's place grows to the left, so the page numbers never
    // disappear under the paging buttons.
    QLabel* label = ui->Label17;
    label->setText(text);
    label->adjustSize();
    const QRect stored = m_label17Place;
    label->move(label->width() > stored.width() ? stored.right() + 1 - label->width() : stored.left(),
                stored.top());
}

void Frmmain::addRows(const QList<ResultRow>& rows) {
    QList<QTreeWidgetItem*> items;
    items.reserve(rows.size());
    for (const ResultRow& row : rows)
        items.append(
            new QTreeWidgetItem(QStringList{row.domain().toString(), row.length().toString(),
                                            row.suffix().toString(), row.deletionTime().toString()}));
    ui->ListView1->addTopLevelItems(items);
}

void Frmmain::setResultText(const QString& text) {
    // The lookup's lines end in CR LF; the box keeps lines, not line-end characters.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    ui->Text6->setPlainText(lines);
}
