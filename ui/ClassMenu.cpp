// SPDX-License-Identifier: GPL-3.0-or-later
// The Класс menu: the teacher's broker and the station's link, started and ended by the user.
#include "ui/ClassMenu.h"

#include "classroom/StationLink.h"
#include "core/CommandLine.h"
#include "core/Exception.h"
#include "core/Prompts.h"
#include "core/UserFolders.h"
#include "lesson/Lesson.h"
#include "ui/OffThread.h"
#include "widgets/QrCode.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QNetworkInterface>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>
#include <QSysInfo>
#include <QTcpServer>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString StateFile() {
    return UserStateFile(QStringLiteral("class.ini"));
}

// The ports to try for stations: the usual one when it and the next one (the page's) are free, then any.
std::vector<int> LessonPorts() {
    std::vector<int> ports;
    for (int port : {kLessonPort, 0, 0}) {
        QTcpServer probe, next;
        if (probe.listen(QHostAddress::Any, quint16(port)) &&
            next.listen(QHostAddress::Any, quint16(probe.serverPort() + 1)))
            ports.push_back(probe.serverPort());
    }
    return ports;
}

// The class page beside the program, if it was built.
QString PageFolder() {
    const QString folder = QFileInfo(ExecutablePath()).absolutePath() + QStringLiteral("/classpage");
    return QFileInfo::exists(folder + QStringLiteral("/index.html")) ? folder : QString();
}

// This computer's addresses on the school's network.
QStringList Addresses() {
    QStringList found;
    for (const QHostAddress& address : QNetworkInterface::allAddresses())
        if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback())
            found << address.toString();
    return found.isEmpty() ? QStringList{QStringLiteral("127.0.0.1")} : found;
}

} // namespace

TJoinDialog::TJoinDialog(QWidget* parent)
    : QDialog(parent), Address(new QLineEdit), Code(new QLineEdit), Group(new QLineEdit) {
    setWindowTitle(QStringLiteral("Присоединиться к уроку"));
    auto* form = new QFormLayout(this);
    const QSettings state(StateFile(), QSettings::IniFormat);
    Address->setText(state.value(QStringLiteral("Address")).toString());
    Address->setPlaceholderText(QStringLiteral("например 192.168.1.10"));
    Code->setPlaceholderText(QStringLiteral("код станции, который назвал учитель"));
    // The group's name as typed last time; the first time none (a computer's name says nothing to a teacher).
    Group->setText(state.value(QStringLiteral("Group")).toString());
    Group->setPlaceholderText(QStringLiteral("например, Группа 1"));
    auto* address = new QHBoxLayout;
    FFind = new QPushButton(QStringLiteral("Найти в сети"));
    FFound = new QLabel;
    address->addWidget(Address, 1);
    address->addWidget(FFind);
    if (AvahiBrowseCommand().isEmpty()) {
        FFind->setEnabled(false);
        FFind->setToolTip(
            QStringLiteral("Для поиска нужен пакет avahi-utils; введите адрес, который назвал учитель."));
    }
    connect(FFind, &QPushButton::clicked, this, &TJoinDialog::Find);
    form->addRow(QStringLiteral("Адрес учителя:"), address);
    form->addRow(QString(), FFound);
    // Said only once something was looked for.
    form->setRowVisible(FFound, false);
    form->addRow(QStringLiteral("Код станции:"), Code);
    form->addRow(QStringLiteral("Группа:"), Group);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    setMinimumWidth(fontMetrics().horizontalAdvance(u'0') * 60);
}

