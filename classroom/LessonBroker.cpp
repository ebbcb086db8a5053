// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson's broker: its files and its process.
#include "classroom/LessonBroker.h"

#include "core/Exception.h"
#include "core/Logfile.h"
#include "core/TextCodec.h"
#include "core/UserFolders.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPasswordDigestor>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>
#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <tuple>
#include <unistd.h>

const char kTeacherUser[] = "teacher";
const char kStationUser[] = "station";
const char kViewerUser[] = "viewer";

QString RandomCode(int length) {
    static const char letters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString code;
    for (int i = 0; i < length; ++i)
        code += QChar::fromLatin1(letters[QRandomGenerator::system()->bounded(int(sizeof letters) - 1)]);
    return code;
}

namespace {

void WriteText(const QString& fileName, const QString& text) {
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(text.toUtf8()) != text.toUtf8().size())
        throw Exception(
            QStringLiteral("Невозможно записать файл \"%1\": %2").arg(fileName, file.errorString()));
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString Program(const char* name) {
    QString found = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(QString::fromLatin1(name),
                                               {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    if (found.isEmpty())
        throw Exception(QStringLiteral("Для урока в классе нужна программа %1 (пакет mosquitto).")
                            .arg(QString::fromLatin1(name)));
    return found;
}

// Whether the process is stopped: its state in /proc is T (stopped) or t (stopped by a tracer).
bool ProcessStopped(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return false;
    // "pid (name) S ...": the name may hold spaces and parentheses; the state follows the last ')'.
    const QByteArray line = stat.read(4096);
    const qsizetype close = line.lastIndexOf(')');
    return close >= 0 && close + 2 < line.size() && (line[close + 2] == 'T' || line[close + 2] == 't');
}

QString DynamicSecurityPlugin() {
    static const char name[] = "mosquitto_dynamic_security.so";
    QStringList folders{QStringLiteral("/usr/lib"), QStringLiteral("/usr/lib64"), QStringLiteral("/usr/local/lib")};
    for (const QFileInfo& multiarch :
         QDir(QStringLiteral("/usr/lib")).entryInfoList({QStringLiteral("*-linux-gnu*")}, QDir::Dirs))
        folders.prepend(multiarch.filePath());
    for (const QString& folder : folders)
        if (QFile::exists(folder + u'/' + QString::fromLatin1(name))) return folder + u'/' + QString::fromLatin1(name);
    throw Exception(QStringLiteral("Для урока в классе нужен модуль %1 (пакет mosquitto).").arg(QString::fromLatin1(name)));
}

} // namespace

tLessonCodes NewLessonCodes() {
    const QString station = RandomCode(4) + RandomCode(8);
    return {LessonOfCode(station), station, RandomCode(6), RandomCode(24)};
}

QString LessonOfCode(const QString& stationCode) {
    return NormalizedCode(stationCode).left(4).toLower();
}

QString NormalizedCode(const QString& typed) {
    QString code;
    for (const QChar c : typed)
        if (c.isLetterOrNumber()) code += c.toUpper();
    return code;
}

QString GroupedCode(const QString& code) {
    QString grouped;
    for (qsizetype i = 0; i < code.size(); i += 4)
        grouped += (i ? QStringLiteral("-") : QString()) + code.mid(i, 4);
    return grouped;
}

QString BrokerAcl(const tLessonCodes& codes) {
    // The page's listener: the viewer reads the lesson but for the stations' requests to join (their
    // passwords), and writes nothing.
    const QString root = QStringLiteral("zorbinka/") + codes.Lesson;
    return QStringLiteral("user %1\ntopic read %2/#\ntopic deny %2/join/#\n")
        .arg(QString::fromLatin1(kViewerUser), root);
}

namespace {

QJsonObject Acl(const char* type, const QString& topic, bool allow = true, int priority = 0) {
    return {{QStringLiteral("acltype"), QString::fromLatin1(type)},
            {QStringLiteral("topic"), topic},
            {QStringLiteral("allow"), allow},
            {QStringLiteral("priority"), priority}};
}

// Reading `topic`: subscribing to it and receiving what comes under it.
QJsonArray Reads(const QString& topic) {
    return {Acl("subscribePattern", topic), Acl("publishClientReceive", topic)};
}

QJsonArray operator+(QJsonArray a, const QJsonArray& b) {
    for (const QJsonValue& v : b) a.append(v);
    return a;
}

QJsonObject Role(const QString& name, const QJsonArray& acls) {
    return {{QStringLiteral("rolename"), name}, {QStringLiteral("acls"), acls}};
}

} // namespace

QJsonObject StationRole(const QString& lesson, const QString& station) {
    const QString root = QStringLiteral("zorbinka/") + lesson;
    return Role(StationUser(station),
                QJsonArray{Acl("publishClientSend", root + QStringLiteral("/station/") + station +
                                                        QStringLiteral("/#"))} +
                    Reads(root + QStringLiteral("/teacher/#")));
}

QJsonObject DynamicSecurityClient(const QString& user, const QString& password, const QString& role) {
    // Hashed as the broker hashes: PBKDF2 with SHA-512 over 12 random bytes of salt.
    QByteArray salt(12, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(salt.data()), 3);
    constexpr int iterations = 101;
    const QByteArray hash = QPasswordDigestor::deriveKeyPbkdf2(QCryptographicHash::Sha512, password.toUtf8(),
                                                               salt, iterations, 64);
    return {{QStringLiteral("username"), user},
            {QStringLiteral("password"), QString::fromLatin1(hash.toBase64())},
            {QStringLiteral("salt"), QString::fromLatin1(salt.toBase64())},
            {QStringLiteral("iterations"), iterations},
            {QStringLiteral("roles"), QJsonArray{QJsonObject{{QStringLiteral("rolename"), role}}}}};
}

QByteArray DynamicSecurityConfig(const tLessonCodes& codes) {
    const QString root = QStringLiteral("zorbinka/") + codes.Lesson;
    const QString control = QStringLiteral("$CONTROL/dynamic-security/#");
    const QJsonArray roles{
        // The teacher reads and writes the lesson, and makes and removes the stations' clients.
        Role(QString::fromLatin1(kTeacherUser),
             QJsonArray{Acl("publishClientSend", control), Acl("publishClientSend", root + QStringLiteral("/#"))} +
                 Reads(control) + Reads(root + QStringLiteral("/#"))),
        // The station code only asks to join, and hears the answer.
        Role(QString::fromLatin1(kStationUser),
             QJsonArray{Acl("publishClientSend", root + QStringLiteral("/join/+"))} +
                 Reads(root + QStringLiteral("/roll/+"))),
        // A viewer reads the lesson but for the requests to join.
        Role(QString::fromLatin1(kViewerUser),
             QJsonArray{Acl("publishClientReceive", root + QStringLiteral("/join/#"), false, 1)} +
                 Reads(root + QStringLiteral("/#"))),
    };
    const QJsonArray clients{
        DynamicSecurityClient(QString::fromLatin1(kTeacherUser), codes.TeacherPassword,
                              QString::fromLatin1(kTeacherUser)),
        DynamicSecurityClient(QString::fromLatin1(kStationUser), codes.StationCode,
                              QString::fromLatin1(kStationUser)),
        DynamicSecurityClient(QString::fromLatin1(kViewerUser), codes.ViewerCode, QString::fromLatin1(kViewerUser)),
    };
    const QJsonObject defaults{{QStringLiteral("publishClientSend"), false},
                               {QStringLiteral("publishClientReceive"), false},
                               {QStringLiteral("subscribe"), false},
                               {QStringLiteral("unsubscribe"), true}};
    return QJsonDocument(QJsonObject{{QStringLiteral("clients"), clients},
                                     {QStringLiteral("roles"), roles},
                                     {QStringLiteral("defaultACLAccess"), defaults}})
        .toJson();
}

tTeacherCertificate TeacherCertificate(const QString& folder) {
    QDir().mkpath(folder);
    tTeacherCertificate made{
        folder + QStringLiteral("/teacher.crt"), folder + QStringLiteral("/teacher.key"), {}};
    // A FIFO or a device of these names would hold the reading: set aside, and a new pair made.
    SetAsideUnusable(made.CertFile);
    SetAsideUnusable(made.KeyFile);
    if (!QFile::exists(made.CertFile) || !QFile::exists(made.KeyFile)) {
        QProcess openssl;
        openssl.start(Program("openssl"),
                      {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                       QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                       QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                       QStringLiteral("-days"), QStringLiteral("3650"), QStringLiteral("-subj"),
                       QStringLiteral("/CN=Zorbinka teacher"), QStringLiteral("-keyout"), made.KeyFile,
                       QStringLiteral("-out"), made.CertFile});
        if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
            throw Exception(QStringLiteral("Сертификат учителя не создан: ") +
                            QString::fromLocal8Bit(openssl.readAllStandardError()).trimmed());
        QFile::setPermissions(made.KeyFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    try {
        made.Fingerprint = CertificateFingerprint(ReadFileBytes(made.CertFile, qint64(1) << 20));
    } catch (const Exception& e) {
        throw Exception(QStringLiteral("Сертификат учителя не читается: ") + e.Message());
    }
    return made;
}

QString CertificateFingerprint(const QByteArray& pem) {
    // The DER bytes between the PEM lines.
    QByteArray base64;
    bool inside = false;
    for (const QByteArray& line : pem.split('\n')) {
        if (line.startsWith("-----BEGIN CERTIFICATE"))
            inside = true;
        else if (line.startsWith("-----END CERTIFICATE"))
            break;
        else if (inside)
            base64 += line.trimmed();
    }
    if (base64.isEmpty()) return QString();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromBase64(base64), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

int EndOrphanBrokers(const QString& parent) {
    int ended = 0;
    const QFileInfoList folders =
        QDir(parent).entryInfoList({QStringLiteral("zorbinka-lesson-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo& folder : folders) {
        const qint64 owner = folder.fileName().section(u'-', -1).toLongLong();
        QFile pidFile(folder.filePath() + QStringLiteral("/mosquitto.pid"));
        if (!pidFile.open(QIODevice::ReadOnly)) continue;
        const qint64 pid = pidFile.read(32).trimmed().toLongLong();
        if (pid <= 1) continue;
        // Its broker, by its command line naming the folder's configuration; whose parent is not the program
        // that started it (that one ended, and the broker was handed on).
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly)) continue;
        const QByteArray config = QFile::encodeName(folder.filePath() + QStringLiteral("/mosquitto.conf"));
        if (!cmdline.read(65536).split('\0').contains(config)) continue;
        const QByteArray line = stat.read(4096);
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() < 2 || fields[1].toLongLong() == owner) continue;
        WriteLog(QStringLiteral("Lesson broker left by an ended program: pid %1 ended (%2)").arg(pid).arg(folder.filePath()));
        ::kill(pid_t(pid), SIGTERM);
        ++ended;
    }
    return ended;
}

tLessonBroker::tLessonBroker() = default;

tLessonBroker::~tLessonBroker() {
    Stop();
}

void tLessonBroker::Start(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports) {
    Launch(folder, codes, ports, true);
}

void tLessonBroker::Launch(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports,
                           bool fresh) {
    Stop(!fresh);
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    // The stations' listener knows its clients by the broker's dynamic security: the teacher, the station
    // code (which only asks to join), the viewer, and a client of each station's own made when it joins. The
    // broker keeps what is made in the file, so a broker started again knows every station that joined.
    const QString clientsFile = folder + QStringLiteral("/clients.json");
    if (fresh || !QFile::exists(clientsFile)) WriteText(clientsFile, QString::fromUtf8(DynamicSecurityConfig(codes)));
    // The page's listener knows the viewer alone: the station code is refused there.
    const QString pagePasswordFile = folder + QStringLiteral("/passwd-page");
    WriteText(pagePasswordFile, QString());
    // Hashed by the broker's own tool.
    QProcess hash;
    hash.start(Program("mosquitto_passwd"),
               {QStringLiteral("-b"), pagePasswordFile, QString::fromLatin1(kViewerUser), codes.ViewerCode});
    if (!hash.waitForFinished(10000) || hash.exitStatus() != QProcess::NormalExit || hash.exitCode() != 0)
        throw Exception(QStringLiteral("mosquitto_passwd: ") + QString::fromLocal8Bit(hash.readAllStandardError()));
    WriteText(folder + QStringLiteral("/acl"), BrokerAcl(codes));
    const QString acl = folder + QStringLiteral("/acl");
    QString config =
        QStringLiteral("per_listener_settings true\npersistence false\nlog_dest stderr\n"
                       "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n");
    // What no station sends is refused: a message larger than any of a station's (its sender disconnected),
    // more than 16 MiB or 1,000 messages queued for one slow client, and over 256 MiB in all.
    config += QStringLiteral("max_packet_size %1\nmax_queued_messages 1000\nmax_queued_bytes %2\n"
                             "max_inflight_messages 20\n")
                  .arg(kMaxPacketBytes)
                  .arg(16 << 20);
    // Started by root the broker would become the user "mosquitto", who cannot read the user's folder: it
    // stays whoever started it.
    if (const struct passwd* user = ::getpwuid(::geteuid()))
        config += QStringLiteral("user %1\n").arg(QString::fromLocal8Bit(user->pw_name));
    const QString bind = ports.Bind.isEmpty() ? QString() : QStringLiteral(" ") + ports.Bind;
    config += QStringLiteral("listener %1%2\nallow_anonymous false\nplugin %3\nplugin_opt_config_file %4\n")
                  .arg(ports.Mqtt)
                  .arg(bind, DynamicSecurityPlugin(), clientsFile);
    if (!ports.CertFile.isEmpty())
        config += QStringLiteral("certfile %1\nkeyfile %2\n").arg(ports.CertFile, ports.KeyFile);
    if (ports.WebSockets > 0) {
        config += QStringLiteral("listener %1%2\nprotocol websockets\nallow_anonymous false\npassword_file %3\n"
                                 "acl_file %4\n")
                      .arg(ports.WebSockets)
                      .arg(bind, pagePasswordFile, acl);
        if (!ports.HttpDir.isEmpty()) config += QStringLiteral("http_dir %1\n").arg(ports.HttpDir);
    }
    // Where a broker left by a program that crashed is found at the next start.
    config += QStringLiteral("pid_file %1/mosquitto.pid\n").arg(folder);
    const QString configFile = folder + QStringLiteral("/mosquitto.conf");
    WriteText(configFile, config);

    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    // The broker ends with the program however the program ends, killed too: no broker is left on the ports.
    FProcess->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    FProcess->start(Program("mosquitto"), {QStringLiteral("-c"), configFile});
    // Ready when it says it runs; a broker that ends, or says nothing of it in 10 s, did not start.
    QDeadlineTimer deadline(10000);
    QByteArray said;
    while (!deadline.hasExpired()) {
        if (FProcess->state() == QProcess::NotRunning) break;
        FProcess->waitForReadyRead(100);
        said += FProcess->readAll();
        if (said.contains(" running")) {
            FLog = QString::fromLocal8Bit(said);
            WriteLog(QStringLiteral("Lesson broker started: pid %1, port %2%3, folder %4")
                         .arg(FProcess->processId())
                         .arg(ports.Mqtt)
                         .arg(ports.WebSockets > 0 ? QStringLiteral(", page port %1").arg(ports.WebSockets)
                                                   : QString())
                         .arg(folder));
            // A broker that ends by itself (killed, crashed) is started again on the same ports with the same
            // codes: stations and pages come back by themselves.
            FWatch = std::make_unique<QObject>();
            QObject::connect(FProcess.get(), &QProcess::finished, FWatch.get(), [this, folder, codes, ports] {
                WriteLog(QStringLiteral("Lesson broker ended by itself (exit code %1): started again")
                             .arg(FProcess->exitCode()));
                QTimer::singleShot(500, FWatch.get(),
                                   [this, folder, codes, ports] { Restart(folder, codes, ports); });
            });
            // A broker stopped (SIGSTOP, a debugger) answers no one while its ports stay taken: after two
            // looks a second apart it is killed, and so started again.
            auto* look = new QTimer(FWatch.get());
            QObject::connect(look, &QTimer::timeout, FWatch.get(), [this, stopped = 0]() mutable {
                const qint64 pid = ProcessId();
                stopped = pid > 0 && ProcessStopped(pid) ? stopped + 1 : 0;
                if (stopped < 2) return;
                stopped = 0;
                WriteLog(QStringLiteral("Lesson broker stalled: pid %1 killed").arg(pid));
                ::kill(pid_t(pid), SIGKILL);
            });
            look->start(1000);
            // The teacher's side of the roll: it takes the stations that ask to join, and it stays through a
            // broker started again (its link comes back by itself).
            if (!FRoll) {
                FRoll = std::make_unique<tClassRoll>(codes, ports);
                // Ready before the codes are given out: a station's first request is heard.
                if (!FRoll->WaitReady(5000)) WriteLog(QStringLiteral("Class: the roll is not ready yet"));
            }
            return;
        }
    }
    said += FProcess->readAll();
    Stop(!fresh);
    WriteLog(QStringLiteral("Lesson broker did not start on port %1: ").arg(ports.Mqtt) +
             QString::fromLocal8Bit(said).trimmed());
    throw Exception(QStringLiteral("Сервер урока не запустился.\r\n") +
                    QString::fromLocal8Bit(said).trimmed());
}

void tLessonBroker::Restart(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports) {
    try {
        Launch(folder, codes, ports, false);
    } catch (const Exception& e) {
        // The ports still held by the one that ended, or the machine short of something: tried again.
        WriteLog(e.Message());
        FWatch = std::make_unique<QObject>();
        QTimer::singleShot(2000, FWatch.get(),
                           [this, folder, codes, ports] { Restart(folder, codes, ports); });
    }
}

qint64 tLessonBroker::ProcessId() const {
    return FProcess ? FProcess->processId() : 0;
}

void tLessonBroker::Stop(bool again) {
    // Stopped on purpose: not started again.
    FWatch.reset();
    if (!again) FRoll.reset();
    if (!FProcess) return;
    if (FProcess->state() == QProcess::NotRunning)
        WriteLog(QStringLiteral("Lesson broker had ended (exit code %1)").arg(FProcess->exitCode()));
    else
        WriteLog(QStringLiteral("Lesson broker stopped: pid %1").arg(FProcess->processId()));
    if (FProcess->state() != QProcess::NotRunning) {
        FProcess->terminate();
        if (!FProcess->waitForFinished(5000)) {
            FProcess->kill();
            FProcess->waitForFinished(2000);
        }
    }
    FProcess.reset();
}

bool tLessonBroker::Running() const {
    return FProcess && FProcess->state() == QProcess::Running;
}

QString tLessonBroker::Log() const {
    if (FProcess) FLog += QString::fromLocal8Bit(FProcess->readAll());
    return FLog;
}
