// The О программе box.
#include "ui/AboutBox.h"

#include "core/CommandLine.h"
#include "core/Prompts.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <gsl/gsl_version.h>

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("О программе"));
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(Text());
    text->setObjectName(QStringLiteral("lbAbout"));
    text->setTextFormat(Qt::RichText);
    text->setWordWrap(true);
    text->setTextInteractionFlags(Qt::TextBrowserInteraction);
    text->setOpenExternalLinks(true);
    // Wide enough for the licence's lines to read as a paragraph; on a small screen (or at a large scale) the
    // text scrolls inside a box that fits the screen.
    const int width = std::min(fontMetrics().averageCharWidth() * 70, 900);
    text->setFixedWidth(width);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("saAbout"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidget(text);
    const int scrollBar = scroll->verticalScrollBar()->sizeHint().width();
    scroll->setMinimumWidth(width + scrollBar);
    layout->addWidget(scroll);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    // The whole text and the button, with the layout's margins, unless the screen is smaller.
    const QMargins margins = layout->contentsMargins();
    QSize size = sizeHint().expandedTo(QSize(width + scrollBar + margins.left() + margins.right(),
                                             text->heightForWidth(width) + buttons->sizeHint().height() +
                                                 layout->spacing() + margins.top() + margins.bottom() + 2));
    if (const QScreen* screen = parent ? parent->screen() : this->screen())
        size = size.boundedTo(screen->availableGeometry().size() * 9 / 10);
    resize(size);
}

QString TAboutBox::LicenceFile() {
    const QString beside = QFileInfo(ExecutablePath()).absolutePath() + u'/';
    for (const QString& path : {QStringLiteral("/usr/share/common-licenses/GPL-3"),
                                beside + QStringLiteral("LICENSE"), beside + QStringLiteral("../LICENSE")})
        if (QFileInfo(path).isFile()) return QFileInfo(path).absoluteFilePath();
    return QString();
}

QString TAboutBox::Text() {
    const QString licence = LicenceFile();
    return QStringLiteral(
               "<h2>Зорбинка %1</h2>"
               "<p>Программа для школьных экспериментов с измерительными датчиками USB.</p>"
               "<p>© 2026 разработчики Зорбинки</p>"
               "<p>Это свободная программа: её можно распространять и изменять на условиях "
               "Стандартной общественной лицензии GNU (GNU General Public License), опубликованной Free "
               "Software Foundation, версии 3 либо (по вашему выбору) любой более поздней версии.</p>"
               "<p>Программа распространяется в надежде, что она будет полезной, но <b>БЕЗ КАКИХ-ЛИБО "
               "ГАРАНТИЙ</b>, даже без подразумеваемых гарантий ТОВАРНОЙ ПРИГОДНОСТИ или ПРИГОДНОСТИ ДЛЯ "
               "ОПРЕДЕЛЁННОЙ ЦЕЛИ. Подробнее — в тексте лицензии.</p>"
               "<p>Полный текст лицензии: %2"
               "<a "
               "href=\"https://www.gnu.org/licenses/gpl-3.0.html\">https://www.gnu.org/licenses/"
               "gpl-3.0.html</a>.</p>"
               "<p>Каталог примеров экспериментов (описания и рисунки) распространяется на тех же условиях "
               "(GPL-3.0 или более поздняя версия).</p>"
               "<p>Используемые библиотеки: Qt %3 (LGPL-3.0), QCustomPlot %4 (GPL-3.0 или более поздняя), "
               "GNU Scientific Library %5 (GPL-3.0 или более поздняя), libjpeg-turbo (IJG, BSD), libudev "
               "(LGPL-2.1 или более поздняя); hidapi и библиотека FTDI D2XX — если установлены. Рисунки WMF "
               "и "
               "EMF рисуют отдельные программы wmf2svg и emf2svg-conv.</p>")
        .arg(QStringLiteral(ZORBINKA_VERSION),
             licence.isEmpty() ? QString() : QStringLiteral("файл %1 и ").arg(licence.toHtmlEscaped()),
             QString::fromLatin1(qVersion()), QStringLiteral(QCUSTOMPLOT_VERSION_STR),
             QString::fromLatin1(GSL_VERSION));
}

void ShowAbout(QWidget* parent) {
    TAboutBox box(parent);
    Prompts().Exec(box);
}
