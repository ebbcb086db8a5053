// The chooser dialog: lazy tree from the disk, description pane with its tool bar, OK on groups and
// experiments.
#include "ui/Experimentsfm.h"

#include "core/Exception.h"
#include "core/Prompts.h"
#include "core/Strings.h"
#include "core/TextCodec.h"
#include "core/UserFolders.h"
#include "experiment/Experiment.h"
#include "widgets/Icons.h"
#include "widgets/RichEdit.h"

#include <QAction>
#include <QCollator>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QTextCursor>
#include <QToolBar>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kGroupPicture = 0;
constexpr int kExperimentPicture = 2;
constexpr int kGroupRole = Qt::UserRole + 1;

QIcon TreePicture(int index) {
    static const QIcon group(QStringLiteral(":/icons/group.svg"));
    static const QIcon experiment(QStringLiteral(":/icons/experiment.svg"));
    return index == kGroupPicture ? group : experiment;
}

} // namespace

QStringList CatalogueSubfolders(const QString& folder) {
    // Hidden folders (and files of any kind) never show; names are listed in the reader's alphabetical order.
    QStringList names =
        QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks, QDir::Unsorted);
    QCollator collator{QLocale(QLocale::Russian)};
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), collator);
    return names;
}

bool HasSubfolders(const QString& folder) {
    return !QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks).isEmpty();
}