TLessonDialog::TLessonDialog(QWidget* parent, const QString& text, const QString& page,
                             std::function<void()> openPage)
    : QDialog(parent), FText(text), FPage(page) {
    setWindowTitle(QStringLiteral("Урок в классе"));
    auto* layout = new QHBoxLayout(this);
    auto* label = new QLabel(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setWordWrap(true);
    label->setMinimumWidth(fontMetrics().horizontalAdvance(u'0') * 50);
    auto* column = new QVBoxLayout;
    column->addWidget(label, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    if (!page.isEmpty() && openPage) {
        QPushButton* open =
            buttons->addButton(QStringLiteral("Открыть страницу класса"), QDialogButtonBox::ActionRole);
        open->setObjectName(QStringLiteral("btOpenPage"));
        connect(open, &QPushButton::clicked, this, [openPage] { openPage(); });
    }
    column->addWidget(buttons);
    layout->addLayout(column, 1);
    if (const QImage code = page.isEmpty() ? QImage() : QrCodeImage(page, 5); !code.isNull()) {
        auto* qr = new QLabel;
        qr->setPixmap(QPixmap::fromImage(code));
        layout->addWidget(qr, 0, Qt::AlignTop);
    }
}

void TJoinDialog::Find() {
    const QStringList command = AvahiBrowseCommand();
    if (command.isEmpty()) return;
    auto* browse = new QProcess(this);
    FFind->setEnabled(false);
    FFound->setText(QStringLiteral("Поиск учителя…"));
    static_cast<QFormLayout*>(layout())->setRowVisible(FFound, true);
    // What the browser prints is kept up to a bound (a network may be flooded with announcements) and read
    // off the window's thread.
    auto output = std::make_shared<QByteArray>();
    connect(browse, &QProcess::readyReadStandardOutput, this, [browse, output] {
        const QByteArray more = browse->readAllStandardOutput();
        if (output->size() < kMaxBrowseBytes) *output += more.left(kMaxBrowseBytes - output->size());
    });
    connect(browse, &QProcess::finished, this, [this, browse, output] {
        *output += browse->readAllStandardOutput().left(std::max<qint64>(0, kMaxBrowseBytes - output->size()));
        browse->deleteLater();
        std::vector<tFoundTeacher> found;
        RunOffThread([&] { found = ParseAvahiBrowse(*output); }, nullptr, false);
        FFind->setEnabled(true);
        if (found.empty())
            return FFound->setText(QStringLiteral("Учитель в сети не найден: введите его адрес."));
        Address->setText(found.front().Join());
        FFound->setText(
            found.size() == 1
                ? found.front().Name
                : QStringLiteral("%1 (найдено уроков: %2)").arg(found.front().Name).arg(found.size()));
    });
    browse->start(command.first(), command.mid(1));
    // Avahi answers within a few seconds; a browser that hangs is ended.
    QTimer::singleShot(8000, browse, [browse] { browse->kill(); });
}

TClassMenu::TClassMenu(QMainWindow* window, tLesson& lesson, std::function<void(const QString&)> open)
    : QMenu(QStringLiteral("К&ласс"), window), FWindow(window), FLesson(lesson), FOpen(std::move(open)),
      FStatus(new QLabel) {
    menuAction()->setObjectName(QStringLiteral("mnClass"));
    const auto make = [this](const char* name, const QString& caption, const QString& hint,
                             void (TClassMenu::*command)()) {
        QAction* action = addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setStatusTip(hint);
        connect(action, &QAction::triggered, this,
                [this, command] { RunCommand(FWindow, [this, command] { (this->*command)(); }); });
        return action;
    };
    FBegin = make("acClassBegin", QStringLiteral("&Начать урок"),
                  QStringLiteral("Собрать измерения всех станций класса на этом компьютере"),
                  &TClassMenu::BeginLesson);
    FPage = make("acClassPage", QStringLiteral("&Страница класса"),
                 QStringLiteral("Открыть в браузере все станции урока"), &TClassMenu::OpenPage);
    FOffer = make("acClassOffer", QStringLiteral("Предложить &эксперимент классу"),
                  QStringLiteral("Предложить всем станциям открыть эксперимент, который открыт здесь"),
                  &TClassMenu::OfferExperiment);
    FMessage = make("acClassMessage", QStringLiteral("&Сообщение классу..."),
                    QStringLiteral("Показать строку текста на всех станциях"), &TClassMenu::MessageClass);
    FRemove = make("acClassRemove", QStringLiteral("&Убрать станцию..."),
                   QStringLiteral("Отключить станцию от урока и убрать её со страницы класса"),
                   &TClassMenu::RemoveStation);
    FEnd = make("acClassEnd", QStringLiteral("&Закончить урок"), QStringLiteral("Остановить сервер урока"),
                &TClassMenu::EndLesson);
    addSeparator();
    FJoin = make("acClassJoin", QStringLiteral("&Присоединиться к уроку..."),
                 QStringLiteral("Отправлять измерения этой станции учителю"), &TClassMenu::Join);
    FLeave = make("acClassLeave", QStringLiteral("&Покинуть урок"),
                  QStringLiteral("Перестать отправлять измерения учителю"), &TClassMenu::Leave);
    // Between the hints and the elapsed time, the clock staying at the right (the window puts its hints in
    // front of it and its times after it).
    window->statusBar()->addWidget(FStatus);
    Update();
}

TClassMenu::~TClassMenu() = default;

void TClassMenu::BeginLesson() {
    if (FBroker) return;
    auto broker = std::make_unique<tLessonBroker>();
    const tLessonCodes codes = NewLessonCodes();
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString folder = runtime + QStringLiteral("/zorbinka-lesson-%1").arg(QCoreApplication::applicationPid());
    EndOrphanBrokers(runtime);
    // Stations connect with TLS, to the teacher's certificate they pin.
    const tTeacherCertificate certificate =
        TeacherCertificate(UserStateFolder() + QStringLiteral("/teacher"));
    // A port found free may be taken by the time the broker listens: then the next one.
    int port = 0;
    const std::vector<int> ports = LessonPorts();
    for (std::size_t i = 0; i < ports.size() && !port; ++i) {
        try {
            broker->Start(
                folder, codes,
                {ports[i], ports[i] + 1, QString(), PageFolder(), certificate.CertFile, certificate.KeyFile});
            port = ports[i];
        } catch (const Exception&) {
            if (i + 1 == ports.size()) throw;
        }
    }
    if (!port) throw Exception(QStringLiteral("Нет свободного порта для сервера урока."));
    FBroker = std::move(broker);
    // Stations of the school's network find it without typing (when Avahi is there).
    FAnnouncement.Start(QStringLiteral("Зорбинка: урок на %1").arg(QSysInfo::machineHostName()), port);
    FFingerprint = certificate.Fingerprint;
    FCertificate = certificate.CertFile;
    FCodes = codes;
    FPort = port;
    Update();
    const QStringList addresses = Addresses();
    QStringList joined;
    for (const QString& host : addresses)
        joined << (port == kLessonPort ? host : host + u':' + QString::number(port));
    const QString address = joined.join(QStringLiteral(" или "));
    QString text =
        QStringLiteral(
            "Урок начат.\r\n\r\nАдрес учителя: %1\r\nКод для станций: %2\r\nКод для просмотра: %3\r\n\r\n"
            "На каждой станции: Класс → Присоединиться к уроку.")
            .arg(address, GroupedCode(codes.StationCode), codes.ViewerCode) +
        QStringLiteral("\r\nОтпечаток сертификата учителя (станции показывают его же):\r\n%1")
            .arg(certificate.Fingerprint);
    QString page;
    if (!PageFolder().isEmpty()) {
        page = PageUrl(addresses.first(), true);
        text += QStringLiteral("\r\n\r\nСтраница класса — в любом браузере класса (или по QR-коду):\r\n%1")
                    .arg(page);
    }
    TLessonDialog dialog(FWindow, text, page, [this] { OpenPage(); });
    Prompts().Exec(dialog);
}

QString TClassMenu::PageUrl(const QString& host, bool withCode) const {
    if (!FCodes) return QString();
    return QStringLiteral("http://%1:%2/").arg(host).arg(FPort + 1) +
           (withCode ? QStringLiteral("#code=") + FCodes->ViewerCode : QString());
}

void TClassMenu::OpenPage() {
    if (FCodes && !PageFolder().isEmpty())
        QDesktopServices::openUrl(QUrl(PageUrl(QStringLiteral("127.0.0.1"), true)));
}

void TClassMenu::OfferExperiment() {
    if (!FCodes) return;
    if (!FLesson.IsOpen())
        throw Exception(QStringLiteral("Откройте эксперимент, который хотите предложить классу."));
    tTeacherMessage offer;
    offer.Kind = tTeacherMessage::tKind::Offer;
    offer.Experiment = CataloguePath(FLesson.Experiment().Path);
    Send(offer);
}

void TClassMenu::MessageClass() {
    if (!FCodes) return;
    QString text;
    if (!Prompts().InputQuery(FWindow, QStringLiteral("Сообщение классу"),
                              QStringLiteral("Текст для всех станций:"), text) ||
        text.trimmed().isEmpty())
        return;
    tTeacherMessage message;
    message.Text = text.trimmed();
    Send(message);
}

void TClassMenu::Send(const tTeacherMessage& message) {
    // The broker may take seconds to answer: the window and a run measured go on meanwhile.
    const int port = FPort;
    const QString certificate = FCertificate;
    const tLessonCodes codes = *FCodes;
    RunOffThread([&] { SendToClass(port, certificate, codes, message); }, nullptr, false);
}

void TClassMenu::RemoveStation() {
    if (!FBroker || !FBroker->Roll()) return;
    const std::vector<tRollStation> stations = FBroker->Roll()->Stations();
    if (stations.empty()) throw Exception(QStringLiteral("К уроку не присоединилась ни одна станция."));
    QStringList groups;
    for (const tRollStation& station : stations) groups << station.Group;
    QString chosen;
    if (!Prompts().ChooseItem(FWindow, QStringLiteral("Убрать станцию"),
                              QStringLiteral("Группа, которую отключить от урока:"), groups, chosen))
        return;
    const qsizetype index = groups.indexOf(chosen);
    if (index < 0) return;
    if (!AskYesNo(FWindow,
                  QStringLiteral("Отключить группу «%1» от урока? Она не сможет присоединиться снова до "
                                 "следующего урока.")
                      .arg(chosen),
                  tBoxIcon::Warning, bbNo))
        return;
    FBroker->Roll()->Remove(stations[std::size_t(index)].Id);
}

void TClassMenu::EndLesson() {
    // The stations are told, and leave the lesson by themselves.
    if (FBroker && FCodes) {
        tTeacherMessage end;
        end.Kind = tTeacherMessage::tKind::End;
        Send(end);
    }
    FAnnouncement.Stop();
    FBroker.reset();
    FCodes.reset();
    FPort = 0;
    Update();
}

void TClassMenu::Join() {
    FEndedByTeacher = false;
    TJoinDialog dialog(FWindow);
    if (Prompts().Exec(dialog) != QDialog::Accepted) return;
    const QString code = NormalizedCode(dialog.Code->text());
    const QString host = dialog.Address->text().trimmed();
    if (host.isEmpty() || code.isEmpty())
        throw Exception(QStringLiteral("Введите адрес учителя и код станции."));
    if (dialog.Group->text().trimmed().isEmpty()) throw Exception(QStringLiteral("Введите название группы."));
    const std::optional<std::pair<QString, int>> address = ParseTeacherAddress(host, kLessonPort);
    if (!address) throw Exception(QStringLiteral("«%1» — не адрес.").arg(host));
    const auto [server, port] = *address;
    QSettings state(StateFile(), QSettings::IniFormat);
    state.setValue(QStringLiteral("Address"), dialog.Address->text().trimmed());
    state.setValue(QStringLiteral("Group"), dialog.Group->text().trimmed());
    // The teacher may take seconds to answer, or never: the window and a run measured go on meanwhile.
    tTeacherPin pin;
    FStatus->setText(QStringLiteral("Класс: подключение…"));
    FStatus->setVisible(true);
    try {
        RunOffThread([&, server = server, port = port] { pin = PinTeacher(server, port, false); }, nullptr,
                     false);
    } catch (...) {
        Update();
        throw;
    }
    // A teacher's certificate not seen before, or another than the one seen before: asked before any link is
    // made, the fingerprint to compare with the teacher's screen.
    if (pin.First || pin.Changed()) {
        const QString address = dialog.Address->text().trimmed();
        const QString question =
            pin.First
                ? QStringLiteral("Первое подключение к учителю по адресу %1.\r\nСверьте отпечаток его "
                                 "сертификата с экраном учителя:\r\n%2\r\n\r\nОтпечатки совпадают?")
                      .arg(address, pin.Fingerprint)
                : QStringLiteral("Сертификат учителя по адресу %1 не тот, что был раньше.\r\nБыл: %2\r\n"
                                 "Сейчас: %3\r\n\r\nПодключайтесь, только если учитель сменил компьютер или "
                                 "сертификат и новый отпечаток совпадает с его экраном.\r\nПодключиться?")
                      .arg(address, pin.Pinned, pin.Fingerprint);
        if (!AskYesNo(FWindow, question, pin.First ? tBoxIcon::Question : tBoxIcon::Warning,
                      pin.First ? bbYes : bbNo)) {
            Update();
            return;
        }
        KeepTeacherPin(pin);
    }
    FLink.reset();
    tStationSettings settings{server, port, LessonOfCode(code), code, QString(), dialog.Group->text().trimmed(),
                              pin.CaFile};
    TakeLessonIdentity(settings);
    FLink = std::make_unique<tStationLink>(FLesson, settings);
    connect(FLink.get(), &tStationLink::stateChanged, this, &TClassMenu::Update);
    FStatus->setToolTip(QStringLiteral("Отпечаток сертификата учителя: ") + pin.Fingerprint);
    connect(FLink.get(), &tStationLink::teacherMessage, this, [this](const tTeacherMessage& message) {
        if (message.Kind == tTeacherMessage::tKind::End) {
            // Left when the link's notice is over; said without a box in the way of a run.
            QTimer::singleShot(0, this, [this] {
                Leave();
                FEndedByTeacher = true;
                Update();
            });
            return;
        }
        // Never forced: an offer is a question.
        if (message.Kind == tTeacherMessage::tKind::Offer) {
            if (AskYesNo(FWindow,
                         QStringLiteral("Учитель предлагает эксперимент «%1»: открыть?")
                             .arg(message.Experiment.section(u'/', -1)),
                         tBoxIcon::Question, bbYes) &&
                FOpen)
                RunCommand(FWindow, [&] { FOpen(message.Experiment); });
            return;
        }
        Prompts().MessageBox(FWindow, QStringLiteral("Сообщение учителя: ") + message.Text,
                             QStringLiteral("Урок в классе"), tBoxIcon::Information, bbOk, bbOk);
    });
    Update();
}

void TClassMenu::Leave() {
    FEndedByTeacher = false;
    FLink.reset();
    Update();
}

void TClassMenu::Update() {
    FBegin->setEnabled(!FBroker);
    FEnd->setEnabled(bool(FBroker));
    FPage->setEnabled(bool(FBroker) && !PageFolder().isEmpty());
    FOffer->setEnabled(bool(FBroker));
    FMessage->setEnabled(bool(FBroker));
    FRemove->setEnabled(bool(FBroker));
    FLeave->setEnabled(bool(FLink));
    QString text;
    if (FCodes) FStatus->setToolTip(QStringLiteral("Отпечаток сертификата учителя: ") + FFingerprint);
    if (FCodes)
        text = QStringLiteral("Урок: код станций %1, просмотра %2")
                   .arg(GroupedCode(FCodes->StationCode), FCodes->ViewerCode);
    if (FLink) {
        if (!text.isEmpty()) text += QStringLiteral("  ·  ");
        switch (FLink->State()) {
        case tStationLink::tState::Connected:
            text += QStringLiteral("Класс: связь с учителем есть");
            break;
        case tStationLink::tState::Connecting:
            text += QStringLiteral("Класс: подключение…");
            break;
        case tStationLink::tState::Lost:
            text += QStringLiteral("Класс: нет связи с учителем, измерения идут");
            break;
        case tStationLink::tState::Refused:
            text += QStringLiteral("Класс: станция не принята — ") + FLink->Refusal();
            break;
        }
    }
    if (text.isEmpty() && FEndedByTeacher) text = QStringLiteral("Класс: урок закончен учителем");
    FStatus->setText(text);
    FStatus->setVisible(!text.isEmpty());
}
