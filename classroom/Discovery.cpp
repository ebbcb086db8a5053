// SPDX-License-Identifier: GPL-3.0-or-later
// Avahi's tools, run as programs: the announcement and the parsing of what the browser finds.
#include "classroom/Discovery.h"

#include <QHostAddress>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <algorithm>

const char kServiceType[] = "_zorbinka._tcp";

namespace {

// avahi-browse -p escapes ';', '\' and characters outside ASCII's printable ones as \DDD (decimal bytes).
QString Unescape(const QByteArray& field) {
    QByteArray bytes;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok);
            if (ok && value < 256) {
                bytes += char(value);
                i += 3;
                continue;
            }
        }
        bytes += field[i];
    }
    return QString::fromUtf8(bytes);
}

} // namespace

std::optional<std::pair<QString, int>> ParseTeacherAddress(const QString& text, int port) {
    QString host = text.trimmed();
    const qsizetype colon = host.lastIndexOf(u':');
    if (colon > 0 && (host.count(u':') == 1 || host.left(colon).endsWith(u']'))) {
        bool ok = false;
        port = host.mid(colon + 1).toInt(&ok);
        if (!ok || port <= 0 || port > 65535) return std::nullopt;
        host = host.left(colon);
    }
    if (host.startsWith(u'[') && host.endsWith(u']')) host = host.mid(1, host.size() - 2);
    if (host.isEmpty() || host.contains(u' ') || host.contains(u'/') || host.contains(u'[') ||
        host.contains(u']'))
        return std::nullopt;
    return std::pair{host, port};
}

std::vector<tFoundTeacher> ParseAvahiBrowse(const QByteArray& output) {
    // A lesson is heard on every interface and protocol it is announced on: it is found once, at the address
    // a station of the room reaches best (IPv4 of the network, then the computer's own, then IPv6).
    struct tHeard {
        tFoundTeacher Teacher;
        int Rank = 0;
        int Line = 0;
    };
    std::vector<tHeard> heard;
    int number = 0;
    for (const QByteArray& line : output.split('\n')) {
        ++number;
        // =;interface;protocol;name;type;domain;host;address;port;txt
        const QList<QByteArray> fields = line.trimmed().split(';');
        if (fields.size() < 9 || fields[0] != "=" || fields[4] != kServiceType) continue;
        bool ok = false;
        const int port = fields[8].toInt(&ok);
        if (!ok || port <= 0 || port > 65535) continue;
        tFoundTeacher teacher{Unescape(fields[3]), Unescape(fields[7]), port};
        const bool ipv6 = fields[2] == "IPv6";
        if (teacher.Address.isEmpty() || teacher.Address.contains(u'%')) continue;
        if (ipv6) teacher.Address = u'[' + teacher.Address + u']';
        const int rank = ipv6 ? 2 : QHostAddress(teacher.Address).isLoopback() ? 1 : 0;
        const auto same = std::find_if(heard.begin(), heard.end(),
                                       [&](const tHeard& h) { return h.Teacher.Name == teacher.Name; });
        if (same == heard.end())
            heard.push_back({teacher, rank, number});
        else if (rank < same->Rank)
            *same = {teacher, rank, number};
    }
    std::sort(heard.begin(), heard.end(), [](const tHeard& a, const tHeard& b) {
        return std::pair(a.Rank, a.Line) < std::pair(b.Rank, b.Line);
    });
    std::vector<tFoundTeacher> found;
    for (const tHeard& h : heard) found.push_back(h.Teacher);
    return found;
}

QStringList AvahiBrowseCommand() {
    const QString browse = QStandardPaths::findExecutable(QStringLiteral("avahi-browse"));
    if (browse.isEmpty()) return {};
    return {browse, QStringLiteral("-r"), QStringLiteral("-p"), QStringLiteral("-t"),
            QString::fromLatin1(kServiceType)};
}

tAnnouncement::tAnnouncement() = default;

tAnnouncement::~tAnnouncement() {
    Stop();
}

bool tAnnouncement::Start(const QString& name, int port) {
    Stop();
    const QString publish = QStandardPaths::findExecutable(QStringLiteral("avahi-publish"));
    if (publish.isEmpty()) return false;
    FProcess = std::make_unique<QProcess>();
    FProcess->setProcessChannelMode(QProcess::MergedChannels);
    FProcess->start(publish,
                    {QStringLiteral("-s"), name, QString::fromLatin1(kServiceType), QString::number(port)});
    return FProcess->waitForStarted(3000);
}

void tAnnouncement::Stop() {
    if (!FProcess) return;
    FProcess->terminate();
    if (!FProcess->waitForFinished(2000)) FProcess->kill();
    FProcess->waitForFinished(1000);
    FProcess.reset();
}