TfmExperiments::TfmExperiments(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("Выбор эксперимента"));
    setWindowFlags(Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    setSizeGripEnabled(true);
    QFont face(QStringList{QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    face.setPointSize(9);
    setFont(face);

    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    tbDescr = new QToolBar(panel);
    tbDescr->setIconSize(QSize(24, 24));
    tvExperiments = new QTreeWidget;
    tvExperiments->setHeaderHidden(true);
    tvExperiments->setIndentation(19);
    tvExperiments->setIconSize(QSize(16, 16));
    tvExperiments->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A double click opens a group through OK's rule; the tree's own toggling would close it again.
    tvExperiments->setExpandsOnDoubleClick(false);
    // Long experiment names scroll sideways instead of being cut short.
    tvExperiments->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tvExperiments->header()->setStretchLastSection(false);
    reDescr = new TRichEdit;
    reDescr->setReadOnly(true);
    reDescr->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    spDescr = new QSplitter(Qt::Horizontal);
    spDescr->setHandleWidth(4);
    spDescr->setChildrenCollapsible(false);
    spDescr->addWidget(tvExperiments);
    spDescr->addWidget(reDescr);
    spDescr->setStretchFactor(0, 0); // a larger dialog widens the description, not the tree
    spDescr->setStretchFactor(1, 1);
    spDescr->setSizes({220, 268});
    auto* panelLayout = new QVBoxLayout(panel);
    panelLayout->setContentsMargins(2, 2, 2, 2);
    panelLayout->setSpacing(2);
    panelLayout->addWidget(tbDescr);
    panelLayout->addWidget(spDescr, 1);
    // The analysis that answers the experiment's question (its Fit= key), under the tree and description.
    lbAnalysis = new QLabel(panel);
    lbAnalysis->setWordWrap(true);
    lbAnalysis->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbAnalysis->hide();
    panelLayout->addWidget(lbAnalysis);

    Buttons = new QDialogButtonBox(this);
    QPushButton* ok = Buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    Buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    ok->setDefault(true);
    // OK accepts only an experiment; the dialog decides itself.
    disconnect(Buttons, nullptr, this, nullptr);
    connect(ok, &QPushButton::clicked, this, &TfmExperiments::OkClicked);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(panel, 1);
    layout->addWidget(Buttons);

    acDescrShowHide = new QAction(ToolIcon(QStringLiteral("description")), QStringLiteral("&Описание"), this);
    acDescrShowHide->setToolTip(QStringLiteral("Показать/скрыть описание эксперимента"));
    acDescrShowHide->setCheckable(true);
    acDescrShowHide->setChecked(true);
    acDescrCopy = new QAction(ToolIcon(QStringLiteral("copy")), QStringLiteral("&Копировать"), this);
    acDescrCopy->setToolTip(QStringLiteral("Копировать описание эксперимента в буфер обмена"));
    acDescrCopy->setShortcut(QKeySequence(QStringLiteral("Ctrl+C")));
    acDescrPrint = new QAction(ToolIcon(QStringLiteral("print")), QStringLiteral("&Печать..."), this);
    acDescrPrint->setToolTip(QStringLiteral("Печать описания эксперимента"));
    acDescrPrint->setShortcut(QKeySequence(QStringLiteral("Ctrl+P")));
    acDescrSave = new QAction(ToolIcon(QStringLiteral("save")), QString(), this);
    acDescrSave->setToolTip(QStringLiteral("Сохранить описание эксперимента в файл"));
    acDescrSave->setShortcut(QKeySequence(QStringLiteral("Ctrl+S")));
    acCopyToMine = new QAction(ToolIcon(QStringLiteral("experiment")),
                               QStringLiteral("Копировать эксперимент в мою папку"), this);
    acCopyToMine->setToolTip(QStringLiteral("Копировать эксперимент в мою папку, чтобы изменить его"));
    for (QAction* action : {acDescrShowHide, acDescrCopy, acDescrPrint, acDescrSave, acCopyToMine}) {
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
    }
    tbDescr->addAction(acDescrShowHide);
    tbDescr->addSeparator();
    tbDescr->addAction(acDescrCopy);
    tbDescr->addSeparator();
    tbDescr->addAction(acDescrPrint);
    tbDescr->addAction(acDescrSave);
    tbDescr->addSeparator();
    tbDescr->addAction(acCopyToMine);
    for (QAction* action : {acDescrShowHide, acDescrCopy, acDescrPrint, acDescrSave, acCopyToMine})
        action->setStatusTip(action->toolTip());

    connect(acDescrShowHide, &QAction::toggled, this, &TfmExperiments::ShowHideDescription);
    // A failed print or save shows its error in a box; the chooser stays open.
    const auto command = [this](QAction* action, void (TfmExperiments::*handler)()) {
        connect(action, &QAction::triggered, this,
                [this, handler] { RunCommand(this, [this, handler] { (this->*handler)(); }); });
    };
    command(acDescrCopy, &TfmExperiments::CopyDescription);
    command(acDescrPrint, &TfmExperiments::PrintDescription);
    command(acDescrSave, &TfmExperiments::SaveDescription);
    command(acCopyToMine, &TfmExperiments::CopyToMine);
    connect(reDescr, &QTextEdit::selectionChanged, this, &TfmExperiments::UpdateActions);
    connect(tvExperiments, &QTreeWidget::itemExpanded, this, &TfmExperiments::Expand);
    connect(tvExperiments, &QTreeWidget::itemCollapsed, this, &TfmExperiments::Collapse);
    connect(tvExperiments, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (!current) return;
        Refresh(current);
        ShowDescription(current);
    });
    connect(tvExperiments, &QTreeWidget::itemActivated, this, [this] { OkClicked(); });
    connect(spDescr, &QSplitter::splitterMoved, this, [this] {
        if (tvExperiments->width() > 0) DescrRatio = double(reDescr->width()) / tvExperiments->width();
        reDescr->viewport()->update();
    });

    // At least the form's own 510 × 378; on a larger screen a good part of it, so that a description reads as
    // pages do; never beyond the screen.
    QSize size(510, 378);
    if (const QScreen* screen = owner ? owner->screen() : this->screen()) {
        const QSize room = screen->availableGeometry().size();
        size = size.expandedTo(QSize(room.width() * 11 / 20, room.height() * 13 / 20))
                   .boundedTo(QSize(room.width() * 9 / 10, room.height() * 9 / 10));
    }
    resize(size);
    if (owner) move(owner->geometry().center() - rect().center());
    UpdateActions();
}

bool TfmExperiments::IsGroup(QTreeWidgetItem* node) {
    return node && node->data(0, kGroupRole).toBool();
}

QString TfmExperiments::NodePath(QTreeWidgetItem* node) const {
    QString path;
    for (QTreeWidgetItem* n = node; n; n = n->parent()) path = n->text(0) + u'/' + path;
    return path;
}

QString TfmExperiments::NodeFolder(QTreeWidgetItem* node) const {
    const QString path = NodePath(node);
    for (auto root = Roots.crbegin(); root != Roots.crend(); ++root)
        if (QFileInfo(*root + path).isDir()) return *root + path;
    return Roots.value(0) + path;
}

QStringList TfmExperiments::Subfolders(const QString& path) const {
    if (Roots.size() == 1) return CatalogueSubfolders(Roots.first() + path);
    QStringList names;
    for (const QString& root : Roots) names += CatalogueSubfolders(root + path);
    names.removeDuplicates();
    QCollator collator{QLocale(QLocale::Russian)};
    collator.setNumericMode(true);
    std::sort(names.begin(), names.end(), collator);
    return names;
}

QString TfmExperiments::MineRoot() const {
    return Roots.size() > 1 ? Roots.last() : QString();
}

void TfmExperiments::AddNode(QTreeWidgetItem* parent, const QString& name) {
    auto* node = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tvExperiments);
    node->setText(0, name);
    // A name the pane cuts short is read whole in its tip.
    node->setToolTip(0, name);
    Refresh(node);
}

