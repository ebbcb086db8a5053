// SPDX-License-Identifier: GPL-3.0-or-later
// Avahi's tools, run as programs: the announcement and the parsing of what the browser finds.
#include "classroom/Discovery.h"

#include <QHash>
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
    QHash<QString, std::size_t> byName; // each name's place in `heard`: one look a line
    int number = 0;
    for (const QByteArray& line : output.split('\n')) {
        ++number;
        // =;interface;protocol;name;type;domain;host;address;port;txt
        const QList<QByteArray> fields = line.trimmed().split(';');
        if (fields.size() < 9 || fields[0] != "=" || fields[4] != kServiceType) continue;
        bool ok = false;
        const int port = fields[8].toInt(&ok);
        if (!ok || port <= 0 || port > 65535) continue;
        // The address is one of the protocol it is heard on, written as that protocol writes it: no scope
        // (a link-local address names no interface of the station), nothing a reader could take apart.
        const bool ipv6 = fields[2] == "IPv6";
        if (!ipv6 && fields[2] != "IPv4") continue;
        const QString text = Unescape(fields[7]);
        const QHostAddress address(text);
        if (address.isNull() || !address.scopeId().isEmpty() || text.contains(u'%')) continue;
        if (address.protocol() != (ipv6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol)) continue;
        if (!ipv6 && address.toString() != text) continue;
        tFoundTeacher teacher{Unescape(fields[3]), ipv6 ? u'[' + address.toString() + u']' : text, port};
        const int rank = ipv6 ? 2 : address.isLoopback() ? 1 : 0;
        const auto same = byName.constFind(teacher.Name);
        if (same == byName.cend()) {
            // A network flooded with announcements gives at most this many lessons.
            if (heard.size() >= kMaxLessonsFound) continue;
            byName.insert(teacher.Name, heard.size());
            heard.push_back({teacher, rank, number});
        } else if (rank < heard[*same].Rank) {
            heard[*same] = {teacher, rank, number};
        }
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
