// Opens one window of the program on a real display for a look or a screenshot (the chooser until the main
// window has its commands).
#include "experiment/Experimentsfm.h"

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <QTreeWidget>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString root =
        argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath() + QStringLiteral("/data/");
    TfmExperiments chooser(nullptr);
    chooser.FillTree(root);
    const auto found = chooser.Tree()->findItems(QStringLiteral("Физика"), Qt::MatchExactly);
    QTreeWidgetItem* physics = found.isEmpty() ? nullptr : found.first();
    if (physics) {
        physics->setExpanded(true);
        for (int i = 0; i < physics->childCount(); ++i) {
            QTreeWidgetItem* child = physics->child(i);
            if (child->text(0) != QStringLiteral("Тепловые явления")) continue;
            child->setExpanded(true);
            if (child->childCount() > 0) chooser.Tree()->setCurrentItem(child->child(0));
        }
    }
    chooser.resize(900, 560);
    return chooser.exec() == QDialog::Accepted ? 0 : 1;
}