void TfmExperiments::Refresh(QTreeWidgetItem* node) {
    const QString path = NodePath(node);
    const bool group = std::any_of(Roots.cbegin(), Roots.cend(),
                                   [&](const QString& root) { return HasSubfolders(root + path); });
    node->setData(0, kGroupRole, group);
    node->setChildIndicatorPolicy(group ? QTreeWidgetItem::ShowIndicator
                                        : QTreeWidgetItem::DontShowIndicator);
    node->setIcon(0, TreePicture(group ? kGroupPicture : kExperimentPicture));
}

void TfmExperiments::FillTree(const QString& root) {
    FillTree(QStringList{root});
}

void TfmExperiments::FillTree(const QStringList& roots) {
    Roots = roots;
    tvExperiments->clear();
    for (const QString& name : Subfolders(QString())) AddNode(nullptr, name);
    RestoreState();
    FitTree();
}

QString TfmExperiments::StateFile() {
    return UserStateFile(QStringLiteral("chooser.ini"));
}

void TfmExperiments::SaveState() const {
    QSettings state(StateFile(), QSettings::IniFormat);
    state.setValue(QStringLiteral("Size"), size());
    QString path;
    for (QTreeWidgetItem* n = tvExperiments->currentItem(); n; n = n->parent())
        path = path.isEmpty() ? n->text(0) : n->text(0) + u'/' + path;
    state.setValue(QStringLiteral("Experiment"), path);
}

void TfmExperiments::RestoreState() {
    const QSettings state(StateFile(), QSettings::IniFormat);
    const QSize size = state.value(QStringLiteral("Size")).toSize();
    if (size.isValid()) {
        // A size remembered on another screen, or at another scale, is fitted into this screen: OK and Отмена
        // stay reachable.
        QSize fitted = size.expandedTo(minimumSizeHint());
        const QWidget* owner = parentWidget();
        if (const QScreen* screen = owner ? owner->screen() : this->screen()) {
            const QRect room = screen->availableGeometry();
            fitted = fitted.boundedTo(QSize(room.width() * 9 / 10, room.height() * 9 / 10));
        }
        resize(fitted);
        if (owner) move(owner->geometry().center() - rect().center());
    }
    // The experiment chosen last, opened down to its node when the catalogue still has it.
    QTreeWidgetItem* node = nullptr;
    for (const QString& part :
         state.value(QStringLiteral("Experiment")).toString().split(u'/', Qt::SkipEmptyParts)) {
        if (node) node->setExpanded(true);
        QTreeWidgetItem* found = nullptr;
        const int count = node ? node->childCount() : tvExperiments->topLevelItemCount();
        for (int i = 0; i < count && !found; ++i) {
            QTreeWidgetItem* child = node ? node->child(i) : tvExperiments->topLevelItem(i);
            if (child->text(0) == part) found = child;
        }
        if (!found) break;
        node = found;
    }
    if (node) tvExperiments->setCurrentItem(node);
}

