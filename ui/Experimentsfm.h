// TfmExperiments: the modal chooser "Выбор эксперимента" over the catalogue folder tree, with the description
// pane.
#pragma once

#include <QDialog>

class QAction;
class QLabel;
class QSplitter;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;
class QDialogButtonBox;
class TRichEdit;
class tExperiment;

class TfmExperiments : public QDialog {
    Q_OBJECT
public:
    explicit TfmExperiments(QWidget* owner);

    // Shows one top-level node per folder of `root` (which ends in "/").
    void FillTree(const QString& root);
    // The same over several catalogues merged into one tree: a folder of the same name in two of them is one
    // node, and an experiment in a later one (the user's own) is the one chosen.
    void FillTree(const QStringList& roots);
    // Fills `experiment` from the selected experiment node; reports its own errors.
    void LoadExperiment(tExperiment* experiment);

    // For the program and its tests.
    QTreeWidget* Tree() const { return tvExperiments; }
    TRichEdit* Description() const { return reDescr; }
    // The analysis the chosen experiment suggests; hidden when it suggests none.
    QLabel* AnalysisHint() const { return lbAnalysis; }
    QAction* ShowHideAction() const { return acDescrShowHide; }
    QAction* CopyAction() const { return acDescrCopy; }
    QAction* PrintAction() const { return acDescrPrint; }
    QAction* SaveAction() const { return acDescrSave; }
    QAction* CopyToMineAction() const { return acCopyToMine; }
    // The OK button's command: accepts an experiment, expands a group.
    void OkClicked();
    // The folder of a node, ending in "/": of the last catalogue that has it.
    QString NodeFolder(QTreeWidgetItem* node) const;
    // Whether the node stands for a group (it has subfolders).
    static bool IsGroup(QTreeWidgetItem* node);

    // The chooser's size and the experiment chosen last, kept per user between showings (not in the .cfg).
    static QString StateFile();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void SaveState() const;
    void FitTree();
    void RestoreState();
    void AddNode(QTreeWidgetItem* parent, const QString& name);
    // Sets the node's expand button and picture from its folder on disk.
    void Refresh(QTreeWidgetItem* node);
    void Expand(QTreeWidgetItem* node);
    void Collapse(QTreeWidgetItem* node);
    void ShowDescription(QTreeWidgetItem* node);
    void ShowHideDescription(bool on);
    void UpdateActions();
    void CopyDescription();
    void PrintDescription();
    void SaveDescription();
    void CopyToMine();
    QString NodePath(QTreeWidgetItem* node) const;
    QStringList Subfolders(const QString& path) const;
    // The user's own catalogue (the last root of several), or nothing.
    QString MineRoot() const;

    double DescrRatio = 1.0;
    QStringList Roots;

    QToolBar* tbDescr = nullptr;
    QTreeWidget* tvExperiments = nullptr;
    QSplitter* spDescr = nullptr;
    TRichEdit* reDescr = nullptr;
    QLabel* lbAnalysis = nullptr;
    QDialogButtonBox* Buttons = nullptr;
    QAction* acDescrShowHide = nullptr;
    QAction* acDescrCopy = nullptr;
    QAction* acDescrPrint = nullptr;
    QAction* acDescrSave = nullptr;
    QAction* acCopyToMine = nullptr;
};

// Folder listing of the catalogue: visible subfolders, in name order.
QStringList CatalogueSubfolders(const QString& folder);
bool HasSubfolders(const QString& folder);
