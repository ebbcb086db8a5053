// SPDX-License-Identifier: GPL-3.0-or-later
// Finding the teacher on the school's network: the teacher's program announces its lesson as the service
// _zorbinka._tcp through Avahi (avahi-publish, a program of its own), and a station looks for it
// (avahi-browse). Without Avahi the teacher's address is typed.
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QProcess;

extern const char kServiceType[];

struct tFoundTeacher {
    QString Name;
    QString Address; // an IPv4 address, or an IPv6 one in brackets
    int Port = 0;
    QString Join() const { return Address + u':' + QString::number(Port); }
};

// The teacher's address as typed: host, host:port, an IPv6 address bare or in brackets with a port; the host
// and port (`port` when none is given), or none for what is no address.
std::optional<std::pair<QString, int>> ParseTeacherAddress(const QString& text, int port);

// The lessons in what `avahi-browse -rpt _zorbinka._tcp` prints, each once at its best address, IPv4 first;
// a line whose address is not one address of its protocol is skipped. In time growing with the lines, and
// at most kMaxLessonsFound lessons.
std::vector<tFoundTeacher> ParseAvahiBrowse(const QByteArray& output);
inline constexpr std::size_t kMaxLessonsFound = 1000;
// What of the browser's output is read at most.
inline constexpr qint64 kMaxBrowseBytes = qint64(8) << 20;
// The command that lists them, when Avahi's tools are installed; empty when not.
QStringList AvahiBrowseCommand();

// The lesson announced while it lasts.
class tAnnouncement {
public:
    tAnnouncement();
    ~tAnnouncement();
    // False when Avahi's tools are not installed (the address is then told and typed).
    bool Start(const QString& name, int port);
    void Stop();

private:
    std::unique_ptr<QProcess> FProcess;
};