void TfmExperiments::Expand(QTreeWidgetItem* node) {
    // The disk is read again at every expansion: the catalogue may have changed since.
    const QSignalBlocker blocker(tvExperiments);
    qDeleteAll(node->takeChildren());
    const QStringList names = Subfolders(NodePath(node));
    for (const QString& name : names) AddNode(node, name);
    node->setData(0, kGroupRole, !names.isEmpty());
    node->setChildIndicatorPolicy(names.isEmpty() ? QTreeWidgetItem::DontShowIndicator
                                                  : QTreeWidgetItem::ShowIndicator);
    node->setIcon(0, TreePicture(names.isEmpty() ? kExperimentPicture : kGroupPicture));
    if (names.isEmpty()) node->setExpanded(false);
    FitTree();
}

void TfmExperiments::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FitTree();
}

void TfmExperiments::FitTree() {
    // The tree takes the width its names need; the dialog grows (within the screen) so that the description
    // keeps a readable width, else the tree takes up to two thirds of the pane and a longer name keeps its
    // tip. The panes have their sizes once the dialog is shown: it fits them then (see showEvent).
    if (!isVisible()) return;
    QList<int> sizes = spDescr->sizes();
    int total = sizes.value(0) + sizes.value(1);
    tvExperiments->resizeColumnToContents(0);
    const int wanted = tvExperiments->columnWidth(0) + tvExperiments->frameWidth() * 2 + 8;
    if (total <= 0 || wanted <= sizes.value(0)) return;
    constexpr int kReadable = 300;
    if (const int missing = wanted + kReadable - total;
        missing > 0 && !reDescr->isHidden() && !isMaximized()) {
        const QScreen* screen = this->screen();
        const int room = screen ? screen->availableGeometry().width() - frameGeometry().width() : 0;
        if (room > 0) {
            const int grow = std::min(missing, room);
            setGeometry(x() - grow / 2, y(), width() + grow, height()); // about the same centre
            if (layout()) layout()->activate();
            sizes = spDescr->sizes();
            total = sizes.value(0) + sizes.value(1);
        }
    }
    const int tree = std::min(wanted, total * 2 / 3);
    spDescr->setSizes({tree, total - tree});
}

void TfmExperiments::Collapse(QTreeWidgetItem* node) {
    const QSignalBlocker blocker(tvExperiments);
    QTreeWidgetItem* current = tvExperiments->currentItem();
    for (QTreeWidgetItem* n = current; n; n = n->parent())
        if (n->parent() == node) tvExperiments->setCurrentItem(node);
    qDeleteAll(node->takeChildren());
    Refresh(node);
    // The selection moved to the group without a notice: the description follows it.
    if (tvExperiments->currentItem() == node) ShowDescription(node);
}

void TfmExperiments::ShowDescription(QTreeWidgetItem* node) {
    try {
        reDescr->LoadFromFile(NodeFolder(node) + QStringLiteral("descr.rtf"));
    } catch (...) {
        // Unreadable, too large, or more than the memory holds: the fallback text is shown instead.
        reDescr->ShowPlaceholder(LoadStr(sNoDescription));
    }
    std::optional<tFitModel> fit;
    if (!IsGroup(node)) {
        tExperiment experiment;
        experiment.Path = NodeFolder(node);
        try {
            experiment.ReadFile();
            fit = experiment.SuggestedFit;
        } catch (const Exception&) {
            // No readable definition: nothing is suggested.
        }
    }
    lbAnalysis->setText(
        fit ? QStringLiteral("Анализ: подбор кривой «%1» %2").arg(FitModelName(*fit), FitModelFormula(*fit))
            : QString());
    lbAnalysis->setVisible(fit.has_value());
    UpdateActions();
}

void TfmExperiments::OkClicked() {
    QTreeWidgetItem* node = tvExperiments->currentItem();
    if (!node) return;
    Refresh(node);
    if (IsGroup(node)) {
        node->setExpanded(true);
        return;
    }
    accept();
}

