// SPDX-License-Identifier: GPL-3.0-or-later
// The lesson's broker: its files and its process.
#include "classroom/LessonBroker.h"

#include "core/Exception.h"
#include "core/Logfile.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
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

namespace {

QString Code(int length) {
    static const char letters[] = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789";
    QString code;
    for (int i = 0; i < length; ++i)
        code += QChar::fromLatin1(letters[QRandomGenerator::system()->bounded(int(sizeof letters) - 1)]);
    return code;
}

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

} // namespace

tLessonCodes NewLessonCodes() {
    const QString station = Code(4) + Code(8);
    return {LessonOfCode(station), station, Code(6), Code(24)};
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
    const QString root = QStringLiteral("zorbinka/") + codes.Lesson;
    return QStringLiteral("user %1\ntopic readwrite %4/#\n"
                          "user %2\ntopic read %4/teacher/#\n"
                          "user %3\ntopic read %4/#\ntopic deny %4/%3/#\n"
                          // A client writes under its user's name and its own client id only: a station under
                          // station/<its id>; a viewer's own place is denied above.
                          "pattern write %4/%u/%c/#\n")
        .arg(QString::fromLatin1(kTeacherUser), QString::fromLatin1(kStationUser),
             QString::fromLatin1(kViewerUser), root);
}

tTeacherCertificate TeacherCertificate(const QString& folder) {
    QDir().mkpath(folder);
    tTeacherCertificate made{
        folder + QStringLiteral("/teacher.crt"), folder + QStringLiteral("/teacher.key"), {}};
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
    QFile pem(made.CertFile);
    if (!pem.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Сертификат учителя не читается: ") + made.CertFile);
    made.Fingerprint = CertificateFingerprint(pem.readAll());
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

tLessonBroker::tLessonBroker() = default;

tLessonBroker::~tLessonBroker() {
    Stop();
}

void tLessonBroker::Start(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports) {
    Stop();
    QDir().mkpath(folder);
    QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    const QString passwordFile = folder + QStringLiteral("/passwd");
    // The page's listener knows the viewer alone: the station code is refused there.
    const QString pagePasswordFile = folder + QStringLiteral("/passwd-page");
    WriteText(passwordFile, QString());
    WriteText(pagePasswordFile, QString());
    // Hashed by the broker's own tool.
    const QString tool = Program("mosquitto_passwd");
    for (const auto& [file, user, password] : {std::tuple{passwordFile, kTeacherUser, codes.TeacherPassword},
                                               std::tuple{passwordFile, kStationUser, codes.StationCode},
                                               std::tuple{passwordFile, kViewerUser, codes.ViewerCode},
                                               std::tuple{pagePasswordFile, kViewerUser, codes.ViewerCode}}) {
        QProcess hash;
        hash.start(tool, {QStringLiteral("-b"), file, QString::fromLatin1(user), password});
        if (!hash.waitForFinished(10000) || hash.exitStatus() != QProcess::NormalExit || hash.exitCode() != 0)
            throw Exception(QStringLiteral("mosquitto_passwd: ") +
                            QString::fromLocal8Bit(hash.readAllStandardError()));
    }
    WriteText(folder + QStringLiteral("/acl"), BrokerAcl(codes));
    // Each listener its own who may connect: the stations' (TLS) everyone, the page's the viewer alone.
    const QString acl = folder + QStringLiteral("/acl");
    const auto access = [&](const QString& passwords) {
        return QStringLiteral("allow_anonymous false\npassword_file %1\nacl_file %2\n").arg(passwords, acl);
    };
    QString config =
        QStringLiteral("per_listener_settings true\npersistence false\nlog_dest stderr\n"
                       "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n");
    // What no station sends is refused: a message larger than any of a station's (its sender disconnected),
    // more than 16 MiB or 1,000 messages queued for one slow client, and over 256 MiB in all.
    config += QStringLiteral("max_packet_size %1\nmax_queued_messages 1000\nmax_queued_bytes %2\n"
                             "max_inflight_messages 20\nmemory_limit %3\n")
                  .arg(kMaxPacketBytes)
                  .arg(16 << 20)
                  .arg(256 << 20);
    // Started by root the broker would become the user "mosquitto", who cannot read the user's folder: it
    // stays whoever started it.
    if (const struct passwd* user = ::getpwuid(::geteuid()))
        config += QStringLiteral("user %1\n").arg(QString::fromLocal8Bit(user->pw_name));
    const QString bind = ports.Bind.isEmpty() ? QString() : QStringLiteral(" ") + ports.Bind;
    config += QStringLiteral("listener %1%2\n").arg(ports.Mqtt).arg(bind) + access(passwordFile);
    if (!ports.CertFile.isEmpty())
        config += QStringLiteral("certfile %1\nkeyfile %2\n").arg(ports.CertFile, ports.KeyFile);
    if (ports.WebSockets > 0) {
        config += QStringLiteral("listener %1%2\nprotocol websockets\n").arg(ports.WebSockets).arg(bind) +
                  access(pagePasswordFile);
        if (!ports.HttpDir.isEmpty()) config += QStringLiteral("http_dir %1\n").arg(ports.HttpDir);
    }
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
            return;
        }
    }
    said += FProcess->readAll();
    Stop();
    WriteLog(QStringLiteral("Lesson broker did not start on port %1: ").arg(ports.Mqtt) +
             QString::fromLocal8Bit(said).trimmed());
    throw Exception(QStringLiteral("Сервер урока не запустился.\r\n") +
                    QString::fromLocal8Bit(said).trimmed());
}

void tLessonBroker::Restart(const QString& folder, const tLessonCodes& codes, const tBrokerPorts& ports) {
    try {
        Start(folder, codes, ports);
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

void tLessonBroker::Stop() {
    // Stopped on purpose: not started again.
    FWatch.reset();
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