void TfmExperiments::LoadExperiment(tExperiment* experiment) {
    if (!experiment) return;
    QTreeWidgetItem* node = tvExperiments->currentItem();
    if (!node) return;
    SaveState();
    LoadExperimentFolder(*experiment, node->text(0), NodeFolder(node), this);
}

void TfmExperiments::ShowHideDescription(bool on) {
    const int treeWidth = tvExperiments->width();
    if (!on) {
        if (treeWidth > 0) DescrRatio = double(reDescr->width()) / treeWidth;
        reDescr->hide();
    } else {
        reDescr->show();
        const int total = treeWidth;
        const int pane = int(total * DescrRatio / (DescrRatio + 1));
        spDescr->setSizes({total - pane, pane});
    }
    UpdateActions();
}

void TfmExperiments::UpdateActions() {
    const bool on = acDescrShowHide->isChecked();
    acDescrCopy->setEnabled(on && reDescr->HasSelection());
    acDescrPrint->setEnabled(on);
    acDescrSave->setEnabled(on);
    QTreeWidgetItem* node = tvExperiments->currentItem();
    const QString mine = MineRoot();
    acCopyToMine->setEnabled(node && !IsGroup(node) && !mine.isEmpty() && !NodeFolder(node).startsWith(mine));
}

void TfmExperiments::CopyDescription() {
    if (acDescrCopy->isEnabled()) reDescr->copy();
}

void TfmExperiments::PrintDescription() {
    if (!acDescrPrint->isEnabled()) return;
    QPrinter printer(QPrinter::HighResolution);
    if (!Prompts().PrintDialog(this, printer)) return;
    QTreeWidgetItem* node = tvExperiments->currentItem();
    reDescr->PrintDocument(node ? node->text(0) : QString(), printer);
}

void TfmExperiments::SaveDescription() {
    if (!acDescrSave->isEnabled()) return;
    tFileDialogOptions options;
    options.Filter = QStringLiteral("RTF-файлы (*.rtf);;Все файлы (*)");
    options.DefaultExt = QStringLiteral("rtf");
    // Into the user's own catalogue: the experiment's own folder there, or the catalogue itself.
    if (const QString mine = MineRoot(); !mine.isEmpty()) {
        QTreeWidgetItem* node = tvExperiments->currentItem();
        const QString folder = node ? NodeFolder(node) : QString();
        options.Directory = folder.startsWith(mine) ? folder : mine;
        QDir().mkpath(options.Directory);
        options.FileName = QStringLiteral("descr.rtf");
    }
    const QString fileName = Prompts().SaveFileName(this, options);
    if (fileName.isEmpty()) return;
    reDescr->SaveToFile(fileName);
}

void TfmExperiments::CopyToMine() {
    if (!acCopyToMine->isEnabled()) return;
    QTreeWidgetItem* node = tvExperiments->currentItem();
    const QString from = NodeFolder(node);
    const QString to = MineRoot() + NodePath(node);
    // Every file of the experiment's folder and of its subfolders; a copy begun before is completed, no file
    // of it replaced.
    QDirIterator files(from, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString target = to + file.mid(from.size());
        const QString cannot =
            QStringLiteral("Невозможно скопировать файл \"%1\" в \"%2\".").arg(file, target);
        if (!QDir().mkpath(QFileInfo(target).path())) throw Exception(cannot);
        // Only files with data, of a document's size at most, each in a new file of the usual mode.
        if (!QFileInfo::exists(target)) try {
                CopyFileBytes(file, target, kMaxDocumentBytes);
            } catch (const Exception& e) {
                throw Exception(cannot + QStringLiteral("\r\n") + e.Message());
            }
        QFile::setPermissions(target, QFile::permissions(target) | QFile::WriteOwner | QFile::ReadOwner);
    }
    Prompts().MessageBox(
        this,
        QStringLiteral("Эксперимент «%1» скопирован в папку \"%2\". В списке теперь эта копия: "
                       "её можно изменять.")
            .arg(node->text(0), to),
        windowTitle(), tBoxIcon::Information, bbOk, bbOk);
    ShowDescription(node);
}
